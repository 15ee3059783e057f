#include "hibe_amd64/base64.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hibe_amd64 {
namespace {

common::Bytes bytesOf(std::string_view text) {
    auto view = common::AsBytes(text);
    return common::Bytes(view.begin(), view.end());
}

// Published vectors of the standard encoding.
TEST(Base64Test, EncodesAndDecodesKnownVectors) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},           {"f", "Zg=="},         {"fo", "Zm8="},
        {"foo", "Zm9v"},    {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"\xfb\xff\xbf", "+/+/"},
    };
    for (const auto& [plain, text] : cases) {
        EXPECT_EQ(Base64Encode(common::AsBytes(plain)), text);
        auto decoded = Base64Decode(text);
        ASSERT_TRUE(decoded) << text;
        EXPECT_EQ(*decoded, bytesOf(plain));
    }
}

TEST(Base64Test, RoundTripsEveryByteValue) {
    common::Bytes all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<std::uint8_t>(i));
    for (std::size_t n = 0; n <= all.size(); n += 37) {
        common::Bytes part(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(n));
        auto decoded = Base64Decode(Base64Encode(part));
        ASSERT_TRUE(decoded);
        EXPECT_EQ(*decoded, part);
    }
}

TEST(Base64Test, SkipsCarriageReturnsAndLineFeeds) {
    auto decoded = Base64Decode("\r\nZm9v\nYmE\r=\n");
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, bytesOf("fooba"));
    auto split = Base64Decode("Zg=\r\n=");
    ASSERT_TRUE(split);
    EXPECT_EQ(*split, bytesOf("f"));
}

TEST(Base64Test, RejectsWithOffsetOfFirstOffendingByte) {
    const std::vector<std::pair<std::string, std::size_t>> cases = {
        {"Zm9v YmFy", 4},   // a space is not skipped
        {"Zm9-", 3},        // URL alphabet
        {"Zm9vY", 4},       // incomplete group: its first symbol
        {"Zm9vYmE", 4},     // missing padding
        {"Zg=", 3},         // "==" needed, input ends
        {"Zg=A", 3},        // "==" needed, other byte
        {"Z===", 1},        // padding after one symbol
        {"=Zm9", 0},        // padding first
        {"Zg==Zg==", 4},    // data after padding
        {"Zm8=\nx", 5},     // data after padding and a line break
        {"Zh==", 1},        // non-zero bits left in the last symbol
        {"Zm9=", 2},
        {"\x80", 0},
    };
    for (const auto& [text, offset] : cases) {
        auto decoded = Base64Decode(text);
        ASSERT_FALSE(decoded) << text;
        EXPECT_EQ(decoded.error().Message(),
                  "illegal base64 data at input byte " + std::to_string(offset))
            << text;
    }
}

}  // namespace
}  // namespace hibe_amd64
