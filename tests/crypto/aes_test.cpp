#include "crypto/aes.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

using crypto_test::Concat;
using crypto_test::FailingRandom;
using crypto_test::FixedRandom;
using crypto_test::FromHex;
using crypto_test::ToHex;

constexpr char kAuthFailed[] = "cipher: message authentication failed";
constexpr char kDecryptFailed[] = "decrypt failed,please check it";

crypto::EncOpts optsOf(std::string mode, std::string encoding, bool asn1) {
    return crypto::EncOpts{std::move(encoding), std::move(mode), true, 0, {}, asn1};
}

const crypto::EncOpts kGcmRaw = optsOf("GCM", "NO PADDING", false);
const crypto::EncOpts kCbcRaw = optsOf("CBC", "PKCS5", false);
const crypto::EncOpts kCbcDer = optsOf("CBC", "PKCS5", true);

// The DER form written out by hand, for fields shorter than 128 bytes in all.
common::Bytes derOf(common::ByteView iv, common::ByteView ct, common::ByteView tag) {
    const std::size_t content = 6 + iv.size() + ct.size() + tag.size();
    EXPECT_LT(content, 128u);
    common::Bytes out{0x30, static_cast<std::uint8_t>(content)};
    for (common::ByteView part : {iv, ct, tag}) {
        out.push_back(0x04);
        out.push_back(static_cast<std::uint8_t>(part.size()));
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

common::Bytes keyOf(std::size_t n, std::uint8_t seed = 0x11) {
    common::Bytes key(n);
    for (std::size_t i = 0; i < n; ++i) key[i] = static_cast<std::uint8_t>(seed + 7 * i);
    return key;
}

common::Bytes messageOf(std::size_t n) {
    common::Bytes m(n);
    for (std::size_t i = 0; i < n; ++i) m[i] = static_cast<std::uint8_t>(i * 31 + 5);
    return m;
}

std::string errorOf(const common::Result<common::Bytes>& r) {
    return r.has_value() ? std::string("<success>") : r.error().Message();
}

// ---------------------------------------------------------------------------
// Known answers

struct GcmVector {
    const char* name;
    const char* key;
    const char* iv;
    const char* plain;
    const char* cipher;
    const char* tag;
};

constexpr char kGcmPlain[] =
    "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a72"
    "1c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b391aafd255";

// Published AES-GCM test cases (96-bit IV, no additional data).
constexpr GcmVector kGcmVectors[] = {
    {"case 1", "00000000000000000000000000000000", "000000000000000000000000", "", "",
     "58e2fccefa7e3061367f1d57a4e7455a"},
    {"case 2", "00000000000000000000000000000000", "000000000000000000000000",
     "00000000000000000000000000000000", "0388dace60b6a392f328c2b971b2fe78",
     "ab6e47d42cec13bdf53a67b21257bddf"},
    {"case 3", "feffe9928665731c6d6a8f9467308308", "cafebabefacedbaddecaf888", kGcmPlain,
     "42831ec2217774244b7221b784d0d49ce3aa212f2c02a4e035c17e2329aca12e"
     "21d514b25466931c7d8f6a5aac84aa051ba30b396a0aac973d58e091473f5985",
     "4d5c2af327cd64a62cf35abd2ba6fab4"},
    {"case 9", "feffe9928665731c6d6a8f9467308308feffe9928665731c", "cafebabefacedbaddecaf888",
     kGcmPlain,
     "3980ca0b3c00e841eb06fac4872a2757859e1ceaa6efd984628593b40ca1e19c"
     "7d773d00c144c525ac619d18c84a3f4718e2448b2fe324d9ccda2710acade256",
     "9924a7c8587336bfb118024db8674a14"},
    {"case 15", "feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308",
     "cafebabefacedbaddecaf888", kGcmPlain,
     "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa"
     "8cb08e48590dbb3da7b08b1056828838c5f61e6393ba7a0abcc9f662898015ad",
     "b094dac5d93471bdec1a502270e3cc6c"},
};

TEST(AesGcm, KnownAnswersDecryptThroughRawForm) {
    for (const GcmVector& v : kGcmVectors) {
        aes::AESKey key(FromHex(v.key));
        const common::Bytes raw = Concat({FromHex(v.iv), FromHex(v.cipher), FromHex(v.tag)});
        auto plain = key.DecryptWithOpts(raw, kGcmRaw);
        ASSERT_TRUE(plain.has_value()) << v.name << ": " << errorOf(plain);
        EXPECT_EQ(ToHex(*plain), v.plain) << v.name;
    }
}

TEST(AesGcm, KnownAnswersEncryptUnderGivenNonceInBothForms) {
    for (const GcmVector& v : kGcmVectors) {
        const common::Bytes iv = FromHex(v.iv);
        const common::Bytes ct = FromHex(v.cipher);
        const common::Bytes tag = FromHex(v.tag);
        FixedRandom nonces(Concat({iv, iv}));
        aes::AESKey key(FromHex(v.key), nonces);
        auto raw = key.EncryptWithOpts(FromHex(v.plain), kGcmRaw);
        ASSERT_TRUE(raw.has_value()) << v.name << ": " << errorOf(raw);
        EXPECT_EQ(ToHex(*raw), ToHex(Concat({iv, ct, tag}))) << v.name;
        auto der = key.Encrypt(FromHex(v.plain));
        ASSERT_TRUE(der.has_value()) << v.name << ": " << errorOf(der);
        EXPECT_EQ(ToHex(*der), ToHex(derOf(iv, ct, tag))) << v.name;
    }
}

struct CbcVector {
    const char* key;
    const char* cipher;  // the first block(s) for the plaintext below
};

// CBC examples of NIST SP 800-38A (F.2.1, F.2.3, F.2.5), IV 000102...0f.
constexpr char kCbcIv[] = "000102030405060708090a0b0c0d0e0f";
constexpr char kCbcPlain[] =
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
constexpr CbcVector kCbcVectors[] = {
    {"2b7e151628aed2a6abf7158809cf4f3c",
     "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
     "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
    {"8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b", "4f021db243bc633d7178183a9fa071e8"},
    {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
     "f58c4c04d6e5f1ba779eabfb5f7bfbd6"},
};

TEST(AesCbc, KnownAnswersUnderGivenIv) {
    for (const CbcVector& v : kCbcVectors) {
        FixedRandom ivs(FromHex(kCbcIv));
        aes::AESKey key(FromHex(v.key), ivs);
        auto raw = key.EncryptWithOpts(FromHex(kCbcPlain), kCbcRaw);
        ASSERT_TRUE(raw.has_value()) << v.key << ": " << errorOf(raw);
        ASSERT_EQ(raw->size(), 16u + 64u + 16u) << "IV, four blocks, one block of padding";
        const std::string expected = std::string(kCbcIv) + v.cipher;
        EXPECT_EQ(ToHex(*raw).substr(0, expected.size()), expected) << v.key;
        auto plain = key.DecryptWithOpts(*raw, kCbcRaw);
        ASSERT_TRUE(plain.has_value()) << errorOf(plain);
        EXPECT_EQ(ToHex(*plain), kCbcPlain);
    }
}

// ---------------------------------------------------------------------------
// The default form: GCM in DER

TEST(AesDefaultForm, DerSizesAndHeadersForEachKeySize) {
    struct Case {
        std::size_t plain;
        std::size_t der;
        const char* head;
    };
    const Case cases[] = {
        {0, 36, "3022040c"},     {1, 37, "3023040c"},       {93, 129, "307f040c"},
        {94, 131, "308180040c"}, {100, 137, "308186040c"},  {300, 340, "30820150040c"},
    };
    for (std::size_t keySize : {16u, 24u, 32u}) {
        aes::AESKey key(keyOf(keySize));
        for (const Case& c : cases) {
            const common::Bytes plain = messageOf(c.plain);
            auto der = key.Encrypt(plain);
            ASSERT_TRUE(der.has_value()) << errorOf(der);
            ASSERT_EQ(der->size(), c.der) << keySize << "/" << c.plain;
            EXPECT_EQ(ToHex(*der).substr(0, std::string(c.head).size()), c.head);
            auto back = key.Decrypt(*der);
            ASSERT_TRUE(back.has_value()) << errorOf(back);
            EXPECT_EQ(*back, plain);
        }
    }
}

TEST(AesDefaultForm, EmptyPlaintextLayout) {
    aes::AESKey key(keyOf(32));
    auto der = key.Encrypt({});
    ASSERT_TRUE(der.has_value());
    const std::string hex = ToHex(*der);
    EXPECT_EQ(hex.substr(0, 8), "3022040c");
    EXPECT_EQ(hex.substr(32, 8), "04000410") << "empty ciphertext, then the 16-byte tag";
    auto back = key.Decrypt(*der);
    ASSERT_TRUE(back.has_value());
    EXPECT_TRUE(back->empty());
}

TEST(AesDefaultForm, EveryEncryptionDrawsAFreshNonce) {
    aes::AESKey key(keyOf(16));
    const common::Bytes plain = messageOf(40);
    auto a = key.Encrypt(plain);
    auto b = key.Encrypt(plain);
    ASSERT_TRUE(a.has_value() && b.has_value());
    EXPECT_NE(*a, *b);
    EXPECT_EQ(*key.Decrypt(*a), plain);
    EXPECT_EQ(*key.Decrypt(*b), plain);
}

TEST(AesDefaultForm, AnyFlippedBitOfNonceCiphertextOrTagFailsAuthentication) {
    aes::AESKey key(keyOf(32));
    const common::Bytes plain = messageOf(20);
    const common::Bytes der = *key.Encrypt(plain);
    ASSERT_EQ(der.size(), 56u);
    // nonce at [4, 16), ciphertext at [18, 38), tag at [40, 56)
    std::vector<std::size_t> positions;
    for (std::size_t i = 4; i < 16; ++i) positions.push_back(i);
    for (std::size_t i = 18; i < 38; ++i) positions.push_back(i);
    for (std::size_t i = 40; i < 56; ++i) positions.push_back(i);
    for (std::size_t pos : positions) {
        for (int bit = 0; bit < 8; ++bit) {
            common::Bytes tampered = der;
            tampered[pos] ^= static_cast<std::uint8_t>(1u << bit);
            EXPECT_EQ(errorOf(key.Decrypt(tampered)), kAuthFailed) << pos << "/" << bit;
        }
    }
}

TEST(AesDefaultForm, WrongKeyFailsAuthentication) {
    const common::Bytes der = *aes::AESKey(keyOf(32, 1)).Encrypt(messageOf(10));
    EXPECT_EQ(errorOf(aes::AESKey(keyOf(32, 2)).Decrypt(der)), kAuthFailed);
}

TEST(AesDefaultForm, BytesAfterTheThirdElementAreIgnored) {
    aes::AESKey key(keyOf(16));
    const common::Bytes plain = messageOf(10);
    const common::Bytes der = *key.Encrypt(plain);
    ASSERT_LT(der[1], 0x70);

    // after the SEQUENCE
    for (const char* tail : {"00", "ffffff", "3000"}) {
        auto back = key.Decrypt(Concat({der, FromHex(tail)}));
        ASSERT_TRUE(back.has_value()) << tail << ": " << errorOf(back);
        EXPECT_EQ(*back, plain);
    }
    // a fourth element inside the SEQUENCE, of any kind
    for (const char* fourth : {"0403aabbcc", "020105", "0400"}) {
        const common::Bytes extra = FromHex(fourth);
        common::Bytes longer = Concat({der, extra});
        longer[1] = static_cast<std::uint8_t>(der[1] + extra.size());
        auto back = key.Decrypt(longer);
        ASSERT_TRUE(back.has_value()) << fourth << ": " << errorOf(back);
        EXPECT_EQ(*back, plain);
    }
}

TEST(AesDefaultForm, CiphertextAndTagMaySplitAnywhere) {
    aes::AESKey key(keyOf(24));
    const common::Bytes plain = messageOf(20);
    const common::Bytes der = *key.Encrypt(plain);
    auto fields = aes::unmarshalCiphertext(der);
    ASSERT_TRUE(fields.has_value());
    const common::Bytes joined = Concat({fields->Ciphertext, fields->Tag});
    const common::Bytes nonce(fields->IV.begin(), fields->IV.end());
    for (std::size_t split = 0; split <= joined.size(); ++split) {
        const common::ByteView all(joined);
        auto back = key.Decrypt(derOf(nonce, all.first(split), all.subspan(split)));
        ASSERT_TRUE(back.has_value()) << split << ": " << errorOf(back);
        EXPECT_EQ(*back, plain) << split;
    }
}

TEST(AesDefaultForm, FewerThanSixteenBytesToOpenFailAuthentication) {
    aes::AESKey key(keyOf(16));
    const common::Bytes nonce(12, 7);
    for (std::size_t n : {0u, 1u, 15u}) {
        const common::Bytes rest(n, 0x42);
        EXPECT_EQ(errorOf(key.Decrypt(derOf(nonce, rest, {}))), kAuthFailed) << n;
        EXPECT_EQ(errorOf(key.Decrypt(derOf(nonce, {}, rest))), kAuthFailed) << n;
    }
}

TEST(AesDefaultForm, NonceOfOtherLengthIsRejectedBeforeOpening) {
    aes::AESKey key(keyOf(16));
    const common::Bytes tag(16, 1);
    for (std::size_t n : {0u, 11u, 13u, 16u}) {
        EXPECT_EQ(errorOf(key.Decrypt(derOf(common::Bytes(n, 3), {}, tag))),
                  "AES GCM decryption fails: nonce must be 12 bytes, got " + std::to_string(n));
    }
}

TEST(AesDefaultForm, DerDecoderEnforcesDerRules) {
    aes::AESKey key(keyOf(16));
    const common::Bytes iv(12, 0x0a);
    const common::Bytes ct(4, 0x0b);
    const common::Bytes tag(16, 0x0c);
    const common::Bytes good = derOf(iv, ct, tag);  // 30 26 04 0c ...
    const common::Bytes content(good.begin() + 2, good.end());
    auto withFirstByte = [&](std::uint8_t b, std::size_t at) {
        common::Bytes d = good;
        d[at] = b;
        return d;
    };
    const common::Bytes innerNonMinimal =
        Concat({FromHex("3027"), FromHex("04810c"), iv, FromHex("0404"), ct, FromHex("0410"), tag});
    const common::Bytes twoElements = Concat({FromHex("3014"), FromHex("040c"), iv, FromHex("0404"), ct});
    const common::Bytes overrun = withFirstByte(0x20, 1);  // tag field runs past the SEQUENCE

    struct Case {
        const char* name;
        common::Bytes der;
        const char* inner;
    };
    const Case cases[] = {
        {"empty", {}, "asn1: empty input"},
        {"identifier only", FromHex("30"), "asn1: truncated or malformed element"},
        {"truncated", common::Bytes(good.begin(), good.end() - 1), "asn1: truncated or malformed element"},
        {"SET instead of SEQUENCE", withFirstByte(0x31, 0), "asn1: expected a SEQUENCE"},
        {"bare OCTET STRING", FromHex("040100"), "asn1: expected a SEQUENCE"},
        {"indefinite length", Concat({FromHex("3080"), content, FromHex("0000")}),
         "asn1: indefinite length not allowed in DER"},
        {"long form for a short length", Concat({FromHex("308126"), content}),
         "asn1: length not in minimal form"},
        {"leading zero length byte", Concat({FromHex("30820026"), content}),
         "asn1: length not in minimal form"},
        {"inner long form", innerNonMinimal, "asn1: length not in minimal form"},
        {"constructed OCTET STRING", withFirstByte(0x24, 2),
         "asn1: constructed OCTET STRING not allowed in DER"},
        {"INTEGER element", withFirstByte(0x02, 2), "asn1: expected an OCTET STRING"},
        {"two elements", twoElements, "asn1: SEQUENCE has fewer than three elements"},
        {"empty SEQUENCE", FromHex("3000"), "asn1: SEQUENCE has fewer than three elements"},
        {"element past the SEQUENCE", overrun, "asn1: truncated or malformed element"},
    };
    ASSERT_TRUE(key.Decrypt(good).error().Message() == kAuthFailed) << "the base form is well formed";
    for (const Case& c : cases) {
        EXPECT_EQ(errorOf(key.Decrypt(c.der)), std::string("AES decryption fails: ") + c.inner) << c.name;
    }
}

// ---------------------------------------------------------------------------
// GCM without the DER envelope

TEST(AesRawGcm, OutputIs28BytesLongerAndRoundTrips) {
    aes::AESKey key(keyOf(32));
    for (std::size_t n : {0u, 1u, 16u, 17u, 1000u}) {
        const common::Bytes plain = messageOf(n);
        auto raw = key.EncryptWithOpts(plain, kGcmRaw);
        ASSERT_TRUE(raw.has_value());
        EXPECT_EQ(raw->size(), n + 28);
        auto back = key.DecryptWithOpts(*raw, kGcmRaw);
        ASSERT_TRUE(back.has_value()) << errorOf(back);
        EXPECT_EQ(*back, plain);
    }
}

TEST(AesRawGcm, InputShorterThanNonceAndTagIsRejected) {
    aes::AESKey key(keyOf(16));
    for (std::size_t n : {0u, 12u, 27u}) {
        EXPECT_EQ(errorOf(key.DecryptWithOpts(common::Bytes(n, 1), kGcmRaw)),
                  "AES GCM decryption fails: input shorter than nonce and tag (28 bytes)");
    }
    EXPECT_EQ(errorOf(key.DecryptWithOpts(common::Bytes(28, 1), kGcmRaw)), kAuthFailed);
}

TEST(AesGcm, EncodingTypeIsNotExamined) {
    aes::AESKey key(keyOf(16));
    const common::Bytes plain = messageOf(33);
    for (const char* encryptWith : {"NO PADDING", "PKCS5", "anything"}) {
        auto der = key.EncryptWithOpts(plain, optsOf("GCM", encryptWith, true));
        ASSERT_TRUE(der.has_value()) << encryptWith;
        EXPECT_EQ(der->size(), plain.size() + 36) << "no padding added";
        for (const char* decryptWith : {"NO PADDING", "PKCS5", ""}) {
            auto back = key.DecryptWithOpts(*der, optsOf("GCM", decryptWith, true));
            ASSERT_TRUE(back.has_value()) << encryptWith << "/" << decryptWith;
            EXPECT_EQ(*back, plain);
        }
    }
}

// ---------------------------------------------------------------------------
// CBC

TEST(AesCbc, SizesOfBothFormsAndRoundTrip) {
    aes::AESKey key(keyOf(24));
    struct Case {
        std::size_t plain;
        std::size_t ciphertext;
    };
    for (const Case c : {Case{0, 16}, Case{1, 16}, Case{15, 16}, Case{16, 32}, Case{17, 32}, Case{47, 48}}) {
        const common::Bytes plain = messageOf(c.plain);
        auto raw = key.EncryptWithOpts(plain, kCbcRaw);
        ASSERT_TRUE(raw.has_value());
        EXPECT_EQ(raw->size(), 16 + c.ciphertext) << c.plain;
        EXPECT_EQ(*key.DecryptWithOpts(*raw, kCbcRaw), plain);

        auto der = key.EncryptWithOpts(plain, kCbcDer);
        ASSERT_TRUE(der.has_value());
        EXPECT_EQ(der->size(), 2 + 18 + 2 + c.ciphertext + 2) << c.plain;
        EXPECT_EQ(ToHex(*der).substr(0, 8), "30" + ToHex(std::vector<std::uint8_t>{
                                                          static_cast<std::uint8_t>(der->size() - 2)}) + "0410");
        EXPECT_EQ(ToHex(*der).substr(2 * der->size() - 4), "0400") << "empty tag";
        EXPECT_EQ(*key.DecryptWithOpts(*der, kCbcDer), plain);
    }
}

TEST(AesCbc, DerTagIsIgnored) {
    aes::AESKey key(keyOf(16));
    const common::Bytes plain = messageOf(5);
    const common::Bytes der = *key.EncryptWithOpts(plain, kCbcDer);
    auto fields = aes::unmarshalCiphertext(der);
    ASSERT_TRUE(fields.has_value());
    const common::Bytes withTag = derOf(fields->IV, fields->Ciphertext, common::Bytes(16, 9));
    EXPECT_EQ(*key.DecryptWithOpts(withTag, kCbcDer), plain);
}

TEST(AesCbc, PaddingSchemeMustBePkcs5AndIsCheckedAfterDecrypting) {
    aes::AESKey key(keyOf(16));
    const crypto::EncOpts noPadding = optsOf("CBC", "NO PADDING", false);
    EXPECT_EQ(errorOf(key.EncryptWithOpts(messageOf(16), noPadding)),
              "AES CBC encryption fails: invalid padding scheme [NO PADDING]");
    EXPECT_EQ(errorOf(key.EncryptWithOpts(messageOf(16), optsOf("CBC", "pkcs5", true))),
              "AES CBC encryption fails: invalid padding scheme [pkcs5]");

    const common::Bytes raw = *key.EncryptWithOpts(messageOf(16), kCbcRaw);
    EXPECT_EQ(errorOf(key.DecryptWithOpts(raw, noPadding)),
              "AES CBC decryption fails: invalid padding scheme [NO PADDING]");
    // an IV alone decrypts (to nothing) before the scheme is checked
    EXPECT_EQ(errorOf(key.DecryptWithOpts(common::Bytes(16, 0), noPadding)),
              "AES CBC decryption fails: invalid padding scheme [NO PADDING]");
}

TEST(AesCbc, InputLimitsAndPaddingFailures) {
    aes::AESKey key(keyOf(16));
    const std::string unpadFailure = std::string("AES CBC decryption fails: ") + kDecryptFailed;
    const common::Bytes zeroIv(16, 0);
    const common::Bytes raw = *key.EncryptWithOpts(common::Bytes(16, 0), kCbcRaw);  // IV, C1, C2
    // IV' ‖ C1 decrypts to 0^15 ‖ 0xff when IV' differs from the IV in its last byte by 0xff.
    common::Bytes badPad(raw.begin(), raw.begin() + 32);
    badPad[15] ^= 0xff;

    struct Case {
        const char* name;
        crypto::EncOpts opts;
        common::Bytes input;
        std::string error;
    };
    const Case cases[] = {
        {"raw shorter than the IV", kCbcRaw, common::Bytes(15, 0),
         "AES CBC decryption fails: input shorter than the 16-byte IV"},
        {"raw IV alone", kCbcRaw, zeroIv, unpadFailure},
        {"raw partial block", kCbcRaw, common::Bytes(33, 0),
         "AES CBC decryption fails: ciphertext is not a whole number of 16-byte blocks"},
        {"pad byte beyond the text", kCbcRaw, badPad, unpadFailure},
        {"DER empty ciphertext", kCbcDer, derOf(zeroIv, {}, {}), unpadFailure},
        {"DER 12-byte IV", kCbcDer, derOf(common::Bytes(12, 0), common::Bytes(16, 0), {}),
         "AES CBC decryption fails: IV must be 16 bytes, got 12"},
        {"DER partial block", kCbcDer, derOf(zeroIv, common::Bytes(17, 0), {}),
         "AES CBC decryption fails: ciphertext is not a whole number of 16-byte blocks"},
    };
    for (const Case& c : cases) EXPECT_EQ(errorOf(key.DecryptWithOpts(c.input, c.opts)), c.error) << c.name;
}

// ---------------------------------------------------------------------------
// Option errors and the order of the checks

TEST(AesOptions, UnknownBlockModesAreNamedInBrackets) {
    aes::AESKey key(keyOf(16));
    const common::Bytes valid = *key.Encrypt(messageOf(8));
    for (const char* mode : {"gcm", "", "ECB", "CBC "}) {
        EXPECT_EQ(errorOf(key.EncryptWithOpts(messageOf(8), optsOf(mode, "PKCS5", true))),
                  std::string("AES encryption fails: unknown cipher block mode [") + mode + "]");
        EXPECT_EQ(errorOf(key.DecryptWithOpts(valid, optsOf(mode, "PKCS5", true))),
                  std::string("AES decryption fails: unknown cipher block mode [") + mode + "]");
    }
}

TEST(AesOptions, BadKeyIsReportedBeforeModeAndAfterDer) {
    const common::Bytes valid = *aes::AESKey(keyOf(16)).Encrypt(messageOf(8));
    for (std::size_t n : {0u, 20u, 33u}) {
        aes::AESKey key(keyOf(n));
        const std::string size = "invalid AES key size " + std::to_string(n);
        for (const char* mode : {"GCM", "CBC", "gcm"}) {
            EXPECT_EQ(errorOf(key.EncryptWithOpts(messageOf(8), optsOf(mode, "PKCS5", true))),
                      "AES encryption fails: " + size) << mode;
            EXPECT_EQ(errorOf(key.DecryptWithOpts(valid, optsOf(mode, "PKCS5", true))),
                      "AES decryption fails: " + size) << mode;
            EXPECT_EQ(errorOf(key.DecryptWithOpts(common::Bytes(64, 0), optsOf(mode, "PKCS5", false))),
                      "AES decryption fails: " + size) << mode;
        }
        EXPECT_EQ(errorOf(key.Decrypt(FromHex("3100"))), "AES decryption fails: asn1: expected a SEQUENCE");
    }
}

TEST(AesOptions, RandomSourceFailuresCarryTheModePrefix) {
    FailingRandom broken;
    aes::AESKey key(keyOf(16), broken);
    EXPECT_EQ(errorOf(key.Encrypt(messageOf(8))),
              std::string("AES GCM encryption fails: ") + FailingRandom::kMessage);
    EXPECT_EQ(errorOf(key.EncryptWithOpts(messageOf(8), kCbcRaw)),
              std::string("AES CBC encryption fails: ") + FailingRandom::kMessage);
    // the padding scheme is checked before any IV is drawn
    EXPECT_EQ(errorOf(key.EncryptWithOpts(messageOf(8), optsOf("CBC", "NO PADDING", false))),
              "AES CBC encryption fails: invalid padding scheme [NO PADDING]");
}

TEST(AesKey, OneKeyServesSeveralThreads) {
    const aes::AESKey key(keyOf(32));
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 100; ++i) {
                const common::Bytes plain = messageOf(static_cast<std::size_t>(t * 100 + i));
                auto der = key.Encrypt(plain);
                if (!der || key.Decrypt(*der) != plain) ++failures[t];
                if (key.Decrypt(common::Bytes(40, 1)).has_value()) ++failures[t];
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

TEST(AesKey, InterfaceBasics) {
    common::Bytes bytes = FromHex("000102030405060708090a0b0c0d0e0f");
    const std::uint8_t* storage = bytes.data();
    aes::AESKey key(std::move(bytes));
    EXPECT_EQ(key.Type(), crypto::AES);
    EXPECT_EQ(key.String(), "000102030405060708090a0b0c0d0e0f");
    EXPECT_EQ(key.Bytes().data(), storage);
    EXPECT_EQ(aes::AESKey({}).String(), "");
    EXPECT_EQ(aes::defaultAESOpts.EncodingType, "NO PADDING");
    EXPECT_EQ(aes::defaultAESOpts.BlockMode, "GCM");
    EXPECT_TRUE(aes::defaultAESOpts.EnableMAC);
    EXPECT_EQ(aes::defaultAESOpts.Hash, 0u);
    EXPECT_TRUE(aes::defaultAESOpts.Label.empty());
    EXPECT_TRUE(aes::defaultAESOpts.EnableASN1);
    static_assert(aes::AES_GCM_IV_LENGTH == 12 && aes::AES_GCM_TAG_LENGTH == 16);
    static_assert(aes::AES_GCM_MAX_PLAINTEXT == ((std::uint64_t{1} << 32) - 2) * 16);
}

}  // namespace
