// AES and SM4 decryption of arbitrary ciphertexts under fixed keys.
//
// Every AES key length (16, 24, 32 bytes) decrypts the input in the four forms
// the options select: GCM in the DER envelope (Decrypt, the defaults), GCM raw
// (nonce ‖ ciphertext ‖ tag), CBC with PKCS#5 padding in the DER envelope and
// raw (IV ‖ ciphertext). The SM4 key decrypts it as IV ‖ CBC ciphertext.
//
// Checked besides memory safety: a plaintext that decryption accepts encrypts
// again (fresh IV) to a ciphertext that decrypts to the same plaintext, and the
// DER envelope, where it parses, re-encodes to an envelope of the same fields.
#include <cstdint>
#include <string>

#include "crypto/aes.h"
#include "crypto/sm4.h"
#include "fuzz_support.h"
#include "hibe_c/startup.h"

namespace {

// The fixed keys: bytes 0x00, 0x01, ... of the required length.
common::Bytes CountingKey(std::size_t length) {
    common::Bytes key(length);
    for (std::size_t i = 0; i < length; ++i) key[i] = static_cast<std::uint8_t>(i);
    return key;
}

const crypto::EncOpts kGcmDer{"NO PADDING", "GCM", true, 0, {}, true};
const crypto::EncOpts kGcmRaw{"NO PADDING", "GCM", true, 0, {}, false};
const crypto::EncOpts kCbcDer{"PKCS5", "CBC", false, 0, {}, true};
const crypto::EncOpts kCbcRaw{"PKCS5", "CBC", false, 0, {}, false};

// Decrypts input under opts; a plaintext found must survive a fresh round trip.
void CheckDecrypt(const crypto::SymmetricKey& key, common::ByteView input, const crypto::EncOpts& opts) {
    auto plain = key.DecryptWithOpts(input, opts);
    if (!plain) {
        FUZZ_CHECK(!plain.error().Message().empty());
        return;
    }
    auto sealed = key.EncryptWithOpts(*plain, opts);
    FUZZ_CHECK(sealed.has_value());
    auto again = key.DecryptWithOpts(*sealed, opts);
    FUZZ_CHECK(again.has_value() && *again == *plain);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hibe_c::RunStartup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const common::ByteView input(data, size);

    for (std::size_t length : {16, 24, 32}) {
        const aes::AESKey key(CountingKey(length));
        // Decrypt is DecryptWithOpts under the defaults, which are GCM in DER.
        auto byDefault = key.Decrypt(input);
        auto byOpts = key.DecryptWithOpts(input, kGcmDer);
        FUZZ_CHECK(byDefault.has_value() == byOpts.has_value());
        if (byDefault) FUZZ_CHECK(*byDefault == *byOpts);
        for (const crypto::EncOpts* opts : {&kGcmDer, &kGcmRaw, &kCbcDer, &kCbcRaw}) {
            CheckDecrypt(key, input, *opts);
        }
    }

    const sm4::SM4Key sm4Key(CountingKey(16));
    auto sm4Default = sm4Key.Decrypt(input);
    CheckDecrypt(sm4Key, input, kCbcRaw);
    if (sm4Default) {
        // Options are ignored: the default decryption agrees with any other.
        auto viaOpts = sm4Key.DecryptWithOpts(input, kGcmDer);
        FUZZ_CHECK(viaOpts.has_value() && *viaOpts == *sm4Default);
    }

    auto fields = aes::unmarshalCiphertext(input);
    if (fields) {
        auto der = aes::marshalCiphertext(*fields);
        FUZZ_CHECK(der.has_value());
        auto reread = aes::unmarshalCiphertext(*der);
        FUZZ_CHECK(reread.has_value());
        FUZZ_CHECK(reread->IV == fields->IV && reread->Ciphertext == fields->Ciphertext &&
                   reread->Tag == fields->Tag);
    }
    return 0;
}
