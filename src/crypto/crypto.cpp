#include "crypto/crypto.h"

#include <openssl/crypto.h>

#include <mutex>

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

constinit std::once_flag filled;

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

void init() {
    std::call_once(filled, [] {
        fillTables();
        // The start-up runs on a thread of its own, which may still be inside
        // OpenSSL when the process exits; OpenSSL's clean-up at exit would free
        // what that thread uses. If this sets OpenSSL up first in the process,
        // its state is left to the end of the process instead (a host may still
        // call OPENSSL_cleanup itself); if the host set it up first, the start-up
        // makes exit wait for it.
        OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
        FetchAlgorithms();
    });
}

}  // namespace crypto
