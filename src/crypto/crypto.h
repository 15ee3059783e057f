// Algorithm numbers and their name tables.
//
// The numbers name key algorithms (KeyType), digests (HashType) and key sizes
// (BitsSize) throughout the library. Only AES, SM4 and the three digests have an
// implementation; the asymmetric key types exist as numbers and names only.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

namespace crypto {

// Key algorithm numbers.
using KeyType = std::int64_t;

inline constexpr KeyType AES = 0;            // symmetric, aes::AESKey
inline constexpr KeyType SM4 = 1;            // symmetric, sm4::SM4Key
inline constexpr KeyType RSA512 = 2;
inline constexpr KeyType RSA1024 = 3;
inline constexpr KeyType RSA2048 = 4;
inline constexpr KeyType RSA3072 = 5;
inline constexpr KeyType SM2 = 6;
inline constexpr KeyType ECC_Secp256k1 = 7;
inline constexpr KeyType ECC_NISTP256 = 8;
inline constexpr KeyType ECC_NISTP384 = 9;
inline constexpr KeyType ECC_NISTP521 = 10;
inline constexpr KeyType ECC_Ed25519 = 11;

// Digest numbers; 0 is no digest.
using HashType = std::uint64_t;

inline constexpr HashType HASH_TYPE_SHA256 = 5;
inline constexpr HashType HASH_TYPE_SHA3_256 = 11;
inline constexpr HashType HASH_TYPE_SM3 = 20;

// The SM3 digest number as a plain integer; equal to HASH_TYPE_SM3.
inline constexpr std::uint64_t SM3 = 20;

// Key sizes in bits.
using BitsSize = std::int64_t;

inline constexpr BitsSize BITS_SIZE_128 = 128;
inline constexpr std::int64_t BITS_SIZE_192 = 192;
inline constexpr std::int64_t BITS_SIZE_256 = 256;
inline constexpr std::int64_t BITS_SIZE_512 = 512;
inline constexpr std::int64_t BITS_SIZE_1024 = 1024;
inline constexpr std::int64_t BITS_SIZE_2048 = 2048;
inline constexpr std::int64_t BITS_SIZE_3072 = 3072;

// The five name tables, filled by init() and read-only afterwards, so any number
// of threads may read them without a lock. Names match only as exact byte
// strings. The NIST curves have two spellings: KeyType2NameMap and
// Name2KeyTypeMap say "ECC_NISTP256", AsymAlgoMap says "ECC_P256" (and likewise
// for 384 and 521); each table knows only its own spelling.

// Every key number to its name (12 entries).
extern const std::unordered_map<KeyType, std::string>& KeyType2NameMap;
// Every key name to its number (12 entries).
extern const std::unordered_map<std::string, KeyType>& Name2KeyTypeMap;
// Digest names to numbers: "SHA256", "SHA3_256", "SM3".
extern const std::unordered_map<std::string, HashType>& HashAlgoMap;
// Symmetric algorithm names to numbers; "AES", "AES128", "AES192" and "AES256"
// all give AES, since the key length chooses the AES variant.
extern const std::unordered_map<std::string, KeyType>& SymAlgoMap;
// Asymmetric algorithm names to numbers (10 entries).
extern const std::unordered_map<std::string, KeyType>& AsymAlgoMap;

// Fills the algorithm-name tables and takes the OpenSSL algorithms from the
// library's own context (crypto/algorithms.h); first step of the library's
// start-up. A call after one that ran to its end does nothing; one after a run
// that did not end (in the child of a fork that landed inside it) runs the
// whole step again.
void init();

}  // namespace crypto
