#include "crypto/padding.h"

#include <string>

namespace util {
namespace {

constexpr char kDecryptFailed[] = "decrypt failed,please check it";
constexpr char kInvalidBlockSize[] = "invalid padding block size ";

}  // namespace

common::Result<common::Bytes> PKCS5Padding(common::ByteView ciphertext, int blockSize) {
    if (blockSize < 1 || blockSize > 255) {
        return common::Fail(kInvalidBlockSize + std::to_string(blockSize));
    }
    const std::size_t block = static_cast<std::size_t>(blockSize);
    const std::size_t pad = block - ciphertext.size() % block;
    common::Bytes padded;
    padded.reserve(ciphertext.size() + pad);
    padded.assign(ciphertext.begin(), ciphertext.end());
    padded.insert(padded.end(), pad, static_cast<std::uint8_t>(pad));
    return padded;
}

common::Result<common::ByteView> PKCS5UnPadding(common::ByteView origData) {
    if (origData.empty()) return common::Fail(kDecryptFailed);
    const std::size_t unpadding = origData.back();
    if (unpadding > origData.size()) return common::Fail(kDecryptFailed);
    return origData.first(origData.size() - unpadding);
}

}  // namespace util
