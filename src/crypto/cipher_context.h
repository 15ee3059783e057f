// Cipher operations on the functions of the library's provider
// (crypto/algorithms.h), shared by the AES and SM4 keys.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "common/error.h"
#include "crypto/algorithms.h"

namespace crypto {

// One cipher operation: a context of the provider's, which the provider wipes
// and frees when this goes away. Empty (false) when the cipher is absent or the
// provider could not make a context. Every step returns false when the
// provider fails; the provider's errors are then queued on the calling thread
// (TakeOpenSslError reads them).
class CipherCtx {
public:
    explicit CipherCtx(const CipherMethods* cipher);
    ~CipherCtx();
    CipherCtx(CipherCtx&& other) noexcept;
    CipherCtx& operator=(CipherCtx&&) = delete;

    explicit operator bool() const { return ctx_ != nullptr; }

    // Sets key and iv (the GCM nonce) up for encryption (encrypt true) or
    // decryption, with the block modes' own padding off: the callers pad and
    // unpad by the library's rules. The provider checks the lengths.
    bool Init(bool encrypt, common::ByteView key, common::ByteView iv);

    // Feeds in through the cipher. out must hold in.size() bytes; the modes used
    // here (GCM, CBC over whole blocks with padding off) write exactly that many,
    // and another amount fails. out may equal in.data().
    bool Update(common::ByteView in, std::uint8_t* out);

    // Ends the operation, writing nothing: a block mode checks that no partial
    // block is left, GCM makes the tag (encryption) or checks the one set
    // (decryption).
    bool Final();

    // The GCM tag, after Final of an encryption.
    bool GetTag(std::span<std::uint8_t> tag);
    // The GCM tag to check, before Final of a decryption.
    bool SetTag(common::ByteView tag);

private:
    const CipherMethods* cipher_;
    void* ctx_;
};

// The text of the oldest OpenSSL error queued on this thread, prefixed "openssl: ",
// or fallback when none is queued. Clears the thread's queue, so a failure does
// not leak into a later report.
std::string TakeOpenSslError(std::string_view fallback);

// CBC encryption (encrypt true) or decryption of in, whole blocks only, under
// key and iv, with the mode's own padding off: the callers pad and unpad by the
// library's rules. Failures carry OpenSSL's error text; an absent cipher, or
// lengths that it does not take, fail before the provider is called.
common::Result<common::Bytes> CbcCrypt(const CipherMethods* cipher, common::ByteView key,
                                       common::ByteView iv, common::ByteView in, bool encrypt);

}  // namespace crypto
