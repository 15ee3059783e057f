#include "hibe_amd64/hibeutils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hibe_amd64 {
namespace {

const std::string kFormatTail = ", format error, only like : \"A/B/C\" can be used";

mpz_class hex(const char* digits) { return mpz_class(digits, 16); }

// SHA-256 of the one-byte strings "A", "B", "C" and of the empty string.
const char* const kDigestA = "559aead08264d5795d3909718cdd05abd49572e84fe55590eef31a88a08fdffd";
const char* const kDigestB = "df7e70e5021544f4834bbee64a9e3789febc4be81470df629cad6ddb03320a5c";
const char* const kDigestC = "6b23c0d5f35d1b11f9b683f0b0a617355deb11277d91ae091d399c655b87940d";
const char* const kDigestEmpty = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

TEST(ValidateIdTest, AcceptsOrRejectsWithWholeIdentityInText) {
    struct Case {
        std::string id;
        std::string error;  // empty: valid
    };
    const std::vector<Case> cases = {
        {"", "invalid parameters, id is nil"},
        {"/A/B", "invalid parameters, id: /A/B" + kFormatTail},
        {"A/B/", "invalid parameters, id: A/B/" + kFormatTail},
        {"A//B", "invalid parameters, id: A//B" + kFormatTail},
        {"/", "invalid parameters, id: /" + kFormatTail},
        {"A/B C/D", "invalid parameters, id: A/B C/D" + kFormatTail},
        {" ", "invalid parameters, id:  " + kFormatTail},
        {"A/B\tC", ""},
        {"A/B/C", ""},
        {"A", ""},
        {"a\n/\xff\x01", ""},
    };
    for (const Case& c : cases) {
        auto status = ValidateId(c.id);
        if (c.error.empty()) {
            EXPECT_TRUE(status) << "[" << c.id << "]";
        } else {
            ASSERT_FALSE(status) << "[" << c.id << "]";
            EXPECT_EQ(status.error().Message(), c.error);
        }
    }
}

TEST(IdStr2HibeIdTest, HashesEachLevelWithSha256) {
    auto got = IdStr2HibeId("A/B/C");
    ASSERT_TRUE(got) << got.error().Message();
    EXPECT_EQ(got->levels, (std::vector<std::string>{"A", "B", "C"}));
    ASSERT_EQ(got->hibeId.size(), 3u);
    EXPECT_EQ(got->hibeId[0], hex(kDigestA));
    EXPECT_EQ(got->hibeId[1], hex(kDigestB));
    EXPECT_EQ(got->hibeId[2], hex(kDigestC));

    // The same level text gives the same entry wherever it stands; case matters.
    auto other = IdStr2HibeId("C/a/A");
    ASSERT_TRUE(other) << other.error().Message();
    EXPECT_EQ(other->hibeId[0], hex(kDigestC));
    EXPECT_EQ(other->hibeId[2], hex(kDigestA));
    EXPECT_NE(other->hibeId[1], hex(kDigestA));
}

TEST(IdStr2HibeIdTest, EmptyLevelsHashTheEmptyString) {
    auto empty = IdStr2HibeId("");
    ASSERT_TRUE(empty) << empty.error().Message();
    EXPECT_EQ(empty->levels, std::vector<std::string>{""});
    ASSERT_EQ(empty->hibeId.size(), 1u);
    EXPECT_EQ(empty->hibeId[0], hex(kDigestEmpty));

    auto doubled = IdStr2HibeId("A//");
    ASSERT_TRUE(doubled) << doubled.error().Message();
    EXPECT_EQ(doubled->levels, (std::vector<std::string>{"A", "", ""}));
    EXPECT_EQ(doubled->hibeId[1], hex(kDigestEmpty));
    EXPECT_EQ(doubled->hibeId[2], hex(kDigestEmpty));
}

TEST(IdStr2HibeIdTest, ListKeepsOrder) {
    std::vector<std::string> ids = {"B", "A/C"};
    auto got = idStrList2HibeIds(ids);
    ASSERT_TRUE(got) << got.error().Message();
    ASSERT_EQ(got->size(), 2u);
    EXPECT_EQ((*got)[0], (HibeId{hex(kDigestB)}));
    EXPECT_EQ((*got)[1], (HibeId{hex(kDigestA), hex(kDigestC)}));
}

}  // namespace
}  // namespace hibe_amd64
