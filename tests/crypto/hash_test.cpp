#include "crypto/hash.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using crypto_test::FromHex;

struct DigestCase {
    crypto::HashType type;
    const char* message;
    const char* digest;
};

// Published digests of the empty message and of "abc".
constexpr DigestCase kDigests[] = {
    {crypto::HASH_TYPE_SHA256, "",
     "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {crypto::HASH_TYPE_SHA256, "abc",
     "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {crypto::HASH_TYPE_SHA3_256, "",
     "a7ffc6f8bf1ed76651c14756a061d662f580ff4de43b49fa82d80a4b80f8434a"},
    {crypto::HASH_TYPE_SHA3_256, "abc",
     "3a985da74fe225b2045c172d6bd390bd855f086e3e9d525b46bfe24511431532"},
    {crypto::HASH_TYPE_SM3, "",
     "1ab21d8355cfa17f8e61194831e81a8f22bec8c728fefb747ed035eb5082aa2b"},
    {crypto::HASH_TYPE_SM3, "abc",
     "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0"},
};

TEST(DigestSelector, PublishedDigestsOfEmptyAndAbc) {
    for (const DigestCase& c : kDigests) {
        auto digest = hash::Get(c.type, common::AsBytes(c.message));
        ASSERT_TRUE(digest.has_value()) << c.type;
        EXPECT_EQ(*digest, FromHex(c.digest)) << c.type << " \"" << c.message << "\"";
    }
}

TEST(DigestSelector, PlainSm3NumberSelectsSm3) {
    auto plain = hash::Get(crypto::SM3, common::AsBytes("abc"));
    ASSERT_TRUE(plain.has_value());
    EXPECT_EQ(*plain, *hash::Get(crypto::HASH_TYPE_SM3, common::AsBytes("abc")));
}

TEST(DigestSelector, RepeatedCallsStartFromFreshState) {
    const common::Bytes data(1000, 0x5a);
    for (crypto::HashType type : {crypto::HASH_TYPE_SHA256, crypto::HASH_TYPE_SHA3_256,
                                  crypto::HASH_TYPE_SM3}) {
        auto first = hash::Get(type, data);
        auto second = hash::Get(type, data);
        ASSERT_TRUE(first.has_value() && second.has_value());
        EXPECT_EQ(first->size(), 32u);
        EXPECT_EQ(*first, *second);
    }
}

TEST(DigestSelector, OtherNumbersFailWithUnknownHashAlgorithm) {
    for (crypto::HashType type : {0ull, 1ull, 4ull, 6ull, 10ull, 12ull, 19ull, 21ull, ~0ull}) {
        auto digest = hash::Get(type, common::AsBytes("abc"));
        ASSERT_FALSE(digest.has_value()) << type;
        EXPECT_EQ(digest.error().Message(), "unknown hash algorithm");
    }
    auto empty = hash::Hash().Get(common::AsBytes("abc"));
    ASSERT_FALSE(empty.has_value());
    EXPECT_EQ(empty.error().Message(), "unknown hash algorithm");
}

}  // namespace
