// Files made by an independent implementation of the formats: a depth-3 params
// file, its master key and the private keys of A, A/B and A/B/C.
#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "hibe/scheme.h"
#include "test_support.h"

namespace {

using hibe_test::Enc;

common::Bytes ReadFile(const std::string& name) {
    std::ifstream in(std::string(HIBE_TEST_DATA) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    return common::Bytes(std::istreambuf_iterator<char>(in), {});
}

// Level i of the identity vector is the SHA-256 digest of level i, read as an
// unsigned big-endian integer.
hibe::HibeId IdentityVector(std::string_view path) {
    hibe::HibeId id;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = path.find('/', start);
        std::string_view level = path.substr(start, end - start);
        unsigned char digest[SHA256_DIGEST_LENGTH];
        SHA256(reinterpret_cast<const unsigned char*>(level.data()), level.size(), digest);
        mpz_class k;
        mpz_import(k.get_mpz_t(), sizeof digest, 1, 1, 1, 0, digest);
        id.push_back(k);
        if (end == std::string_view::npos) return id;
        start = end + 1;
    }
}

class KnownAnswerTest : public ::testing::Test {
protected:
    void SetUp() override {
        paramsBytes = ReadFile("org.params");
        ASSERT_TRUE(params.Unmarshal(paramsBytes).second);
        common::Bytes masterBytes = ReadFile("org.masterKey");
        ASSERT_TRUE(master.Key.Unmarshal(masterBytes));
        for (const char* name : {"A", "A#B", "A#B#C"}) {
            keyBytes.push_back(ReadFile(std::string(name) + ".privateKey"));
            hibe::PrivateKey key;
            ASSERT_TRUE(key.Unmarshal(keyBytes.back()).second) << name;
            keys.push_back(std::move(key));
        }
    }

    common::RandomSource& rand = common::SystemRandom();
    common::Bytes paramsBytes;
    hibe::Params params;
    hibe::MasterKey master;
    std::vector<common::Bytes> keyBytes;
    std::vector<hibe::PrivateKey> keys;  // A, A/B, A/B/C
};

TEST_F(KnownAnswerTest, FilesDecodeAndEncodeToIdenticalBytes) {
    EXPECT_EQ(paramsBytes.size(), 576u);
    EXPECT_EQ(params.H.size(), 3u);
    EXPECT_EQ(params.Marshal(), paramsBytes);
    EXPECT_EQ(master.Key.Marshal(), ReadFile("org.masterKey"));
    for (std::size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(keys[i].DepthLeft(), static_cast<std::int64_t>(2 - i));
        EXPECT_EQ(keys[i].Marshal(), keyBytes[i]);
    }
}

// The master key alpha·G2 matches the params: e(alpha·G2, G) = e(G2, alpha·G).
TEST_F(KnownAnswerTest, MasterKeyBelongsToTheParams) {
    EXPECT_EQ(Enc(bn256::Pair(master.Key, params.G)), Enc(bn256::Pair(params.G2, params.G1)));
}

TEST_F(KnownAnswerTest, EveryKeyOfTheChainDecryptsForABC) {
    auto g1 = bn256::RandomG1(rand);
    auto g2 = bn256::RandomG2(rand);
    ASSERT_TRUE(g1 && g2);
    const bn256::GT m = bn256::Pair(g1->element, g2->element);
    const hibe::HibeId abc = IdentityVector("A/B/C");
    const hibe::HibeId ab = IdentityVector("A/B");
    auto ct = hibe::Encrypt(rand, params, abc, m);
    ASSERT_TRUE(ct);

    EXPECT_EQ(Enc(hibe::Decrypt(keys[2], *ct)), Enc(m)) << "A/B/C key";

    auto fromAB = hibe::KeyGenFromParent(rand, params, keys[1], abc);
    ASSERT_TRUE(fromAB);
    EXPECT_EQ(Enc(hibe::Decrypt(*fromAB, *ct)), Enc(m)) << "derived from A/B";

    auto abFromA = hibe::KeyGenFromParent(rand, params, keys[0], ab);
    ASSERT_TRUE(abFromA);
    auto fromA = hibe::KeyGenFromParent(rand, params, *abFromA, abc);
    ASSERT_TRUE(fromA);
    EXPECT_EQ(Enc(hibe::Decrypt(*fromA, *ct)), Enc(m)) << "derived from A";

    auto fromMaster = hibe::KeyGenFromMaster(rand, params, master, abc);
    ASSERT_TRUE(fromMaster);
    EXPECT_EQ(Enc(hibe::Decrypt(*fromMaster, *ct)), Enc(m)) << "made from the master key";

    // The keys of the ancestors themselves do not decrypt it.
    EXPECT_NE(Enc(hibe::Decrypt(keys[1], *ct)), Enc(m));
    EXPECT_NE(Enc(hibe::Decrypt(keys[0], *ct)), Enc(m));
}

TEST_F(KnownAnswerTest, KeysOfEachLevelDecryptForTheirOwnIdentity) {
    const char* paths[] = {"A", "A/B", "A/B/C"};
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const bn256::GT m = hibe_test::GTOne();
        auto ct = hibe::Encrypt(rand, params, IdentityVector(paths[i]), m);
        ASSERT_TRUE(ct);
        EXPECT_EQ(Enc(hibe::Decrypt(keys[i], *ct)), Enc(m)) << paths[i];
    }
}

}  // namespace
