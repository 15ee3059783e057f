#include "crypto/sm4.h"

#include "crypto/algorithms.h"
#include "crypto/cipher_context.h"
#include "crypto/padding.h"

namespace sm4 {

const crypto::EncOpts defaultSM4Opts{"NO PADDING", "GCM", true, 0, {}, false};

namespace {

constexpr std::size_t kKeySize = 16;
constexpr std::size_t kBlockSize = 16;  // the SM4 block, and the IV length

constexpr char kInvalidKeySize[] = "SM4: invalid key size ";
constexpr char kInputTooShort[] = "SM4: input shorter than the 16-byte IV";
constexpr char kPartialBlock[] = "SM4: ciphertext is not a whole number of 16-byte blocks";

// The SM4-CBC cipher, if the key can make one; null where it is absent, which
// crypto::CbcCrypt fails.
common::Result<const crypto::CipherMethods*> cipherFor(common::ByteView key) {
    if (key.size() != kKeySize) return common::Fail(kInvalidKeySize + std::to_string(key.size()));
    return crypto::CipherOf(crypto::Cipher::Sm4Cbc);
}

}  // namespace

common::Result<common::Bytes> SM4Key::Decrypt(common::ByteView crypted) const {
    return DecryptWithOpts(crypted, defaultSM4Opts);
}

common::Result<common::Bytes> SM4Key::Encrypt(common::ByteView plain) const {
    return EncryptWithOpts(plain, defaultSM4Opts);
}

common::Result<common::Bytes> SM4Key::EncryptWithOpts(common::ByteView plain,
                                                      const crypto::EncOpts&) const {
    auto cipher = cipherFor(Key);
    if (!cipher) return std::unexpected(cipher.error());
    auto padded = util::PKCS5Padding(plain, kBlockSize);
    if (!padded) return std::unexpected(padded.error());
    common::Bytes out(kBlockSize);
    if (auto drawn = rand_->Fill(out); !drawn) return std::unexpected(drawn.error());
    auto encrypted = crypto::CbcCrypt(*cipher, Key, out, *padded, true);
    if (!encrypted) return std::unexpected(encrypted.error());
    out.insert(out.end(), encrypted->begin(), encrypted->end());
    return out;
}

common::Result<common::Bytes> SM4Key::DecryptWithOpts(common::ByteView crypted,
                                                      const crypto::EncOpts&) const {
    auto cipher = cipherFor(Key);
    if (!cipher) return std::unexpected(cipher.error());
    if (crypted.size() < kBlockSize) return common::Fail(kInputTooShort);
    const common::ByteView iv = crypted.first(kBlockSize);
    const common::ByteView ciphertext = crypted.subspan(kBlockSize);
    if (ciphertext.size() % kBlockSize != 0) return common::Fail(kPartialBlock);
    auto padded = crypto::CbcCrypt(*cipher, Key, iv, ciphertext, false);
    if (!padded) return std::unexpected(padded.error());
    auto unpadded = util::PKCS5UnPadding(*padded);
    if (!unpadded) return std::unexpected(unpadded.error());
    padded->resize(unpadded->size());
    return std::move(*padded);
}

}  // namespace sm4
