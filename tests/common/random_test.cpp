#include <gtest/gtest.h>

#include <vector>

#include "common/random.h"

namespace {

// Hands out fixed bytes in order and records how many were asked for.
class ScriptedRandom final : public common::RandomSource {
public:
    explicit ScriptedRandom(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

    common::Status Fill(std::span<std::uint8_t> out) override {
        if (pos_ + out.size() > bytes_.size()) return common::Fail("out of bytes");
        for (auto& b : out) b = bytes_[pos_++];
        return {};
    }

    std::size_t used() const { return pos_; }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

TEST(RandomBelowTest, ClearsTopBitsAndRedrawsUntilBelowBound) {
    // n = 300: n - 1 = 299 needs 9 bits, two bytes, top byte masked to 1 bit.
    // 0xff 0xff -> 0x01ff = 511 >= 300, redraw; 0x01 0x00 -> 256 < 300.
    ScriptedRandom rand({0xff, 0xff, 0x01, 0x00});
    auto got = common::RandomBelow(rand, 300);
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, 256);
    EXPECT_EQ(rand.used(), 4u);
}

TEST(RandomBelowTest, ZeroCanBeDrawn) {
    ScriptedRandom rand({0x00});
    auto got = common::RandomBelow(rand, 200);
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, 0);
}

TEST(RandomBelowTest, PassesTheSourceErrorOn) {
    ScriptedRandom rand({});
    auto got = common::RandomBelow(rand, 1000);
    ASSERT_FALSE(got);
    EXPECT_EQ(got.error().Message(), "out of bytes");
}

TEST(RandomBelowTest, SystemSourceStaysBelowBound) {
    mpz_class n("21888242871839275222246405745257275088548364400416034343698204186575808495617");
    for (int i = 0; i < 50; ++i) {
        auto got = common::RandomBelow(common::SystemRandom(), n);
        ASSERT_TRUE(got);
        EXPECT_GE(*got, 0);
        EXPECT_LT(*got, n);
    }
}

TEST(ErrorTest, CopiesShareIdentityAndNewErrorsDoNot) {
    common::Error a("same text");
    common::Error copy = a;
    common::Error b("same text");
    EXPECT_TRUE(a.SameAs(copy));
    EXPECT_FALSE(a.SameAs(b));
    EXPECT_EQ(a.Message(), b.Message());
}

}  // namespace
