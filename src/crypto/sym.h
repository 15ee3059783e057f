// The symmetric key factory.
#pragma once

#include <memory>

#include "common/bytes.h"
#include "common/error.h"
#include "crypto/crypto.h"
#include "crypto/symmetric_key.h"

namespace sym {

// Creates the two key-length errors of the factory; last step of the start-up,
// which never runs it on two threads at once. A call after one that finished
// does nothing; a call after one that a fork cut off makes them again.
void init();

// A new key of type keyType holding key (moved in, not copied: the key's Bytes
// view the very storage passed here).
//   crypto::AES: key of 16, 24 or 32 bytes (AES-128, -192, -256), an aes::AESKey;
//                otherwise "aes key len must be 128bit，192bit，256bit".
//   crypto::SM4: key of 16 bytes, an sm4::SM4Key; otherwise
//                "sm4 key len must be 128bit".
//   any other:   "unsupport symmetric algorithm", whatever the length.
// Each length failure returns the one error value made by init(), so all such
// failures are SameAs one another.
common::Result<std::unique_ptr<crypto::SymmetricKey>> GenerateSymKey(crypto::KeyType keyType,
                                                                     common::Bytes key);

}  // namespace sym
