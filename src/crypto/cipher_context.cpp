#include "crypto/cipher_context.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <utility>

namespace crypto {
namespace {

constexpr char kCipherFailed[] = "cipher operation failed";

}  // namespace

CipherCtx::CipherCtx(const CipherMethods* cipher)
    : cipher_(cipher),
      ctx_(cipher != nullptr ? cipher->newCtx(cipher->providerContext) : nullptr) {}

CipherCtx::~CipherCtx() {
    if (ctx_ != nullptr) cipher_->freeCtx(ctx_);
}

CipherCtx::CipherCtx(CipherCtx&& other) noexcept
    : cipher_(other.cipher_), ctx_(std::exchange(other.ctx_, nullptr)) {}

bool CipherCtx::Init(bool encrypt, common::ByteView key, common::ByteView iv) {
    // A stream mode (GCM) has block size 1 and no padding to switch off.
    unsigned int padding = 0;
    OSSL_PARAM noPadding[] = {OSSL_PARAM_uint(OSSL_CIPHER_PARAM_PADDING, &padding),
                              OSSL_PARAM_END};
    const OSSL_PARAM* params = cipher_->blockSize > 1 ? noPadding : nullptr;
    auto* init = encrypt ? cipher_->encryptInit : cipher_->decryptInit;
    return init(ctx_, key.data(), key.size(), iv.data(), iv.size(), params) == 1;
}

bool CipherCtx::Update(common::ByteView in, std::uint8_t* out) {
    // The provider takes size_t lengths: the input goes in as one piece. A
    // piece of no bytes is not fed at all, as an empty update changes nothing.
    if (in.empty()) return true;
    std::size_t written = 0;
    return cipher_->update(ctx_, out, &written, in.size(), in.data(), in.size()) == 1 &&
           written == in.size();
}

bool CipherCtx::Final() {
    // Writes nothing in these modes; the scratch block gives the provider room
    // all the same.
    std::uint8_t scratch[EVP_MAX_BLOCK_LENGTH];
    std::size_t written = 0;
    return cipher_->final(ctx_, scratch, &written, sizeof scratch) == 1 && written == 0;
}

bool CipherCtx::GetTag(std::span<std::uint8_t> tag) {
    OSSL_PARAM params[] = {
        OSSL_PARAM_octet_string(OSSL_CIPHER_PARAM_AEAD_TAG, tag.data(), tag.size()),
        OSSL_PARAM_END};
    return cipher_->getCtxParams(ctx_, params) == 1;
}

bool CipherCtx::SetTag(common::ByteView tag) {
    OSSL_PARAM params[] = {
        OSSL_PARAM_octet_string(OSSL_CIPHER_PARAM_AEAD_TAG,
                                const_cast<std::uint8_t*>(tag.data()), tag.size()),
        OSSL_PARAM_END};
    return cipher_->setCtxParams(ctx_, params) == 1;
}

std::string TakeOpenSslError(std::string_view fallback) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return std::string(fallback);
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return std::string("openssl: ") + text;
}

common::Result<common::Bytes> CbcCrypt(const CipherMethods* cipher, common::ByteView key,
                                       common::ByteView iv, common::ByteView in, bool encrypt) {
    if (cipher == nullptr || key.size() != cipher->keyLength || iv.size() != cipher->ivLength ||
        in.size() % cipher->blockSize != 0) {
        return common::Fail(kCipherFailed);
    }
    CipherCtx ctx(cipher);
    common::Bytes out(in.size());
    if (!ctx || !ctx.Init(encrypt, key, iv) || !ctx.Update(in, out.data()) || !ctx.Final()) {
        return common::Fail(TakeOpenSslError(kCipherFailed));
    }
    return out;
}

}  // namespace crypto
