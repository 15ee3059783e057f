// AES (DER and raw forms, GCM and CBC) and SM4 decryption of arbitrary bytes
// under fixed keys.
#include "crypto/aes.h"
#include "crypto/sm4.h"
#include "fuzz_util.h"
#include "hibe_c/startup.h"

namespace {

common::Bytes fixedKey(std::size_t n) {
    common::Bytes key(n);
    for (std::size_t i = 0; i < n; ++i) key[i] = static_cast<std::uint8_t>(0x11 * (i + 1));
    return key;
}

crypto::EncOpts opts(const char* mode, const char* padding, bool asn1) {
    crypto::EncOpts o;
    o.BlockMode = mode;
    o.EncodingType = padding;
    o.EnableASN1 = asn1;
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hibe_c::RunStartup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const aes::AESKey aesKey(fixedKey(32));
    static const sm4::SM4Key sm4Key(fixedKey(16));
    const common::ByteView input(data, size);
    (void)aesKey.Decrypt(input);
    for (bool asn1 : {true, false}) {
        (void)aesKey.DecryptWithOpts(input, opts("GCM", "NO PADDING", asn1));
        (void)aesKey.DecryptWithOpts(input, opts("CBC", "PKCS5", asn1));
    }
    (void)sm4Key.Decrypt(input);
    return 0;
}
