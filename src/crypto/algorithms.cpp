#include "crypto/algorithms.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/params.h>
#include <openssl/provider.h>

#include <string_view>

namespace crypto {
namespace {

// The provider's names of the algorithms, by their position in Cipher and
// Digest; each is one of the names that the provider lists for it.
constexpr const char* kCipherNames[kCipherCount] = {
    "AES-128-CBC", "AES-192-CBC", "AES-256-CBC", "AES-128-GCM",
    "AES-192-GCM", "AES-256-GCM", "SM4-CBC",
};
constexpr const char* kDigestNames[kDigestCount] = {"SHA2-256", "SHA3-256", "SM3"};

// OpenSSL's built-in default provider, which needs no module file.
constexpr char kProvider[] = "default";

// Written by FetchAlgorithms during the start-up, only read afterwards. The
// context is kept here, though no call reads it, so that it is held for the
// life of the process whatever the provider gave.
constinit OSSL_LIB_CTX* libraryContext = nullptr;
constinit CipherMethods cipherSlots[kCipherCount] = {};
constinit DigestMethods digestSlots[kDigestCount] = {};
constinit const CipherMethods* ciphers[kCipherCount] = {};
constinit const DigestMethods* digests[kDigestCount] = {};

std::size_t indexOf(Cipher cipher) { return static_cast<std::size_t>(cipher); }
std::size_t indexOf(Digest digest) { return static_cast<std::size_t>(digest); }

// Whether name is one of the ':'-separated names of an algorithm.
bool namedBy(const char* names, std::string_view name) {
    for (std::string_view rest(names);;) {
        const std::size_t end = rest.find(':');
        if (rest.substr(0, end) == name) return true;
        if (end == std::string_view::npos) return false;
        rest.remove_prefix(end + 1);
    }
}

// The functions of the first implementation named name, or null.
const OSSL_DISPATCH* implementationOf(const OSSL_ALGORITHM* algorithms, const char* name) {
    if (algorithms == nullptr) return nullptr;
    for (const OSSL_ALGORITHM* a = algorithms; a->algorithm_names != nullptr; ++a) {
        if (namedBy(a->algorithm_names, name)) return a->implementation;
    }
    return nullptr;
}

// The function numbered id of an implementation, as type F, or null.
template <typename F>
F* functionOf(const OSSL_DISPATCH* functions, int id) {
    for (const OSSL_DISPATCH* f = functions; f->function_id != 0; ++f) {
        if (f->function_id == id) return reinterpret_cast<F*>(f->function);
    }
    return nullptr;
}

// The size_t parameter key of an algorithm, as its get_params function gives
// it; false where it gives none.
template <typename GetParams>
bool sizeOf(GetParams* getParams, const char* key, std::size_t& value) {
    OSSL_PARAM params[] = {OSSL_PARAM_size_t(key, &value), OSSL_PARAM_END};
    return getParams != nullptr && getParams(params) == 1 && OSSL_PARAM_modified(params);
}

// The cipher's functions and lengths into slot; false when one is missing.
bool takeCipher(CipherMethods& slot, const OSSL_PROVIDER* provider, const OSSL_DISPATCH* f) {
    if (f == nullptr) return false;
    slot = CipherMethods{
        .provider = provider,
        .providerContext = OSSL_PROVIDER_get0_provider_ctx(provider),
        .newCtx = functionOf<OSSL_FUNC_cipher_newctx_fn>(f, OSSL_FUNC_CIPHER_NEWCTX),
        .freeCtx = functionOf<OSSL_FUNC_cipher_freectx_fn>(f, OSSL_FUNC_CIPHER_FREECTX),
        .encryptInit =
            functionOf<OSSL_FUNC_cipher_encrypt_init_fn>(f, OSSL_FUNC_CIPHER_ENCRYPT_INIT),
        .decryptInit =
            functionOf<OSSL_FUNC_cipher_decrypt_init_fn>(f, OSSL_FUNC_CIPHER_DECRYPT_INIT),
        .update = functionOf<OSSL_FUNC_cipher_update_fn>(f, OSSL_FUNC_CIPHER_UPDATE),
        .final = functionOf<OSSL_FUNC_cipher_final_fn>(f, OSSL_FUNC_CIPHER_FINAL),
        .getCtxParams =
            functionOf<OSSL_FUNC_cipher_get_ctx_params_fn>(f, OSSL_FUNC_CIPHER_GET_CTX_PARAMS),
        .setCtxParams =
            functionOf<OSSL_FUNC_cipher_set_ctx_params_fn>(f, OSSL_FUNC_CIPHER_SET_CTX_PARAMS),
        .keyLength = 0,
        .ivLength = 0,
        .blockSize = 0,
    };
    auto* getParams = functionOf<OSSL_FUNC_cipher_get_params_fn>(f, OSSL_FUNC_CIPHER_GET_PARAMS);
    return slot.newCtx != nullptr && slot.freeCtx != nullptr && slot.encryptInit != nullptr &&
           slot.decryptInit != nullptr && slot.update != nullptr && slot.final != nullptr &&
           slot.getCtxParams != nullptr && slot.setCtxParams != nullptr &&
           sizeOf(getParams, OSSL_CIPHER_PARAM_KEYLEN, slot.keyLength) &&
           sizeOf(getParams, OSSL_CIPHER_PARAM_IVLEN, slot.ivLength) &&
           sizeOf(getParams, OSSL_CIPHER_PARAM_BLOCK_SIZE, slot.blockSize);
}

// The digest's functions and size into slot; false when one is missing.
bool takeDigest(DigestMethods& slot, const OSSL_PROVIDER* provider, const OSSL_DISPATCH* f) {
    if (f == nullptr) return false;
    slot = DigestMethods{
        .provider = provider,
        .providerContext = OSSL_PROVIDER_get0_provider_ctx(provider),
        .newCtx = functionOf<OSSL_FUNC_digest_newctx_fn>(f, OSSL_FUNC_DIGEST_NEWCTX),
        .freeCtx = functionOf<OSSL_FUNC_digest_freectx_fn>(f, OSSL_FUNC_DIGEST_FREECTX),
        .init = functionOf<OSSL_FUNC_digest_init_fn>(f, OSSL_FUNC_DIGEST_INIT),
        .update = functionOf<OSSL_FUNC_digest_update_fn>(f, OSSL_FUNC_DIGEST_UPDATE),
        .final = functionOf<OSSL_FUNC_digest_final_fn>(f, OSSL_FUNC_DIGEST_FINAL),
        .size = 0,
    };
    auto* getParams = functionOf<OSSL_FUNC_digest_get_params_fn>(f, OSSL_FUNC_DIGEST_GET_PARAMS);
    return slot.newCtx != nullptr && slot.freeCtx != nullptr && slot.init != nullptr &&
           slot.update != nullptr && slot.final != nullptr &&
           sizeOf(getParams, OSSL_DIGEST_PARAM_SIZE, slot.size);
}

}  // namespace

void FetchAlgorithms() {
    // A context of the library's own reads no configuration file: only
    // OpenSSL's default context loads one, and nothing here touches that. It is
    // made anew by every run, so that a child of a fork that interrupted the run
    // never meets a lock of a context half made by its parent.
    //
    // No error mark is set: ERR_set_mark makes the thread's error state, and
    // with the process's first one OpenSSL loads all its error texts, for about
    // 0.2 ms inside a once of its own, on which a child of a raw fork that
    // landed there would wait for ever when it runs this step again. Only a
    // failure to make the context or to load the provider queues errors (an
    // algorithm that the provider lacks queues none); the step then empties the
    // calling thread's error queue, as a call that OpenSSL fails does.
    libraryContext = OSSL_LIB_CTX_new();
    OSSL_PROVIDER* provider =
        libraryContext != nullptr ? OSSL_PROVIDER_load(libraryContext, kProvider) : nullptr;
    if (provider == nullptr) ERR_clear_error();
    int noStore = 0;
    const OSSL_ALGORITHM* cipherTable =
        provider != nullptr ? OSSL_PROVIDER_query_operation(provider, OSSL_OP_CIPHER, &noStore)
                            : nullptr;
    const OSSL_ALGORITHM* digestTable =
        provider != nullptr ? OSSL_PROVIDER_query_operation(provider, OSSL_OP_DIGEST, &noStore)
                            : nullptr;
    for (std::size_t i = 0; i < kCipherCount; ++i) {
        const bool taken =
            takeCipher(cipherSlots[i], provider, implementationOf(cipherTable, kCipherNames[i]));
        ciphers[i] = taken ? &cipherSlots[i] : nullptr;
    }
    for (std::size_t i = 0; i < kDigestCount; ++i) {
        const bool taken =
            takeDigest(digestSlots[i], provider, implementationOf(digestTable, kDigestNames[i]));
        digests[i] = taken ? &digestSlots[i] : nullptr;
    }
    // The functions stay valid while the provider is loaded, which is for ever:
    // the tables themselves are handed back.
    if (cipherTable != nullptr) {
        OSSL_PROVIDER_unquery_operation(provider, OSSL_OP_CIPHER, cipherTable);
    }
    if (digestTable != nullptr) {
        OSSL_PROVIDER_unquery_operation(provider, OSSL_OP_DIGEST, digestTable);
    }
}

const CipherMethods* CipherOf(Cipher cipher) { return ciphers[indexOf(cipher)]; }

const DigestMethods* DigestOf(Digest digest) { return digests[indexOf(digest)]; }

}  // namespace crypto
