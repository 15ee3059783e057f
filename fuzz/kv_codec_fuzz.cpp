// The key-value codec on arbitrary bytes: decoding, then the typed getters on the
// keys that the list blobs use ("size", "0", "1", ...) and on every decoded key.
//
// Checked besides memory safety: the decoder's limits (item count, key and value
// lengths), that each value matches its value type, that decoding is a function
// of the input, and that every getter agrees with GetItem.
#include <cstdint>
#include <string>
#include <variant>

#include "fuzz_support.h"
#include "hibe_c/startup.h"
#include "serialize/easycodec.h"

namespace {

using serialize::EasyCodec;
using serialize::EasyCodecItem;

// The getters of key against GetItem: a typed getter succeeds exactly when the
// first USER item with the key has its value type, and returns its value.
void CheckGetters(const EasyCodec& codec, const std::string& key) {
    auto user = codec.GetItem(key, serialize::EasyKeyType_USER);
    auto system = codec.GetItem(key, serialize::EasyKeyType_SYSTEM);
    if (user) FUZZ_CHECK((*user)->Key == key && (*user)->KeyType == serialize::EasyKeyType_USER);
    if (system) {
        FUZZ_CHECK((*system)->Key == key && (*system)->KeyType == serialize::EasyKeyType_SYSTEM);
    }

    auto i = codec.GetInt32(key);
    auto s = codec.GetString(key);
    auto b = codec.GetBytes(key);
    FUZZ_CHECK(i.has_value() == (user && (*user)->ValueType == serialize::EasyValueType_INT32));
    FUZZ_CHECK(s.has_value() == (user && (*user)->ValueType == serialize::EasyValueType_STRING));
    FUZZ_CHECK(b.has_value() == (user && (*user)->ValueType == serialize::EasyValueType_BYTES));
    if (i) FUZZ_CHECK(*i == std::get<std::int32_t>((*user)->Value));
    if (s) FUZZ_CHECK(*s == std::get<std::string>((*user)->Value));
    if (b) FUZZ_CHECK(*b == std::get<common::Bytes>((*user)->Value));
}

void CheckItem(const EasyCodecItem& item) {
    FUZZ_CHECK(item.Key.size() <= static_cast<std::size_t>(serialize::MAX_KEY_LEN));
    switch (item.ValueType) {
    case serialize::EasyValueType_INT32:
        FUZZ_CHECK(std::holds_alternative<std::int32_t>(item.Value));
        break;
    case serialize::EasyValueType_STRING:
        FUZZ_CHECK(std::holds_alternative<std::string>(item.Value));
        FUZZ_CHECK(std::get<std::string>(item.Value).size() <=
                   static_cast<std::size_t>(serialize::MAX_VALUE_LEN));
        break;
    case serialize::EasyValueType_BYTES:
        FUZZ_CHECK(std::holds_alternative<common::Bytes>(item.Value));
        FUZZ_CHECK(std::get<common::Bytes>(item.Value).size() <=
                   static_cast<std::size_t>(serialize::MAX_VALUE_LEN));
        break;
    default:
        FUZZ_CHECK(std::holds_alternative<std::monostate>(item.Value));
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hibe_c::RunStartup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const common::ByteView input(data, size);
    const EasyCodec codec = serialize::NewEasyCodecWithBytes(input);
    FUZZ_CHECK(codec.items.size() <= serialize::MAX_KEY_COUNT);
    if (size <= serialize::MIN_LEN) FUZZ_CHECK(codec.items.empty());
    FUZZ_CHECK(serialize::EasyUnmarshal(input) == codec.items);

    for (const EasyCodecItem& item : codec.items) {
        CheckItem(item);
        CheckGetters(codec, item.Key);
        // Every item is found by its own key and key type (it or an earlier one).
        auto found = codec.GetItem(item.Key, item.KeyType);
        FUZZ_CHECK(found && (*found)->Key == item.Key && (*found)->KeyType == item.KeyType);
    }

    // The list blobs' keys, as the message functions read them.
    CheckGetters(codec, "size");
    const std::int32_t count = codec.GetInt32("size").value_or(0);
    const std::int32_t probe = count < 0 ? 0 : (count > 200 ? 200 : count);
    for (std::int32_t k = 0; k <= probe; ++k) CheckGetters(codec, std::to_string(k));
    return 0;
}
