// Shared plumbing over OpenSSL's EVP cipher interface for the AES and SM4 keys.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "common/error.h"

namespace crypto {

struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

// One cipher operation's context, freed on scope exit.
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

// The text of the oldest OpenSSL error queued on this thread, prefixed "openssl: ",
// or fallback when none is queued. Clears the thread's queue, so a failure does
// not leak into a later report.
std::string TakeOpenSslError(std::string_view fallback);

// Feeds in through the context's update step in pieces that fit OpenSSL's int
// lengths. out must hold in.size() bytes; the modes used here (GCM, CBC over
// whole blocks with OpenSSL's padding off) write exactly that many. Returns false
// if OpenSSL fails or writes another amount. out may equal in.data().
bool CipherUpdate(EVP_CIPHER_CTX* ctx, common::ByteView in, std::uint8_t* out);

// CBC encryption (encrypt true) or decryption of in, whole blocks only, under
// key and iv, with OpenSSL's own padding switched off: the callers pad and unpad
// by the library's rules. Failures carry OpenSSL's error text.
common::Result<common::Bytes> CbcCrypt(const EVP_CIPHER* cipher, common::ByteView key,
                                       common::ByteView iv, common::ByteView in, bool encrypt);

}  // namespace crypto
