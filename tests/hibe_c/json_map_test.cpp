#include "hibe_c/json_map.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <climits>
#include <random>
#include <string>
#include <vector>

#include "hibe_amd64/base64.h"
#include "hibe_amd64/utf8.h"

namespace {

using hibe_c::EscapeJsonString;
using hibe_c::HibeMsgMap;
using hibe_c::ReadJsonMap;
using hibe_c::WriteJsonMap;

std::string S(std::string_view s) { return std::string(s); }

// UTF-8 bytes of one code point.
std::string Utf8(char32_t cp) {
    std::string out;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
}

TEST(EscapeJsonString, Table) {
    const struct {
        std::string in;
        std::string want;  // without the surrounding quotes
    } cases[] = {
        {"", ""},
        {"A/B#c d~", "A/B#c d~"},
        {"\"\\", "\\\"\\\\"},
        {"\n\r\t", "\\n\\r\\t"},
        {S(std::string_view("\x00\x01\x08\x0c\x1f", 5)), "\\u0000\\u0001\\u0008\\u000c\\u001f"},
        {"<>&", "\\u003c\\u003e\\u0026"},
        {"/'\x7f", "/'\x7f"},
        // Valid sequences of two, three and four bytes; U+FFFD itself; U+10FFFF.
        {"\xC2\x80\xC3\xA9\xDF\xBF", "\xC2\x80\xC3\xA9\xDF\xBF"},
        {"\xE0\xA0\x80\xE4\xB8\xAD\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBD",
         "\xE0\xA0\x80\xE4\xB8\xAD\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBD"},
        {"\xF0\x90\x80\x80\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", "\xF0\x90\x80\x80\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
        // Line and paragraph separators are escaped; their neighbours are not.
        {"\xE2\x80\xA7\xE2\x80\xA8\xE2\x80\xA9\xE2\x80\xAA", "\xE2\x80\xA7\\u2028\\u2029\xE2\x80\xAA"},
        // One \ufffd per byte that begins no valid sequence.
        {"\x80", "\\ufffd"},                                     // stray continuation
        {"a\xBF" "b", "a\\ufffdb"},                             // stray continuation
        {"\xE2\x82" "A", "\\ufffd\\ufffdA"},                    // truncated, then ASCII
        {"\xF0\x9F\x98", "\\ufffd\\ufffd\\ufffd"},              // truncated at the end
        {"\xC3", "\\ufffd"},                                     // lead byte at the end
        {"\xC0\x80\xC1\xBF", "\\ufffd\\ufffd\\ufffd\\ufffd"},    // overlong two-byte
        {"\xE0\x80\x80", "\\ufffd\\ufffd\\ufffd"},              // overlong three-byte
        {"\xF0\x8F\xBF\xBF", "\\ufffd\\ufffd\\ufffd\\ufffd"},   // overlong four-byte
        {"\xED\xA0\x80\xED\xBF\xBF", "\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd"},  // surrogates
        {"\xF4\x90\x80\x80", "\\ufffd\\ufffd\\ufffd\\ufffd"},   // above U+10FFFF
        {"\xF5\xFE\xFF", "\\ufffd\\ufffd\\ufffd"},              // never a lead byte
        {"\xC3<", "\\ufffd\\u003c"},                            // the next byte on its own
        {"\xE4\xB8\xC3\xA9", "\\ufffd\\ufffd\xC3\xA9"},
        // The identity of the edge case: less-than, double quote, 0x01, 0xFF.
        {"<\"\x01\xFF", "\\u003c\\\"\\u0001\\ufffd"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeJsonString(c.in), "\"" + c.want + "\"") << "input of " << c.in.size() << " bytes";
    }
}

TEST(WriteJsonMap, AbsentAndEmpty) {
    EXPECT_EQ(WriteJsonMap(std::nullopt), "null");
    EXPECT_EQ(WriteJsonMap(HibeMsgMap{}), "{}");
}

TEST(WriteJsonMap, MembersInBytewiseKeyOrder) {
    HibeMsgMap map = {{"a/b", "Yg=="}, {"CT", "Q1Q="}, {"A/B", "QQ=="}};
    EXPECT_EQ(WriteJsonMap(map), R"({"A/B":"QQ==","CT":"Q1Q=","a/b":"Yg=="})");

    // A prefix first; bytes above 0x7F after ASCII (unsigned order), even where
    // their escaped forms would sort differently.
    HibeMsgMap bytes = {{"\xC3\xA9", "4"}, {"z", "3"}, {"A/B", "2"}, {"A", "1"}, {"\x01", "0"}, {"\xFF", "5"}};
    EXPECT_EQ(WriteJsonMap(bytes),
              "{\"\\u0001\":\"0\",\"A\":\"1\",\"A/B\":\"2\",\"z\":\"3\",\"\xC3\xA9\":\"4\",\"\\ufffd\":\"5\"}");
}

TEST(WriteJsonMap, EscapesKeysAndValues) {
    HibeMsgMap map = {{"<\"\x01\xFF", "v&"}};
    EXPECT_EQ(WriteJsonMap(map), "{\"\\u003c\\\"\\u0001\\ufffd\":\"v\\u0026\"}");
}

TEST(ReadJsonMap, TextsThatGiveNoMap) {
    const std::string cases[] = {
        "null", "[]", "", " ", "not json", "\"CT\"", "12", "true", "false", "[{\"CT\":\"x\"}]",
        "{} {}", "{}x", "{\"a\":\"b\",}", "{\"a\"}", "{\"a\":\"b\"", "{'a':'b'}", "{\"a\":\"b\"}//",
        "\xEF\xBB\xBF{}",            // a byte order mark is not whitespace
        "\v{}", "{\xFF}",            // bytes outside strings are judged by the grammar
        "{\"a\":\"x\ny\"}",          // raw control byte inside a string
        "{\"a\":\"\\x\"}",           // unknown escape
        "{\"a\":\"\\u12G4\"}",       // malformed \u escape
        "{\"a\":\"\\",               // escape at the end
        "{\"a\":01}", "{\"a\":1.}", "{\"a\":.5}", "{\"a\":1e}", "{\"a\":+1}", "{\"a\":-}",
        "{\"a\":1e5e5}", "{\"a\":--1}", "{\"a\":1-2}", "{\"a\":0x10}", "{\"a\":1 2}", "1e999",
        "{1:\"a\"}", "{\"a\":nul1}",
        std::string("{\"a\":\"b\"}\0", 10),  // the parser would stop at a zero byte
        std::string("{}\0garbage", 10),
        std::string("{\"a\":\"\0\"}", 9),
    };
    for (const auto& text : cases) EXPECT_EQ(ReadJsonMap(text), std::nullopt) << text;
}

TEST(ReadJsonMap, ObjectsGiveMaps) {
    const struct {
        std::string text;
        HibeMsgMap want;
    } cases[] = {
        {"{}", {}},
        {" \t\r\n{\"A/B\":\"QQ==\",\"CT\":\"Q1Q=\"}\n ", {{"A/B", "QQ=="}, {"CT", "Q1Q="}}},
        {"{ \"a\" : \"b\" }", {{"a", "b"}}},
        // Non-string values give the empty text; nested members do not leak out.
        {"{\"CT\":5}", {{"CT", ""}}},
        {R"({"CT":1e999,"a":-1E-999,"b":123456789012345678901234567890,"c":-0.0e+0})",
         {{"CT", ""}, {"a", ""}, {"b", ""}, {"c", ""}}},
        {R"({"n":[0,-1,2.5e3],"k":"12e5"})", {{"n", ""}, {"k", "12e5"}}},
        {R"({"a":true,"b":false,"c":null,"d":-1.5e3,"e":[1,"x"],"f":{"CT":"inner"}})",
         {{"a", ""}, {"b", ""}, {"c", ""}, {"d", ""}, {"e", ""}, {"f", ""}}},
        {R"({"f":{"g":{"h":"x"}},"CT":"y"})", {{"f", ""}, {"CT", "y"}}},
        // The later of two equal keys wins, whatever the value.
        {R"({"a":"1","a":"2"})", {{"a", "2"}}},
        {R"({"a":"1","b":"x","a":3})", {{"a", ""}, {"b", "x"}}},
        {R"({"a":7,"a":"8"})", {{"a", "8"}}},
        // Standard escapes.
        {R"({"\"\\\/\b\f\n\r\t":"\u003c\u00e9\u4E2D"})",
         {{"\"\\/\b\f\n\r\t", "<\xC3\xA9\xE4\xB8\xAD"}}},
        {R"({"z\u0000":""})", {{std::string("z\0", 2), ""}}},
        // Surrogate pairs decode to one character; unpaired halves to U+FFFD.
        {R"({"k":"\ud83d\ude00"})", {{"k", "\xF0\x9F\x98\x80"}}},
        {R"({"k":"\uD83D\uDE00"})", {{"k", "\xF0\x9F\x98\x80"}}},
        {R"({"k":"\ud83d"})", {{"k", "\xEF\xBF\xBD"}}},
        {R"({"k":"\ude00x"})", {{"k", "\xEF\xBF\xBDx"}}},
        {R"({"k":"\ud83dA"})", {{"k", "\xEF\xBF\xBD" "A"}}},
        {R"({"k":"\ud83d\u0041"})", {{"k", "\xEF\xBF\xBD" "A"}}},
        {R"({"k":"\ud800\ud800\udc00"})", {{"k", "\xEF\xBF\xBD\xF0\x90\x80\x80"}}},
        {R"({"k":"\ude00\ud83d"})", {{"k", "\xEF\xBF\xBD\xEF\xBF\xBD"}}},
        {R"({"\\ud83d":"x"})", {{"\\ud83d", "x"}}},  // an escaped backslash, no escape
        // Each byte of a string that is not valid UTF-8 becomes U+FFFD.
        {"{\"\xFF\":\"a\xC0\x80\"}", {{"\xEF\xBF\xBD", "a\xEF\xBF\xBD\xEF\xBF\xBD"}}},
        {"{\"\xE2\x82\":\"\xED\xA0\x80\"}",
         {{"\xEF\xBF\xBD\xEF\xBF\xBD", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}}},
        {"{\"a\\\"\xFF\":\"\xC3\xA9\"}", {{"a\"\xEF\xBF\xBD", "\xC3\xA9"}}},
    };
    for (const auto& c : cases) EXPECT_EQ(ReadJsonMap(c.text), c.want) << c.text;
}

