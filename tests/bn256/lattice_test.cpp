#include "bn256/lattice.h"

#include <gtest/gtest.h>
#include <gmpxx.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "bn256/constants.h"

namespace bn256 {
namespace {

// The eigenvalue of phi(x, y) = (beta·x, y) on G1, a root of λ² + λ + 1 mod Order.
const mpz_class kLambda("4407920970296243842393367215006156084916469457145843978461");

mpz_class pow2(unsigned n) {
    mpz_class r;
    mpz_ui_pow_ui(r.get_mpz_t(), 2, n);
    return r;
}

mpz_class mod(const mpz_class& a, const mpz_class& n) {
    mpz_class r;
    mpz_mod(r.get_mpz_t(), a.get_mpz_t(), n.get_mpz_t());
    return r;
}

TEST(Lattice, CurveLatticeRelations) {
    EXPECT_EQ(curveLattice.det, 2 * Order);
    EXPECT_EQ(mod(kLambda * kLambda + kLambda + 1, Order), 0);
    ASSERT_EQ(curveLattice.vectors.size(), 2u);
    for (const auto& v : curveLattice.vectors) {
        ASSERT_EQ(v.size(), 2u);
        EXPECT_EQ(mod(v[0] + v[1] * kLambda, Order), 0);
    }
    // The basis has determinant −det and inverse = (−vectors_1[1], vectors_0[1]).
    const auto& b = curveLattice.vectors;
    EXPECT_EQ(b[0][0] * b[1][1] - b[0][1] * b[1][0], -curveLattice.det);
    EXPECT_EQ(curveLattice.inverse[0], -b[1][1]);
    EXPECT_EQ(curveLattice.inverse[1], b[0][1]);
}

TEST(Lattice, DecomposeKnownAnswers) {
    struct Case {
        mpz_class k;
        const char* k1;
        const char* k2;
        std::size_t digits;
    };
    const Case cases[] = {
        {0, "295893513763578638001530061607606821456", "295893513763578638021392707076378216982", 128},
        {1, "295893513763578638001530061607606821457", "295893513763578638021392707076378216982", 128},
        {Order - 1, "147946756881789318990833708069417712964", "295893513763578638011461384341992519219", 0},
        {Order, "147946756881789318990833708069417712965", "295893513763578638011461384341992519219", 0},
        {pow2(256) - 1, "243816758107771629080910166887456602797", "379850007652474396668000455720535769324",
         129},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.k.get_str());
        const std::vector<mpz_class> out = curveLattice.decompose(c.k);
        ASSERT_EQ(out.size(), 2u);
        EXPECT_EQ(out[0], mpz_class(c.k1));
        EXPECT_EQ(out[1], mpz_class(c.k2));
        if (c.digits != 0) {
            EXPECT_EQ(curveLattice.Multi(c.k).size(), c.digits);
        }
    }
}

// For scalars of every size the components are positive, below 2^129, congruent
// to k, and Multi's digits recombine into them.
TEST(Lattice, DecompositionsArePositiveCongruentAndRecombine) {
    gmp_randclass rng(gmp_randinit_default);
    rng.seed(1);
    std::vector<mpz_class> scalars = {2, Order + 1, 2 * Order, half, half + 1, pow2(255)};
    for (int i = 0; i < 200; ++i) scalars.push_back(rng.get_z_range(Order));
    for (int i = 0; i < 100; ++i) scalars.push_back(rng.get_z_bits(256));
    for (int i = 0; i < 20; ++i) scalars.push_back(rng.get_z_bits(600));

    for (const mpz_class& k : scalars) {
        SCOPED_TRACE(k.get_str());
        const std::vector<mpz_class> out = curveLattice.decompose(k);
        EXPECT_GT(out[0], 0);
        EXPECT_GT(out[1], 0);
        EXPECT_LT(out[0], pow2(129));
        EXPECT_LT(out[1], pow2(129));
        EXPECT_EQ(mod(out[0] + out[1] * kLambda - k, Order), 0);

        const std::vector<std::uint8_t> digits = curveLattice.Multi(k);
        EXPECT_TRUE(digits.size() == 128 || digits.size() == 129) << digits.size();
        mpz_class k1 = 0, k2 = 0;
        for (std::size_t j = digits.size(); j-- > 0;) {
            ASSERT_LE(digits[j], 3);
            k1 = 2 * k1 + (digits[j] & 1);
            k2 = 2 * k2 + (digits[j] >> 1);
        }
        EXPECT_EQ(k1, out[0]);
        EXPECT_EQ(k2, out[1]);
    }
}

// The rounding adds one only for a remainder strictly above half = Order >> 1.
TEST(Lattice, RoundThresholdIsHalfOfOrder) {
    const mpz_class& det = curveLattice.det;
    struct Case {
        mpz_class num;
        mpz_class want;
    };
    const Case cases[] = {
        {7 * det, 7},
        {7 * det + half, 7},
        {7 * det + half + 1, 8},
        {7 * det + det - 1, 8},
        {-det + half, -1},      // Euclidean: the remainder is non-negative
        {-det + half + 1, 0},
    };
    for (const Case& c : cases) {
        mpz_class num = c.num;
        round(num, det);
        EXPECT_EQ(num, c.want) << c.num.get_str();
    }
}

// decomposeFrobenius: k ≡ k0 + k1·p + k2·p² + k3·p³ (mod Order) with every
// |ki| ≤ (7u + 3)/2, for edge scalars, scalars beyond Order and random ones.
TEST(Lattice, DecomposeFrobeniusRecombinesWithinBound) {
    gmp_randclass rng(gmp_randinit_default);
    rng.seed(3);
    std::vector<mpz_class> scalars = {0,         1,         2,         Order - 1, Order,
                                      Order + 1, 2 * Order + 5, pow2(128), pow2(256) - 1};
    for (int i = 0; i < 200; ++i) scalars.push_back(rng.get_z_range(Order));
    scalars.push_back(rng.get_z_bits(600));
    const mpz_class bound = (7 * u + 3) / 2;
    for (const mpz_class& k : scalars) {
        SCOPED_TRACE(k.get_str());
        const auto parts = decomposeFrobenius(k);
        mpz_class sum = 0, pi = 1;
        for (const signedComponent& c : parts) {
            mpz_class v;
            mpz_import(v.get_mpz_t(), 1, 1, sizeof c.magnitude, 0, 0, &c.magnitude);
            EXPECT_LE(v, bound);
            if (c.negative) v = -v;
            EXPECT_FALSE(c.negative && c.magnitude == 0);
            sum += v * pi;
            pi *= P;
        }
        EXPECT_EQ(mod(sum - k, Order), 0);
    }
}

// wnaf<W>: the digits sum back to n, every non-zero digit is odd and below
// 2^(W−1) in magnitude, and any W digits in a row hold at most one non-zero digit.
template <int W>
void expectWidthNaf(std::uint64_t n) {
    const auto digits = wnaf<W>(n);
    mpz_class sum = 0;
    int lastNonZero = -W;
    for (int i = kWnafDigits - 1; i >= 0; --i) sum = 2 * sum + digits[i];
    for (int i = 0; i < kWnafDigits; ++i) {
        if (digits[i] == 0) continue;
        EXPECT_EQ(digits[i] & 1, 1);
        EXPECT_LT(digits[i] < 0 ? -digits[i] : digits[i], 1 << (W - 1));
        EXPECT_GE(i - lastNonZero, W);
        lastNonZero = i;
    }
    EXPECT_EQ(sum, mpz_class(std::to_string(n)));
}

// Widths 2 (the multiple by u of the G2 subgroup check), 4 (the powers by u of
// the final exponentiation) and 5 (the walks over a public scalar).
TEST(Lattice, WidthNafOfEdgeAndRandomWords) {
    std::vector<std::uint64_t> words = {0, 1, 15, 16, 17, 31, 0x8000000000000000, 0xffffffffffffffff,
                                        0xaaaaaaaaaaaaaaaa, kU};
    std::mt19937_64 engine(9);
    for (int i = 0; i < 100; ++i) words.push_back(engine());
    for (std::uint64_t n : words) {
        SCOPED_TRACE(n);
        expectWidthNaf<2>(n);
        expectWidthNaf<4>(n);
        expectWidthNaf<5>(n);
    }
}

}  // namespace
}  // namespace bn256
