#include "crypto/sym.h"

#include <gtest/gtest.h>

#include <optional>

#include "test_support.h"

namespace {

using crypto_test::FromHex;

constexpr char kAesLengthText[] = "aes key len must be 128bit\xEF\xBC\x8C" "192bit\xEF\xBC\x8C" "256bit";
constexpr char kSm4LengthText[] = "sm4 key len must be 128bit";

common::Bytes keyOf(std::size_t n) {
    common::Bytes key(n);
    for (std::size_t i = 0; i < n; ++i) key[i] = static_cast<std::uint8_t>(0xf0 + i);
    return key;
}

TEST(GenerateSymKey, AesAcceptsThe3KeyLengths) {
    for (std::size_t n : {16u, 24u, 32u}) {
        common::Bytes bytes = keyOf(n);
        const std::uint8_t* storage = bytes.data();
        const std::string hex = crypto_test::ToHex(bytes);
        auto key = sym::GenerateSymKey(crypto::AES, std::move(bytes));
        ASSERT_TRUE(key.has_value()) << n;
        EXPECT_EQ((*key)->Type(), crypto::AES);
        EXPECT_EQ((*key)->String(), hex);
        EXPECT_EQ((*key)->String().size(), 2 * n);
        EXPECT_EQ((*key)->Bytes().data(), storage) << "the key holds the caller's bytes, not a copy";
        EXPECT_EQ((*key)->Bytes().size(), n);
    }
}

TEST(GenerateSymKey, Sm4AcceptsSixteenBytes) {
    common::Bytes bytes = FromHex("0123456789abcdeffedcba9876543210");
    const std::uint8_t* storage = bytes.data();
    auto key = sym::GenerateSymKey(crypto::SM4, std::move(bytes));
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ((*key)->Type(), crypto::SM4);
    EXPECT_EQ((*key)->String(), "0123456789abcdeffedcba9876543210");
    EXPECT_EQ((*key)->Bytes().data(), storage);
}

TEST(GenerateSymKey, LengthFailuresReturnTheOneErrorOfTheirAlgorithm) {
    struct Case {
        crypto::KeyType type;
        std::size_t length;
        const char* text;
    };
    const Case cases[] = {
        {crypto::AES, 0, kAesLengthText},  {crypto::AES, 15, kAesLengthText},
        {crypto::AES, 17, kAesLengthText}, {crypto::AES, 64, kAesLengthText},
        {crypto::SM4, 0, kSm4LengthText},  {crypto::SM4, 15, kSm4LengthText},
        {crypto::SM4, 24, kSm4LengthText}, {crypto::SM4, 32, kSm4LengthText},
    };
    std::optional<common::Error> firstAes;
    std::optional<common::Error> firstSm4;
    for (const Case& c : cases) {
        auto key = sym::GenerateSymKey(c.type, keyOf(c.length));
        ASSERT_FALSE(key.has_value()) << c.type << "/" << c.length;
        EXPECT_EQ(key.error().Message(), c.text);
        std::optional<common::Error>& first = c.type == crypto::AES ? firstAes : firstSm4;
        if (!first) first = key.error();
        EXPECT_TRUE(key.error().SameAs(*first)) << c.type << "/" << c.length;
    }
    EXPECT_FALSE(firstAes->SameAs(*firstSm4));
    // Re-running the start-up step makes no new errors.
    sym::init();
    EXPECT_TRUE(sym::GenerateSymKey(crypto::AES, {}).error().SameAs(*firstAes));
}

TEST(GenerateSymKey, AesLengthTextHasFullWidthCommas) {
    const std::string text = sym::GenerateSymKey(crypto::AES, {}).error().Message();
    EXPECT_EQ(text.size(), 44u);
    EXPECT_EQ(crypto_test::ToHex(common::AsBytes(text)).substr(52, 6), "efbc8c");
    EXPECT_EQ(text.find(','), std::string::npos);
}

TEST(GenerateSymKey, OtherAlgorithmsAreUnsupportedWhateverTheLength) {
    for (crypto::KeyType type : {crypto::RSA512, crypto::RSA2048, crypto::SM2, crypto::ECC_Ed25519,
                                 crypto::KeyType{-1}, crypto::KeyType{12}}) {
        for (std::size_t n : {0u, 16u, 32u}) {
            auto key = sym::GenerateSymKey(type, keyOf(n));
            ASSERT_FALSE(key.has_value()) << type;
            EXPECT_EQ(key.error().Message(), "unsupport symmetric algorithm");
        }
    }
}

}  // namespace
