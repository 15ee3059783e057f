#include <gtest/gtest.h>
#include <gmpxx.h>

#include <vector>

#include "bn256/bn256.h"
#include "bn256/constants.h"

namespace bn256 {
namespace {

// PairProduct equals the product of separate pairings (GT's Add), inverse terms
// equal Neg of the pairing, and unset elements count as the identity; the longest
// case crosses the chunk of terms that share one Miller loop.
TEST(PairProductTest, EqualsProductOfSeparatePairings) {
    gmp_randclass rng(gmp_randinit_default);
    rng.seed(11);
    std::vector<G1> g1s(10);
    std::vector<G2> g2s(10);
    for (std::size_t i = 1; i < g1s.size(); ++i) {  // element 0 stays unset
        g1s[i].ScalarBaseMult(rng.get_z_range(Order));
        g2s[i].ScalarBaseMult(rng.get_z_range(Order));
    }
    struct Case {
        const char* name;
        std::size_t count;  // terms i = 0 .. count − 1 pair g1s[i] with g2s[(i + 1) % 10]
        bool alternateInverse;
    };
    const std::vector<Case> cases = {
        {"empty", 0, false},    {"unset and one", 2, false}, {"two inverted", 3, true},
        {"ten terms", 10, true},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        std::vector<PairTerm> terms;
        GT want;
        want.p.emplace().SetOne();
        for (std::size_t i = 0; i < test.count; ++i) {
            const bool inverse = test.alternateInverse && i % 2 == 1;
            const G2& g2 = g2s[(i + 1) % g2s.size()];
            terms.push_back({&g1s[i], &g2, inverse});
            GT e = Pair(g1s[i], g2);
            if (inverse) e.Neg(e);
            want.Add(want, e);
        }
        EXPECT_EQ(PairProduct(terms).Marshal(), want.Marshal());
    }
}

}  // namespace
}  // namespace bn256
