#include "hibe_amd64/base64.h"

#include <array>
#include <cstdint>

namespace hibe_amd64 {
namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPad = '=';
constexpr std::uint8_t kInvalid = 0xFF;

constexpr std::array<std::uint8_t, 256> makeDecodeTable() {
    std::array<std::uint8_t, 256> table{};
    table.fill(kInvalid);
    for (std::size_t i = 0; i < kAlphabet.size(); ++i) {
        table[static_cast<std::uint8_t>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
    }
    return table;
}
constexpr std::array<std::uint8_t, 256> kDecode = makeDecodeTable();

bool isLineBreak(char c) { return c == '\r' || c == '\n'; }

// Offset of the first byte at or after `pos` that is not a line break.
std::size_t skipLineBreaks(std::string_view text, std::size_t pos) {
    while (pos < text.size() && isLineBreak(text[pos])) ++pos;
    return pos;
}

std::unexpected<common::Error> illegalAt(std::size_t offset) {
    return common::Fail("illegal base64 data at input byte " + std::to_string(offset));
}

}  // namespace

std::string Base64Encode(common::ByteView data) {
    std::string text((data.size() + 2) / 3 * 4, kPad);
    char* out = text.data();
    const std::uint8_t* in = data.data();
    std::size_t full = data.size() / 3 * 3;
    // Three bytes b0 b1 b2 make four 6-bit symbols of b0·2^16 + b1·2^8 + b2.
    for (std::size_t i = 0; i < full; i += 3, out += 4) {
        std::uint32_t v = std::uint32_t{in[i]} << 16 | std::uint32_t{in[i + 1]} << 8 |
                          std::uint32_t{in[i + 2]};
        out[0] = kAlphabet[v >> 18 & 0x3F];
        out[1] = kAlphabet[v >> 12 & 0x3F];
        out[2] = kAlphabet[v >> 6 & 0x3F];
        out[3] = kAlphabet[v & 0x3F];
    }
    // One or two bytes left: two or three symbols, the rest stays padding.
    std::size_t rest = data.size() - full;
    if (rest != 0) {
        std::uint32_t v = std::uint32_t{in[full]} << 16;
        if (rest == 2) v |= std::uint32_t{in[full + 1]} << 8;
        out[0] = kAlphabet[v >> 18 & 0x3F];
        out[1] = kAlphabet[v >> 12 & 0x3F];
        if (rest == 2) out[2] = kAlphabet[v >> 6 & 0x3F];
    }
    return text;
}

common::Result<common::Bytes> Base64Decode(std::string_view text) {
    common::Bytes out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t acc = 0;        // the symbols of the current group, 6 bits each
    std::size_t symbols = 0;      // how many the current group holds (0 to 3)
    std::size_t groupStart = 0;   // offset of the group's first symbol
    std::size_t lastSymbol = 0;   // offset of the most recent symbol

    for (std::size_t pos = 0; pos < text.size(); ++pos) {
        char c = text[pos];
        if (isLineBreak(c)) continue;
        std::uint8_t value = kDecode[static_cast<std::uint8_t>(c)];
        if (value != kInvalid) {
            if (symbols == 0) groupStart = pos;
            lastSymbol = pos;
            acc = acc << 6 | value;
            if (++symbols == 4) {
                out.push_back(static_cast<std::uint8_t>(acc >> 16));
                out.push_back(static_cast<std::uint8_t>(acc >> 8));
                out.push_back(static_cast<std::uint8_t>(acc));
                acc = 0;
                symbols = 0;
            }
            continue;
        }
        if (c != kPad) return illegalAt(pos);

        // Padding ends the data: two symbols take "==", three take "=".
        if (symbols < 2) return illegalAt(pos);
        if (symbols == 2) {
            std::size_t next = skipLineBreaks(text, pos + 1);
            if (next == text.size()) return illegalAt(next);
            if (text[next] != kPad) return illegalAt(next);
            pos = next;
        }
        // Two symbols carry 12 bits for one byte, three carry 18 bits for two;
        // the bits left over must be zero.
        if (symbols == 2) {
            if ((acc & 0x0F) != 0) return illegalAt(lastSymbol);
            out.push_back(static_cast<std::uint8_t>(acc >> 4));
        } else {
            if ((acc & 0x03) != 0) return illegalAt(lastSymbol);
            out.push_back(static_cast<std::uint8_t>(acc >> 10));
            out.push_back(static_cast<std::uint8_t>(acc >> 2));
        }
        std::size_t next = skipLineBreaks(text, pos + 1);
        if (next != text.size()) return illegalAt(next);
        return out;
    }
    if (symbols != 0) return illegalAt(groupStart);
    return out;
}

}  // namespace hibe_amd64
