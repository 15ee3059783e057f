#include "hibe_amd64/base64.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace hibe_amd64 {
namespace {

common::Bytes bytesOf(std::string_view text) {
    auto view = common::AsBytes(text);
    return common::Bytes(view.begin(), view.end());
}

// The plain encoder, symbol by symbol: the reference for the library's encoder.
std::string referenceEncode(common::ByteView data) {
    static constexpr std::string_view alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < data.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, data.size() - i);
        std::uint32_t v = std::uint32_t{data[i]} << 16;
        if (n > 1) v |= std::uint32_t{data[i + 1]} << 8;
        if (n > 2) v |= data[i + 2];
        for (std::size_t k = 0; k < 4; ++k) {
            text += k <= n ? alphabet[v >> (18 - 6 * k) & 0x3F] : '=';
        }
    }
    return text;
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

// Every length up to a few groups past the encoder's chunk, on random bytes and
// on runs of 0x00 and 0xFF; into a buffer fenced by guard bytes, which stay.
TEST(Base64Test, EncoderMatchesReferenceAndWritesOnlyItsText) {
    std::mt19937 rng(7);
    common::Bytes data((std::size_t{3} << 20) + 7);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 64; ++n) lengths.push_back(n);
    for (std::size_t n : {(std::size_t{3} << 20) - 1, std::size_t{3} << 20, (std::size_t{3} << 20) + 1,
                          (std::size_t{3} << 20) + 2, (std::size_t{3} << 20) + 3, data.size()}) {
        lengths.push_back(n);
    }
    for (std::uint8_t fill : {0x00, 0xFF, 0x5A}) {
        for (std::size_t n : lengths) {
            common::Bytes input(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
            if (fill != 0x5A) std::fill(input.begin(), input.end(), fill);
            const std::string want = referenceEncode(input);
            ASSERT_EQ(Base64EncodedLength(n), want.size());
            EXPECT_EQ(Base64Encode(input), want) << n;

            common::Bytes fenced(want.size() + 2, 0xEE);
            Base64EncodeInto(std::span(fenced).subspan(1, want.size()), input);
            EXPECT_EQ(fenced.front(), 0xEE);
            EXPECT_EQ(fenced.back(), 0xEE) << n;
            EXPECT_EQ(common::AsText(std::span(fenced).subspan(1, want.size())), want) << n;
        }
    }
}

// Bits left over in the last symbol before the padding are dropped, as other
// decoders drop them.
TEST(Base64Test, IgnoresLeftoverBitsOfTheLastSymbol) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Zh==", "f"}, {"Zv==", "f"}, {"Zm9=", "fo"}, {"Zm/=", "fo"}, {"Zm9vYmF=", "fooba"},
        {"Zh=\r\n=", "f"},
    };
    for (const auto& [text, plain] : cases) {
        auto decoded = Base64Decode(text);
        ASSERT_TRUE(decoded) << text;
        EXPECT_EQ(*decoded, bytesOf(plain)) << text;
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
