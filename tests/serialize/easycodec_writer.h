// Test-only writer of the key-value list format that the host hands to the
// library (the library itself only reads it).
//
// Self-contained on purpose: it spells out the format's bytes itself instead of
// borrowing the reader's constants, so that a wrong constant in the reader
// cannot hide behind a round trip, and any test executable can include it.
//
//   #include "serialize/easycodec_writer.h"
//   auto blob = easycodec_test::EasyCodecWriter().AddInt32("size", 1).AddString("0", "A/B").Encode();
//   auto ids = easycodec_test::StringList({"A/B", "C"});
#pragma once

#include <cstdint>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace easycodec_test {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::int32_t kKeySystem = 0;
inline constexpr std::int32_t kKeyUser = 1;
inline constexpr std::int32_t kValueInt32 = 0;
inline constexpr std::int32_t kValueString = 1;
inline constexpr std::int32_t kValueBytes = 2;

// Appends v as 4 little-endian bytes.
inline void PutU32(Bytes& out, std::uint32_t v) {
    const std::uint8_t le[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                                static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    out.insert(out.end(), std::begin(le), std::end(le));
}

inline void PutRaw(Bytes& out, std::string_view bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

inline void PutRaw(Bytes& out, std::span<const std::uint8_t> bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// Magic "vtkv", version "v1.0", eight reserved 0xFF bytes; the count follows.
inline void PutHeader(Bytes& out) {
    static constexpr std::uint8_t kHeader[16] = {'v', 't', 'k', 'v', 'v', '1', '.', '0',
                                                 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    for (std::uint8_t b : kHeader) out.push_back(b);
}

// One item with every field exactly as given: the key length is the key's size,
// the value length field is written as valueLen whatever the value holds, and
// the value bytes follow as they are. For malformed streams.
inline void PutItem(Bytes& out, std::int32_t keyType, std::string_view key, std::int32_t valueType,
                    std::uint32_t valueLen, std::string_view value) {
    PutU32(out, static_cast<std::uint32_t>(keyType));
    PutU32(out, static_cast<std::uint32_t>(key.size()));
    PutRaw(out, key);
    PutU32(out, static_cast<std::uint32_t>(valueType));
    PutU32(out, valueLen);
    PutRaw(out, value);
}

// Builds a well-formed stream from a list of items, in the order added.
class EasyCodecWriter {
public:
    EasyCodecWriter& AddInt32(std::string_view key, std::int32_t value, std::int32_t keyType = kKeyUser) {
        Bytes v;
        PutU32(v, static_cast<std::uint32_t>(value));
        return Add(keyType, key, kValueInt32, v);
    }

    EasyCodecWriter& AddString(std::string_view key, std::string_view value,
                               std::int32_t keyType = kKeyUser) {
        return Add(keyType, key, kValueString, Bytes(value.begin(), value.end()));
    }

    EasyCodecWriter& AddBytes(std::string_view key, std::span<const std::uint8_t> value,
                              std::int32_t keyType = kKeyUser) {
        return Add(keyType, key, kValueBytes, Bytes(value.begin(), value.end()));
    }

    // The stream, with the "vtkv" header by default or headerless.
    Bytes Encode(bool withHeader = true) const {
        Bytes out;
        if (withHeader) PutHeader(out);
        PutU32(out, count_);
        PutRaw(out, body_);
        return out;
    }

private:
    EasyCodecWriter& Add(std::int32_t keyType, std::string_view key, std::int32_t valueType,
                         const Bytes& value) {
        PutU32(body_, static_cast<std::uint32_t>(keyType));
        PutU32(body_, static_cast<std::uint32_t>(key.size()));
        PutRaw(body_, key);
        PutU32(body_, static_cast<std::uint32_t>(valueType));
        PutU32(body_, static_cast<std::uint32_t>(value.size()));
        PutRaw(body_, value);
        ++count_;
        return *this;
    }

    Bytes body_;
    std::uint32_t count_ = 0;
};

// The receiver id list blob: USER items "size" (INT32, the count) and "0" ...
// "n-1" (STRING), with header.
inline Bytes StringList(const std::vector<std::string>& values) {
    EasyCodecWriter w;
    w.AddInt32("size", static_cast<std::int32_t>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) w.AddString(std::to_string(i), values[i]);
    return w.Encode();
}

// The params list blob: as StringList, with BYTES values.
inline Bytes BytesList(const std::vector<Bytes>& values) {
    EasyCodecWriter w;
    w.AddInt32("size", static_cast<std::int32_t>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) w.AddBytes(std::to_string(i), values[i]);
    return w.Encode();
}

}  // namespace easycodec_test
