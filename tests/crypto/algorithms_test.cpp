#include "crypto/algorithms.h"

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <utility>

#include "common/bytes.h"
#include "crypto/cipher_context.h"
#include "crypto/hash.h"

namespace {

using crypto::Cipher;
using crypto::Digest;

// Each algorithm of the library beside OpenSSL's object by name for it, which
// comes from OpenSSL's default context through the EVP interface: the reference
// that the library's route must match byte for byte.
struct CipherCase {
    Cipher cipher;
    const EVP_CIPHER* (*named)();
};
const CipherCase kCiphers[] = {
    {Cipher::Aes128Cbc, EVP_aes_128_cbc}, {Cipher::Aes192Cbc, EVP_aes_192_cbc},
    {Cipher::Aes256Cbc, EVP_aes_256_cbc}, {Cipher::Aes128Gcm, EVP_aes_128_gcm},
    {Cipher::Aes192Gcm, EVP_aes_192_gcm}, {Cipher::Aes256Gcm, EVP_aes_256_gcm},
    {Cipher::Sm4Cbc, EVP_sm4_cbc},
};
static_assert(std::size(kCiphers) == crypto::kCipherCount);

struct DigestCase {
    Digest digest;
    const EVP_MD* (*named)();
};
const DigestCase kDigests[] = {
    {Digest::Sha256, EVP_sha256},
    {Digest::Sha3_256, EVP_sha3_256},
    {Digest::Sm3, EVP_sm3},
};
static_assert(std::size(kDigests) == crypto::kDigestCount);

common::Bytes randomBytes(std::mt19937_64& rng, std::size_t n) {
    common::Bytes out(n);
    for (std::uint8_t& b : out) b = static_cast<std::uint8_t>(rng());
    return out;
}

// The encryption of in under key and iv with OpenSSL's EVP interface (the
// reference route), padding off, and for GCM the 16-byte tag appended.
common::Bytes evpEncrypt(const EVP_CIPHER* cipher, common::ByteView key, common::ByteView iv,
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

// The same through the library's route: the provider's functions on a context
// of the library's (crypto/cipher_context.h). A failed step gives no bytes.
common::Bytes libraryEncrypt(const crypto::CipherMethods* cipher, common::ByteView key,
                             common::ByteView iv, common::ByteView in) {
    if (cipher->blockSize > 1) {
        auto out = crypto::CbcCrypt(cipher, key, iv, in, true);
        return out ? std::move(*out) : common::Bytes{};
    }
    crypto::CipherCtx ctx(cipher);
    common::Bytes out(in.size() + 16);
    if (!ctx || !ctx.Init(true, key, iv) || !ctx.Update(in, out.data()) || !ctx.Final() ||
        !ctx.GetTag(std::span(out).subspan(in.size()))) {
        return {};
    }
    return out;
}

// The decryption of libraryEncrypt's output through the library's route; for
// GCM the tag is checked. A failed step gives no bytes.
common::Bytes libraryDecrypt(const crypto::CipherMethods* cipher, common::ByteView key,
                             common::ByteView iv, common::ByteView in) {
    if (cipher->blockSize > 1) {
        auto out = crypto::CbcCrypt(cipher, key, iv, in, false);
        return out ? std::move(*out) : common::Bytes{};
    }
    const common::ByteView body = in.first(in.size() - 16);
    crypto::CipherCtx ctx(cipher);
    common::Bytes out(body.size());
    if (!ctx || !ctx.Init(false, key, iv) || !ctx.Update(body, out.data()) ||
        !ctx.SetTag(in.last(16)) || !ctx.Final()) {
        return {};
    }
    return out;
}

common::Bytes evpDigest(const EVP_MD* md, common::ByteView in) {
    common::Bytes out(EVP_MAX_MD_SIZE);
    unsigned int n = 0;
    EXPECT_EQ(EVP_Digest(in.data(), in.size(), out.data(), &n, md, nullptr), 1);
    out.resize(n);
    return out;
}

common::Bytes libraryDigest(const crypto::DigestMethods* digest, common::ByteView in) {
    common::Bytes out(EVP_MAX_MD_SIZE);
    out.resize(hash::Compute(digest, in, out));
    return out;
}

// After the start-up every algorithm is taken from the default provider of the
// library's own context, not from the default context's (the provider object
// of the default context's fetch is another), with the lengths of its object by
// name.
TEST(Algorithms, EveryAlgorithmComesFromTheLibrarysOwnContext) {
    for (const CipherCase& c : kCiphers) {
        const crypto::CipherMethods* cipher = crypto::CipherOf(c.cipher);
        const EVP_CIPHER* named = c.named();
        SCOPED_TRACE(EVP_CIPHER_get0_name(named));
        ASSERT_NE(cipher, nullptr);
        EXPECT_EQ(cipher->keyLength, static_cast<std::size_t>(EVP_CIPHER_get_key_length(named)));
        EXPECT_EQ(cipher->ivLength, static_cast<std::size_t>(EVP_CIPHER_get_iv_length(named)));
        EXPECT_EQ(cipher->blockSize, static_cast<std::size_t>(EVP_CIPHER_get_block_size(named)));
        EXPECT_STREQ(OSSL_PROVIDER_get0_name(cipher->provider), "default");
        EVP_CIPHER* shared = EVP_CIPHER_fetch(nullptr, EVP_CIPHER_get0_name(named), nullptr);
        ASSERT_NE(shared, nullptr);
        EXPECT_NE(EVP_CIPHER_get0_provider(shared), cipher->provider);
        EVP_CIPHER_free(shared);
    }
    for (const DigestCase& d : kDigests) {
        const crypto::DigestMethods* digest = crypto::DigestOf(d.digest);
        const EVP_MD* named = d.named();
        SCOPED_TRACE(EVP_MD_get0_name(named));
        ASSERT_NE(digest, nullptr);
        EXPECT_EQ(digest->size, static_cast<std::size_t>(EVP_MD_get_size(named)));
        EXPECT_STREQ(OSSL_PROVIDER_get0_name(digest->provider), "default");
        EVP_MD* shared = EVP_MD_fetch(nullptr, EVP_MD_get0_name(named), nullptr);
        ASSERT_NE(shared, nullptr);
        EXPECT_NE(EVP_MD_get0_provider(shared), digest->provider);
        EVP_MD_free(shared);
    }
}

// The library's route gives exactly the bytes of OpenSSL's objects by name, on
// empty, one-block and longer inputs, under keys and IVs drawn from a fixed
// seed, and decrypts what it encrypted.
TEST(Algorithms, LibraryRouteMatchesTheObjectsByName) {
    std::mt19937_64 rng(20);
    for (std::size_t blocks : {0, 1, 37}) {
        for (const CipherCase& c : kCiphers) {
            const EVP_CIPHER* named = c.named();
            const crypto::CipherMethods* cipher = crypto::CipherOf(c.cipher);
            SCOPED_TRACE(std::string(EVP_CIPHER_get0_name(named)) + " blocks " +
                         std::to_string(blocks));
            ASSERT_NE(cipher, nullptr);
            const common::Bytes key = randomBytes(rng, EVP_CIPHER_get_key_length(named));
            const common::Bytes iv = randomBytes(rng, EVP_CIPHER_get_iv_length(named));
            const common::Bytes in = randomBytes(rng, 16 * blocks);
            const common::Bytes reference = evpEncrypt(named, key, iv, in);
            EXPECT_EQ(libraryEncrypt(cipher, key, iv, in), reference);
            EXPECT_EQ(libraryDecrypt(cipher, key, iv, reference), in);
        }
        for (const DigestCase& d : kDigests) {
            SCOPED_TRACE(std::string(EVP_MD_get0_name(d.named())) + " blocks " +
                         std::to_string(blocks));
            const common::Bytes in = randomBytes(rng, 16 * blocks + 5);
            EXPECT_EQ(libraryDigest(crypto::DigestOf(d.digest), in), evpDigest(d.named(), in));
        }
    }
}

// A GCM decryption whose tag does not match fails at the final step and queues
// no OpenSSL error (so the AES key leaves the thread's queue alone there), and a
// digest into too short a buffer fails before the provider is called.
TEST(Algorithms, LibraryRouteRefusesWhatItCannotDo) {
    const crypto::CipherMethods* gcm = crypto::CipherOf(Cipher::Aes128Gcm);
    ASSERT_NE(gcm, nullptr);
    const common::Bytes key(16, 7), nonce(12, 9), in(40, 1);
    common::Bytes sealed = libraryEncrypt(gcm, key, nonce, in);
    ASSERT_EQ(sealed.size(), in.size() + 16);
    sealed.back() ^= 1;
    ERR_clear_error();
    EXPECT_TRUE(libraryDecrypt(gcm, key, nonce, sealed).empty());
    EXPECT_EQ(ERR_peek_error(), 0u);

    std::uint8_t shortOut[31];
    EXPECT_EQ(hash::Compute(crypto::DigestOf(Digest::Sha256), in, shortOut), 0u);
    EXPECT_EQ(hash::Compute(nullptr, in, shortOut), 0u);
}

// The step run again, as the child of a fork that landed inside its first run
// runs it: the algorithms then come from the provider of a new context and give
// the same bytes. In a child process that leaves without exit handlers, since
// the first run's context is dropped there, not freed.
TEST(AlgorithmsDeathTest, StepRunsAgainFromItsStart) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const OSSL_PROVIDER* first = crypto::DigestOf(Digest::Sha256)->provider;
    EXPECT_EXIT(
        {
            crypto::FetchAlgorithms();
            bool again = true;
            for (const CipherCase& c : kCiphers) {
                const crypto::CipherMethods* cipher = crypto::CipherOf(c.cipher);
                const EVP_CIPHER* named = c.named();
                const common::Bytes key(EVP_CIPHER_get_key_length(named), 3);
                const common::Bytes iv(EVP_CIPHER_get_iv_length(named), 5);
                const common::Bytes in(48, 7);
                again = again && cipher != nullptr && cipher->provider != first &&
                        libraryEncrypt(cipher, key, iv, in) == evpEncrypt(named, key, iv, in);
            }
            for (const DigestCase& d : kDigests) {
                const crypto::DigestMethods* digest = crypto::DigestOf(d.digest);
                const common::Bytes in(48, 7);
                again = again && digest != nullptr && digest->provider != first &&
                        libraryDigest(digest, in) == evpDigest(d.named(), in);
            }
            std::_Exit(again ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
