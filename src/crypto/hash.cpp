#include "crypto/hash.h"

#include <openssl/evp.h>

#include "common/wipe.h"
#include "crypto/algorithms.h"

namespace hash {
namespace {

constexpr char kUnknownHashAlgorithm[] = "unknown hash algorithm";
constexpr char kDigestFailed[] = "digest computation failed";

}  // namespace

std::size_t Compute(const crypto::DigestMethods* digest, common::ByteView data,
                    std::span<std::uint8_t> out) {
    if (digest == nullptr || out.size() < digest->size) return 0;
    void* ctx = digest->newCtx(digest->providerContext);
    if (ctx == nullptr) return 0;
    // A fresh state for every call; the data goes in as one piece of any length
    // (the update takes a size_t, so no chunking is needed).
    std::size_t length = 0;
    const bool done = digest->init(ctx, nullptr) == 1 &&
                      digest->update(ctx, data.data(), data.size()) == 1 &&
                      digest->final(ctx, out.data(), &length, out.size()) == 1 &&
                      length == digest->size;
    digest->freeCtx(ctx);  // the provider wipes the state as it frees it
    return done ? length : 0;
}

common::Result<common::Bytes> Hash::Get(common::ByteView data) const {
    const crypto::DigestMethods* md = nullptr;
    switch (hashType) {
        case crypto::HASH_TYPE_SHA256: md = crypto::DigestOf(crypto::Digest::Sha256); break;
        case crypto::HASH_TYPE_SHA3_256: md = crypto::DigestOf(crypto::Digest::Sha3_256); break;
        case crypto::HASH_TYPE_SM3: md = crypto::DigestOf(crypto::Digest::Sm3); break;
        default: return common::Fail(kUnknownHashAlgorithm);
    }
    common::Bytes digest(EVP_MAX_MD_SIZE);
    const std::size_t length = Compute(md, data, digest);
    if (length == 0) {
        common::Wipe(digest);  // a digest may be key material
        return common::Fail(kDigestFailed);
    }
    digest.resize(length);
    return digest;
}

common::Result<common::Bytes> Get(crypto::HashType hashType, common::ByteView data) {
    return Hash(hashType).Get(data);
}

}  // namespace hash
