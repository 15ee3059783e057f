// hibe_c::EncryptHibeMsg as a whole on arbitrary plaintext and list blobs.
//
// Input layout (fuzz::Splitter):
//   [mode byte] [2-byte LE length][plaintext] [2-byte LE length][receiverIds blob] [rest]
// mode bit 0 clear: the params list blob is built here from the fixed valid params
//   tests/data/org.params (depth 3): "size" = n and n copies, n the receiver blob's
//   own "size" clamped to 0..16, so that the lists match and encryption proceeds;
//   the rest of the input is not read.
// mode bit 0 set: the rest of the input is the params list blob, as it stands.
//
// The error texts that the function writes to file descriptor 1 go to /dev/null.
//
// Checked besides memory safety: the result is "null" or a JSON map holding
// "CT" that, once read, writes and reads back as the same map;
// and with the fixed params, each of A/B/C, A/B and A that has an entry of its
// own or of an identity below it decrypts the map with its key from tests/data
// to the plaintext.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "hibe_c/hibe_c.h"
#include "hibe_c/json_map.h"
#include "hibe_c/startup.h"
#include "serialize/easycodec.h"

namespace {

constexpr std::int32_t kMaxFixedParams = 16;

struct Fixed {
    common::Bytes params;
    std::vector<std::pair<std::string, common::Bytes>> keys;  // identity, key file bytes
};

const Fixed* fixed = nullptr;

void PutU32(common::Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void PutItem(common::Bytes& out, const std::string& key, std::int32_t valueType,
             common::ByteView value) {
    PutU32(out, serialize::EasyKeyType_USER);
    PutU32(out, static_cast<std::uint32_t>(key.size()));
    out.insert(out.end(), key.begin(), key.end());
    PutU32(out, static_cast<std::uint32_t>(valueType));
    PutU32(out, static_cast<std::uint32_t>(value.size()));
    out.insert(out.end(), value.begin(), value.end());
}

// The params list blob of n copies of params, with the "vtkv" header.
common::Bytes ParamsBlob(std::int32_t n, const common::Bytes& params) {
    common::Bytes out;
    // Byte by byte: g++ 12 warns falsely (-Warray-bounds) on a range insert here.
    for (std::uint8_t b : serialize::ecMagicNum) out.push_back(b);
    for (std::uint8_t b : serialize::ecVersion) out.push_back(b);
    for (std::uint8_t b : serialize::ecReserved) out.push_back(b);
    PutU32(out, static_cast<std::uint32_t>(n + 1));
    common::Bytes size;
    PutU32(size, static_cast<std::uint32_t>(n));
    PutItem(out, "size", serialize::EasyValueType_INT32, size);
    for (std::int32_t i = 0; i < n; ++i) {
        PutItem(out, std::to_string(i), serialize::EasyValueType_BYTES, params);
    }
    return out;
}

common::Bytes ToBytes(std::string_view text) { return common::Bytes(text.begin(), text.end()); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hibe_c::RunStartup();
    fixed = new Fixed{fuzz::TestData("org.params"),
                      {{"A/B/C", fuzz::TestData("A#B#C.privateKey")},
                       {"A/B", fuzz::TestData("A#B.privateKey")},
                       {"A", fuzz::TestData("A.privateKey")}}};
    const int devNull = ::open("/dev/null", O_WRONLY);
    FUZZ_CHECK(devNull >= 0 && ::dup2(devNull, 1) == 1);
    ::close(devNull);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Splitter in(data, size);
    const bool ownParams = (in.Byte() & 1) != 0;
    const common::Bytes plaintext = in.Field();
    const common::Bytes receiverIds = in.Field();
    common::Bytes params;
    if (ownParams) {
        params = in.Rest();
    } else {
        std::int32_t n = serialize::NewEasyCodecWithBytes(receiverIds).GetInt32("size").value_or(0);
        n = n < 0 ? 0 : (n > kMaxFixedParams ? kMaxFixedParams : n);
        params = ParamsBlob(n, fixed->params);
    }

    const common::Bytes result = hibe_c::EncryptHibeMsg(plaintext, receiverIds, params, 0);
    const std::string_view text = common::AsText(result);
    if (text == hibe_c::kNullResult) return 0;

    const auto map = hibe_c::ReadJsonMap(text);
    FUZZ_CHECK(map.has_value());
    FUZZ_CHECK(map->contains("CT"));
    // A map is a fixed point of writing and reading.
    FUZZ_CHECK(hibe_c::ReadJsonMap(hibe_c::WriteJsonMap(*map)) == map);
    if (ownParams) return 0;

    // A receiver can read the map when it holds an entry for its own identity
    // or for one below it (its key derives the deeper key).
    for (const auto& [id, key] : fixed->keys) {
        const bool readable = std::any_of(map->begin(), map->end(), [&](const auto& entry) {
            return entry.first == id || entry.first.starts_with(id + "/");
        });
        if (!readable) continue;
        const auto plain = hibe_c::DecryptHibeMsg(ToBytes(id), fixed->params, key, result, 0);
        FUZZ_CHECK(plain.has_value() && *plain == plaintext);
    }
    return 0;
}
