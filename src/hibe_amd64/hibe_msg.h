// Hybrid message encryption for several receiver identities.
//
// EncryptHibeMsg draws a random GT element, derives a symmetric key from its
// encoding, encrypts the message once under that key and encrypts the GT element
// to every receiver left after the refinement. The result is a message map:
//
//   "CT"                 -> base64 of the symmetric ciphertext (AES: the DER
//                           form of GCM nonce, ciphertext and tag; SM4: IV and
//                           CBC ciphertext)
//   each refined receiver -> base64 of its 576-byte HIBE ciphertext encoding
//
// The map names no algorithm, parameters or depth: the decrypting party knows
// the symmetric algorithm in advance. Every random value of both operations,
// those drawn by the pairing groups and the HIBE scheme included, comes from
// common::SystemRandom().
#pragma once

#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "common/error.h"
#include "crypto/crypto.h"
#include "crypto/symmetric_key.h"
#include "hibe/hibe.h"

namespace hibe_amd64 {

// The message map: identity string (or "CT") to base64 text. Iterates in byte
// order of the keys.
using HibeMsgMap = std::map<std::string, std::string>;

// The key of the symmetric ciphertext in a message map; no receiver may use it.
inline constexpr std::string_view kCtKey = "CT";

// The message key made from the encoding of a GT element:
//   crypto::AES: AES-256 with all 32 bytes of SHA-256(gtBytes);
//   crypto::SM4: SM4 with the first 16 bytes of SM3(gtBytes).
// Any other type fails with "invalid parameters, unsupported symmetric
// encryption algorithm type : <symKeyType>" (decimal, with its sign).
common::Result<std::unique_ptr<crypto::SymmetricKey>> generateSymKeyFromGtBytes(
    common::ByteView gtBytes, crypto::KeyType symKeyType);

// Encrypts plaintext for receiverIds, whose hierarchies' parameters are
// paramsList (one complete record per receiver, same order). Receivers of one
// hierarchy may share one record; distinct records with equal G2 and G1 fields
// share the cached pairing as well, so e(G2, G1) is computed once per hierarchy.
//
// Checks, in this order; the first that fails is the result:
//   1. empty plaintext: "invalid parameters, plaintext is nil";
//   2. no receivers: "invalid parameters, receiverIds is nil";
//   3. each receiver in list order: the error of ValidateId, then for the
//      identity "CT" (which would overwrite the symmetric ciphertext)
//      "invalid parameters, id: CT is reserved";
//   4. no parameters, or a null record among them: "invalid parameters,
//      paramsList is nil";
//   5. lists of different lengths: "invalid parameters, receiverIds and
//      paramsList do not match, place check them";
//   6. a symKeyType other than crypto::AES and crypto::SM4: the unsupported-type
//      error of generateSymKeyFromGtBytes.
// Later failures: the random source's and the symmetric cipher's errors, the
// refinement's "ID [<id>] is matched, but Params are different, please check
// it", and, for a refined receiver with more levels than its parameters allow,
// hibe::Encrypt's "Cannot encrypt to identity at greater than maximum depth of
// the params".
//
// The records of paramsList are written (points normalised by encoding, the
// Pairing cache filled) without changing their values; no other thread may use
// them during the call.
common::Result<HibeMsgMap> EncryptHibeMsg(common::ByteView plaintext,
                                          std::span<const std::string> receiverIds,
                                          std::span<hibe::Params* const> paramsList,
                                          crypto::KeyType symKeyType);

// Decrypts the message of hibeMsgMap with prvKey, the key of localId under
// hibeParams. Absent arguments are null pointers; an absent map differs from an
// empty one.
//
// Checks, in this order: ValidateId(localId); "invalid parameters, hibeParams is
// nil"; "invalid parameters, prvKey is nil"; "invalid parameters, hibeMsgMap is
// nil"; the unsupported-type error for a symKeyType other than AES and SM4.
//
// The entry read is chosen among the keys other than "CT" that begin with the
// bytes of localId: the key equal to localId; otherwise the level-wise descendant
// with the fewest levels (equal counts in byte order), whose key is derived from
// prvKey one level at a time; otherwise the first string-prefix match in byte
// order (A/BC for A/B), read with prvKey unchanged. No such key: "no
// permission".
//
// Later failures, unchanged: the derivation's depth errors, the base64 decoder's
// "illegal base64 data at input byte <n>", "encryptGt.Unmarshal failed, please
// check it" for an entry that is not a HIBE ciphertext, and the symmetric
// decryption's error (a wrong key with AES: "cipher: message authentication
// failed"). Reads its arguments only.
common::Result<common::Bytes> DecryptHibeMsg(std::string_view localId,
                                             const hibe::Params* hibeParams,
                                             const hibe::PrivateKey* prvKey,
                                             const HibeMsgMap* hibeMsgMap,
                                             crypto::KeyType symKeyType);

}  // namespace hibe_amd64
