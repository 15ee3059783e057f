#include "crypto/algorithms.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>

#include "common/bytes.h"

namespace {

using crypto::Cipher;
using crypto::Digest;

constexpr Cipher kCiphers[] = {Cipher::Aes128Cbc, Cipher::Aes192Cbc, Cipher::Aes256Cbc,
                               Cipher::Aes128Gcm, Cipher::Aes192Gcm, Cipher::Aes256Gcm,
                               Cipher::Sm4Cbc};
constexpr Digest kDigests[] = {Digest::Sha256, Digest::Sha3_256, Digest::Sm3};

common::Bytes randomBytes(std::mt19937_64& rng, std::size_t n) {
    common::Bytes out(n);
    for (std::uint8_t& b : out) b = static_cast<std::uint8_t>(rng());
    return out;
}

// The encryption of in under key and iv with cipher, OpenSSL's padding off, and
// for GCM the 16-byte tag appended.
common::Bytes encrypt(const EVP_CIPHER* cipher, common::ByteView key, common::ByteView iv,
                      common::ByteView in) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                         EVP_CIPHER_CTX_free);
    const bool gcm = EVP_CIPHER_get_mode(cipher) == EVP_CIPH_GCM_MODE;
    common::Bytes out(in.size() + 16);
    int n = 0, tail = 0;
    EXPECT_EQ(EVP_EncryptInit_ex(ctx.get(), cipher, nullptr, key.data(), iv.data()), 1);
    EXPECT_EQ(EVP_CIPHER_CTX_set_padding(ctx.get(), 0), 1);
    EXPECT_EQ(EVP_EncryptUpdate(ctx.get(), out.data(), &n, in.data(), static_cast<int>(in.size())), 1);
    EXPECT_EQ(EVP_EncryptFinal_ex(ctx.get(), out.data() + n, &tail), 1);
    out.resize(static_cast<std::size_t>(n + tail));
    if (gcm) {
        std::uint8_t tag[16];
        EXPECT_EQ(EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, 16, tag), 1);
        out.insert(out.end(), tag, tag + 16);
    }
    return out;
}

common::Bytes digest(const EVP_MD* md, common::ByteView in) {
    common::Bytes out(EVP_MAX_MD_SIZE);
    unsigned int n = 0;
    EXPECT_EQ(EVP_Digest(in.data(), in.size(), out.data(), &n, md, nullptr), 1);
    out.resize(n);
    return out;
}

// After the start-up every algorithm is a fetched object, not the object by
// name, so that no call looks an algorithm up in OpenSSL's store.
TEST(Algorithms, EveryAlgorithmIsFetched) {
    for (Cipher c : kCiphers) {
        SCOPED_TRACE(static_cast<int>(c));
        EXPECT_NE(crypto::CipherOf(c), crypto::NamedCipher(c));
        EXPECT_NE(EVP_CIPHER_get0_provider(crypto::CipherOf(c)), nullptr);
        EXPECT_EQ(EVP_CIPHER_get_nid(crypto::CipherOf(c)), EVP_CIPHER_get_nid(crypto::NamedCipher(c)));
    }
    for (Digest d : kDigests) {
        SCOPED_TRACE(static_cast<int>(d));
        EXPECT_NE(crypto::DigestOf(d), crypto::NamedDigest(d));
        EXPECT_NE(EVP_MD_get0_provider(crypto::DigestOf(d)), nullptr);
        EXPECT_EQ(EVP_MD_get_type(crypto::DigestOf(d)), EVP_MD_get_type(crypto::NamedDigest(d)));
    }
}

// The fetched objects give exactly the bytes of the objects by name, on empty,
// one-block and longer inputs under random keys and IVs.
TEST(Algorithms, FetchedObjectsMatchTheObjectsByName) {
    std::mt19937_64 rng(20);
    for (std::size_t blocks : {0, 1, 37}) {
        for (Cipher c : kCiphers) {
            SCOPED_TRACE(static_cast<int>(c));
            const EVP_CIPHER* named = crypto::NamedCipher(c);
            const common::Bytes key = randomBytes(rng, EVP_CIPHER_get_key_length(named));
            const common::Bytes iv = randomBytes(rng, EVP_CIPHER_get_iv_length(named));
            const common::Bytes in = randomBytes(rng, 16 * blocks);
            EXPECT_EQ(encrypt(crypto::CipherOf(c), key, iv, in), encrypt(named, key, iv, in));
        }
        for (Digest d : kDigests) {
            SCOPED_TRACE(static_cast<int>(d));
            const common::Bytes in = randomBytes(rng, 16 * blocks + 5);
            EXPECT_EQ(digest(crypto::DigestOf(d), in), digest(crypto::NamedDigest(d), in));
        }
    }
}

}  // namespace
