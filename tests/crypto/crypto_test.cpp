#include "crypto/crypto.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <type_traits>

#include "crypto/algorithms.h"

namespace {

static_assert(std::is_same_v<crypto::KeyType, std::int64_t>);
static_assert(std::is_same_v<crypto::HashType, std::uint64_t>);
static_assert(std::is_same_v<crypto::BitsSize, std::int64_t>);
static_assert(std::is_same_v<decltype(crypto::SM3), const std::uint64_t>);
static_assert(crypto::SM3 == crypto::HASH_TYPE_SM3 && crypto::SM3 == 20);
static_assert(crypto::HASH_TYPE_SHA256 == 5 && crypto::HASH_TYPE_SHA3_256 == 11);
static_assert(crypto::BITS_SIZE_128 == 128 && crypto::BITS_SIZE_192 == 192 &&
              crypto::BITS_SIZE_256 == 256 && crypto::BITS_SIZE_512 == 512 &&
              crypto::BITS_SIZE_1024 == 1024 && crypto::BITS_SIZE_2048 == 2048 &&
              crypto::BITS_SIZE_3072 == 3072);

struct KeyTypeCase {
    crypto::KeyType number;
    const char* name;
};

constexpr KeyTypeCase kKeyTypes[] = {
    {crypto::AES, "AES"},
    {crypto::SM4, "SM4"},
    {crypto::RSA512, "RSA512"},
    {crypto::RSA1024, "RSA1024"},
    {crypto::RSA2048, "RSA2048"},
    {crypto::RSA3072, "RSA3072"},
    {crypto::SM2, "SM2"},
    {crypto::ECC_Secp256k1, "ECC_Secp256k1"},
    {crypto::ECC_NISTP256, "ECC_NISTP256"},
    {crypto::ECC_NISTP384, "ECC_NISTP384"},
    {crypto::ECC_NISTP521, "ECC_NISTP521"},
    {crypto::ECC_Ed25519, "ECC_Ed25519"},
};

TEST(AlgorithmTables, KeyTypeNumbersAndNamesMapBothWays) {
    ASSERT_EQ(crypto::KeyType2NameMap.size(), 12u);
    ASSERT_EQ(crypto::Name2KeyTypeMap.size(), 12u);
    for (std::size_t i = 0; i < std::size(kKeyTypes); ++i) {
        const auto& c = kKeyTypes[i];
        EXPECT_EQ(c.number, static_cast<crypto::KeyType>(i)) << c.name;
        EXPECT_EQ(crypto::KeyType2NameMap.at(c.number), c.name);
        EXPECT_EQ(crypto::Name2KeyTypeMap.at(c.name), c.number);
    }
}

TEST(AlgorithmTables, HashNamesUseUnderscoresAndExactCase) {
    ASSERT_EQ(crypto::HashAlgoMap.size(), 3u);
    EXPECT_EQ(crypto::HashAlgoMap.at("SHA256"), crypto::HASH_TYPE_SHA256);
    EXPECT_EQ(crypto::HashAlgoMap.at("SHA3_256"), crypto::HASH_TYPE_SHA3_256);
    EXPECT_EQ(crypto::HashAlgoMap.at("SM3"), crypto::HASH_TYPE_SM3);
    for (const char* absent : {"SHA3-256", "sha256", "SHA-256", "sm3"}) {
        EXPECT_FALSE(crypto::HashAlgoMap.contains(absent)) << absent;
    }
}

TEST(AlgorithmTables, AllAesNamesGiveOneNumber) {
    ASSERT_EQ(crypto::SymAlgoMap.size(), 5u);
    for (const char* name : {"AES", "AES128", "AES192", "AES256"}) {
        EXPECT_EQ(crypto::SymAlgoMap.at(name), crypto::AES) << name;
    }
    EXPECT_EQ(crypto::SymAlgoMap.at("SM4"), crypto::SM4);
    for (const char* name : {"AES128", "AES192", "AES256", "aes"}) {
        EXPECT_FALSE(crypto::Name2KeyTypeMap.contains(name)) << name;
    }
}

TEST(AlgorithmTables, NistCurvesHaveOneSpellingPerTable) {
    struct Curve {
        const char* asymName;
        const char* keyTypeName;
        crypto::KeyType number;
    };
    const Curve curves[] = {{"ECC_P256", "ECC_NISTP256", 8},
                            {"ECC_P384", "ECC_NISTP384", 9},
                            {"ECC_P521", "ECC_NISTP521", 10}};
    for (const Curve& c : curves) {
        EXPECT_EQ(crypto::KeyType2NameMap.at(c.number), c.keyTypeName);
        EXPECT_EQ(crypto::Name2KeyTypeMap.at(c.keyTypeName), c.number);
        EXPECT_FALSE(crypto::Name2KeyTypeMap.contains(c.asymName));
        EXPECT_EQ(crypto::AsymAlgoMap.at(c.asymName), c.number);
        EXPECT_FALSE(crypto::AsymAlgoMap.contains(c.keyTypeName));
    }
}

TEST(AlgorithmTables, AsymmetricAndSymmetricNamesAreDisjoint) {
    ASSERT_EQ(crypto::AsymAlgoMap.size(), 10u);
    const std::pair<const char*, crypto::KeyType> others[] = {
        {"RSA512", 2}, {"RSA1024", 3}, {"RSA2048", 4}, {"RSA3072", 5},
        {"SM2", 6},    {"ECC_Ed25519", 11}, {"ECC_Secp256k1", 7}};
    for (const auto& [name, number] : others) EXPECT_EQ(crypto::AsymAlgoMap.at(name), number);
    EXPECT_FALSE(crypto::AsymAlgoMap.contains("AES"));
    EXPECT_FALSE(crypto::AsymAlgoMap.contains("SM4"));
    for (const auto& [name, number] : crypto::AsymAlgoMap) {
        EXPECT_FALSE(crypto::SymAlgoMap.contains(name)) << name;
    }
}

// A call after the start-up has run builds nothing again: the tables are the
// objects that the start-up made, and the algorithms come from the provider
// that it loaded (a second run would load another into a new context).
TEST(AlgorithmTables, RepeatedInitLeavesTablesAndAlgorithmsAsMade) {
    const auto* before = &crypto::KeyType2NameMap.at(crypto::SM4);
    const crypto::CipherMethods* cipher = crypto::CipherOf(crypto::Cipher::Aes128Gcm);
    const crypto::DigestMethods* digest = crypto::DigestOf(crypto::Digest::Sha256);
    ASSERT_NE(cipher, nullptr);
    ASSERT_NE(digest, nullptr);
    const OSSL_PROVIDER* cipherProvider = cipher->provider;
    const OSSL_PROVIDER* digestProvider = digest->provider;
    crypto::init();
    EXPECT_EQ(crypto::KeyType2NameMap.size(), 12u);
    EXPECT_EQ(&crypto::KeyType2NameMap.at(crypto::SM4), before);
    EXPECT_EQ(crypto::CipherOf(crypto::Cipher::Aes128Gcm)->provider, cipherProvider);
    EXPECT_EQ(crypto::DigestOf(crypto::Digest::Sha256)->provider, digestProvider);
}

}  // namespace
