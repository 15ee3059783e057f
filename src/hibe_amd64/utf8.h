// UTF-8 validity as the JSON form of the message map understands it.
//
// A valid sequence encodes one code point of U+0080..U+10FFFF other than the
// surrogates U+D800..U+DFFF, in its shortest form. Bytes below 0x80 stand for
// themselves.
#pragma once

#include <cstddef>
#include <string_view>

namespace hibe_amd64 {

// The length (2 to 4) of the valid UTF-8 sequence that starts text at pos, or 0
// when the byte at pos (0x80 or above) begins none: a continuation byte, a lead
// byte C0, C1 or F5..FF, a sequence cut short, an overlong form, a surrogate, or
// a code point above U+10FFFF. pos < text.size().
std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos);

// Whether every byte of text is below 0x80 or part of a valid sequence.
bool IsValidUtf8(std::string_view text);

}  // namespace hibe_amd64
