#include "crypto/padding.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using crypto_test::FromHex;

struct PadCase {
    std::size_t length;
    int blockSize;
    std::size_t pad;
};

constexpr PadCase kPadCases[] = {
    {0, 16, 16}, {1, 16, 15}, {15, 16, 1}, {16, 16, 16}, {17, 16, 15},
    {0, 1, 1},   {5, 1, 1},   {0, 255, 255}, {254, 255, 1}, {255, 255, 255},
};

TEST(Pkcs5Padding, AppendsPadBytesOfValuePad) {
    for (const PadCase& c : kPadCases) {
        const common::Bytes data(c.length, 0xab);
        auto padded = util::PKCS5Padding(data, c.blockSize);
        ASSERT_TRUE(padded.has_value());
        ASSERT_EQ(padded->size(), c.length + c.pad) << c.length << "/" << c.blockSize;
        EXPECT_TRUE(std::equal(data.begin(), data.end(), padded->begin()));
        for (std::size_t i = c.length; i < padded->size(); ++i) {
            EXPECT_EQ((*padded)[i], c.pad) << c.length << "/" << c.blockSize << " at " << i;
        }
    }
}

TEST(Pkcs5Padding, RejectsBlockSizesOutsideOneByte) {
    for (int blockSize : {0, -1, -16, 256, 1000}) {
        EXPECT_FALSE(util::PKCS5Padding(common::Bytes(3), blockSize).has_value()) << blockSize;
    }
}

TEST(Pkcs5UnPadding, RemovesAsManyBytesAsTheLastByteSays) {
    struct Case {
        const char* input;
        std::size_t kept;
    };
    const Case cases[] = {
        {"10101010101010101010101010101010", 0},  // a whole block of padding
        {"00112233445566778899aabbccddee01", 15},
        {"0011223344556600", 8},                  // last byte 0 removes nothing
        {"aabb03", 0},                            // pad bytes are not compared
        {"aabbccdd03", 2},
        {"01", 0},
    };
    for (const Case& c : cases) {
        const common::Bytes input = FromHex(c.input);
        auto unpadded = util::PKCS5UnPadding(input);
        ASSERT_TRUE(unpadded.has_value()) << c.input;
        EXPECT_EQ(unpadded->size(), c.kept) << c.input;
        EXPECT_EQ(unpadded->data(), input.data()) << "the result is a prefix of the input";
    }
    // More than one block may go, as long as it fits the input.
    common::Bytes long_pad(45, 0);
    long_pad.back() = 20;
    auto unpadded = util::PKCS5UnPadding(long_pad);
    ASSERT_TRUE(unpadded.has_value());
    EXPECT_EQ(unpadded->size(), 25u);
}

TEST(Pkcs5UnPadding, FailsOnEmptyInputOrPadLongerThanInput) {
    for (const char* input : {"", "11111111111111111111111111111111", "02", "aabbff"}) {
        const common::Bytes bytes = FromHex(input);
        auto unpadded = util::PKCS5UnPadding(bytes);
        ASSERT_FALSE(unpadded.has_value()) << input;
        EXPECT_EQ(unpadded.error().Message(), "decrypt failed,please check it");
    }
}

}  // namespace
