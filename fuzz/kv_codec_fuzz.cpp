// The key-value codec and its getters on arbitrary bytes.
#include <string>

#include "fuzz_util.h"
#include "serialize/easycodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const serialize::EasyCodec codec = serialize::NewEasyCodecWithBytes({data, size});
    fuzz::Check(codec.items.size() <= serialize::MAX_KEY_COUNT, "at most 128 items");
    (void)codec.GetInt32("size");
    for (int i = 0; i < 4; ++i) {
        const std::string key = std::to_string(i);
        (void)codec.GetString(key);
        (void)codec.GetBytes(key);
        (void)codec.GetItem(key, serialize::EasyKeyType_SYSTEM);
    }
    for (const auto& item : codec.items) {
        fuzz::Check(item.Key.size() <= static_cast<std::size_t>(serialize::MAX_KEY_LEN),
                    "key length within limit");
        auto found = codec.GetItem(item.Key, item.KeyType);
        fuzz::Check(found.has_value(), "every item is found by its own key");
    }
    return 0;
}
