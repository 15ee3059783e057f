#include "bn256/curve.h"

#include <gtest/gtest.h>
#include <gmpxx.h>

#include <string>

#include "bn256/constants.h"
#include "bn256/gfp6.h"

namespace bn256 {
namespace {

// The eigenvalue of phi on G1 (see lattice_test.cpp).
const mpz_class kLambda("4407920970296243842393367215006156084916469457145843978461");

bool sameFields(const curvePoint& a, const curvePoint& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z && a.t == b.t;
}

// Equal as points: compares the normal forms of copies.
bool samePoint(const curvePoint& a, const curvePoint& b) {
    curvePoint ca, cb;
    ca.Set(a);
    cb.Set(b);
    ca.MakeAffine();
    cb.MakeAffine();
    return ca.x == cb.x && ca.y == cb.y && ca.z == cb.z;
}

// Plain double-and-add with Add and Double, independent of the lattice.
curvePoint referenceMul(const curvePoint& a, const mpz_class& k) {
    curvePoint acc;
    for (std::size_t i = mpz_sizeinbase(k.get_mpz_t(), 2) + 1; i-- > 0;) {
        acc.Double(acc);
        if (mpz_tstbit(k.get_mpz_t(), i)) acc.Add(acc, a);
    }
    return acc;
}

curvePoint mul(const curvePoint& a, const mpz_class& k) {
    curvePoint c;
    c.Mul(a, k);
    return c;
}

// A point in Jacobian form (z ≠ 1): 5·curveGen computed by additions.
curvePoint jacobianPoint() {
    curvePoint c;
    c.Double(curveGen);
    c.Double(c);
    c.Add(c, curveGen);
    return c;
}

class CurvePoint : public ::testing::Test {
protected:
    gmp_randclass rng{gmp_randinit_default};
    void SetUp() override { rng.seed(7); }
};

TEST_F(CurvePoint, GeneratorIsOnCurveAndPrintsPlainCoordinates) {
    curvePoint g;
    g.Set(curveGen);
    EXPECT_TRUE(g.IsOnCurve());
    const std::string zeros(63, '0');
    EXPECT_EQ(g.String(), std::string("(").append(zeros).append("1, ").append(zeros).append("2)"));
    EXPECT_TRUE(sameFields(g, curveGen));
}

TEST_F(CurvePoint, AddWithInfinityCopiesAllFields) {
    curvePoint a = jacobianPoint();
    a.t = newGFp(77);  // t is copied by the shortcuts
    curvePoint inf, c;
    c.Add(a, inf);
    EXPECT_TRUE(sameFields(c, a));
    c.Add(inf, a);
    EXPECT_TRUE(sameFields(c, a));
    curvePoint inf2;
    inf2.x = newGFp(5);
    c.Add(inf, inf2);
    EXPECT_TRUE(sameFields(c, inf2));
}

TEST_F(CurvePoint, AddOfEqualPointsIsDoubleUnderEveryAliasing) {
    const curvePoint a = jacobianPoint();
    curvePoint twice;
    twice.Double(a);

    curvePoint c, copy;
    c.Add(a, a);
    EXPECT_TRUE(samePoint(c, twice));
    c.Set(a);
    c.Add(c, a);
    EXPECT_TRUE(samePoint(c, twice));
    c.Set(a);
    copy.Set(a);
    c.Add(copy, c);
    EXPECT_TRUE(samePoint(c, twice));
    c.Set(a);
    c.Add(c, c);
    EXPECT_TRUE(samePoint(c, twice));
    c.Set(a);
    c.Double(c);
    EXPECT_TRUE(sameFields(c, twice));
}

TEST_F(CurvePoint, AddAliasedMatchesSeparateResult) {
    const curvePoint a = jacobianPoint();
    const curvePoint b = mul(curveGen, 123456789);
    curvePoint want;
    want.Add(a, b);
    curvePoint c;
    c.Set(a);
    c.Add(c, b);
    EXPECT_TRUE(sameFields(c, want));
    c.Set(b);
    c.Add(a, c);
    EXPECT_TRUE(sameFields(c, want));
}

TEST_F(CurvePoint, AddOfPointAndNegationIsInfinity) {
    curvePoint a = mul(curveGen, 99);
    a.MakeAffine();
    curvePoint neg;
    neg.Set(a);
    gfpNeg(neg.y, neg.y);
    curvePoint c;
    c.Add(a, neg);
    EXPECT_TRUE(c.IsInfinity());
    c.MakeAffine();
    EXPECT_TRUE(c.x.IsZero());
    EXPECT_EQ(c.y, newGFp(1));
    EXPECT_TRUE(c.z.IsZero());
    EXPECT_TRUE(c.t.IsZero());
}

TEST_F(CurvePoint, MulMatchesPlainDoubleAndAdd) {
    const mpz_class two256 = mpz_class(1) << 256;
    mpz_class scalars[] = {1, 2, 3, 1000003, Order - 1, Order + 5, two256 - 1, 0};
    for (const mpz_class& k : scalars) {
        EXPECT_TRUE(samePoint(mul(curveGen, k), referenceMul(curveGen, k))) << k.get_str();
    }
    const curvePoint base = jacobianPoint();
    for (int i = 0; i < 10; ++i) {
        const mpz_class k = i < 5 ? mpz_class(rng.get_z_range(Order)) : mpz_class(rng.get_z_bits(256));
        EXPECT_TRUE(samePoint(mul(base, k), referenceMul(base, k))) << k.get_str();
    }
}

TEST_F(CurvePoint, MulEdgeScalars) {
    const curvePoint a = jacobianPoint();
    EXPECT_TRUE(mul(a, 0).IsInfinity());
    EXPECT_TRUE(samePoint(mul(a, 1), a));
    EXPECT_TRUE(mul(curveGen, Order).IsInfinity());
    const mpz_class k = rng.get_z_range(Order);
    EXPECT_TRUE(samePoint(mul(a, Order + k), mul(a, k)));
    const mpz_class big = (mpz_class(1) << 256) - 1;
    mpz_class reduced;
    mpz_mod(reduced.get_mpz_t(), big.get_mpz_t(), Order.get_mpz_t());
    EXPECT_TRUE(samePoint(mul(a, big), mul(a, reduced)));
    curvePoint inf;
    EXPECT_TRUE(mul(inf, k).IsInfinity());
}

TEST_F(CurvePoint, MulAliasedMatchesSeparateResult) {
    const mpz_class k = rng.get_z_range(Order);
    const curvePoint a = jacobianPoint();
    const curvePoint want = mul(a, k);
    curvePoint c;
    c.Set(a);
    c.Mul(c, k);
    EXPECT_TRUE(sameFields(c, want));
}

// The table point phi(a) = (beta·x, y) is λ·a.
TEST_F(CurvePoint, EndomorphismIsMultiplicationByLambda) {
    curvePoint phi;
    phi.Set(curveGen);
    gfpMul(phi.x, phi.x, xiTo2PSquaredMinus2Over3);
    EXPECT_TRUE(phi.IsOnCurve());
    EXPECT_TRUE(samePoint(referenceMul(curveGen, kLambda), phi));
}

TEST_F(CurvePoint, MakeAffineNormalisesAndLeavesAffinePointUntouched) {
    curvePoint a = jacobianPoint();
    EXPECT_FALSE(a.z == newGFp(1));
    curvePoint affine;
    affine.Set(a);
    affine.MakeAffine();
    EXPECT_EQ(affine.z, newGFp(1));
    EXPECT_EQ(affine.t, newGFp(1));
    EXPECT_TRUE(samePoint(affine, a));

    affine.t = newGFp(12345);
    curvePoint before;
    before.Set(affine);
    affine.MakeAffine();
    EXPECT_TRUE(sameFields(affine, before));
}

TEST_F(CurvePoint, IsOnCurve) {
    curvePoint inf;
    inf.x = newGFp(3);
    EXPECT_TRUE(inf.IsOnCurve());
    EXPECT_TRUE(inf.x.IsZero());
    EXPECT_EQ(inf.y, newGFp(1));
    EXPECT_TRUE(inf.z.IsZero());
    EXPECT_TRUE(inf.t.IsZero());

    curvePoint a = jacobianPoint();
    EXPECT_TRUE(a.IsOnCurve());
    EXPECT_EQ(a.z, newGFp(1));  // left normalised

    curvePoint off;
    off.Set(curveGen);
    off.y = newGFp(3);
    EXPECT_FALSE(off.IsOnCurve());
}

}  // namespace
}  // namespace bn256