TEST(ReadJsonMap, DeeplyNestedValueIsSkipped) {
    const std::size_t depth = 100000;
    std::string text = "{\"a\":" + std::string(depth, '[') + std::string(depth, ']') + ",\"CT\":\"x\"}";
    EXPECT_EQ(ReadJsonMap(text), (HibeMsgMap{{"a", ""}, {"CT", "x"}}));
}

TEST(JsonMapRoundTrip, ReadingTheWrittenFormGivesTheMap) {
    HibeMsgMap map = {
        {"CT", "Q1Q="},
        {"A/B", "QQ=="},
        {"a/b", ""},
        {"<\"\x01\\/&>\n\r\t\x7f", "\xE2\x80\xA8\xE2\x80\xA9"},
        {"\xE4\xB8\xAD/\xF0\x9F\x98\x80", "\x1f"},
    };
    EXPECT_EQ(ReadJsonMap(WriteJsonMap(map)), map);

    // Invalid UTF-8 comes back as U+FFFD, one per byte.
    HibeMsgMap invalid = {{"<\"\x01\xFF", "x\xC0\x80"}};
    EXPECT_EQ(ReadJsonMap(WriteJsonMap(invalid)),
              (HibeMsgMap{{"<\"\x01\xEF\xBF\xBD", "x\xEF\xBF\xBD\xEF\xBF\xBD"}}));
}

