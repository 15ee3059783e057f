// The interface of a symmetric key and the options of its operations.
#pragma once

#include <cstdint>
#include <string>

#include "common/bytes.h"
#include "common/error.h"
#include "crypto/crypto.h"

namespace crypto {

// Options of EncryptWithOpts and DecryptWithOpts. Names compare as exact,
// case-sensitive byte strings. Only aes::AESKey reads options (BlockMode,
// EncodingType, EnableASN1); sm4::SM4Key ignores them all.
struct EncOpts {
    std::string EncodingType;  // padding scheme: "PKCS5" or "NO PADDING"
    std::string BlockMode;     // block mode: "CBC" or "GCM"
    bool EnableMAC = false;    // carried, read by no operation
    HashType Hash = 0;         // carried, read by no operation
    common::Bytes Label;       // carried, read by no operation
    bool EnableASN1 = false;   // true: ciphertext in ASN.1 DER; false: raw concatenation
};

// A symmetric key: aes::AESKey or sm4::SM4Key. Operations never change the key,
// so one key may be used by several threads at once. Failing operations return
// the error and no output.
class SymmetricKey {
public:
    virtual ~SymmetricKey() = default;

    // The key's own bytes (a view of them, not a copy), valid while the key lives.
    virtual common::ByteView Bytes() const = 0;

    // DecryptWithOpts under the key type's default options.
    virtual common::Result<common::Bytes> Decrypt(common::ByteView crypted) const = 0;

    // Decrypts crypted under opts.
    virtual common::Result<common::Bytes> DecryptWithOpts(common::ByteView crypted,
                                                          const EncOpts& opts) const = 0;

    // EncryptWithOpts under the key type's default options.
    virtual common::Result<common::Bytes> Encrypt(common::ByteView plain) const = 0;

    // Encrypts plain under opts; every call draws a fresh IV or nonce.
    virtual common::Result<common::Bytes> EncryptWithOpts(common::ByteView plain,
                                                          const EncOpts& opts) const = 0;

    // The key bytes as lowercase hexadecimal, two characters per byte.
    virtual std::string String() const = 0;

    // AES for aes::AESKey, SM4 for sm4::SM4Key.
    virtual KeyType Type() const = 0;

protected:
    // Lowercase hexadecimal, most significant nibble first; the String form.
    static std::string Hex(common::ByteView bytes) {
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string text;
        text.reserve(2 * bytes.size());
        for (std::uint8_t b : bytes) {
            text.push_back(kDigits[b >> 4]);
            text.push_back(kDigits[b & 0x0f]);
        }
        return text;
    }
};

}  // namespace crypto
