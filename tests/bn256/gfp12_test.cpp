#include "bn256/gfp12.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "bn256/field_testing.h"

namespace bn256 {
namespace {

using bn256_testing::Elements;
using bn256_testing::MontP2;
using bn256_testing::Prime;
using bn256_testing::RefPow;
using bn256_testing::RefXi;

gfP12 One() { return gfP12{}.SetOne(); }

// f^((p^6 − 1)(p^2 + 1)), the easy part of the final exponentiation: an element of
// the cyclotomic subgroup for every non-zero f.
gfP12 Cyclotomic(const gfP12& f) {
    gfP12 g, inv, frob;
    g.Conjugate(f);
    g.Mul(g, inv.Invert(f));
    return g.Mul(g, frob.FrobeniusP2(g));
}

// Every fast route of this layer gives the reference value: Mul and the
// schoolbook product on edge and random elements (where also the inverse times its
// element is one), CyclotomicSquare and Square on
// the same elements taken into the cyclotomic subgroup (zero left out).
TEST(GfP12Test, FastRoutesMatchReferences) {
    Elements rand(48);
    const std::vector<gfP12> any =
        bn256_testing::EdgeAndRandom<gfP12>([&] { return rand.Fp12(); }, 6);
    std::vector<gfP12> cyclotomic;
    for (std::size_t i = 1; i < any.size(); ++i) cyclotomic.push_back(Cyclotomic(any[i]));

    bn256_testing::ExpectFastRoutesMatch<gfP12>(
        {{"Mul", [](const gfP12& a, const gfP12& b) { return gfP12{}.Mul(a, b); },
          [](const gfP12& a, const gfP12& b) { return gfP12{}.MulSchoolbook(a, b); }},
         bn256_testing::InverseRoute<gfP12>()},
        any);
    bn256_testing::ExpectFastRoutesMatch<gfP12>(
        {{"CyclotomicSquare",
          [](const gfP12& a, const gfP12&) { return gfP12{}.CyclotomicSquare(a); },
          [](const gfP12& a, const gfP12&) { return gfP12{}.Square(a); }}},
        cyclotomic);
}

TEST(GfP12Test, FrobeniusConstantsArePowersOfXi) {
    const mpz_class& p = Prime();
    EXPECT_EQ(xiToPMinus1Over6, MontP2(RefPow(RefXi(), (p - 1) / 6)));
    const gfP2 sixth = MontP2(RefPow(RefXi(), (p * p - 1) / 6));
    EXPECT_TRUE(sixth.x.IsZero());
    EXPECT_EQ(xiToPSquaredMinus1Over6, sixth.y);

    EXPECT_EQ(xiToPMinus1Over6.String(),
              "(10a75716b3899551dc2ff3a253dfc926d00f02a4565de15ba222ae234c492d72, "
              "02f34d751a1f3a7c11bded5ef08a2087ca6b1d7387afb78aaf9ba69633144907)");
    EXPECT_EQ(xiToPSquaredMinus1Over6.String(),
              "04290f65bad856e60e201271ad0d4418f0c5d61468b39769ca8d800500fa1bf2");

    // p − beta, whose square is beta².
    gfP negBeta, square;
    gfpNeg(negBeta, xiTo2PSquaredMinus2Over3);
    EXPECT_EQ(xiToPSquaredMinus1Over6, negBeta);
    gfpMul(square, xiToPSquaredMinus1Over6, xiToPSquaredMinus1Over6);
    EXPECT_EQ(square, xiToPSquaredMinus1Over3);
}

TEST(GfP12Test, MulMatchesSchoolbookAndSquareMatchesMul) {
    Elements rand(41);
    for (int n = 0; n < 10; ++n) {
        const gfP12 a = rand.Fp12(), b = rand.Fp12();
        // (ax·w + ay)(bx·w + by) = (ax·by + ay·bx)·w + (ay·by + tau·ax·bx)
        gfP6 t, u;
        gfP12 expected;
        expected.x.Add(t.Mul(a.x, b.y), u.Mul(a.y, b.x));
        expected.y.Add(t.Mul(a.y, b.y), u.MulTau(u.Mul(a.x, b.x)));
        gfP12 e, square, self;
        EXPECT_EQ(e.Mul(a, b), expected);
        EXPECT_EQ(square.Square(a), self.Mul(a, a));
        EXPECT_EQ(e.Mul(One(), a), a);
    }
}

TEST(GfP12Test, WSquaredIsTau) {
    gfP12 w{};
    w.x.z.SetOne();
    gfP12 e;
    e.Square(w);
    gfP6 tau{};
    tau.y.SetOne();
    EXPECT_TRUE(e.x.IsZero());
    EXPECT_EQ(e.y, tau);
}

TEST(GfP12Test, MulScalarMatchesMul) {
    Elements rand(42);
    const gfP12 a = rand.Fp12();
    const gfP6 b = rand.Fp6();
    gfP12 e, expected;
    EXPECT_EQ(e.MulScalar(a, b), expected.Mul(a, gfP12{gfP6{}, b}));
}

TEST(GfP12Test, ExpEdgeCases) {
    Elements rand(43);
    const gfP12 a = rand.Fp12();
    gfP12 e, expected;
    EXPECT_TRUE(e.Exp(a, 0).IsOne());
    EXPECT_TRUE(e.Exp(gfP12{}, 0).IsOne()) << "zero to the 0 is one";
    EXPECT_EQ(e.Exp(a, 1), a);
    EXPECT_EQ(e.Exp(a, 2), expected.Square(a));
    EXPECT_TRUE(e.Exp(gfP12{}, 5).IsZero());

    expected = One();
    for (int n = 0; n < 13; ++n) expected.Mul(expected, a);
    EXPECT_EQ(e.Exp(a, 13), expected);
}

TEST(GfP12Test, InvertGivesTheInverseAndZeroForZero) {
    gfP12 e = One();
    EXPECT_TRUE(e.Invert(gfP12{}).IsZero());
    Elements rand(44);
    for (int n = 0; n < 5; ++n) {
        const gfP12 a = rand.Fp12();
        gfP12 inv, product;
        inv.Invert(a);
        EXPECT_TRUE(product.Mul(a, inv).IsOne());
    }
}

TEST(GfP12Test, FrobeniusIsThePthPower) {
    Elements rand(45);
    const gfP12 a = rand.Fp12();
    gfP12 f, f2, power;
    EXPECT_EQ(f.Frobenius(a), power.Exp(a, Prime()));
    EXPECT_EQ(f2.FrobeniusP2(a), power.Exp(a, Prime() * Prime()));
    EXPECT_EQ(f.Frobenius(f), f2) << "twice is FrobeniusP2";
}

TEST(GfP12Test, FrobeniusOrders) {
    Elements rand(46);
    const gfP12 a = rand.Fp12();
    gfP12 e = a;
    for (int n = 0; n < 3; ++n) e.FrobeniusP2(e);
    gfP12 conjugate;
    EXPECT_EQ(e, conjugate.Conjugate(a)) << "FrobeniusP2 three times";
    e = a;
    for (int n = 0; n < 12; ++n) e.Frobenius(e);
    EXPECT_EQ(e, a) << "Frobenius twelve times";
}

TEST(GfP12Test, StringPutsNoBlankBetweenHalves) {
    const std::string text = One().String();
    const std::string zero = gfP6{}.String(), one = gfP6{}.SetOne().String();
    ASSERT_EQ(text.size(), zero.size() + one.size() + 3);
    EXPECT_EQ(text.front(), '(');
    EXPECT_EQ(text.substr(1, zero.size()), zero);
    EXPECT_EQ(text[1 + zero.size()], ',');
    EXPECT_EQ(text.substr(2 + zero.size(), one.size()), one);
    EXPECT_EQ(text.back(), ')');
    EXPECT_NE(zero.find(", "), std::string::npos) << "the halves use comma and blank";
}

TEST(GfP12Test, OperationsAcceptAliasedReceivers) {
    const bn256_testing::BinaryOps<gfP12> binary = {
        {"Mul", [](gfP12& e, const gfP12& a, const gfP12& b) { e.Mul(a, b); }},
        {"MulSchoolbook", [](gfP12& e, const gfP12& a, const gfP12& b) { e.MulSchoolbook(a, b); }},
    };
    const bn256_testing::UnaryOps<gfP12> unary = {
        {"Set", [](gfP12& e, const gfP12& a) { e.Set(a); }},
        {"Conjugate", [](gfP12& e, const gfP12& a) { e.Conjugate(a); }},
        {"Square", [](gfP12& e, const gfP12& a) { e.Square(a); }},
        {"CyclotomicSquare", [](gfP12& e, const gfP12& a) { e.CyclotomicSquare(a); }},
        {"Invert", [](gfP12& e, const gfP12& a) { e.Invert(a); }},
        {"Frobenius", [](gfP12& e, const gfP12& a) { e.Frobenius(a); }},
        {"FrobeniusP2", [](gfP12& e, const gfP12& a) { e.FrobeniusP2(a); }},
        {"Exp", [](gfP12& e, const gfP12& a) { e.Exp(a, mpz_class(1000003)); }},
        {"MulScalar",
         [](gfP12& e, const gfP12& a) {
             const gfP6 s = {gfP2{newGFp(1), newGFp(2)}, gfP2{}, gfP2{newGFp(3), newGFp(4)}};
             e.MulScalar(a, s);
         }},
    };
    Elements rand(47);
    const gfP12 a = rand.Fp12(), b = rand.Fp12();
    bn256_testing::ExpectAliasingSafe(binary, unary, a, b);
}

}  // namespace
}  // namespace bn256