TEST(JsonMapRoundTrip, RandomTextsOfValidUtf8) {
    std::mt19937 rng(20240611);
    // Code points drawn from every length class, favouring the escaped ranges.
    auto codePoint = [&]() -> char32_t {
        switch (rng() % 5) {
        case 0: return rng() % 0x80;
        case 1: return "\"\\<>&\x01\x1f\x7f"[rng() % 8];
        case 2: return 0x80 + rng() % (0x800 - 0x80);
        case 3: {
            char32_t cp = 0x800 + rng() % (0x10000 - 0x800);
            if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0x2028 + (cp & 1);
            return cp;
        }
        default: return 0x10000 + rng() % (0x110000 - 0x10000);
        }
    };
    auto text = [&]() {
        std::string s;
        for (std::size_t n = rng() % 12; n > 0; --n) s += Utf8(codePoint());
        return s;
    };
    for (int round = 0; round < 300; ++round) {
        HibeMsgMap map;
        for (std::size_t n = rng() % 6; n > 0; --n) map[text()] = text();
        const std::string json = WriteJsonMap(map);
        EXPECT_EQ(json.find_first_of("\n\r\t"), std::string::npos) << json;
        EXPECT_EQ(ReadJsonMap(json), map) << json;
    }
}

TEST(JsonMapRoundTrip, WrittenFormIsStrictJsonForAnyBytes) {
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        HibeMsgMap map;
        for (std::size_t n = rng() % 6; n > 0; --n) {
            std::string key, value;
            for (std::size_t k = rng() % 10; k > 0; --k) key += static_cast<char>(rng());
            for (std::size_t k = rng() % 10; k > 0; --k) value += static_cast<char>(rng());
            map[key] = value;
        }
        const std::string json = WriteJsonMap(map);
        EXPECT_TRUE(nlohmann::json::accept(json)) << json;
        auto read = ReadJsonMap(json);
        ASSERT_TRUE(read) << json;
        EXPECT_LE(read->size(), map.size());  // distinct invalid keys may meet as U+FFFD
    }
}

