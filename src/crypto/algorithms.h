// The OpenSSL ciphers and digests of the library, fetched once.
//
// A context set up from an object named by function (EVP_aes_128_gcm() and the
// like) makes OpenSSL look its implementation up in the algorithm store, under
// the store's locks, on every set-up. The start-up fetches each algorithm once
// (crypto::init); every call then sets its contexts up from the fetched objects
// and never enters the store. A fetched object is kept for the life of the
// process and may be used by any number of threads at once.
#pragma once

#include <openssl/evp.h>

#include <cstddef>

namespace crypto {

enum class Cipher : std::size_t {
    Aes128Cbc,
    Aes192Cbc,
    Aes256Cbc,
    Aes128Gcm,
    Aes192Gcm,
    Aes256Gcm,
    Sm4Cbc,
};
inline constexpr std::size_t kCipherCount = 7;

enum class Digest : std::size_t {
    Sha256,
    Sha3_256,
    Sm3,
};
inline constexpr std::size_t kDigestCount = 3;

// Fetches every cipher and digest from the default providers; a step of init(),
// run once. An algorithm that cannot be fetched leaves no error queued on the
// calling thread, and keeps the object by name.
void FetchAlgorithms();

// The fetched object; before FetchAlgorithms, or where the fetch failed, the
// object by name (which then fails in the call as OpenSSL reports).
const EVP_CIPHER* CipherOf(Cipher cipher);
const EVP_MD* DigestOf(Digest digest);

// The object by name: the reference that the fetched object must match.
const EVP_CIPHER* NamedCipher(Cipher cipher);
const EVP_MD* NamedDigest(Digest digest);

}  // namespace crypto
