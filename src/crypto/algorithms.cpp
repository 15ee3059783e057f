#include "crypto/algorithms.h"

#include <openssl/err.h>
#include <openssl/objects.h>

namespace crypto {
namespace {

// Written by FetchAlgorithms during the start-up, only read afterwards.
constinit const EVP_CIPHER* fetchedCiphers[kCipherCount] = {};
constinit const EVP_MD* fetchedDigests[kDigestCount] = {};

std::size_t indexOf(Cipher cipher) { return static_cast<std::size_t>(cipher); }
std::size_t indexOf(Digest digest) { return static_cast<std::size_t>(digest); }

}  // namespace

const EVP_CIPHER* NamedCipher(Cipher cipher) {
    switch (cipher) {
        case Cipher::Aes128Cbc: return EVP_aes_128_cbc();
        case Cipher::Aes192Cbc: return EVP_aes_192_cbc();
        case Cipher::Aes256Cbc: return EVP_aes_256_cbc();
        case Cipher::Aes128Gcm: return EVP_aes_128_gcm();
        case Cipher::Aes192Gcm: return EVP_aes_192_gcm();
        case Cipher::Aes256Gcm: return EVP_aes_256_gcm();
        case Cipher::Sm4Cbc: return EVP_sm4_cbc();
    }
    return nullptr;
}

const EVP_MD* NamedDigest(Digest digest) {
    switch (digest) {
        case Digest::Sha256: return EVP_sha256();
        case Digest::Sha3_256: return EVP_sha3_256();
        case Digest::Sm3: return EVP_sm3();
    }
    return nullptr;
}

void FetchAlgorithms() {
    // A failed fetch queues errors on this thread, which may be a host's: they
    // are dropped, and only they.
    ERR_set_mark();
    for (std::size_t i = 0; i < kCipherCount; ++i) {
        const int nid = EVP_CIPHER_get_nid(NamedCipher(static_cast<Cipher>(i)));
        fetchedCiphers[i] = EVP_CIPHER_fetch(nullptr, OBJ_nid2sn(nid), nullptr);
    }
    for (std::size_t i = 0; i < kDigestCount; ++i) {
        const int nid = EVP_MD_get_type(NamedDigest(static_cast<Digest>(i)));
        fetchedDigests[i] = EVP_MD_fetch(nullptr, OBJ_nid2sn(nid), nullptr);
    }
    ERR_pop_to_mark();
}

const EVP_CIPHER* CipherOf(Cipher cipher) {
    const EVP_CIPHER* fetched = fetchedCiphers[indexOf(cipher)];
    return fetched != nullptr ? fetched : NamedCipher(cipher);
}

const EVP_MD* DigestOf(Digest digest) {
    const EVP_MD* fetched = fetchedDigests[indexOf(digest)];
    return fetched != nullptr ? fetched : NamedDigest(digest);
}

}  // namespace crypto
