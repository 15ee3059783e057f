// Standard base64 (alphabet A-Z, a-z, 0-9, "+", "/"; "=" padding), the text
// form of every value of a message map.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "common/error.h"

namespace hibe_amd64 {

// The length of the padded base64 text of n bytes: 4·⌈n/3⌉.
constexpr std::size_t Base64EncodedLength(std::size_t n) { return (n + 2) / 3 * 4; }

// Writes the padded base64 text of `data`, without line breaks, into `out`,
// which holds exactly Base64EncodedLength(data.size()) bytes. Nothing is written
// outside `out`.
void Base64EncodeInto(std::span<std::uint8_t> out, common::ByteView data);

// The padded base64 text of `data`, without line breaks.
std::string Base64Encode(common::ByteView data);

// Decodes padded standard base64. Carriage-return and line-feed bytes are
// skipped wherever they stand. Bits left over in the last symbol before the
// padding are ignored, as standard decoders do ("Zh==" reads as "Zg=="). Every
// other fault is rejected: a byte outside the alphabet, a missing or misplaced
// "=", anything but line breaks after the padding, each with "illegal base64
// data at input byte N", N being the decimal offset of the first offending byte
// (for an incomplete final group, of its first symbol; for a lone "=" at the
// very end, the length of the input).
common::Result<common::Bytes> Base64Decode(std::string_view text);

}  // namespace hibe_amd64
