#include "crypto/hash.h"

#include <openssl/evp.h>

#include <memory>

#include "common/wipe.h"
#include "crypto/algorithms.h"

namespace hash {
namespace {

constexpr char kUnknownHashAlgorithm[] = "unknown hash algorithm";
constexpr char kDigestFailed[] = "digest computation failed";

struct MdCtxFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

}  // namespace

common::Result<common::Bytes> Hash::Get(common::ByteView data) const {
    const EVP_MD* md = nullptr;
    switch (hashType) {
        case crypto::HASH_TYPE_SHA256: md = crypto::DigestOf(crypto::Digest::Sha256); break;
        case crypto::HASH_TYPE_SHA3_256: md = crypto::DigestOf(crypto::Digest::Sha3_256); break;
        case crypto::HASH_TYPE_SM3: md = crypto::DigestOf(crypto::Digest::Sm3); break;
        default: return common::Fail(kUnknownHashAlgorithm);
    }
    // A fresh state for every call; the data goes in as one piece of any length
    // (the update takes a size_t, so no chunking is needed).
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    common::Bytes digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1 ||
        EVP_DigestUpdate(ctx.get(), data.data(), data.size()) != 1 ||
        EVP_DigestFinal_ex(ctx.get(), digest.data(), &length) != 1) {
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
