// The OpenSSL ciphers and digests of the library, taken once from a provider
// in a library context of its own.
//
// At start-up the library makes an OpenSSL library context for itself, loads
// OpenSSL's built-in default provider into it (no configuration file is read)
// and takes from that provider, by fixed algorithm names, the functions of every
// cipher and digest it uses. Every call then runs those functions directly on
// contexts of its own (crypto/cipher_context.h, crypto/hash.h).
//
// Why the provider's functions and not OpenSSL's EVP contexts: setting up an
// EVP cipher or digest context asks OpenSSL's engine table whether an engine
// has taken the algorithm over, and that question first loads the process's
// OpenSSL configuration into OpenSSL's default context, once per process (the
// system's openssl.cnf, or the file that OPENSSL_CONF names). A call would so
// open that file (on the lowest free descriptor, 0 when the host has closed its
// standard streams), load the host's configuration at a moment of the library's
// choosing (after which the host's own OPENSSL_init_crypto with a file of its
// own is ignored), and let an engine of that configuration compute the
// library's ciphers. Through the provider's functions nothing of the library
// touches OpenSSL's default context, its configuration, its engines or its
// algorithm store: neither the host's configuration file, nor the default
// properties it sets ("fips=yes" on systems in FIPS mode), nor the providers or
// engines it loads change what the library computes or whether it works. The
// direct route is also the cheaper one (no EVP context, no engine lookup): the
// SHA-256 of a 5-byte identity level takes 64 ns against 124 ns through
// EVP_Digest, AES-128-GCM over 1 KiB 465 ns against 700 ns through EVP.
//
// The context, its provider and the functions are kept for the life of the
// process (never freed); the functions may be called by any number of threads
// at once, each on its own operation context.
#pragma once

#include <openssl/core_dispatch.h>
#include <openssl/types.h>

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

// A cipher of the library's provider: the provider's functions that the
// library calls, with the provider's context (the argument of newCtx) and the
// cipher's lengths in bytes as the provider gives them.
struct CipherMethods {
    const OSSL_PROVIDER* provider;
    void* providerContext;
    OSSL_FUNC_cipher_newctx_fn* newCtx;
    OSSL_FUNC_cipher_freectx_fn* freeCtx;
    OSSL_FUNC_cipher_encrypt_init_fn* encryptInit;
    OSSL_FUNC_cipher_decrypt_init_fn* decryptInit;
    OSSL_FUNC_cipher_update_fn* update;
    OSSL_FUNC_cipher_final_fn* final;
    OSSL_FUNC_cipher_get_ctx_params_fn* getCtxParams;
    OSSL_FUNC_cipher_set_ctx_params_fn* setCtxParams;
    std::size_t keyLength;
    std::size_t ivLength;
    std::size_t blockSize;
};

// A digest of the library's provider, as CipherMethods.
struct DigestMethods {
    const OSSL_PROVIDER* provider;
    void* providerContext;
    OSSL_FUNC_digest_newctx_fn* newCtx;
    OSSL_FUNC_digest_freectx_fn* freeCtx;
    OSSL_FUNC_digest_init_fn* init;
    OSSL_FUNC_digest_update_fn* update;
    OSSL_FUNC_digest_final_fn* final;
    std::size_t size;
};

// Makes the library's own context, loads the default provider into it and
// takes every cipher and digest from it by its fixed name; a step of init().
// Every run starts afresh (a new context, every algorithm taken again), so a
// run that a fork interrupted can be run again in the child; what an earlier
// run made is dropped, not freed. An algorithm that the provider lacks, or
// lacks a function of, is left absent. Touches the calling thread's OpenSSL
// error queue only when the context or the provider cannot be made, and then
// empties it.
void FetchAlgorithms();

// The algorithm's functions, or null before FetchAlgorithms or where the
// algorithm is absent: every caller turns null into its failure result.
const CipherMethods* CipherOf(Cipher cipher);
const DigestMethods* DigestOf(Digest digest);

}  // namespace crypto
