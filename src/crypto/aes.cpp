#include "crypto/aes.h"

#include <openssl/crypto.h>

#include <algorithm>

#include "crypto/algorithms.h"
#include "crypto/cipher_context.h"
#include "crypto/padding.h"

namespace aes {

const crypto::EncOpts defaultAESOpts{"NO PADDING", "GCM", true, 0, {}, true};

namespace {

constexpr char kCbc[] = "CBC";
constexpr char kGcm[] = "GCM";
constexpr char kPkcs5[] = "PKCS5";

constexpr std::size_t kBlockSize = 16;  // AES block, and the CBC IV length

// Message prefixes and texts of the key's operations.
constexpr char kEncryptFails[] = "AES encryption fails: ";
constexpr char kDecryptFails[] = "AES decryption fails: ";
constexpr char kCbcEncryptFails[] = "AES CBC encryption fails: ";
constexpr char kCbcDecryptFails[] = "AES CBC decryption fails: ";
constexpr char kGcmEncryptFails[] = "AES GCM encryption fails: ";
constexpr char kGcmDecryptFails[] = "AES GCM decryption fails: ";
constexpr char kInvalidPaddingScheme[] = "invalid padding scheme [";
constexpr char kUnknownBlockMode[] = "unknown cipher block mode [";
constexpr char kAuthenticationFailed[] = "cipher: message authentication failed";
constexpr char kInvalidKeySize[] = "invalid AES key size ";
constexpr char kGcmFailed[] = "GCM operation failed";
constexpr char kPlaintextTooLong[] = "plaintext longer than 68719476704 bytes";
constexpr char kCbcInputTooShort[] = "input shorter than the 16-byte IV";
constexpr char kCbcBadIvLength[] = "IV must be 16 bytes, got ";
constexpr char kCbcPartialBlock[] = "ciphertext is not a whole number of 16-byte blocks";
constexpr char kGcmInputTooShort[] = "input shorter than nonce and tag (28 bytes)";
constexpr char kGcmBadNonceLength[] = "nonce must be 12 bytes, got ";

struct Ciphers {
    const crypto::CipherMethods* cbc;
    const crypto::CipherMethods* gcm;
};

// The AES variant chosen by the key length. An absent cipher is null here and
// fails its mode's set-up (newGcm, crypto::CbcCrypt).
common::Result<Ciphers> ciphersFor(common::ByteView key) {
    using crypto::Cipher;
    using crypto::CipherOf;
    switch (key.size()) {
        case 16: return Ciphers{CipherOf(Cipher::Aes128Cbc), CipherOf(Cipher::Aes128Gcm)};
        case 24: return Ciphers{CipherOf(Cipher::Aes192Cbc), CipherOf(Cipher::Aes192Gcm)};
        case 32: return Ciphers{CipherOf(Cipher::Aes256Cbc), CipherOf(Cipher::Aes256Gcm)};
        default: return common::Fail(kInvalidKeySize + std::to_string(key.size()));
    }
}

std::unexpected<common::Error> failWith(const char* prefix, const std::string& inner) {
    return common::Fail(prefix + inner);
}

// A GCM context over cipher, key and nonce not yet set. An absent cipher fails
// before OpenSSL is called.
common::Result<crypto::CipherCtx> newGcm(const crypto::CipherMethods* cipher) {
    if (cipher == nullptr) return common::Fail(kGcmFailed);
    crypto::CipherCtx ctx(cipher);
    if (!ctx) return common::Fail(crypto::TakeOpenSslError(kGcmFailed));
    return ctx;
}

struct Sealed {
    common::Bytes nonce;
    common::Bytes ciphertext;
    common::Bytes tag;
};

// GCM encryption under a fresh nonce, no additional data. Errors are the inner
// texts that the caller prefixes.
common::Result<Sealed> gcmSeal(const crypto::CipherMethods* cipher, common::ByteView key,
                               common::RandomSource& rand, common::ByteView plain) {
    if (plain.size() > AES_GCM_MAX_PLAINTEXT) return common::Fail(kPlaintextTooLong);
    auto ctx = newGcm(cipher);
    if (!ctx) return std::unexpected(ctx.error());
    Sealed out{common::Bytes(AES_GCM_IV_LENGTH), common::Bytes(plain.size()),
               common::Bytes(AES_GCM_TAG_LENGTH)};
    if (auto drawn = rand.Fill(out.nonce); !drawn) return std::unexpected(drawn.error());
    if (!ctx->Init(true, key, out.nonce) || !ctx->Update(plain, out.ciphertext.data()) ||
        !ctx->Final() || !ctx->GetTag(out.tag)) {
        return common::Fail(crypto::TakeOpenSslError(kGcmFailed));
    }
    return out;
}

// GCM decryption of fields (raw input split here when fields came from no DER
// form). As in the DER form only Ciphertext ‖ Tag counts, its last 16 bytes are
// the tag wherever the two fields were split.
common::Result<common::Bytes> gcmOpen(const crypto::CipherMethods* cipher, common::ByteView key,
                                      common::ByteView crypted, CiphertextViews fields, bool fromDer) {
    auto ctx = newGcm(cipher);
    if (!ctx) return failWith(kGcmDecryptFails, ctx.error().Message());
    if (!fromDer) {
        if (crypted.size() < AES_GCM_IV_LENGTH + AES_GCM_TAG_LENGTH) {
            return failWith(kGcmDecryptFails, kGcmInputTooShort);
        }
        fields.IV = crypted.first(AES_GCM_IV_LENGTH);
        fields.Tag = crypted.last(AES_GCM_TAG_LENGTH);
        fields.Ciphertext = crypted.subspan(
            AES_GCM_IV_LENGTH, crypted.size() - AES_GCM_IV_LENGTH - AES_GCM_TAG_LENGTH);
    } else if (fields.IV.size() != AES_GCM_IV_LENGTH) {
        return failWith(kGcmDecryptFails, kGcmBadNonceLength + std::to_string(fields.IV.size()));
    }

    // body = (Ciphertext ‖ Tag) without its last 16 bytes, in up to two pieces.
    const std::size_t total = fields.Ciphertext.size() + fields.Tag.size();
    if (total < AES_GCM_TAG_LENGTH) return common::Fail(kAuthenticationFailed);
    const std::size_t bodyLen = total - AES_GCM_TAG_LENGTH;
    if (bodyLen > AES_GCM_MAX_PLAINTEXT) return common::Fail(kAuthenticationFailed);
    const common::ByteView body1 = fields.Ciphertext.first(std::min(fields.Ciphertext.size(), bodyLen));
    const common::ByteView body2 = fields.Tag.first(bodyLen - body1.size());
    std::uint8_t tag[AES_GCM_TAG_LENGTH];
    const common::ByteView tagHead = fields.Ciphertext.subspan(body1.size());
    const common::ByteView tagTail = fields.Tag.subspan(body2.size());
    std::copy(tagHead.begin(), tagHead.end(), tag);
    std::copy(tagTail.begin(), tagTail.end(), tag + tagHead.size());

    common::Bytes plain(bodyLen);
    if (!ctx->Init(false, key, fields.IV) || !ctx->Update(body1, plain.data()) ||
        !ctx->Update(body2, plain.data() + body1.size()) || !ctx->SetTag(tag)) {
        return failWith(kGcmDecryptFails, crypto::TakeOpenSslError(kGcmFailed));
    }
    // The final step fails only on a tag that does not match, for which the
    // provider queues no error: the thread's error queue, which may hold the
    // host's errors, is left alone.
    if (!ctx->Final()) {
        OPENSSL_cleanse(plain.data(), plain.size());  // unauthenticated: never released
        return common::Fail(kAuthenticationFailed);
    }
    return plain;
}

}  // namespace

common::Result<common::Bytes> AESKey::Decrypt(common::ByteView crypted) const {
    return DecryptWithOpts(crypted, defaultAESOpts);
}

common::Result<common::Bytes> AESKey::Encrypt(common::ByteView plain) const {
    return EncryptWithOpts(plain, defaultAESOpts);
}

common::Result<common::Bytes> AESKey::EncryptWithOpts(common::ByteView plain,
                                                      const crypto::EncOpts& opts) const {
    auto ciphers = ciphersFor(Key);
    if (!ciphers) return failWith(kEncryptFails, ciphers.error().Message());

    common::Bytes iv;
    common::Bytes ciphertext;
    common::Bytes tag;
    if (opts.BlockMode == kCbc) {
        if (opts.EncodingType != kPkcs5) {
            return failWith(kCbcEncryptFails, kInvalidPaddingScheme + opts.EncodingType + "]");
        }
        auto padded = util::PKCS5Padding(plain, kBlockSize);
        if (!padded) return failWith(kCbcEncryptFails, padded.error().Message());
        iv.resize(kBlockSize);
        if (auto drawn = rand_->Fill(iv); !drawn) {
            return failWith(kCbcEncryptFails, drawn.error().Message());
        }
        auto encrypted = crypto::CbcCrypt(ciphers->cbc, Key, iv, *padded, true);
        if (!encrypted) return failWith(kCbcEncryptFails, encrypted.error().Message());
        ciphertext = std::move(*encrypted);
    } else if (opts.BlockMode == kGcm) {
        // No padding in GCM, whatever EncodingType says.
        auto sealed = gcmSeal(ciphers->gcm, Key, *rand_, plain);
        if (!sealed) return failWith(kGcmEncryptFails, sealed.error().Message());
        iv = std::move(sealed->nonce);
        ciphertext = std::move(sealed->ciphertext);
        tag = std::move(sealed->tag);
    } else {
        return failWith(kEncryptFails, kUnknownBlockMode + opts.BlockMode + "]");
    }

    if (opts.EnableASN1) {
        return marshalCiphertext({std::move(iv), std::move(ciphertext), std::move(tag)});
    }
    common::Bytes raw;
    raw.reserve(iv.size() + ciphertext.size() + tag.size());
    raw.insert(raw.end(), iv.begin(), iv.end());
    raw.insert(raw.end(), ciphertext.begin(), ciphertext.end());
    raw.insert(raw.end(), tag.begin(), tag.end());
    return raw;
}

common::Result<common::Bytes> AESKey::DecryptWithOpts(common::ByteView crypted,
                                                      const crypto::EncOpts& opts) const {
    CiphertextViews fields;
    if (opts.EnableASN1) {
        auto decoded = decodeCiphertext(crypted);
        if (!decoded) return failWith(kDecryptFails, decoded.error().Message());
        fields = *decoded;
    }
    auto ciphers = ciphersFor(Key);
    if (!ciphers) return failWith(kDecryptFails, ciphers.error().Message());

    if (opts.BlockMode == kCbc) {
        // The DER form's Tag is not used in CBC mode.
        if (!opts.EnableASN1) {
            if (crypted.size() < kBlockSize) return failWith(kCbcDecryptFails, kCbcInputTooShort);
            fields.IV = crypted.first(kBlockSize);
            fields.Ciphertext = crypted.subspan(kBlockSize);
        } else if (fields.IV.size() != kBlockSize) {
            return failWith(kCbcDecryptFails, kCbcBadIvLength + std::to_string(fields.IV.size()));
        }
        if (fields.Ciphertext.size() % kBlockSize != 0) {
            return failWith(kCbcDecryptFails, kCbcPartialBlock);
        }
        auto padded = crypto::CbcCrypt(ciphers->cbc, Key, fields.IV, fields.Ciphertext, false);
        if (!padded) return failWith(kCbcDecryptFails, padded.error().Message());
        // The padding scheme is checked only after the decryption.
        if (opts.EncodingType != kPkcs5) {
            return failWith(kCbcDecryptFails, kInvalidPaddingScheme + opts.EncodingType + "]");
        }
        auto unpadded = util::PKCS5UnPadding(*padded);
        if (!unpadded) return failWith(kCbcDecryptFails, unpadded.error().Message());
        padded->resize(unpadded->size());
        return std::move(*padded);
    }
    if (opts.BlockMode == kGcm) {
        return gcmOpen(ciphers->gcm, Key, crypted, fields, opts.EnableASN1);
    }
    return failWith(kDecryptFails, kUnknownBlockMode + opts.BlockMode + "]");
}

}  // namespace aes
