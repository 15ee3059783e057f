#include "crypto/cipher_context.h"

#include <openssl/err.h>

#include <algorithm>

namespace crypto {
namespace {

constexpr char kCipherFailed[] = "cipher operation failed";

// The largest piece handed to one update call: fits an int and is a whole
// number of 16-byte blocks, so CBC never holds bytes back between pieces.
constexpr std::size_t kMaxPiece = std::size_t{1} << 30;

}  // namespace

std::string TakeOpenSslError(std::string_view fallback) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return std::string(fallback);
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return std::string("openssl: ") + text;
}

bool CipherUpdate(EVP_CIPHER_CTX* ctx, common::ByteView in, std::uint8_t* out) {
    std::size_t done = 0;
    while (done < in.size()) {
        const std::size_t piece = std::min(kMaxPiece, in.size() - done);
        int written = 0;
        if (EVP_CipherUpdate(ctx, out + done, &written, in.data() + done,
                             static_cast<int>(piece)) != 1 ||
            static_cast<std::size_t>(written) != piece) {
            return false;
        }
        done += piece;
    }
    return true;
}

common::Result<common::Bytes> CbcCrypt(const EVP_CIPHER* cipher, common::ByteView key,
                                       common::ByteView iv, common::ByteView in, bool encrypt) {
    if (static_cast<int>(key.size()) != EVP_CIPHER_get_key_length(cipher) ||
        static_cast<int>(iv.size()) != EVP_CIPHER_get_iv_length(cipher) ||
        in.size() % static_cast<std::size_t>(EVP_CIPHER_get_block_size(cipher)) != 0) {
        return common::Fail(kCipherFailed);
    }
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    common::Bytes out(in.size());
    int tail = 0;
    // The final step only checks that no partial block is left (padding is off)
    // and writes nothing; the scratch block keeps its pointer valid when out is empty.
    std::uint8_t scratch[EVP_MAX_BLOCK_LENGTH];
    if (!ctx ||
        EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key.data(), iv.data(), encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 || !CipherUpdate(ctx.get(), in, out.data()) ||
        EVP_CipherFinal_ex(ctx.get(), scratch, &tail) != 1 || tail != 0) {
        return common::Fail(TakeOpenSslError(kCipherFailed));
    }
    return out;
}

}  // namespace crypto