// What the message layer counts as valid UTF-8 is exactly what the writer
// writes unchanged: random texts over the bytes that matter at the edges of
// the sequence rules.
TEST(EscapeJsonString, ReplacesExactlyTheTextsThatAreNotValidUtf8) {
    const std::uint8_t edges[] = {0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC2,
                                  0xDF, 0xE0, 0xE2, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
    std::mt19937 rng(11);
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        for (std::size_t n = rng() % 6; n > 0; --n) text += static_cast<char>(edges[rng() % std::size(edges)]);
        EXPECT_EQ(hibe_amd64::IsValidUtf8(text), EscapeJsonString(text).find("\\ufffd") == std::string::npos)
            << ::testing::PrintToString(text);
    }
}

// The object written straight from a sealed message is the object of its map,
// byte for byte, and as long as its shape says: keys that need escaping, keys
// sorting before and after "CT", equal keys (the last one stays), ciphertexts of
// every length modulo 3.
TEST(WriteSealedMessage, MatchesTheMapFormAndItsPredictedLength) {
    std::mt19937 rng(5);
    const auto randomBytes = [&](std::size_t n) {
        common::Bytes b(n);
        for (auto& x : b) x = static_cast<std::uint8_t>(rng());
        return b;
    };
    const std::vector<std::vector<std::string>> receiverLists = {
        {},
        {"A/B"},
        {"a/b", "A/B", "C", "CU", "B\x7f"},
        {"x<\"\x01\n\xe2\x80\xa8", "\xf0\x9f\x98\x80/\xc3\xa9"},
        {"A", "B", "A"},
    };
    for (const auto& ids : receiverLists) {
        for (std::size_t ctLength : {0, 1, 2, 3, 46, 47, 48, 1000}) {
            hibe_amd64::SealedMessage sealed;
            sealed.symCiphertext = randomBytes(ctLength);
            for (const std::string& id : ids) sealed.receivers.emplace_back(id, randomBytes(576));
            const common::Bytes written = hibe_c::WriteJsonMap(sealed);
            EXPECT_EQ(common::AsText(written), WriteJsonMap(hibe_amd64::ToHibeMsgMap(sealed)))
                << ids.size() << " " << ctLength;
            if (ids.size() == 3) continue;  // the shape holds distinct receivers only
            const hibe_amd64::MapShape shape{hibe_amd64::Base64EncodedLength(ctLength), ids};
            EXPECT_EQ(hibe_c::JsonMapLength(shape), written.size());
        }
    }
}

// The longest map is INT_MAX bytes: {"CT":"<text>","A":"<768>"} is 784 bytes
// around its "CT" text.
TEST(WriteSealedMessage, MapLengthLimitIsTheIntCount) {
    const std::vector<std::string> ids = {"A"};
    const std::size_t around = hibe_c::JsonMapLength({0, ids});
    ASSERT_EQ(around, 784u);
    const std::size_t longest = std::size_t{INT_MAX} - around;
    EXPECT_EQ(hibe_c::JsonMapLength({longest, ids}), std::size_t{INT_MAX});
    EXPECT_TRUE(hibe_c::CheckJsonMapLength({longest, ids}));
    auto over = hibe_c::CheckJsonMapLength({longest + 1, ids});
    ASSERT_FALSE(over);
    EXPECT_EQ(over.error().Message(), "invalid parameters, the message map would exceed 2147483647 bytes");
    // Escaped receiver keys count with their escapes.
    const std::vector<std::string> escaped = {"<"};
    EXPECT_FALSE(hibe_c::CheckJsonMapLength({longest, escaped}));
}

}  // namespace
