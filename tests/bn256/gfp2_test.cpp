#include "bn256/gfp2.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "bn256/field_testing.h"

namespace bn256 {
namespace {

using bn256_testing::Elements;
using bn256_testing::Mont;
using bn256_testing::Plain;
using bn256_testing::RefMul;
using bn256_testing::RefP2;

gfP2 One() { return gfP2{}.SetOne(); }
gfP2 Xi() { return {newGFp(1), newGFp(9)}; }

TEST(GfP2Test, ISquaredIsMinusOne) {
    const gfP2 i = {newGFp(1), gfP{}};
    gfP2 e;
    e.Mul(i, i);
    EXPECT_TRUE(e.x.IsZero());
    EXPECT_EQ(e.y, newGFp(-1));
    EXPECT_EQ(bn256_testing::Stored(e.y), bn256_testing::Stored(Mont(bn256_testing::Prime() - 1)));
}

TEST(GfP2Test, MulMatchesGmp) {
    Elements rand(21);
    for (int n = 0; n < 30; ++n) {
        const gfP2 a = rand.Fp2(), b = rand.Fp2();
        gfP2 e;
        e.Mul(a, b);
        RefP2 expected = RefMul({Plain(a.x), Plain(a.y)}, {Plain(b.x), Plain(b.y)});
        EXPECT_EQ(e.x, Mont(expected.x));
        EXPECT_EQ(e.y, Mont(expected.y));
    }
}

TEST(GfP2Test, SquareMulXiAndMulScalarMatchMul) {
    Elements rand(22);
    for (int n = 0; n < 30; ++n) {
        const gfP2 a = rand.Fp2();
        const gfP s = rand.Fp();
        gfP2 square, mulSelf, mulXi, mulByXi, scaled, mulByScalar;
        EXPECT_EQ(square.Square(a), mulSelf.Mul(a, a));
        EXPECT_EQ(mulXi.MulXi(a), mulByXi.Mul(a, Xi()));
        EXPECT_EQ(scaled.MulScalar(a, s), mulByScalar.Mul(a, gfP2{gfP{}, s}));
    }
}

TEST(GfP2Test, InvertGivesTheInverseAndZeroForZero) {
    gfP2 e = One();
    e.Invert(gfP2{});
    EXPECT_TRUE(e.IsZero());

    Elements rand(23);
    for (int n = 0; n < 20; ++n) {
        const gfP2 a = rand.Fp2();
        gfP2 inv, product;
        inv.Invert(a);
        EXPECT_TRUE(product.Mul(a, inv).IsOne());
    }
    // Elements with one part zero.
    for (const gfP2& a : {gfP2{newGFp(5), gfP{}}, gfP2{gfP{}, newGFp(5)}}) {
        gfP2 inv, product;
        inv.Invert(a);
        EXPECT_TRUE(product.Mul(a, inv).IsOne());
    }
}

TEST(GfP2Test, ConjugateIsAnInvolutionAndFixesGfp) {
    Elements rand(24);
    const gfP2 a = rand.Fp2();
    gfP2 c;
    c.Conjugate(a);
    EXPECT_EQ(c.y, a.y);
    gfP negX;
    gfpNeg(negX, a.x);
    EXPECT_EQ(c.x, negX);
    EXPECT_EQ(c.Conjugate(c), a);

    const gfP2 real = {gfP{}, rand.Fp()};
    EXPECT_EQ(c.Conjugate(real), real);
}

TEST(GfP2Test, OneAndZeroPredicates) {
    EXPECT_TRUE(One().IsOne());
    EXPECT_FALSE(One().IsZero());
    EXPECT_TRUE(gfP2{}.IsZero());
    EXPECT_FALSE(gfP2{}.IsOne());
    // One means the Montgomery form of 1, not the plain integer.
    const gfP2 plainOne = {gfP{}, gfP{{1, 0, 0, 0}}};
    EXPECT_FALSE(plainOne.IsOne());
    gfP2 e = {newGFp(3), newGFp(4)};
    EXPECT_TRUE(e.SetZero().IsZero());
}

TEST(GfP2Test, StringOfOne) {
    const std::string expected =
        "(0000000000000000000000000000000000000000000000000000000000000000, "
        "0e0a77c19a07df2f666ea36f7879462c0a78eb28f5c70b3dd35d438dc58f0d9d)";
    EXPECT_EQ(One().String(), expected);
    EXPECT_EQ(expected.size(), 132u);
}

TEST(GfP2Test, DecodeOfOneIsPlain) {
    const gfP2 one = One();
    const gfP2 decoded = gfP2Decode(one);
    EXPECT_EQ(decoded.x, gfP{});
    EXPECT_EQ(decoded.y, (gfP{{1, 0, 0, 0}}));
    EXPECT_TRUE(one.IsOne()) << "the operand is left as it was";
}

// Every fast route of this layer gives the reference value on edge and random
// elements, and the inverse times its element is one.
TEST(GfP2Test, FastRoutesMatchReferences) {
    Elements rand(26);
    bn256_testing::ExpectFastRoutesMatch<gfP2>(
        {{"Mul", [](const gfP2& a, const gfP2& b) { return gfP2{}.Mul(a, b); },
          [](const gfP2& a, const gfP2& b) { return gfP2{}.MulSchoolbook(a, b); }},
         {"Square", [](const gfP2& a, const gfP2&) { return gfP2{}.Square(a); },
          [](const gfP2& a, const gfP2&) { return gfP2{}.MulSchoolbook(a, a); }},
         {"MulXi", [](const gfP2& a, const gfP2&) { return gfP2{}.MulXi(a); },
          [](const gfP2& a, const gfP2&) {
              return gfP2{}.MulSchoolbook(a, gfP2{newGFp(1), newGFp(9)});
          }},
         bn256_testing::InverseRoute<gfP2>()},
        bn256_testing::EdgeAndRandom<gfP2>([&] { return rand.Fp2(); }, 20));
}

TEST(GfP2Test, OperationsAcceptAliasedReceivers) {
    const bn256_testing::BinaryOps<gfP2> binary = {
        {"Add", [](gfP2& e, const gfP2& a, const gfP2& b) { e.Add(a, b); }},
        {"Sub", [](gfP2& e, const gfP2& a, const gfP2& b) { e.Sub(a, b); }},
        {"Mul", [](gfP2& e, const gfP2& a, const gfP2& b) { e.Mul(a, b); }},
        {"MulSchoolbook", [](gfP2& e, const gfP2& a, const gfP2& b) { e.MulSchoolbook(a, b); }},
    };
    const bn256_testing::UnaryOps<gfP2> unary = {
        {"Set", [](gfP2& e, const gfP2& a) { e.Set(a); }},
        {"Neg", [](gfP2& e, const gfP2& a) { e.Neg(a); }},
        {"Conjugate", [](gfP2& e, const gfP2& a) { e.Conjugate(a); }},
        {"Square", [](gfP2& e, const gfP2& a) { e.Square(a); }},
        {"MulXi", [](gfP2& e, const gfP2& a) { e.MulXi(a); }},
        {"Invert", [](gfP2& e, const gfP2& a) { e.Invert(a); }},
        {"MulScalar", [](gfP2& e, const gfP2& a) { e.MulScalar(a, newGFp(7)); }},
    };
    Elements rand(25);
    const gfP2 a = rand.Fp2(), b = rand.Fp2();
    bn256_testing::ExpectAliasingSafe(binary, unary, a, b);
}

}  // namespace
}  // namespace bn256
