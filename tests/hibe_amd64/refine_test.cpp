#include "hibe_amd64/refine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/random.h"

namespace hibe_amd64 {
namespace {

// Two hierarchies whose parameter encodings differ.
class RefineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        for (int i = 0; i < 2; ++i) {
            auto setup = hibe::Setup(common::SystemRandom(), 3);
            ASSERT_TRUE(setup);
            orgs_.push_back(std::move(setup->params));
        }
    }
    static void TearDownTestSuite() { orgs_.clear(); }

    static std::vector<hibe::Params> orgs_;
};
std::vector<hibe::Params> RefineTest::orgs_;

struct Receiver {
    std::string id;
    int org;  // index into the hierarchies
};

struct Case {
    std::vector<Receiver> input;
    // Refined entries as (identity, index of the input receiver whose record it
    // holds); empty when the refinement must fail with `error`.
    std::vector<std::pair<std::string, std::size_t>> output;
    std::string error;
};

std::string mismatch(const std::string& id) {
    return "ID [" + id + "] is matched, but Params are different, please check it";
}

TEST_F(RefineTest, KeepsOnlyReceiversThatNeedTheirOwnCiphertext) {
    const std::vector<Case> cases = {
        {{{"A/B", 0}}, {{"A/B", 0}}, ""},
        {{{"A/B", 0}, {"A", 0}}, {{"A/B", 0}}, ""},
        {{{"A", 0}, {"A/B", 0}}, {{"A/B", 1}}, ""},
        {{{"A/B", 0}, {"C/D", 0}, {"A", 0}}, {{"A/B", 0}, {"C/D", 1}}, ""},
        {{{"C/D", 0}, {"A/B", 0}, {"A", 0}}, {{"C/D", 0}, {"A/B", 1}}, ""},
        {{{"A/B", 0}, {"A/C", 0}}, {{"A/B", 0}, {"A/C", 1}}, ""},
        // Level-wise, not a string prefix.
        {{{"A", 0}, {"AB/C", 0}}, {{"A", 0}, {"AB/C", 1}}, ""},
        {{{"X", 0}, {"A", 0}, {"A/B/C", 0}, {"A/B", 0}}, {{"X", 0}, {"A/B/C", 2}}, ""},
        // Unrelated receivers may use different hierarchies.
        {{{"A", 0}, {"B", 1}}, {{"A", 0}, {"B", 1}}, ""},
        {{{"A/B", 0}, {"A/C", 1}}, {{"A/B", 0}, {"A/C", 1}}, ""},
        // Related receivers must share parameters; the later one is named.
        {{{"A", 0}, {"A/B", 1}}, {}, mismatch("A/B")},
        {{{"A/B", 0}, {"A", 1}}, {}, mismatch("A")},
        // Only the first related entry is compared.
        {{{"A/B", 0}, {"A/C", 1}, {"A", 1}}, {}, mismatch("A")},
        {{{"A/B", 0}, {"A/C", 1}, {"A", 0}}, {{"A/B", 0}, {"A/C", 1}}, ""},
        // Equal identity strings are one receiver: one entry, same parameters.
        {{{"A/B", 0}, {"A/B", 0}}, {{"A/B", 0}}, ""},
        {{{"A/B", 0}, {"A/B", 1}}, {}, mismatch("A/B")},
        {{{"A", 0}, {"A", 0}, {"A/B/C", 0}}, {{"A/B/C", 2}}, ""},
    };
    for (std::size_t n = 0; n < cases.size(); ++n) {
        const Case& c = cases[n];
        std::vector<std::string> ids;
        std::vector<hibe::Params> params;  // distinct records, equal encodings per org
        for (const Receiver& r : c.input) {
            ids.push_back(r.id);
            params.push_back(orgs_[static_cast<std::size_t>(r.org)]);
        }
        std::vector<hibe::Params*> pointers;
        for (hibe::Params& record : params) pointers.push_back(&record);
        auto got = refineIdsAndParams(ids, pointers);
        if (!c.error.empty()) {
            ASSERT_FALSE(got) << "case " << n;
            EXPECT_EQ(got.error().Message(), c.error) << "case " << n;
            continue;
        }
        ASSERT_TRUE(got) << "case " << n << ": " << got.error().Message();
        ASSERT_EQ(got->ids.size(), c.output.size()) << "case " << n;
        ASSERT_EQ(got->params.size(), c.output.size()) << "case " << n;
        for (std::size_t j = 0; j < c.output.size(); ++j) {
            EXPECT_EQ(got->ids[j], c.output[j].first) << "case " << n << " entry " << j;
            EXPECT_EQ(got->params[j], &params[c.output[j].second])
                << "case " << n << " entry " << j;
        }
    }
}

TEST_F(RefineTest, RejectsEmptyOrUnequalLists) {
    std::vector<std::string> none;
    std::vector<hibe::Params*> noParams;
    auto empty = refineIdsAndParams(none, noParams);
    ASSERT_FALSE(empty);
    EXPECT_EQ(empty.error().Message(), kReceiverIdsNil);

    std::vector<std::string> two = {"A", "B"};
    std::vector<hibe::Params*> one = {&orgs_[0]};
    auto unequal = refineIdsAndParams(two, one);
    ASSERT_FALSE(unequal);
    EXPECT_EQ(unequal.error().Message(), kListsDoNotMatch);
}

}  // namespace
}  // namespace hibe_amd64
