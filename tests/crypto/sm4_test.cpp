#include "crypto/sm4.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>

#include "crypto/aes.h"
#include "test_support.h"

namespace {

using crypto_test::Concat;
using crypto_test::FailingRandom;
using crypto_test::FixedRandom;
using crypto_test::FromHex;
using crypto_test::ToHex;

constexpr char kDecryptFailed[] = "decrypt failed,please check it";

// The example of the SM4 standard: key = plaintext, one block.
constexpr char kSm4Key[] = "0123456789abcdeffedcba9876543210";
constexpr char kSm4Block[] = "681edf34d206965e86b3e94f536e4246";

std::string errorOf(const common::Result<common::Bytes>& r) {
    return r.has_value() ? std::string("<success>") : r.error().Message();
}

common::Bytes messageOf(std::size_t n) {
    common::Bytes m(n);
    for (std::size_t i = 0; i < n; ++i) m[i] = static_cast<std::uint8_t>(i * 13 + 1);
    return m;
}

// One SM4 block decrypted without any mode, to look inside a ciphertext.
common::Bytes decryptBlock(common::ByteView key, common::ByteView block) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    common::Bytes out(32);
    int n = 0;
    EVP_DecryptInit_ex(ctx, EVP_sm4_ecb(), nullptr, key.data(), nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_DecryptUpdate(ctx, out.data(), &n, block.data(), static_cast<int>(block.size()));
    EVP_CIPHER_CTX_free(ctx);
    out.resize(static_cast<std::size_t>(n));
    return out;
}

TEST(Sm4Key, StandardExampleIsTheFirstBlockUnderZeroIv) {
    FixedRandom zeroIv(common::Bytes(16, 0));
    sm4::SM4Key key(FromHex(kSm4Key), zeroIv);
    auto out = key.Encrypt(FromHex(kSm4Key));
    ASSERT_TRUE(out.has_value()) << errorOf(out);
    ASSERT_EQ(out->size(), 48u);
    EXPECT_EQ(ToHex(*out).substr(0, 64), std::string(32, '0') + kSm4Block);
    auto back = key.Decrypt(*out);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(ToHex(*back), kSm4Key);
}

TEST(Sm4Key, FormIsIvAndWholePaddedBlocks) {
    sm4::SM4Key key(FromHex(kSm4Key));
    struct Case {
        std::size_t plain;
        std::size_t form;
    };
    for (const Case c : {Case{0, 32}, Case{1, 32}, Case{15, 32}, Case{16, 48}, Case{17, 48},
                         Case{31, 48}, Case{32, 64}, Case{1000, 1024}}) {
        const common::Bytes plain = messageOf(c.plain);
        auto out = key.Encrypt(plain);
        ASSERT_TRUE(out.has_value());
        EXPECT_EQ(out->size(), c.form) << c.plain;
        auto back = key.Decrypt(*out);
        ASSERT_TRUE(back.has_value()) << c.plain << ": " << errorOf(back);
        EXPECT_EQ(*back, plain);
    }
}

TEST(Sm4Key, EmptyPlaintextEncryptsOneBlockOfPadding) {
    const common::Bytes keyBytes = FromHex(kSm4Key);
    sm4::SM4Key key(keyBytes);
    const common::Bytes out = *key.Encrypt({});
    ASSERT_EQ(out.size(), 32u);
    // block = D(C1) ⊕ IV
    common::Bytes block = decryptBlock(keyBytes, common::ByteView(out).subspan(16));
    for (std::size_t i = 0; i < 16; ++i) block[i] ^= out[i];
    EXPECT_EQ(block, common::Bytes(16, 16));
    auto back = key.Decrypt(out);
    ASSERT_TRUE(back.has_value());
    EXPECT_TRUE(back->empty());
}

TEST(Sm4Key, EveryEncryptionDrawsAFreshIv) {
    sm4::SM4Key key(FromHex(kSm4Key));
    const common::Bytes plain = messageOf(20);
    auto a = key.Encrypt(plain);
    auto b = key.Encrypt(plain);
    ASSERT_TRUE(a.has_value() && b.has_value());
    EXPECT_NE(*a, *b);
    EXPECT_EQ(*key.Decrypt(*a), plain);
    EXPECT_EQ(*key.Decrypt(*b), plain);
}

TEST(Sm4Key, OptionsAreIgnored) {
    const common::Bytes iv = FromHex("00112233445566778899aabbccddeeff");
    const common::Bytes plain = messageOf(21);
    const crypto::EncOpts options[] = {
        sm4::defaultSM4Opts,
        aes::defaultAESOpts,
        {"PKCS5", "CBC", false, 5, {1, 2}, true},
        {"whatever", "gcm", false, 0, {}, false},
    };
    FixedRandom reference(iv);
    const common::Bytes expected = *sm4::SM4Key(FromHex(kSm4Key), reference).Encrypt(plain);
    for (const crypto::EncOpts& opts : options) {
        FixedRandom same(iv);
        sm4::SM4Key key(FromHex(kSm4Key), same);
        auto out = key.EncryptWithOpts(plain, opts);
        ASSERT_TRUE(out.has_value()) << opts.BlockMode;
        EXPECT_EQ(*out, expected) << opts.BlockMode;
        auto back = key.DecryptWithOpts(expected, opts);
        ASSERT_TRUE(back.has_value()) << opts.BlockMode;
        EXPECT_EQ(*back, plain);
    }
}

TEST(Sm4Key, DecryptionFailuresAreUnprefixed) {
    sm4::SM4Key key(FromHex(kSm4Key));
    const common::Bytes out = *key.Encrypt(common::Bytes(16, 0));  // IV, C1, C2
    // IV' ‖ C1 decrypts to 0^15 ‖ 0xff: a pad longer than the text.
    common::Bytes badPad(out.begin(), out.begin() + 32);
    badPad[15] ^= 0xff;

    struct Case {
        const char* name;
        common::Bytes input;
        std::string error;
    };
    const Case cases[] = {
        {"IV alone", common::Bytes(16, 0), kDecryptFailed},
        {"pad beyond the text", badPad, kDecryptFailed},
        {"shorter than the IV", common::Bytes(15, 0), "SM4: input shorter than the 16-byte IV"},
        {"empty", {}, "SM4: input shorter than the 16-byte IV"},
        {"partial block", common::Bytes(17, 0), "SM4: ciphertext is not a whole number of 16-byte blocks"},
        {"partial second block", common::Bytes(40, 0),
         "SM4: ciphertext is not a whole number of 16-byte blocks"},
    };
    for (const Case& c : cases) EXPECT_EQ(errorOf(key.Decrypt(c.input)), c.error) << c.name;
}

TEST(Sm4Key, KeyOfOtherLengthFailsEveryOperation) {
    for (std::size_t n : {0u, 15u, 24u, 32u}) {
        sm4::SM4Key key(common::Bytes(n, 1));
        const std::string expected = "SM4: invalid key size " + std::to_string(n);
        EXPECT_EQ(errorOf(key.Encrypt(messageOf(5))), expected);
        EXPECT_EQ(errorOf(key.Decrypt(common::Bytes(32, 0))), expected);
        EXPECT_EQ(errorOf(key.Decrypt({})), expected) << "the key is checked first";
    }
}

TEST(Sm4Key, RandomSourceErrorIsReturnedUnchanged) {
    FailingRandom broken;
    sm4::SM4Key key(FromHex(kSm4Key), broken);
    EXPECT_EQ(errorOf(key.Encrypt(messageOf(5))), FailingRandom::kMessage);
}

TEST(Sm4Key, InterfaceBasics) {
    common::Bytes bytes = FromHex(kSm4Key);
    const std::uint8_t* storage = bytes.data();
    sm4::SM4Key key(std::move(bytes));
    EXPECT_EQ(key.Type(), crypto::SM4);
    EXPECT_EQ(key.String(), kSm4Key);
    EXPECT_EQ(key.Bytes().data(), storage);
    EXPECT_EQ(sm4::defaultSM4Opts.EncodingType, "NO PADDING");
    EXPECT_EQ(sm4::defaultSM4Opts.BlockMode, "GCM");
    EXPECT_TRUE(sm4::defaultSM4Opts.EnableMAC);
    EXPECT_EQ(sm4::defaultSM4Opts.Hash, 0u);
    EXPECT_TRUE(sm4::defaultSM4Opts.Label.empty());
    EXPECT_FALSE(sm4::defaultSM4Opts.EnableASN1);
}

}  // namespace
