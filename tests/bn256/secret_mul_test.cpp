// The constant-time routes for secret scalars against the variable-time routes
// they stand beside: the draw, the fixed-width splits, and the scalar
// multiplications of G1, G2 and GT, on random and edge scalars and edge points.
#include <gtest/gtest.h>
#include <gmpxx.h>

#include <random>
#include <span>
#include <vector>

#include "bn256/bn256.h"
#include "bn256/constants.h"
#include "bn256/jacobian.h"
#include "bn256/lattice.h"
#include "bn256/scalar.h"
#include "bn256/secret_mul.h"

namespace bn256 {
namespace {

class SeededRandom final : public common::RandomSource {
public:
    explicit SeededRandom(std::uint64_t seed) : engine_(seed) {}
    common::Status Fill(std::span<std::uint8_t> out) override {
        for (auto& b : out) b = static_cast<std::uint8_t>(engine_());
        return {};
    }

private:
    std::mt19937_64 engine_;
};

const mpz_class kTwoTo256 = mpz_class(1) << 256;

// Edge scalars (every one below 2^256, as a Scalar holds), then random ones, of
// which some are full 256-bit values.
std::vector<mpz_class> scalars() {
    std::vector<mpz_class> out = {0,         1,         2,         3,          15,          16,
                                  17,        Order - 2, Order - 1, Order,      Order + 1,   2 * Order,
                                  5 * Order, kTwoTo256 - 1, mpz_class(1) << 128, (mpz_class(1) << 64) - 1};
    SeededRandom rand(7);
    for (int i = 0; i < 12; ++i) {
        std::uint8_t bytes[32];
        (void)rand.Fill(bytes);
        mpz_class k;
        mpz_import(k.get_mpz_t(), 32, 1, 1, 1, 0, bytes);
        if (i % 3 != 0) k %= Order;
        out.push_back(k);
    }
    return out;
}

TEST(SecretScalar, ConvertsAndReducesModOrder) {
    for (const mpz_class& k : scalars()) {
        SCOPED_TRACE(k.get_str());
        const Scalar s(k);
        EXPECT_EQ(s.ToMpz(), k);
        EXPECT_EQ(reduceModOrder(s).ToMpz(), k % Order);
    }
}

TEST(SecretScalar, DrawIsTheDrawBelowOrder) {
    // The same bytes from two equal sources give the same values; many candidates
    // are rejected (three in four have a top byte of 0x31 or more after masking).
    SeededRandom a(11), b(11);
    for (int i = 0; i < 64; ++i) {
        auto got = RandomScalar(a);
        auto want = common::RandomBelow(b, Order);
        ASSERT_TRUE(got && want);
        EXPECT_EQ(got->ToMpz(), *want);
    }
}

// Σ k_i·λ^i ≡ k (mod Order) for the signed odd components minus the even flags.
template <std::size_t N>
void expectSplitOf(const mpz_class& k, const std::array<secretComponent, N>& parts,
                   const mpz_class& lambda, int bits) {
    mpz_class sum = 0, power = 1;
    for (const secretComponent& c : parts) {
        const mpz_class magnitude =
            (mpz_class(static_cast<unsigned long>(c.magnitude >> 64)) << 64) +
            mpz_class(static_cast<unsigned long>(c.magnitude));
        EXPECT_EQ(magnitude % 2, 1);
        EXPECT_LT(magnitude, mpz_class(1) << bits);
        mpz_class value = magnitude - (c.even ? 1 : 0);
        if (c.negative) value = -value;
        sum += value * power;
        power = power * lambda % Order;
    }
    EXPECT_EQ(((sum - k) % Order + Order) % Order, 0);
}

TEST(SecretScalar, SplitsAreSmallAndSumToTheScalar) {
    const mpz_class lambda("4407920970296243842393367215006156084916469457145843978461");
    const mpz_class p("21888242871839275222246405745257275088696311157297823662689037894645226208583");
    for (const mpz_class& k : scalars()) {
        SCOPED_TRACE(k.get_str());
        expectSplitOf(k, decomposeCurveSecret(Scalar(k)), lambda, 127);
        expectSplitOf(k, decomposeFrobeniusSecret(Scalar(k)), p % Order, 64);
    }
}

TEST(SecretScalar, RegularDigitsSpellTheNumber) {
    using u128 = unsigned __int128;
    for (const u128 n : {u128{1}, u128{15}, u128{17}, (u128{1} << 64) - 1, (u128{1} << 127) + 1}) {
        const regularDigits<32> digits = regularRecode<32>(n);
        mpz_class sum = mpz_class(1) << 128, want = 0;
        for (int i = 0; i < 32; ++i) {
            const int d = (2 * digits.index[i] + 1) * (digits.negative[i] ? -1 : 1);
            sum += mpz_class(d) << (4 * i);
        }
        want = (mpz_class(static_cast<unsigned long>(n >> 64)) << 64) + static_cast<unsigned long>(n);
        EXPECT_EQ(sum, want);
    }
}

// Edge points: the generator, a random point, and the point at infinity.
struct Points {
    G1 g1[3];
    G2 g2[3];
    Points() {
        SeededRandom rand(3);
        g1[0].ScalarBaseMult(mpz_class(1));
        g1[1] = RandomG1(rand)->element;
        g1[2].p.emplace();
        g2[0].ScalarBaseMult(mpz_class(1));
        g2[1] = RandomG2(rand)->element;
        g2[2].p.emplace();
    }
};

TEST(SecretScalarMult, MatchesThePublicRoutes) {
    const Points points;
    SeededRandom rand(5);
    const GT paired = Pair(RandomG1(rand)->element, RandomG2(rand)->element);
    GT decoded;
    ASSERT_TRUE(decoded.Unmarshal(paired.Marshal()));
    GT outside;  // not in GT: the two GT routes differ on it
    ASSERT_TRUE(outside.Unmarshal(common::Bytes(384, 7)));
    for (const mpz_class& k : scalars()) {
        SCOPED_TRACE(k.get_str());
        const Scalar s(k);
        for (const G1& a : points.g1) {
            G1 got, want;
            got.ScalarMult(a, s);
            want.ScalarMult(a, k);
            EXPECT_EQ(got.Marshal(), want.Marshal());
        }
        for (const G2& a : points.g2) {
            G2 got, want;
            got.ScalarMult(a, s);
            want.ScalarMult(a, k);
            EXPECT_EQ(got.Marshal(), want.Marshal());
            twistPoint plain;  // the plain double-and-add, the reference of MulInG2
            plain.Mul(*a.p, k);
            EXPECT_EQ(got.Marshal(), G2{plain}.Marshal());
        }
        const GT identity;
        for (const GT* a : {&paired, &identity, static_cast<const GT*>(&decoded),
                            static_cast<const GT*>(&outside)}) {
            GT got, want;
            got.ScalarMult(*a, s);
            want.ScalarMult(*a, k);
            EXPECT_EQ(got.Marshal(), want.Marshal());
            gfP12 exp, one;
            one.SetOne();
            exp.Exp(a->p ? *a->p : one, k);
            EXPECT_EQ(got.Marshal(), (GT{exp, true}).Marshal());
        }
        G1 base1, want1;
        base1.ScalarBaseMult(s);
        want1.ScalarBaseMult(k);
        EXPECT_EQ(base1.Marshal(), want1.Marshal());
        G2 base2, want2;
        base2.ScalarBaseMult(s);
        want2.ScalarBaseMult(k);
        EXPECT_EQ(base2.Marshal(), want2.Marshal());
    }
}

TEST(SecretScalarMult, ResultMayBeTheOperand) {
    SeededRandom rand(9);
    const Scalar k = *RandomScalar(rand);
    G1 a = RandomG1(rand)->element, want;
    want.ScalarMult(a, k.ToMpz());
    a.ScalarMult(a, k);
    EXPECT_EQ(a.Marshal(), want.Marshal());
    G2 b = RandomG2(rand)->element, want2;
    want2.ScalarMult(b, k.ToMpz());
    b.ScalarMult(b, k);
    EXPECT_EQ(b.Marshal(), want2.Marshal());
}

// The constant-time addition against the variable-time one on its special
// cases: equal, opposite, either or both at infinity, the result an operand.
template <typename Point>
void expectAdditionsAgree(const Point& a, const Point& b) {
    Point neg = a;
    jacobian::negateIf(neg.y, ~std::uint64_t{0});
    const Point infinity{};
    const Point cases[][2] = {{a, b}, {a, a}, {a, neg}, {a, infinity}, {infinity, b}, {infinity, infinity}};
    for (const auto& c : cases) {
        Point got = b, want = b;  // the receiver's t is kept on the general path
        jacobian::addSecret(got, c[0], c[1]);
        jacobian::add(want, c[0], c[1]);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.z, want.z);
        EXPECT_EQ(got.t, want.t);
        Point self = c[0];
        jacobian::addSecret(self, self, c[1]);
        EXPECT_EQ(self.z, want.z);
    }
}

TEST(SecretAddition, MatchesTheVariableTimeAddition) {
    SeededRandom rand(13);
    G1 a1 = RandomG1(rand)->element, b1 = RandomG1(rand)->element;
    a1.ScalarMult(a1, mpz_class(3));  // Jacobian, z ≠ 1
    expectAdditionsAgree(*a1.p, *b1.p);
    G2 a2 = RandomG2(rand)->element, b2 = RandomG2(rand)->element;
    a2.ScalarMult(a2, mpz_class(3));
    expectAdditionsAgree(*a2.p, *b2.p);
}

}  // namespace
}  // namespace bn256
