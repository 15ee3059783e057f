#include "crypto/sym.h"

#include <atomic>
#include <cstdint>

#include "common/error.h"
#include "common/load_time.h"
#include "common/wipe.h"
#include "crypto/aes.h"
#include "crypto/sm4.h"

namespace sym {
namespace {

// The separators are U+FF0C FULLWIDTH COMMA (EF BC 8C); 44 bytes in all.
constexpr char kAesKeyLength[] = "aes key len must be 128bit\xEF\xBC\x8C" "192bit\xEF\xBC\x8C" "256bit";
constexpr char kSm4KeyLength[] = "sm4 key len must be 128bit";
constexpr char kUnsupportedAlgorithm[] = "unsupport symmetric algorithm";

// The two length errors, made once and handed out by every length failure.
constinit common::LoadTimeSlot<common::Error> aesKeyLengthError;
constinit common::LoadTimeSlot<common::Error> sm4KeyLengthError;

// Set when the errors are made. Not a std::call_once: a fork that runs no fork
// handler may cut makeErrors off, and the child makes them again from the
// start, which a once-guard left "in progress" would make it wait for for ever.
constinit std::atomic<bool> made{false};

void makeErrors() {
    aesKeyLengthError.Emplace(kAesKeyLength);
    sm4KeyLengthError.Emplace(kSm4KeyLength);
}

}  // namespace

void init() {
    if (made.load(std::memory_order_acquire)) return;
    makeErrors();
    made.store(true, std::memory_order_release);
}

common::Result<std::unique_ptr<crypto::SymmetricKey>> GenerateSymKey(crypto::KeyType keyType,
                                                                     common::Bytes key) {
    // The start-up has made the errors already; this guards callers that run
    // without it (a unit test of another module, on one thread) at the cost of
    // one flag check.
    init();
    // A refused key is wiped before its bytes are released.
    common::WipeOnExit wipeRefused([&] { common::Wipe(key); });
    const std::uint64_t bits = 8 * static_cast<std::uint64_t>(key.size());
    switch (keyType) {
        case crypto::AES:
            if (bits != 128 && bits != 192 && bits != 256) {
                return common::Fail(aesKeyLengthError.value);
            }
            return std::make_unique<aes::AESKey>(std::move(key));
        case crypto::SM4:
            if (bits != 128) return common::Fail(sm4KeyLengthError.value);
            return std::make_unique<sm4::SM4Key>(std::move(key));
        default:
            return common::Fail(kUnsupportedAlgorithm);
    }
}

}  // namespace sym
