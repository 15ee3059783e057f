#include "crypto/der.h"

#include <gtest/gtest.h>
#include <openssl/asn1.h>

#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using crypto_test::ToHex;

std::string headerHex(std::uint8_t identifier, std::uint64_t length) {
    std::uint8_t out[16];
    const std::uint8_t* end = aes::der::PutHeader(out, identifier, length);
    EXPECT_EQ(static_cast<std::size_t>(end - out), aes::der::HeaderLength(length)) << length;
    return ToHex(common::ByteView(out, static_cast<std::size_t>(end - out)));
}

// The header as OpenSSL writes it, for the lengths its int takes.
std::string opensslHeaderHex(bool constructed, int length) {
    const int tag = constructed ? V_ASN1_SEQUENCE : V_ASN1_OCTET_STRING;
    std::uint8_t out[16];
    unsigned char* p = out;
    ASN1_put_object(&p, constructed, length, tag, V_ASN1_UNIVERSAL);
    const int whole = ASN1_object_size(constructed, length, tag);  // -1 where int overflows
    if (whole >= 0) {
        EXPECT_EQ(p - out, whole - length);
    }
    return ToHex(common::ByteView(out, static_cast<std::size_t>(p - out)));
}

// The envelope as OpenSSL writes it: the reference for lengths below 2^31.
common::Bytes opensslMarshal(const aes::aesCiphertext& fields) {
    const common::ByteView parts[] = {fields.IV, fields.Ciphertext, fields.Tag};
    int content = 0;
    for (common::ByteView part : parts) {
        content += ASN1_object_size(0, static_cast<int>(part.size()), V_ASN1_OCTET_STRING);
    }
    common::Bytes der(static_cast<std::size_t>(ASN1_object_size(1, content, V_ASN1_SEQUENCE)));
    unsigned char* p = der.data();
    ASN1_put_object(&p, 1, content, V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL);
    for (common::ByteView part : parts) {
        ASN1_put_object(&p, 0, static_cast<int>(part.size()), V_ASN1_OCTET_STRING, V_ASN1_UNIVERSAL);
        p = std::copy(part.begin(), part.end(), p);
    }
    return der;
}

TEST(DerHeader, KnownAnswersAtEveryLengthByteBoundary) {
    const struct {
        std::uint64_t length;
        const char* hex;
    } cases[] = {
        {0, "3000"},
        {127, "307f"},
        {128, "308180"},
        {255, "3081ff"},
        {256, "30820100"},
        {65535, "3082ffff"},
        {65536, "3083010000"},
        {(1ull << 24) - 1, "3083ffffff"},
        {1ull << 24, "308401000000"},
        {(1ull << 31) - 1, "30847fffffff"},
        {1ull << 31, "308480000000"},
        {(1ull << 32) - 1, "3084ffffffff"},
        {1ull << 32, "30850100000000"},
        // the SEQUENCE around the largest GCM plaintext: nonce, ciphertext and tag with headers
        {(2 + 12) + (7 + 68'719'476'704) + (2 + 16), "30851000000007"},
        {~0ull, "3088ffffffffffffffff"},
    };
    for (const auto& c : cases) EXPECT_EQ(headerHex(aes::der::kSequence, c.length), c.hex) << c.length;
    EXPECT_EQ(headerHex(aes::der::kOctetString, 1ull << 32), "04850100000000");
}

TEST(DerHeader, MatchesOpenSslWhereItsIntLengthsReach) {
    std::vector<int> lengths = {0, 1, 127, 128, 255, 256, 65535, 65536, (1 << 24) - 1, 1 << 24, INT_MAX};
    std::mt19937_64 rng(15);
    for (int i = 0; i < 2000; ++i) {
        lengths.push_back(static_cast<int>(rng() >> (33 + i % 31)));
    }
    for (int length : lengths) {
        EXPECT_EQ(headerHex(aes::der::kSequence, static_cast<std::uint64_t>(length)),
                  opensslHeaderHex(true, length)) << length;
        EXPECT_EQ(headerHex(aes::der::kOctetString, static_cast<std::uint64_t>(length)),
                  opensslHeaderHex(false, length)) << length;
    }
}

TEST(DerEnvelope, RoundTripsAndMatchesOpenSslAcrossLengthBoundaries) {
    for (std::size_t n : {0u, 1u, 93u, 94u, 127u, 128u, 255u, 256u, 65535u, 65536u, 1u << 20}) {
        aes::aesCiphertext fields{common::Bytes(12, 0xA1), common::Bytes(n), common::Bytes(16, 0xC3)};
        for (std::size_t i = 0; i < n; ++i) fields.Ciphertext[i] = static_cast<std::uint8_t>(i * 7);
        auto der = aes::marshalCiphertext(fields);
        ASSERT_TRUE(der.has_value()) << n;
        EXPECT_EQ(*der, opensslMarshal(fields)) << n;
        EXPECT_EQ(aes::MarshalledLength(12, n, 16), der->size()) << n;
        auto back = aes::unmarshalCiphertext(*der);
        ASSERT_TRUE(back.has_value()) << n << ": " << back.error().Message();
        EXPECT_EQ(back->IV, fields.IV);
        EXPECT_EQ(back->Ciphertext, fields.Ciphertext) << n;
        EXPECT_EQ(back->Tag, fields.Tag);
    }
}

}  // namespace
