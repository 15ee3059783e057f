// PKCS#5 padding of the CBC modes.
#pragma once

#include "common/bytes.h"
#include "common/error.h"

namespace util {

// The data followed by pad bytes of value pad, pad = blockSize − (len mod
// blockSize), from 1 to blockSize: data that already fills whole blocks gets a
// whole block of padding. blockSize must be from 1 to 255, so that pad fits one
// byte; any other value fails.
common::Result<common::Bytes> PKCS5Padding(common::ByteView ciphertext, int blockSize);

// The input without its padding: a prefix of the same storage, one byte shorter
// for every unit of the last byte's value. Only the last byte is examined (a
// last byte 0 removes nothing, and more than a block may be removed). Fails with
// "decrypt failed,please check it" for empty input or a last byte greater than
// the input length.
common::Result<common::ByteView> PKCS5UnPadding(common::ByteView origData);

}  // namespace util
