// The SM4 key: SM4-CBC with PKCS#5 padding, whatever the options.
//
// Ciphertext form: the 16-byte random IV followed by the CBC encryption of the
// padded plaintext, 16 + 16·(⌊n/16⌋ + 1) bytes for n bytes of plaintext. There is
// no framing and no authentication tag.
#pragma once

#include <string>
#include <utility>

#include "common/bytes.h"
#include "common/error.h"
#include "common/random.h"
#include "common/wipe.h"
#include "crypto/symmetric_key.h"

namespace sm4 {

// Defaults of Encrypt and Decrypt, never read: EncodingType "NO PADDING",
// BlockMode "GCM", EnableMAC true, Hash 0, Label empty, EnableASN1 false.
extern const crypto::EncOpts defaultSM4Opts;

// An SM4 key of 16 bytes. A key of another length can be held but fails every
// operation with "SM4: invalid key size " and its length. IVs come from the
// given random source, the kernel's by default. Options are ignored. The key
// bytes are wiped when the key goes away.
class SM4Key final : public crypto::SymmetricKey {
public:
    explicit SM4Key(common::Bytes key, common::RandomSource& rand = common::SystemRandom())
        : Key(std::move(key)), rand_(&rand) {}
    ~SM4Key() override { common::Wipe(Key); }

    common::ByteView Bytes() const override { return Key; }
    common::Result<common::Bytes> Decrypt(common::ByteView crypted) const override;
    common::Result<common::Bytes> DecryptWithOpts(common::ByteView crypted,
                                                  const crypto::EncOpts& opts) const override;
    common::Result<common::Bytes> Encrypt(common::ByteView plain) const override;
    common::Result<common::Bytes> EncryptWithOpts(common::ByteView plain,
                                                  const crypto::EncOpts& opts) const override;
    std::string String() const override { return Hex(Key); }
    crypto::KeyType Type() const override { return crypto::SM4; }

    common::Bytes Key;

private:
    common::RandomSource* rand_;
};

}  // namespace sm4
