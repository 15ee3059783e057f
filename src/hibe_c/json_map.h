// The JSON form of the message map at the library boundary.
//
// Written form: one object, no whitespace, members in ascending order of their
// keys' raw bytes (unsigned), keys and values as JSON strings escaped byte by
// byte (see EscapeJsonString). Read form: any one JSON text; an object gives the
// map, anything else no map.
#pragma once

#include <climits>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "common/error.h"
#include "hibe_amd64/hibe_msg.h"

namespace hibe_c {

// The message map of the message layer: identity strings and "CT" to base64 texts.
using HibeMsgMap = hibe_amd64::HibeMsgMap;

// text as a JSON string, the double quotes included. Byte by byte:
//   "  \  -> \"  \\          0x0A 0x0D 0x09 -> \n \r \t
//   other bytes below 0x20, and < > &  -> \u00XX (lowercase hex)
//   other bytes below 0x80 (0x7F included) and valid UTF-8 sequences -> unchanged,
//     except U+2028 and U+2029 -> \u2028 \u2029
//   a byte that begins no valid UTF-8 sequence (stray continuation, truncated,
//     overlong, encoded surrogate, above U+10FFFF) -> \ufffd; the next byte is
//     then examined on its own.
std::string EscapeJsonString(std::string_view text);

// The object as described above.
std::string WriteJsonMap(const HibeMsgMap& map);

// The length of the object that WriteJsonMap writes for a sealed message of
// this shape, known before the message is encrypted.
std::size_t JsonMapLength(const hibe_amd64::MapShape& shape);

// The longest map text that DecryptHibeMsg can take: its count is a C int.
inline constexpr std::size_t kMaxJsonMapLength = INT_MAX;

// Fails with "invalid parameters, the message map would exceed 2147483647
// bytes" when the object for a sealed message of this shape would be longer
// than kMaxJsonMapLength: such a map could never be decrypted.
common::Status CheckJsonMapLength(const hibe_amd64::MapShape& shape);

// The object of hibe_amd64::ToHibeMsgMap(sealed), byte for byte, written
// straight into one buffer of its exact length: the base64 texts are encoded in
// place, so a large message's text exists once.
common::Bytes WriteJsonMap(const hibe_amd64::SealedMessage& sealed);

// "null" for an absent map, otherwise the object.
std::string WriteJsonMap(const std::optional<HibeMsgMap>& map);

// The map held by one JSON text (whitespace around it allowed), or no map when
// the text is not valid JSON or its top-level value is not an object. A later
// duplicate key wins; a member whose value is not a string maps to the empty
// text. Unpaired surrogate escapes and each byte of a string that is not valid
// UTF-8 become U+FFFD. Never throws on any input.
std::optional<HibeMsgMap> ReadJsonMap(std::string_view text);

}  // namespace hibe_c
