#include "serialize/easycodec.h"

#include <algorithm>

namespace serialize {

namespace {

constexpr std::string_view kErrNotFoundKey = "not found key with keyType";
constexpr std::string_view kErrNotInt32 = "not found key or value type not int32";
constexpr std::string_view kErrNotString = "not found key or value type not string";
constexpr std::string_view kErrNotBytes = "not found key or value type not bytes";

template <std::size_t N>
bool Equal(const std::array<std::uint8_t, N>& a, const std::array<std::uint8_t, N>& b) {
    return std::equal(a.begin(), a.end(), b.begin());
}

// Decodes one item at the stream's position; nothing when a length is out of
// range or the stream ends inside the item, which ends decoding.
std::optional<EasyCodecItem> ReadItem(ByteStream& in) {
    std::array<std::uint8_t, 4> bs{};

    auto keyType = binaryUint32Unmarshal(in, bs);
    if (!keyType) return std::nullopt;

    // Lengths are signed: a top bit set is a negative length.
    auto keyLenField = binaryUint32Unmarshal(in, bs);
    if (!keyLenField) return std::nullopt;
    const auto keyLen = static_cast<std::int32_t>(*keyLenField);
    if (keyLen > MAX_KEY_LEN || keyLen < 0) return std::nullopt;

    auto key = in.Take(static_cast<std::size_t>(keyLen));
    if (!key) return std::nullopt;

    auto valueType = binaryUint32Unmarshal(in, bs);
    if (!valueType) return std::nullopt;

    auto valueLenField = binaryUint32Unmarshal(in, bs);
    if (!valueLenField) return std::nullopt;
    const auto valueLen = static_cast<std::int32_t>(*valueLenField);
    if (valueLen > MAX_VALUE_LEN) return std::nullopt;  // for every value type

    EasyCodecItem item{
        .KeyType = static_cast<EasyKeyType>(static_cast<std::int32_t>(*keyType)),
        .Key = std::string(common::AsText(*key)),
        .ValueType = static_cast<EasyValueType>(static_cast<std::int32_t>(*valueType)),
        .Value = std::monostate{},
    };

    switch (item.ValueType) {
    case EasyValueType_INT32: {
        // Always 4 bytes, whatever the value length says.
        auto v = binaryUint32Unmarshal(in, bs);
        if (!v) return std::nullopt;
        item.Value = static_cast<std::int32_t>(*v);
        break;
    }
    case EasyValueType_STRING:
    case EasyValueType_BYTES: {
        if (valueLen < 0) return std::nullopt;
        auto value = in.Take(static_cast<std::size_t>(valueLen));
        if (!value) return std::nullopt;
        if (item.ValueType == EasyValueType_STRING) {
            item.Value = std::string(common::AsText(*value));
        } else {
            item.Value = common::Bytes(value->begin(), value->end());
        }
        break;
    }
    default:
        break;  // unknown value type: no value bytes, the value is absent
    }
    return item;
}

// The value of a found item of the wanted value type; null otherwise.
template <typename T>
const T* TypedValue(const common::Result<const EasyCodecItem*>& item, EasyValueType type) {
    if (!item || (*item)->ValueType != type) return nullptr;
    return std::get_if<T>(&(*item)->Value);
}

}  // namespace

bool ByteStream::Read(std::span<std::uint8_t> out) {
    auto got = Take(out.size());
    if (!got) return false;
    std::copy(got->begin(), got->end(), out.begin());
    return true;
}

std::optional<common::ByteView> ByteStream::Take(std::size_t n) {
    if (n > Remaining()) return std::nullopt;
    common::ByteView view = data_.subspan(pos_, n);
    pos_ += n;
    return view;
}

std::optional<std::uint32_t> binaryUint32Unmarshal(ByteStream& buf,
                                                   std::array<std::uint8_t, 4>& bs) {
    if (!buf.Read(bs)) return std::nullopt;
    return static_cast<std::uint32_t>(bs[0]) | static_cast<std::uint32_t>(bs[1]) << 8 |
           static_cast<std::uint32_t>(bs[2]) << 16 | static_cast<std::uint32_t>(bs[3]) << 24;
}

std::vector<EasyCodecItem> EasyUnmarshal(common::ByteView data) {
    std::vector<EasyCodecItem> items;
    if (data.size() <= MIN_LEN) return items;

    ByteStream in(data);
    std::array<std::uint8_t, 4> bs{};
    // More than MIN_LEN bytes are present, so the header and the count that
    // follows it (20 bytes in all) can always be read.
    auto first = binaryUint32Unmarshal(in, bs);
    if (!first) return items;
    std::uint32_t count = *first;
    if (Equal(bs, ecMagicNum)) {
        std::array<std::uint8_t, EC_VERSION_LEN> version{};
        std::array<std::uint8_t, EC_RESERVED_LEN> reserved{};
        if (!in.Read(version) || !in.Read(reserved)) return items;
        if (!Equal(version, ecVersion) || !Equal(reserved, ecReserved)) return items;
        auto headerCount = binaryUint32Unmarshal(in, bs);
        if (!headerCount) return items;
        count = *headerCount;
    }
    if (count > MAX_KEY_COUNT) return items;

    items.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        auto item = ReadItem(in);
        if (!item) break;  // the items completed so far stand
        items.push_back(std::move(*item));
    }
    return items;
}

EasyCodec NewEasyCodecWithBytes(common::ByteView data) { return EasyCodec{EasyUnmarshal(data)}; }

common::Result<const EasyCodecItem*> EasyCodec::GetItem(std::string_view key,
                                                        EasyKeyType keyType) const {
    for (const EasyCodecItem& item : items) {
        if (item.Key == key && item.KeyType == keyType) return &item;
    }
    return common::Fail(std::string(kErrNotFoundKey));
}

common::Result<std::int32_t> EasyCodec::GetInt32(std::string_view key) const {
    auto item = GetItem(key, EasyKeyType_USER);
    const auto* value = TypedValue<std::int32_t>(item, EasyValueType_INT32);
    if (value == nullptr) return common::Fail(std::string(kErrNotInt32));
    return *value;
}

common::Result<std::string> EasyCodec::GetString(std::string_view key) const {
    auto item = GetItem(key, EasyKeyType_USER);
    const auto* value = TypedValue<std::string>(item, EasyValueType_STRING);
    if (value == nullptr) return common::Fail(std::string(kErrNotString));
    return *value;
}

common::Result<common::Bytes> EasyCodec::GetBytes(std::string_view key) const {
    auto item = GetItem(key, EasyKeyType_USER);
    const auto* value = TypedValue<common::Bytes>(item, EasyValueType_BYTES);
    if (value == nullptr) return common::Fail(std::string(kErrNotBytes));
    return *value;
}

}  // namespace serialize
