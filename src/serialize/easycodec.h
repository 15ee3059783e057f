// Reader of the little-endian key-value list format that the host uses to pass
// typed lists (receiver ids, parameter sets) across the library boundary, and
// typed look-ups by key on a decoded list.
//
// The host writes this format; the library only reads it. Decoding never fails
// and never reads past its input: an input it cannot use yields no items, or
// the items completed before the fault.
//
// Stream layout (every integer 4 bytes, little-endian):
//   with header:    "vtkv" | "v1.0" | 8 x 0xFF | count | items...
//   without header: count | items...
//   one item:       keyType | K | key[K] | valueType | V | value
// where the value is 4 bytes for INT32 (whatever V says), V bytes for STRING and
// BYTES, and nothing for any other value type.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/bytes.h"
#include "common/error.h"

namespace serialize {

// Key and value types are signed 32-bit numbers; a value read from a stream is
// kept as read, also when it is none of the named ones.
enum EasyKeyType : std::int32_t {
    EasyKeyType_SYSTEM = 0,
    EasyKeyType_USER = 1,
};

enum EasyValueType : std::int32_t {
    EasyValueType_INT32 = 0,
    EasyValueType_STRING = 1,
    EasyValueType_BYTES = 2,
};

inline constexpr std::uint32_t MAX_KEY_COUNT = 128;     // largest item count accepted
inline constexpr std::int32_t MAX_KEY_LEN = 64;         // largest key length in bytes
inline constexpr std::int32_t MAX_VALUE_LEN = 1048576;  // 2^20, largest value length in bytes
inline constexpr std::size_t MIN_LEN = 20;  // an input of this many bytes or fewer has no items
inline constexpr std::size_t EC_MAGIC_NUM_LEN = 4;
inline constexpr std::size_t EC_VERSION_LEN = 4;
inline constexpr std::size_t EC_RESERVED_LEN = 8;

// Header fields. The magic read as a little-endian count is 0x766b7476, far above
// MAX_KEY_COUNT, so a stream with a header never passes for one without.
inline constexpr std::array<std::uint8_t, EC_MAGIC_NUM_LEN> ecMagicNum = {'v', 't', 'k', 'v'};
inline constexpr std::array<std::uint8_t, EC_VERSION_LEN> ecVersion = {'v', '1', '.', '0'};
inline constexpr std::array<std::uint8_t, EC_RESERVED_LEN> ecReserved = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// The value of an item: an int32 for EasyValueType_INT32, a text for
// EasyValueType_STRING, a byte string for EasyValueType_BYTES, and monostate
// (absent) for any other value type.
using EasyValue = std::variant<std::monostate, std::int32_t, std::string, common::Bytes>;

// One decoded entry, fields in stream order.
struct EasyCodecItem {
    EasyKeyType KeyType;
    std::string Key;  // at most MAX_KEY_LEN bytes, compared byte for byte
    EasyValueType ValueType;
    EasyValue Value;

    bool operator==(const EasyCodecItem&) const = default;
};

// A read position in an input byte string. Reads take bytes only when all of
// them are there, so nothing is ever read past the end.
class ByteStream {
public:
    explicit ByteStream(common::ByteView data) : data_(data) {}

    // Copies the next out.size() bytes into out and advances; false, with
    // nothing taken, when fewer bytes remain.
    bool Read(std::span<std::uint8_t> out);

    // The next n bytes as a view into the input, advancing past them; nothing
    // when fewer remain.
    std::optional<common::ByteView> Take(std::size_t n);

    std::size_t Remaining() const noexcept { return data_.size() - pos_; }

private:
    common::ByteView data_;
    std::size_t pos_ = 0;
};

// Reads the next 4 bytes of buf into bs and returns them as a little-endian
// unsigned 32-bit integer; nothing when the stream ends first.
std::optional<std::uint32_t> binaryUint32Unmarshal(ByteStream& buf,
                                                   std::array<std::uint8_t, 4>& bs);

// The items that data decodes to, in stream order; equal keys are all kept.
// Never fails: see the file comment for what a faulty input yields.
std::vector<EasyCodecItem> EasyUnmarshal(common::ByteView data);

// A decoded list. Built once and never changed; look-ups are linear in stream
// order.
struct EasyCodec {
    std::vector<EasyCodecItem> items;

    // The first item whose Key equals key and whose KeyType equals keyType.
    // The pointer stays valid as long as the codec. Error "not found key with
    // keyType" when there is none.
    common::Result<const EasyCodecItem*> GetItem(std::string_view key,
                                                 EasyKeyType keyType) const;

    // The value of the first EasyKeyType_USER item with this key, which must be
    // of the getter's value type. A later item with the same key is never
    // considered. On failure the caller's fallback is 0, the empty text or an
    // absent byte string; the errors are
    //   "not found key or value type not int32" / "... not string" / "... not bytes".
    common::Result<std::int32_t> GetInt32(std::string_view key) const;
    common::Result<std::string> GetString(std::string_view key) const;
    common::Result<common::Bytes> GetBytes(std::string_view key) const;
};

// An EasyCodec holding EasyUnmarshal(data).
EasyCodec NewEasyCodecWithBytes(common::ByteView data);

}  // namespace serialize
