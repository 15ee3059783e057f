#include "bn256/gfp6.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "bn256/field_testing.h"

namespace bn256 {
namespace {

using bn256_testing::Elements;
using bn256_testing::MontP2;
using bn256_testing::Prime;
using bn256_testing::RefPow;
using bn256_testing::RefXi;

gfP6 One() { return gfP6{}.SetOne(); }

// a^k by square and multiply with the operations under test.
gfP6 Power(const gfP6& a, mpz_class k) {
    gfP6 result = One(), base = a;
    while (k > 0) {
        if (mpz_odd_p(k.get_mpz_t())) result.Mul(result, base);
        base.Square(base);
        k >>= 1;
    }
    return result;
}

// The schoolbook product modulo tau³ − xi, from GF(p^2) operations:
//   x = ax·bz + ay·by + az·bx,  y = ay·bz + az·by + xi·ax·bx,
//   z = az·bz + xi·(ax·by + ay·bx).
gfP6 Schoolbook(const gfP6& a, const gfP6& b) {
    auto mul = [](const gfP2& u, const gfP2& v) { return gfP2{}.Mul(u, v); };
    auto add = [](const gfP2& u, const gfP2& v) { return gfP2{}.Add(u, v); };
    auto xi = [](const gfP2& u) { return gfP2{}.MulXi(u); };
    gfP6 e;
    e.x = add(add(mul(a.x, b.z), mul(a.y, b.y)), mul(a.z, b.x));
    e.y = add(add(mul(a.y, b.z), mul(a.z, b.y)), xi(mul(a.x, b.x)));
    e.z = add(mul(a.z, b.z), xi(add(mul(a.x, b.y), mul(a.y, b.x))));
    return e;
}

TEST(GfP6Test, FrobeniusConstantsArePowersOfXi) {
    const mpz_class& p = Prime();
    EXPECT_EQ(xiTo2PMinus2Over3, MontP2(RefPow(RefXi(), (2 * p - 2) / 3)));
    EXPECT_EQ(xiToPMinus1Over3, MontP2(RefPow(RefXi(), (p - 1) / 3)));
    const gfP2 beta = MontP2(RefPow(RefXi(), (2 * p * p - 2) / 3));
    EXPECT_TRUE(beta.x.IsZero());
    EXPECT_EQ(xiTo2PSquaredMinus2Over3, beta.y);
    const gfP2 betaSquared = MontP2(RefPow(RefXi(), (p * p - 1) / 3));
    EXPECT_TRUE(betaSquared.x.IsZero());
    EXPECT_EQ(xiToPSquaredMinus1Over3, betaSquared.y);

    // beta is a primitive cube root of unity and its square is p − beta − 1.
    gfP square, cube, sum;
    gfpMul(square, xiTo2PSquaredMinus2Over3, xiTo2PSquaredMinus2Over3);
    EXPECT_EQ(square, xiToPSquaredMinus1Over3);
    gfpMul(cube, square, xiTo2PSquaredMinus2Over3);
    EXPECT_EQ(cube, newGFp(1));
    gfpAdd(sum, xiTo2PSquaredMinus2Over3, square);
    EXPECT_EQ(sum, newGFp(-1));
}

TEST(GfP6Test, StoredFormsOfTheConstants) {
    EXPECT_EQ(xiTo2PMinus2Over3.String(),
              "(24830a9d3171f0fd37bc870a0c7dd2b962cb29a5a4445b605dddfd154bd8c949, "
              "15df9cddbb9fd3ec9c941f314b3e2399a5bb2bd3273411fb7361d77f843abe92)");
    EXPECT_EQ(xiToPMinus1Over3.String(),
              "(26694fbb4e82ebc3b6e713cdfae0ca3aaa1c7b6d89f891416e849f1ea0aa4757, "
              "1956bcd8118214ec7a007127242e0991347f91c8a9aa6454b5773b104563ab30)");
    EXPECT_EQ(xiTo2PSquaredMinus2Over3.String(),
              "2c3b3f0d26594943aa303344d4741444a6bb947cffbe332371930c11d782e155");
    EXPECT_EQ(xiToPSquaredMinus1Over3.String(),
              "2682e617020217e06001b4b8b615564a7dce557cdb5e56b93350c88e13e80b9c");
}

TEST(GfP6Test, MulMatchesSchoolbookAndSquareMatchesMul) {
    Elements rand(31);
    std::vector<gfP6> values = {gfP6{}, One()};
    for (int n = 0; n < 20; ++n) values.push_back(rand.Fp6());
    for (const gfP6& a : values) {
        const gfP6 b = rand.Fp6();
        gfP6 e, square, self;
        EXPECT_EQ(e.Mul(a, b), Schoolbook(a, b));
        EXPECT_EQ(square.Square(a), self.Mul(a, a));
        EXPECT_EQ(e.Mul(One(), a), a);
    }
}

TEST(GfP6Test, ScalarProductsMatchMul) {
    Elements rand(32);
    const gfP6 a = rand.Fp6();
    const gfP2 s = rand.Fp2();
    const gfP g = rand.Fp();
    gfP6 e, expected;
    EXPECT_EQ(e.MulScalar(a, s), expected.Mul(a, gfP6{gfP2{}, gfP2{}, s}));
    EXPECT_EQ(e.MulGFP(a, g), expected.Mul(a, gfP6{gfP2{}, gfP2{}, gfP2{gfP{}, g}}));
}

TEST(GfP6Test, MulTauThreeTimesIsMulXi) {
    Elements rand(33);
    const gfP6 a = rand.Fp6();
    gfP6 e = a;
    e.MulTau(e).MulTau(e).MulTau(e);
    gfP6 expected;
    expected.x.MulXi(a.x);
    expected.y.MulXi(a.y);
    expected.z.MulXi(a.z);
    EXPECT_EQ(e, expected);
    const gfP6 tau = {gfP2{}, gfP2{}.SetOne(), gfP2{}};
    EXPECT_EQ(e.MulTau(a), expected.Mul(a, tau));
}

TEST(GfP6Test, InvertGivesTheInverseAndZeroForZero) {
    gfP6 e = One();
    EXPECT_TRUE(e.Invert(gfP6{}).IsZero());
    Elements rand(34);
    for (int n = 0; n < 10; ++n) {
        const gfP6 a = rand.Fp6();
        gfP6 inv, product;
        inv.Invert(a);
        EXPECT_TRUE(product.Mul(a, inv).IsOne());
    }
}

TEST(GfP6Test, FrobeniusIsThePthPower) {
    const mpz_class& p = Prime();
    Elements rand(35);
    for (int n = 0; n < 3; ++n) {
        const gfP6 a = rand.Fp6();
        gfP6 f, f2;
        EXPECT_EQ(f.Frobenius(a), Power(a, p));
        EXPECT_EQ(f2.FrobeniusP2(a), Power(a, p * p));
        EXPECT_EQ(f.Frobenius(f), f2) << "twice is FrobeniusP2";
    }
}

TEST(GfP6Test, FrobeniusOrdersAndFixedElements) {
    Elements rand(36);
    const gfP6 a = rand.Fp6();
    gfP6 e = a;
    for (int n = 0; n < 6; ++n) e.Frobenius(e);
    EXPECT_EQ(e, a) << "Frobenius six times";
    for (int n = 0; n < 3; ++n) e.FrobeniusP2(e);
    EXPECT_EQ(e, a) << "FrobeniusP2 three times";

    const gfP6 base = {gfP2{}, gfP2{}, gfP2{gfP{}, rand.Fp()}};
    EXPECT_EQ(e.Frobenius(base), base);
    EXPECT_EQ(e.FrobeniusP2(base), base);
}

TEST(GfP6Test, StringJoinsCoefficients) {
    const std::string zero2 = gfP2{}.String();
    EXPECT_EQ(One().String(), "(" + zero2 + ", " + zero2 + ", " + gfP2{}.SetOne().String() + ")");
}

// Every fast route of this layer gives the reference value on edge and random
// elements: MulSparse is Mul by an element whose tau² coefficient is zero, Square
// (Chung–Hasan) is Mul of a by itself, and the inverse times its element is one.
TEST(GfP6Test, FastRoutesMatchReferences) {
    Elements rand(38);
    bn256_testing::ExpectFastRoutesMatch<gfP6>(
        {{"MulSparse", [](const gfP6& a, const gfP6& b) { return gfP6{}.MulSparse(a, b.y, b.z); },
          [](const gfP6& a, const gfP6& b) { return gfP6{}.Mul(a, gfP6{gfP2{}, b.y, b.z}); }},
         {"Square", [](const gfP6& a, const gfP6&) { return gfP6{}.Square(a); },
          [](const gfP6& a, const gfP6&) { return gfP6{}.Mul(a, a); }},
         bn256_testing::InverseRoute<gfP6>()},
        bn256_testing::EdgeAndRandom<gfP6>([&] { return rand.Fp6(); }, 8));
}

TEST(GfP6Test, OperationsAcceptAliasedReceivers) {
    const bn256_testing::BinaryOps<gfP6> binary = {
        {"Add", [](gfP6& e, const gfP6& a, const gfP6& b) { e.Add(a, b); }},
        {"Sub", [](gfP6& e, const gfP6& a, const gfP6& b) { e.Sub(a, b); }},
        {"Mul", [](gfP6& e, const gfP6& a, const gfP6& b) { e.Mul(a, b); }},
    };
    const bn256_testing::UnaryOps<gfP6> unary = {
        {"Set", [](gfP6& e, const gfP6& a) { e.Set(a); }},
        {"Neg", [](gfP6& e, const gfP6& a) { e.Neg(a); }},
        {"Square", [](gfP6& e, const gfP6& a) { e.Square(a); }},
        {"MulTau", [](gfP6& e, const gfP6& a) { e.MulTau(a); }},
        {"Invert", [](gfP6& e, const gfP6& a) { e.Invert(a); }},
        {"Frobenius", [](gfP6& e, const gfP6& a) { e.Frobenius(a); }},
        {"FrobeniusP2", [](gfP6& e, const gfP6& a) { e.FrobeniusP2(a); }},
        {"MulScalar", [](gfP6& e, const gfP6& a) { e.MulScalar(a, gfP2{newGFp(2), newGFp(3)}); }},
        {"MulGFP", [](gfP6& e, const gfP6& a) { e.MulGFP(a, newGFp(5)); }},
        {"MulSparse",
         [](gfP6& e, const gfP6& a) { e.MulSparse(a, gfP2{newGFp(2), newGFp(3)}, gfP2{newGFp(4), newGFp(5)}); }},
    };
    Elements rand(37);
    const gfP6 a = rand.Fp6(), b = rand.Fp6();
    bn256_testing::ExpectAliasingSafe(binary, unary, a, b);
}

}  // namespace
}  // namespace bn256
