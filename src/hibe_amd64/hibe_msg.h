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

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/bytes.h"
#include "common/error.h"
#include "crypto/crypto.h"
#include "crypto/symmetric_key.h"
#include "hibe/scheme.h"

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

// Length of the base64 text of a receiver's entry: its 576-byte HIBE ciphertext.
inline constexpr std::size_t kReceiverTextLength = 768;

// The length of the symmetric ciphertext of a plaintextLength-byte message:
//   crypto::AES: the DER form of nonce (12 bytes), ciphertext and tag (16 bytes);
//   crypto::SM4: the IV (16 bytes) and the padded ciphertext (whole blocks of 16
//   bytes, at least one byte of padding).
// symKeyType is crypto::AES or crypto::SM4.
std::size_t SymCiphertextLength(std::size_t plaintextLength, crypto::KeyType symKeyType);

// What a map will hold, known once the checks have passed and before any work:
// the length of the "CT" text and the refined receivers (distinct identity
// strings, none "CT"), whose texts are kReceiverTextLength long each.
struct MapShape {
    std::size_t ctTextLength;
    std::span<const std::string> receiverIds;
};

// A check of the map to come, made by the caller of SealHibeMsg before any work;
// its error ends the call.
using MapCheck = std::function<common::Status(const MapShape&)>;

// An encrypted message before it is written as a map: the symmetric ciphertext
// (the value of "CT" before base64) and, in refined order, each refined
// receiver's identity string with its HIBE ciphertext encoding (576 bytes).
// Receivers' identity strings are distinct and none is "CT".
struct SealedMessage {
    common::Bytes symCiphertext;
    std::vector<std::pair<std::string, common::Bytes>> receivers;
};

// The map of a sealed message: "CT" and every receiver, each as base64.
HibeMsgMap ToHibeMsgMap(const SealedMessage& sealed);

// Encrypts plaintext for receiverIds, whose hierarchies' parameters are
// paramsList (one complete record per receiver, same order). Receivers of one
// hierarchy may share one record; distinct records with equal G2 and G1 fields
// share the cached pairing as well, so e(G2, G1) is computed once per hierarchy.
//
// Checks, in this order; the first that fails is the result:
//   1. empty plaintext: "invalid parameters, plaintext is nil";
//   2. no receivers: "invalid parameters, receiverIds is nil";
//   3. each receiver in list order: the error of ValidateId; then, for an
//      identity string that is not valid UTF-8 (utf8.h; the JSON form could not
//      write it as it is), "invalid parameters, id: <id> is not valid UTF-8";
//      then for the identity "CT" (which would overwrite the symmetric
//      ciphertext) "invalid parameters, id: CT is reserved";
//   4. no parameters, or a null record among them: "invalid parameters,
//      paramsList is nil";
//   5. lists of different lengths: "invalid parameters, receiverIds and
//      paramsList do not match, place check them";
//   6. a symKeyType other than crypto::AES and crypto::SM4: the unsupported-type
//      error of generateSymKeyFromGtBytes;
//   7. each receiver in list order: with more levels than its parameters have
//      (counted before any level is hashed), hibe::Encrypt's "Cannot encrypt to
//      identity at greater than maximum depth of the params"; with parameters
//      holding an identity element (which would send the message key in the
//      clear), "invalid parameters, params of id: <id> hold an identity
//      element";
//   8. the refinement's "ID [<id>] is matched, but Params are different, please
//      check it".
// Later failures: the random source's and the symmetric cipher's errors, and
// the identity hash's "failed to hash the identity" (hibeutils.h).
//
// The records of paramsList are written (points normalised by encoding, the
// Pairing cache filled) without changing their values; no other thread may use
// them during the call.
common::Result<HibeMsgMap> EncryptHibeMsg(common::ByteView plaintext,
                                          std::span<const std::string> receiverIds,
                                          std::span<hibe::Params* const> paramsList,
                                          crypto::KeyType symKeyType);

// The same message as EncryptHibeMsg, with the same checks in the same order,
// before it is put into a map. When owner is given, it holds the bytes that
// plaintext views and is released as soon as they are encrypted, so a large
// message is not held twice. check, when given, runs after every check above and
// before any work.
common::Result<SealedMessage> SealHibeMsg(common::ByteView plaintext, common::Bytes* owner,
                                          std::span<const std::string> receiverIds,
                                          std::span<hibe::Params* const> paramsList,
                                          crypto::KeyType symKeyType, const MapCheck& check);

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
// An entry deeper than hibeParams is refused before its levels are hashed, with
// the error the first failing derivation step would give. Later failures,
// unchanged: the identity hash's "failed to hash the identity" (hibeutils.h),
// the derivation's depth errors, the base64 decoder's
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
