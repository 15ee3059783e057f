// The checks that callers make before trusting records: the depth bound of
// Setup, identity elements in parameters, and the master key of parameters.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "hibe/scheme.h"
#include "test_support.h"

namespace {

using hibe_test::RecordingRandom;

// The parameter encoding of the greatest depth still fits a C int count; one
// level more does not.
TEST(SetupLimitTest, MaxDepthIsTheLastWhoseEncodingFitsAnIntCount) {
    EXPECT_LE(384 + 64 * hibe::kMaxDepth, std::int64_t{INT_MAX});
    EXPECT_GT(384 + 64 * (hibe::kMaxDepth + 1), std::int64_t{INT_MAX});
}

TEST(SetupLimitTest, DepthAboveTheLimitFailsBeforeAnyDraw) {
    for (std::int64_t l : {hibe::kMaxDepth + 1, std::int64_t{1} << 62, INT64_MAX}) {
        RecordingRandom rand(1);
        auto setup = hibe::Setup(rand, l);
        ASSERT_FALSE(setup) << l;
        EXPECT_EQ(setup.error().Message(),
                  "Cannot set up params of a depth above 33554425: their encoding would exceed "
                  "2147483647 bytes");
        EXPECT_EQ(rand.calls(), 0u);
    }
}

class RecordChecksTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto setup = hibe::Setup(common::SystemRandom(), 2);
        ASSERT_TRUE(setup);
        params = std::move(setup->params);
        master = std::move(setup->masterKey);
    }

    hibe::Params params;
    hibe::MasterKey master;
};

// Each element zeroed in the encoding (the all-zero encoding decodes to the
// identity): G and G1 fill two 64-byte slots, G2, G3 and each H[i] one.
TEST_F(RecordChecksTest, IdentityInAnySlotOfParamsIsFound) {
    EXPECT_FALSE(hibe::HoldsIdentityElement(params));
    const struct {
        const char* name;
        std::size_t slot, slots;
    } cases[] = {{"G", 0, 2}, {"G1", 2, 2}, {"G2", 4, 1}, {"G3", 5, 1}, {"H[0]", 6, 1}, {"H[1]", 7, 1}};
    const common::Bytes encoding = params.Marshal();
    for (const auto& c : cases) {
        common::Bytes zeroed = encoding;
        auto window = hibe::geIndex(zeroed, c.slot, c.slots);
        std::fill(window.begin(), window.end(), 0);
        hibe::Params decoded;
        ASSERT_TRUE(decoded.Unmarshal(zeroed).second) << c.name;
        EXPECT_TRUE(hibe::HoldsIdentityElement(decoded)) << c.name;
    }
}

TEST_F(RecordChecksTest, MasterKeyMatchesOnlyItsOwnParams) {
    EXPECT_TRUE(hibe::MasterKeyMatches(params, master));

    auto other = hibe::Setup(common::SystemRandom(), 2);
    ASSERT_TRUE(other);
    hibe::MasterKey atInfinity;
    ASSERT_TRUE(atInfinity.Key.Unmarshal(common::Bytes(64, 0)));
    hibe::MasterKey twice;
    twice.Key.Add(master.Key, master.Key);
    for (const hibe::MasterKey* wrong : {&other->masterKey, &atInfinity, &twice}) {
        EXPECT_FALSE(hibe::MasterKeyMatches(params, *wrong));
    }
    EXPECT_FALSE(hibe::MasterKeyMatches(other->params, master));
}

}  // namespace
