// The read form of the message map: a lenient pre-pass over the text, then the
// strict JSON parser.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>

#include <nlohmann/json.hpp>

#include "hibe_amd64/utf8.h"
#include "hibe_c/json_map.h"

namespace hibe_c {

namespace {

using hibe_amd64::Utf8SequenceLength;

// U+FFFD REPLACEMENT CHARACTER, as UTF-8 bytes and as a JSON escape.
constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";
constexpr std::string_view kReplacementEscape = "\\ufffd";

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The code unit of the escape \uXXXX at text[pos], or nothing when text holds
// no complete such escape there.
std::optional<std::uint32_t> UnicodeEscapeAt(std::string_view text, std::size_t pos) {
    if (text.size() - pos < 6 || text[pos] != '\\' || text[pos + 1] != 'u') return std::nullopt;
    std::uint32_t unit = 0;
    for (std::size_t i = 2; i < 6; ++i) {
        const int digit = HexDigit(text[pos + i]);
        if (digit < 0) return std::nullopt;
        unit = unit << 4 | static_cast<std::uint32_t>(digit);
    }
    return unit;
}

bool IsHighSurrogate(std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(std::uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Whether text is exactly one number of the JSON grammar:
//   -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?
bool IsJsonNumber(std::string_view text) {
    std::size_t pos = 0;
    const auto digits = [&] {
        const std::size_t start = pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos;
        return pos > start;
    };
    if (pos < text.size() && text[pos] == '-') ++pos;
    if (pos < text.size() && text[pos] == '0') {
        ++pos;
    } else if (!digits()) {
        return false;
    }
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        if (!digits()) return false;
    }
    if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
        ++pos;
        if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
        if (!digits()) return false;
    }
    return pos == text.size();
}

bool IsNumberByte(char c) {
    return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// The text with what the strict JSON parser rejects but the map form accepts
// replaced:
// - inside strings, every byte that begins no valid UTF-8 sequence becomes
//   U+FFFD, and every surrogate escape that is not half of a high-low pair
//   becomes \ufffd;
// - outside strings, every number becomes 0: a number value maps to the empty
//   text whatever it is, and the parser would reject one beyond the range of a
//   double (1e999), which is valid JSON.
// Everything else is copied unchanged, so the text stays valid or invalid JSON
// exactly as before; other bytes outside strings are left for the parser.
std::string PrepareForParser(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool inString = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const char c = text[pos];
        const auto byte = static_cast<std::uint8_t>(c);
        if (!inString && (c == '-' || (c >= '0' && c <= '9'))) {
            // The whole run of number bytes: a valid number ends at a byte
            // outside the run, so a run that is no number is invalid JSON and
            // stays as it is for the parser to reject.
            std::size_t end = pos;
            while (end < text.size() && IsNumberByte(text[end])) ++end;
            const std::string_view run = text.substr(pos, end - pos);
            if (IsJsonNumber(run)) {
                out += '0';
            } else {
                out += run;
            }
            pos = end;
        } else if (!inString) {
            inString = c == '"';
            out += c;
            ++pos;
        } else if (c == '"') {
            inString = false;
            out += c;
            ++pos;
        } else if (c == '\\') {
            auto unit = UnicodeEscapeAt(text, pos);
            if (!unit) {
                // A two-character escape (or a malformed one, for the parser
                // to reject); copied whole so that \" does not end the string.
                const std::size_t n = std::min<std::size_t>(2, text.size() - pos);
                out.append(text.substr(pos, n));
                pos += n;
            } else if (IsHighSurrogate(*unit)) {
                auto next = UnicodeEscapeAt(text, pos + 6);
                if (next && IsLowSurrogate(*next)) {
                    out.append(text.substr(pos, 12));
                    pos += 12;
                } else {
                    out += kReplacementEscape;  // what follows is examined on its own
                    pos += 6;
                }
            } else if (IsLowSurrogate(*unit)) {
                out += kReplacementEscape;
                pos += 6;
            } else {
                out.append(text.substr(pos, 6));
                pos += 6;
            }
        } else if (byte >= 0x80) {
            const std::size_t n = Utf8SequenceLength(text, pos);
            if (n == 0) {
                out += kReplacementUtf8;
                ++pos;
            } else {
                out.append(text.substr(pos, n));
                pos += n;
            }
        } else {
            out += c;  // control bytes stay, for the parser to reject
            ++pos;
        }
    }
    return out;
}

// Builds the map from the parser's events without building a document: only
// the members of a top-level object are kept, nested values are skipped.
class MapBuilder final : public nlohmann::json_sax<nlohmann::json> {
public:
    bool null() override { return Value({}); }
    bool boolean(bool) override { return Value({}); }
    bool number_integer(number_integer_t) override { return Value({}); }
    bool number_unsigned(number_unsigned_t) override { return Value({}); }
    bool number_float(number_float_t, const string_t&) override { return Value({}); }
    bool string(string_t& text) override { return Value(std::move(text)); }
    bool binary(binary_t&) override { return Value({}); }

    bool start_object(std::size_t) override {
        if (depth_ == 0) topIsObject_ = true;
        Value({});  // a nested object is a member value that is not a string
        ++depth_;
        return true;
    }
    bool end_object() override {
        --depth_;
        return true;
    }
    bool start_array(std::size_t) override {
        Value({});
        ++depth_;
        return true;
    }
    bool end_array() override {
        --depth_;
        return true;
    }
    bool key(string_t& name) override {
        if (depth_ == 1) key_ = std::move(name);
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

    std::optional<HibeMsgMap> Take() && {
        if (!topIsObject_) return std::nullopt;
        return std::move(map_);
    }

private:
    // A value event: a member of the top-level object when at depth 1 there;
    // the later of two equal keys wins.
    bool Value(std::string text) {
        if (depth_ == 1 && topIsObject_) map_[key_] = std::move(text);
        return true;
    }

    std::size_t depth_ = 0;  // number of open objects and arrays
    bool topIsObject_ = false;
    std::string key_;
    HibeMsgMap map_;
};

}  // namespace

std::optional<HibeMsgMap> ReadJsonMap(std::string_view text) {
    // The parser would skip a leading byte order mark; it is not whitespace, so
    // a text that starts with one is not one JSON text.
    if (text.starts_with("\xEF\xBB\xBF")) return std::nullopt;
    // The parser takes a zero byte for the end of the input. No valid text holds
    // one (inside a string it is a raw control byte), so it ends nothing here.
    if (text.find('\0') != std::string_view::npos) return std::nullopt;

    const std::string sanitized = PrepareForParser(text);
    MapBuilder builder;
    try {
        const bool ok = nlohmann::json::sax_parse(sanitized.data(), sanitized.data() + sanitized.size(),
                                                  &builder, nlohmann::json::input_format_t::json,
                                                  /*strict=*/true, /*ignore_comments=*/false);
        if (!ok) return std::nullopt;
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
    return std::move(builder).Take();
}

}  // namespace hibe_c
