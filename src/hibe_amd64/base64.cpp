#include "hibe_amd64/base64.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace hibe_amd64 {
namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPad = '=';
constexpr std::uint8_t kInvalid = 0xFF;

// Input bytes per call of the encoder: whole groups, and far below INT_MAX.
constexpr std::size_t kChunkBytes = std::size_t{3} << 20;

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

void Base64EncodeInto(std::span<std::uint8_t> out, common::ByteView data) {
    // EVP_EncodeBlock takes an int count and writes a zero byte after its text.
    // Every group but the last goes straight into out, in chunks of whole
    // groups, each chunk's zero byte landing where the next text begins; the last
    // group (1 to 3 bytes) goes through a small buffer, so nothing is written
    // past out.
    const std::size_t body = data.empty() ? 0 : (data.size() - 1) / 3 * 3;
    std::size_t in = 0;
    std::uint8_t* text = out.data();
    while (in < body) {
        const std::size_t n = std::min(kChunkBytes, body - in);
        EVP_EncodeBlock(text, data.data() + in, static_cast<int>(n));
        in += n;
        text += n / 3 * 4;
    }
    if (in < data.size()) {
        std::array<std::uint8_t, 5> last{};
        EVP_EncodeBlock(last.data(), data.data() + in, static_cast<int>(data.size() - in));
        std::memcpy(text, last.data(), 4);
    }
}

std::string Base64Encode(common::ByteView data) {
    std::string text(Base64EncodedLength(data.size()), '\0');
    Base64EncodeInto(std::span(reinterpret_cast<std::uint8_t*>(text.data()), text.size()), data);
    return text;
}

common::Result<common::Bytes> Base64Decode(std::string_view text) {
    common::Bytes out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t acc = 0;        // the symbols of the current group, 6 bits each
    std::size_t symbols = 0;      // how many the current group holds (0 to 3)
    std::size_t groupStart = 0;   // offset of the group's first symbol

    for (std::size_t pos = 0; pos < text.size(); ++pos) {
        char c = text[pos];
        if (isLineBreak(c)) continue;
        std::uint8_t value = kDecode[static_cast<std::uint8_t>(c)];
        if (value != kInvalid) {
            if (symbols == 0) groupStart = pos;
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
        // the bits left over are dropped, whatever they hold.
        if (symbols == 2) {
            out.push_back(static_cast<std::uint8_t>(acc >> 4));
        } else {
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
