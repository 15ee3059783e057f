// The written form of the message map: exact to the byte.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "hibe_amd64/utf8.h"
#include "hibe_c/json_map.h"

namespace hibe_c {

namespace {

using hibe_amd64::Utf8SequenceLength;

// U+FFFD REPLACEMENT CHARACTER as a JSON escape.
constexpr std::string_view kReplacementEscape = "\\ufffd";

void AppendHexEscape(std::string& out, std::uint8_t byte) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\u00";
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
}

}  // namespace

std::string EscapeJsonString(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    std::size_t pos = 0;
    while (pos < text.size()) {
        const char c = text[pos];
        const auto byte = static_cast<std::uint8_t>(c);
        if (byte < 0x80) {
            switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '<':
            case '>':
            case '&': AppendHexEscape(out, byte); break;
            default:
                if (byte < 0x20) {
                    AppendHexEscape(out, byte);
                } else {
                    out += c;  // 0x7F included
                }
            }
            ++pos;
            continue;
        }
        const std::size_t n = Utf8SequenceLength(text, pos);
        if (n == 0) {
            out += kReplacementEscape;
            ++pos;
            continue;
        }
        // U+2028 LINE SEPARATOR and U+2029 PARAGRAPH SEPARATOR: E2 80 A8 / E2 80 A9.
        const std::string_view sequence = text.substr(pos, n);
        if (sequence == "\xE2\x80\xA8") {
            out += "\\u2028";
        } else if (sequence == "\xE2\x80\xA9") {
            out += "\\u2029";
        } else {
            out += sequence;
        }
        pos += n;
    }
    out += '"';
    return out;
}

std::string WriteJsonMap(const std::optional<HibeMsgMap>& map) {
    return map ? WriteJsonMap(*map) : std::string("null");
}

std::string WriteJsonMap(const HibeMsgMap& map) {
    // std::map on std::string keeps its keys in ascending order of their bytes
    // taken as unsigned (char_traits<char> compares as unsigned char), a prefix
    // first: the member order of the written form.
    std::string out = "{";
    for (const auto& [key, value] : map) {
        if (out.size() > 1) out += ',';
        out += EscapeJsonString(key);
        out += ':';
        out += EscapeJsonString(value);
    }
    out += '}';
    return out;
}

}  // namespace hibe_c
