// The AES key: AES-GCM (the default) or AES-CBC, in an ASN.1 DER envelope or raw.
//
// Ciphertext forms, chosen by EncOpts::EnableASN1:
//   DER (true):  SEQUENCE { OCTET STRING IV, OCTET STRING Ciphertext, OCTET STRING Tag }
//                (crypto/der.h)
//   raw (false): IV ‖ Ciphertext ‖ Tag
// GCM: IV is the 12-byte nonce, Ciphertext as long as the plaintext, Tag 16 bytes.
// CBC: IV is 16 bytes, Ciphertext the PKCS#5-padded plaintext encrypted (whole
// blocks, at least one), Tag empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "common/bytes.h"
#include "common/error.h"
#include "common/random.h"
#include "common/wipe.h"
#include "crypto/der.h"
#include "crypto/symmetric_key.h"

namespace aes {

// GCM nonce and tag lengths in bytes.
inline constexpr std::size_t AES_GCM_IV_LENGTH = 12;
inline constexpr std::size_t AES_GCM_TAG_LENGTH = 16;

// The most plaintext one GCM nonce may seal: (2^32 − 2) blocks of 16 bytes.
inline constexpr std::uint64_t AES_GCM_MAX_PLAINTEXT = 68'719'476'704;

// Defaults of Encrypt and Decrypt: GCM in the DER form. EncodingType "NO
// PADDING", BlockMode "GCM", EnableMAC true, Hash 0, Label empty, EnableASN1 true.
extern const crypto::EncOpts defaultAESOpts;

// An AES key of 16, 24 or 32 bytes (AES-128, -192, -256 by length). A key of
// another length can be held but fails every operation. IVs and nonces come from
// the given random source, the kernel's by default. The key bytes are wiped when
// the key goes away.
class AESKey final : public crypto::SymmetricKey {
public:
    explicit AESKey(common::Bytes key, common::RandomSource& rand = common::SystemRandom())
        : Key(std::move(key)), rand_(&rand) {}
    ~AESKey() override { common::Wipe(Key); }

    common::ByteView Bytes() const override { return Key; }
    common::Result<common::Bytes> Decrypt(common::ByteView crypted) const override;
    common::Result<common::Bytes> DecryptWithOpts(common::ByteView crypted,
                                                  const crypto::EncOpts& opts) const override;
    common::Result<common::Bytes> Encrypt(common::ByteView plain) const override;
    common::Result<common::Bytes> EncryptWithOpts(common::ByteView plain,
                                                  const crypto::EncOpts& opts) const override;
    std::string String() const override { return Hex(Key); }
    crypto::KeyType Type() const override { return crypto::AES; }

    common::Bytes Key;

private:
    common::RandomSource* rand_;
};

}  // namespace aes
