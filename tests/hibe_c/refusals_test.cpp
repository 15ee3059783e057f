// Inputs that no later call could use are refused, before any work and without
// leaving a file: master keys of other params, and what would exceed the
// interface's int counts or hash levels beyond the params' depth. The limits
// are shown the way a host meets them: in a forked child whose address space
// cannot hold the work that the refusal avoids.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "hibe/scheme.h"
#include "hibe_amd64/hibe_fast.h"
#include "hibe_c/hibe_c.h"
#include "hibe_c/json_map.h"
#include "hibe_c_testing.h"
#include "serialize/easycodec_writer.h"

namespace {

using hibe_c_testing::captureStdout;
using hibe_c_testing::readFile;
using hibe_c_testing::writeFile;
namespace fs = std::filesystem;

std::string data(const std::string& name) { return readFile(std::string(HIBE_TEST_DATA) + "/" + name); }
common::Bytes bytes(const std::string& s) { return common::Bytes(s.begin(), s.end()); }

// The child's results.
constexpr int kRefused = 0;        // failed with the expected text
constexpr int kOtherResult = 3;    // succeeded, or failed with another text
using hibe_c_testing::kOutOfMemory;  // did the work and ran out of address space

constexpr std::size_t kHeadroom = std::size_t{128} << 20;

// Runs fn in a forked child whose address space may grow by kHeadroom beyond
// what it has mapped once prepare has run; fn returns one of the results above.
int inLimitedChild(const std::function<void()>& prepare, const std::function<int()>& fn) {
    return hibe_c_testing::inLimitedChild(kHeadroom, prepare, fn);
}

int expectError(const common::Error& error, std::string_view text) {
    return error.Message() == text ? kRefused : kOtherResult;
}

#ifdef HIBE_TEST_SANITIZED
#define SKIP_UNDER_SANITIZERS() GTEST_SKIP() << "no address-space limit under ASan/TSan"
#else
#define SKIP_UNDER_SANITIZERS() (void)0
#endif

class RefusalTest : public hibe_c_testing::ScratchDir {
protected:
    std::int64_t setup(std::int64_t depth, const std::string& org, std::string* printed = nullptr) {
        std::int64_t status = 0;
        std::string out = captureStdout([&] { status = hibe_c::HibeSetup(depth, org, root()); });
        if (printed) *printed = out;
        return status;
    }
};

// A master key of another organisation, or at infinity, would make a key that
// decrypts nothing and then blocks the identity: refused, nothing written.
TEST_F(RefusalTest, KeyGenRefusesMasterKeyOfOtherParams) {
    ASSERT_EQ(setup(3, "org"), 0);
    ASSERT_EQ(setup(3, "other"), 0);
    writeFile(path("infinity.masterKey"), std::string(64, '\0'));
    const std::string params = path("org/org.params");
    for (const std::string& master : {path("other/other.masterKey"), path("infinity.masterKey")}) {
        std::int64_t status = 0;
        const std::string printed =
            captureStdout([&] { status = hibe_c::KeyGenFromMaster("A/B", root(), master, params); });
        EXPECT_EQ(status, 1) << master;
        EXPECT_EQ(printed, "") << master;
        EXPECT_FALSE(fs::exists(path("privateKeys"))) << master;
    }
    EXPECT_EQ(hibe_c::KeyGenFromMaster("A/B", root(), path("org/org.masterKey"), params), 0);
}

// Params holding an identity element (the all-zero encoding of G, G1, G2, G3 or
// an H) are refused as encryption refuses them, and so is a master key at
// infinity: with G and G1, or G2, the identity, a master key of 64 zero bytes
// passes the pairing check, and a key would be written that protects nothing.
TEST_F(RefusalTest, KeyGenRefusesIdentityElementsInParamsAndMasterKey) {
    ASSERT_EQ(setup(3, "org"), 0);
    const std::string params = readFile(path("org/org.params"));
    const std::string master = readFile(path("org/org.masterKey"));
    const std::string zeroMaster(64, '\0');
    // Byte ranges of the params encoding: G and G1 (G2 points), then G2, G3 and
    // the H entries (G1 points).
    const struct {
        std::string what;
        std::size_t from, to;
        const std::string& master;
    } cases[] = {
        {"G and G1", 0, 256, zeroMaster},
        {"G2", 256, 320, zeroMaster},
        {"G3", 320, 384, master},
        {"H[2]", 512, 576, master},
        {"nothing", 0, 0, zeroMaster},
    };
    for (const auto& c : cases) {
        std::string zeroed = params;
        std::fill(zeroed.begin() + c.from, zeroed.begin() + c.to, '\0');
        writeFile(path("zeroed.params"), zeroed);
        writeFile(path("given.masterKey"), c.master);
        std::int64_t status = 0;
        const std::string printed = captureStdout([&] {
            status = hibe_c::KeyGenFromMaster("A", root(), path("given.masterKey"),
                                              path("zeroed.params"));
        });
        EXPECT_EQ(status, 1) << c.what;
        EXPECT_EQ(printed, "") << c.what;
        EXPECT_FALSE(fs::exists(path("privateKeys"))) << c.what;
    }
}

// Params of these depths could never be handed back through an int count; the
// setup is refused before anything is drawn, even for 2^62 levels.
TEST_F(RefusalTest, SetupRefusesDepthsAboveTheLimitWithoutWork) {
    SKIP_UNDER_SANITIZERS();
    for (std::int64_t depth : {hibe::kMaxDepth + 1, std::int64_t{1} << 62}) {
        const int result = inLimitedChild([] {}, [&] {
            std::string printed;
            const std::int64_t status = setup(depth, "org", &printed);
            return status == 1 && printed.empty() ? kRefused : kOtherResult;
        });
        EXPECT_EQ(result, kRefused) << depth;
        EXPECT_TRUE(fs::is_empty(dir_)) << depth;
    }
}

// A 1.5 GiB message makes a map over 2^31 − 1 bytes, which DecryptHibeMsg could
// never take: refused before it is encrypted, through the exported body (whose
// plaintext copy is real memory) and through the message layer with a
// plaintext that is mapped but never touched.
TEST(MapLimitTest, MapOverIntCountIsRefusedBeforeEncrypting) {
    SKIP_UNDER_SANITIZERS();
    constexpr std::size_t kLength = std::size_t{3} << 29;
    const std::string tooLong = "invalid parameters, the message map would exceed 2147483647 bytes";
    const common::Bytes params = bytes(data("org.params"));

    common::Bytes plaintext;
    std::string printed;
    const int body = inLimitedChild([&] { plaintext.resize(kLength, 'm'); }, [&] {
        std::string result;
        printed = captureStdout([&] {
            const common::Bytes map = hibe_c::EncryptHibeMsg(
                std::move(plaintext), easycodec_test::StringList({"A/B"}),
                easycodec_test::BytesList({params}), 0);
            result.assign(map.begin(), map.end());
        });
        return result == "null" && printed == tooLong ? kRefused : kOtherResult;
    });
    EXPECT_EQ(body, kRefused);

    void* mapped = MAP_FAILED;
    const auto mapPlaintext = [&] {
        mapped = ::mmap(nullptr, kLength, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    };
    const int layer = inLimitedChild(mapPlaintext, [&] {
        if (mapped == MAP_FAILED) return kOtherResult;
        hibe::Params record;
        if (!record.Unmarshal(params).second) return kOtherResult;
        std::vector<hibe::Params*> list = {&record};
        const std::vector<std::string> ids = {"A/B"};
        auto sealed = hibe_fast::SealHibeMsg(
            common::ByteView(static_cast<const std::uint8_t*>(mapped), kLength), nullptr, ids, list,
            crypto::AES, hibe_c::CheckJsonMapLength);
        return sealed ? kOtherResult : expectError(sealed.error(), tooLong);
    });
    EXPECT_EQ(layer, kRefused);
}

// An identity of n levels "a/a/…/a".
std::string deepId(std::size_t levels) {
    std::string id = "a";
    id.reserve(2 * levels);
    for (std::size_t i = 1; i < levels; ++i) id += "/a";
    return id;
}

// Hashing 60 receivers of 500,000 levels each would take gigabytes; each is
// deeper than its params of depth 3, which counting the separators shows.
TEST(DepthLimitTest, DeepReceiversAreRefusedBeforeTheirLevelsAreHashed) {
    SKIP_UNDER_SANITIZERS();
    std::vector<std::string> ids;
    std::vector<hibe::Params> records(60);
    std::vector<hibe::Params*> list;
    const auto prepare = [&] {
        const common::Bytes params = bytes(data("org.params"));
        for (auto& record : records) {
            (void)record.Unmarshal(params);
            list.push_back(&record);
        }
        // Distinct ids of equal depth: the refinement keeps every one.
        for (int i = 0; i < 60; ++i) {
            std::string id = "r";
            id += std::to_string(i);
            id += "/";
            id += deepId(499'999);
            ids.push_back(std::move(id));
        }
    };
    const int result = inLimitedChild(prepare, [&] {
        auto map = hibe_fast::EncryptHibeMsg(common::AsBytes("m"), ids, list, crypto::AES);
        return map ? kOtherResult : expectError(map.error(), hibe::kEncryptTooDeep);
    });
    EXPECT_EQ(result, kRefused);
}

// A map key of 10^7 levels below the holder would take a gigabyte to hash; the
// params have depth 3, so the key is refused with the derivation's depth error.
TEST(DepthLimitTest, DeepMapKeyIsRefusedBeforeItsLevelsAreHashed) {
    SKIP_UNDER_SANITIZERS();
    hibe::Params params;
    hibe::PrivateKey key;
    hibe_amd64::HibeMsgMap map;
    const auto prepare = [&] {
        (void)params.Unmarshal(bytes(data("org.params")));
        (void)key.Unmarshal(bytes(data("A.privateKey")));
        map["CT"] = "AAAA";
        map["A/" + deepId(10'000'000)] = "AAAA";
    };
    const int result = inLimitedChild(prepare, [&] {
        auto plain = hibe_fast::DecryptHibeMsg("A", &params, &key, &map, crypto::AES);
        return plain ? kOtherResult : expectError(plain.error(), hibe::kParentKeyTooDeep);
    });
    EXPECT_EQ(result, kRefused);
}

}  // namespace
