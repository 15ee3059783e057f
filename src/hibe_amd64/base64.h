// Standard base64 (alphabet A-Z, a-z, 0-9, "+", "/"; "=" padding), the text
// form of every value of a message map.
#pragma once

#include <string>
#include <string_view>

#include "common/bytes.h"
#include "common/error.h"

namespace hibe_amd64 {

// The padded base64 text of `data`, without line breaks.
std::string Base64Encode(common::ByteView data);

// Decodes padded standard base64. Carriage-return and line-feed bytes are
// skipped wherever they stand. The decoder is strict: every other byte outside
// the alphabet, a missing or misplaced "=", anything but line breaks after the
// padding, and non-zero bits left over in the last symbol before the padding are
// rejected with "illegal base64 data at input byte N", N being the decimal offset
// of the first offending byte (for an incomplete final group, of its first
// symbol; for a lone "=" at the very end, the length of the input).
common::Result<common::Bytes> Base64Decode(std::string_view text);

}  // namespace hibe_amd64
