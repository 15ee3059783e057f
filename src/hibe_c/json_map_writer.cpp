// The written form of the message map: exact to the byte.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "hibe_amd64/base64.h"
#include "hibe_amd64/utf8.h"
#include "hibe_c/json_map.h"

namespace hibe_c {

namespace {

using hibe_amd64::Utf8SequenceLength;

constexpr std::string_view kMapTooLong =
    "invalid parameters, the message map would exceed 2147483647 bytes";

// U+FFFD REPLACEMENT CHARACTER as a JSON escape.
constexpr std::string_view kReplacementEscape = "\\ufffd";

// The escaping below writes into any sink that takes `+= char` and
// `+= std::string_view`: a std::string, a counter of the length, or a cursor in a
// buffer of the exact length.

// Counts what would be written.
struct LengthSink {
    std::size_t length = 0;
    LengthSink& operator+=(char) { ++length; return *this; }
    LengthSink& operator+=(std::string_view text) { length += text.size(); return *this; }
};

// Writes at a cursor in a buffer that the caller sized exactly.
struct BufferSink {
    std::uint8_t* cursor;
    BufferSink& operator+=(char c) {
        *cursor++ = static_cast<std::uint8_t>(c);
        return *this;
    }
    BufferSink& operator+=(std::string_view text) {
        std::memcpy(cursor, text.data(), text.size());
        cursor += text.size();
        return *this;
    }
};

template <typename Sink>
void appendHexEscape(Sink& out, std::uint8_t byte) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\u00";
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
}

// text as a JSON string, the double quotes included (see the header).
template <typename Sink>
void escapeInto(Sink& out, std::string_view text) {
    out += '"';
    std::size_t pos = 0;
    while (pos < text.size()) {
        const char c = text[pos];
        const auto byte = static_cast<std::uint8_t>(c);
        if (byte < 0x80) {
            switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '<':
            case '>':
            case '&': appendHexEscape(out, byte); break;
            default:
                if (byte < 0x20) {
                    appendHexEscape(out, byte);
                } else {
                    out += c;  // 0x7F included
                }
            }
            ++pos;
            continue;
        }
        const std::size_t n = Utf8SequenceLength(text, pos);
        if (n == 0) {
            out += kReplacementEscape;
            ++pos;
            continue;
        }
        // U+2028 LINE SEPARATOR and U+2029 PARAGRAPH SEPARATOR: E2 80 A8 / E2 80 A9.
        const std::string_view sequence = text.substr(pos, n);
        if (sequence == "\xE2\x80\xA8") {
            out += "\\u2028";
        } else if (sequence == "\xE2\x80\xA9") {
            out += "\\u2029";
        } else {
            out += sequence;
        }
        pos += n;
    }
    out += '"';
}

std::size_t escapedLength(std::string_view text) {
    LengthSink counter;
    escapeInto(counter, text);
    return counter.length;
}

// One member of the object: its key and the bytes whose base64 text is its
// value (base64 needs no escaping).
struct Member {
    std::string_view key;
    common::ByteView value;
};

// "key":"text"
std::size_t memberLength(std::string_view key, std::size_t textLength) {
    return escapedLength(key) + 1 + textLength + 2;
}

// Braces, members and the commas between them.
std::size_t objectLength(std::size_t membersLength, std::size_t members) {
    return 2 + membersLength + (members == 0 ? 0 : members - 1);
}

}  // namespace

std::string EscapeJsonString(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    escapeInto(out, text);
    return out;
}

std::string WriteJsonMap(const std::optional<HibeMsgMap>& map) {
    return map ? WriteJsonMap(*map) : std::string("null");
}

std::string WriteJsonMap(const HibeMsgMap& map) {
    // std::map on std::string keeps its keys in ascending order of their bytes
    // taken as unsigned (char_traits<char> compares as unsigned char), a prefix
    // first: the member order of the written form.
    std::string out = "{";
    for (const auto& [key, value] : map) {
        if (out.size() > 1) out += ',';
        escapeInto(out, key);
        out += ':';
        escapeInto(out, value);
    }
    out += '}';
    return out;
}

std::size_t JsonMapLength(const hibe_amd64::MapShape& shape) {
    std::size_t length = memberLength(hibe_amd64::kCtKey, shape.ctTextLength);
    for (const std::string& id : shape.receiverIds) {
        length += memberLength(id, hibe_amd64::kReceiverTextLength);
    }
    return objectLength(length, 1 + shape.receiverIds.size());
}

common::Status CheckJsonMapLength(const hibe_amd64::MapShape& shape) {
    if (JsonMapLength(shape) > kMaxJsonMapLength) return common::Fail(std::string(kMapTooLong));
    return {};
}

common::Bytes WriteJsonMap(const hibe_amd64::SealedMessage& sealed) {
    // The members in the order of the map form: ascending raw bytes of the keys
    // (string_view compares them as unsigned), and of equal keys the last
    // written, as a map's insert_or_assign keeps it.
    std::vector<Member> members;
    members.reserve(1 + sealed.receivers.size());
    members.push_back({hibe_amd64::kCtKey, sealed.symCiphertext});
    for (const auto& [id, ciphertext] : sealed.receivers) members.push_back({id, ciphertext});
    std::ranges::stable_sort(members, {}, &Member::key);
    std::vector<Member> unique;
    unique.reserve(members.size());
    for (const Member& member : members) {
        if (!unique.empty() && unique.back().key == member.key) {
            unique.back() = member;
        } else {
            unique.push_back(member);
        }
    }

    std::size_t length = 0;
    for (const Member& member : unique) {
        length += memberLength(member.key, hibe_amd64::Base64EncodedLength(member.value.size()));
    }
    common::Bytes out(objectLength(length, unique.size()));

    // Every byte goes straight to its place; the base64 texts are encoded in
    // place, so no text of the size of the message is made twice.
    BufferSink sink{out.data()};
    sink += '{';
    for (std::size_t i = 0; i < unique.size(); ++i) {
        if (i > 0) sink += ',';
        escapeInto(sink, unique[i].key);
        sink += ':';
        sink += '"';
        const std::size_t textLength = hibe_amd64::Base64EncodedLength(unique[i].value.size());
        hibe_amd64::Base64EncodeInto(std::span(sink.cursor, textLength), unique[i].value);
        sink.cursor += textLength;
        sink += '"';
    }
    sink += '}';
    return out;
}

}  // namespace hibe_c
