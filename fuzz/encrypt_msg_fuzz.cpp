// EncryptHibeMsg with arbitrary plaintext and receiver id list blob, and a params
// list blob of valid parameters. The input is one byte n (the params list holds
// n % 4 copies of a fixed params encoding), the plaintext as a field (a 2-byte
// little-endian length, then the bytes), and the receiver id list blob as the
// rest. The result is "null" or a JSON object that reads back as a map.
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "fuzz_util.h"
#include "hibe_c/hibe_c.h"
#include "hibe_c/json_map.h"
#include "hibe_c/startup.h"

namespace {

common::Bytes fixedParams;

// The params list blob: a USER item "size" (INT32 n) and n USER items "0", ...
// (BYTES), each the fixed params encoding.
common::Bytes paramsBlob(int n) {
    common::Bytes out = {'v', 't', 'k', 'v', 'v', '1', '.', '0', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    auto u32 = [&out](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    auto item = [&](const std::string& key, std::uint32_t type, common::ByteView value) {
        u32(1);
        u32(static_cast<std::uint32_t>(key.size()));
        out.insert(out.end(), key.begin(), key.end());
        u32(type);
        u32(static_cast<std::uint32_t>(value.size()));
        out.insert(out.end(), value.begin(), value.end());
    };
    u32(static_cast<std::uint32_t>(n + 1));
    const std::uint8_t size[4] = {static_cast<std::uint8_t>(n), 0, 0, 0};
    item("size", 0, size);
    for (int i = 0; i < n; ++i) item(std::to_string(i), 2, fixedParams);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hibe_c::RunStartup();
    std::ifstream in(HIBE_TEST_DATA "/org.params", std::ios::binary);
    fixedParams.assign(std::istreambuf_iterator<char>(in), {});
    if (fixedParams.size() != 576) fuzz::Broken("the fixed params encoding is missing");
    // The error texts that EncryptHibeMsg writes to standard output go nowhere.
    int devNull = ::open("/dev/null", O_WRONLY);
    ::dup2(devNull, 1);
    ::close(devNull);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const int n = in.Byte() % 4;
    common::Bytes plaintext = in.Field();
    common::Bytes ids = in.Rest();
    const common::Bytes result = hibe_c::EncryptHibeMsg(std::move(plaintext), std::move(ids),
                                                        paramsBlob(n), 0);
    const std::string_view text = common::AsText(result);
    if (text == hibe_c::kNullResult) return 0;
    auto map = hibe_c::ReadJsonMap(text);
    fuzz::Check(map.has_value() && map->count("CT") == 1, "a successful result is a message map");
    return 0;
}
