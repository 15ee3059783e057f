#include "hibe_amd64/utf8.h"

#include <cstdint>

namespace hibe_amd64 {

// Valid sequences, by lead byte:
//   C2..DF 80..BF
//   E0 A0..BF 80..BF | E1..EC 80..BF 80..BF | ED 80..9F 80..BF | EE..EF 80..BF 80..BF
//   F0 90..BF 80..BF 80..BF | F1..F3 80..BF 80..BF 80..BF | F4 80..8F 80..BF 80..BF
std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[pos + i]); };
    const std::uint8_t lead = byte(0);
    std::size_t length;
    std::uint8_t low = 0x80, high = 0xBF;  // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // below: overlong
        if (lead == 0xED) high = 0x9F;  // above: surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // below: overlong
        if (lead == 0xF4) high = 0x8F;  // above: beyond U+10FFFF
    } else {
        return 0;  // continuation byte, overlong lead C0/C1, or F5..FF
    }
    if (text.size() - pos < length) return 0;
    if (byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    }
    return length;
}

bool IsValidUtf8(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (static_cast<std::uint8_t>(text[pos]) < 0x80) {
            ++pos;
            continue;
        }
        const std::size_t n = Utf8SequenceLength(text, pos);
        if (n == 0) return false;
        pos += n;
    }
    return true;
}

}  // namespace hibe_amd64
