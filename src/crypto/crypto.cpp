#include "crypto/crypto.h"

#include <openssl/crypto.h>

#include <atomic>

#include "common/load_time.h"
#include "crypto/algorithms.h"

namespace crypto {
namespace {

using NumberNames = std::unordered_map<KeyType, std::string>;
using KeyNumbers = std::unordered_map<std::string, KeyType>;
using HashNumbers = std::unordered_map<std::string, HashType>;

constinit common::LoadTimeSlot<NumberNames> keyType2Name;
constinit common::LoadTimeSlot<KeyNumbers> name2KeyType;
constinit common::LoadTimeSlot<HashNumbers> hashAlgo;
constinit common::LoadTimeSlot<KeyNumbers> symAlgo;
constinit common::LoadTimeSlot<KeyNumbers> asymAlgo;

// Set once init() has run to its end. No once-flag of the library's own: a
// child of a fork that landed inside init() (a raw fork runs no fork handlers)
// runs it again from its start, on its own thread.
constinit std::atomic<bool> initDone{false};

void fillTables() {
    keyType2Name.Emplace(NumberNames{
        {AES, "AES"},
        {SM4, "SM4"},
        {RSA512, "RSA512"},
        {RSA1024, "RSA1024"},
        {RSA2048, "RSA2048"},
        {RSA3072, "RSA3072"},
        {SM2, "SM2"},
        {ECC_Secp256k1, "ECC_Secp256k1"},
        {ECC_NISTP256, "ECC_NISTP256"},
        {ECC_NISTP384, "ECC_NISTP384"},
        {ECC_NISTP521, "ECC_NISTP521"},
        {ECC_Ed25519, "ECC_Ed25519"},
    });
    name2KeyType.Emplace(KeyNumbers{
        {"AES", AES},
        {"SM4", SM4},
        {"RSA512", RSA512},
        {"RSA1024", RSA1024},
        {"RSA2048", RSA2048},
        {"RSA3072", RSA3072},
        {"SM2", SM2},
        {"ECC_Secp256k1", ECC_Secp256k1},
        {"ECC_NISTP256", ECC_NISTP256},
        {"ECC_NISTP384", ECC_NISTP384},
        {"ECC_NISTP521", ECC_NISTP521},
        {"ECC_Ed25519", ECC_Ed25519},
    });
    hashAlgo.Emplace(HashNumbers{
        {"SHA256", HASH_TYPE_SHA256},
        {"SHA3_256", HASH_TYPE_SHA3_256},
        {"SM3", HASH_TYPE_SM3},
    });
    symAlgo.Emplace(KeyNumbers{
        {"AES", AES},
        {"AES128", AES},
        {"AES192", AES},
        {"AES256", AES},
        {"SM4", SM4},
    });
    asymAlgo.Emplace(KeyNumbers{
        {"RSA512", RSA512},
        {"RSA1024", RSA1024},
        {"RSA2048", RSA2048},
        {"RSA3072", RSA3072},
        {"SM2", SM2},
        {"ECC_P256", ECC_NISTP256},
        {"ECC_P384", ECC_NISTP384},
        {"ECC_P521", ECC_NISTP521},
        {"ECC_Ed25519", ECC_Ed25519},
        {"ECC_Secp256k1", ECC_Secp256k1},
    });
}

}  // namespace

constinit const NumberNames& KeyType2NameMap = keyType2Name.value;
constinit const KeyNumbers& Name2KeyTypeMap = name2KeyType.value;
constinit const HashNumbers& HashAlgoMap = hashAlgo.value;
constinit const KeyNumbers& SymAlgoMap = symAlgo.value;
constinit const KeyNumbers& AsymAlgoMap = asymAlgo.value;

// What this step touches of OpenSSL's process-wide state, all during the
// start-up (on the start-up thread, or on the thread of a call that runs the
// start-up itself); everything else of OpenSSL that the library uses is its
// own (crypto/algorithms.h):
//   - OPENSSL_init_crypto, with OPENSSL_INIT_NO_ATEXIT and without
//     OPENSSL_INIT_LOAD_CONFIG: it sets up OpenSSL's base state if the host has
//     not, registers no exit handler and reads no configuration file.
//   - Nothing of the error queues, unless the library's context or its
//     provider cannot be made (which only a failure to allocate causes): the
//     step then empties the calling thread's queue (crypto/algorithms.cpp says
//     why no mark is set).
// The library context, its provider and the algorithms' functions are the
// library's own, made by each run and never freed; no configuration file,
// default property, provider or engine of the host's reaches them. After the
// start-up a call runs those functions on contexts of its own and touches
// nothing else of OpenSSL's, except that a call in which OpenSSL reports an
// error (a failure to allocate, a malformed DER header) empties its thread's
// error queue (cipher_context.h, der.cpp).
void init() {
    if (initDone.load(std::memory_order_acquire)) return;
    // Each table is built anew by a second run (Emplace over a value a fork
    // left half built drops it without destroying it).
    fillTables();
    // If this sets OpenSSL up first in the process, it registers no clean-up
    // at exit: the host did not ask for one, and a call still running on
    // another host thread when the process exits would meet freed state. A host
    // may still call OPENSSL_cleanup itself. If the host set OpenSSL up first,
    // its own choice stands.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
    FetchAlgorithms();
    initDone.store(true, std::memory_order_release);
}

}  // namespace crypto
