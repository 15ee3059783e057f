#include "bn256/twist.h"

#include <gtest/gtest.h>
#include <gmpxx.h>

#include <optional>
#include <string>
#include <vector>

#include "bn256/constants.h"

namespace bn256 {
namespace {

// GF(p²) on plain integers (value x·i + y), independent of the code under test;
// used to build a point of the twist outside G2.
struct Fp2 {
    mpz_class x, y;
};

mpz_class modP(const mpz_class& a) {
    mpz_class r;
    mpz_mod(r.get_mpz_t(), a.get_mpz_t(), P.get_mpz_t());
    return r;
}

Fp2 mul(const Fp2& a, const Fp2& b) {
    return {modP(a.x * b.y + a.y * b.x), modP(a.y * b.y - a.x * b.x)};
}

Fp2 add(const Fp2& a, const Fp2& b) { return {modP(a.x + b.x), modP(a.y + b.y)}; }

Fp2 power(const Fp2& a, const mpz_class& e) {
    Fp2 r{0, 1};
    for (std::size_t i = mpz_sizeinbase(e.get_mpz_t(), 2) + 1; i-- > 0;) {
        r = mul(r, r);
        if (mpz_tstbit(e.get_mpz_t(), i)) r = mul(r, a);
    }
    return r;
}

bool operator==(const Fp2& a, const Fp2& b) { return a.x == b.x && a.y == b.y; }

// A square root in GF(p²) for p ≡ 3 mod 4, or nothing for a non-square.
std::optional<Fp2> sqrtFp2(const Fp2& a) {
    const Fp2 minusOne{0, P - 1};
    const Fp2 a1 = power(a, (P - 3) / 4);
    const Fp2 alpha = mul(a1, mul(a1, a));                       // a^((p−1)/2)
    const Fp2 a0 = mul(power(alpha, P), alpha);                  // the norm of alpha
    if (a0 == minusOne) return std::nullopt;
    const Fp2 x0 = mul(a1, a);
    Fp2 root = alpha == minusOne ? mul(Fp2{1, 0}, x0) : mul(power(add(Fp2{0, 1}, alpha), (P - 1) / 2), x0);
    if (!(mul(root, root) == a)) return std::nullopt;
    return root;
}

gfP toMont(const mpz_class& v) {
    gfP plain{};
    for (int i = 0; i < 4; ++i) {
        mpz_class limb = (v >> (64 * i)) & mpz_class("0xffffffffffffffff");
        plain[i] = mpz_get_ui(limb.get_mpz_t());
    }
    gfP out;
    montEncode(out, plain);
    return out;
}

gfP2 toMont(const Fp2& v) { return {toMont(v.x), toMont(v.y)}; }

const Fp2 kTwistB{mpz_class("266929791119991161246907387137283842545076965332900288569378510910307636690"),
                  mpz_class("19485874751759354771024239261021720505790618469301721065564631296452457478373")};

// The affine point of the twist y² = x³ + 3/xi with this x, if there is one.
std::optional<twistPoint> twistPointWithX(const Fp2& x) {
    const Fp2 rhs = add(mul(mul(x, x), x), kTwistB);
    const auto y = sqrtFp2(rhs);
    if (!y) return std::nullopt;
    twistPoint pt;
    pt.x = toMont(x);
    pt.y = toMont(*y);
    pt.z.SetOne();
    pt.t.SetOne();
    return pt;
}

// An affine point of the twist y² = x³ + 3/xi whose x has i-part 1, found by
// trying real parts 1, 2, ...; its order almost surely does not divide Order
// (the twist has Order·(2p − Order) points).
twistPoint twistPointOutsideG2() {
    for (long c = 1;; ++c) {
        if (auto pt = twistPointWithX(Fp2{1, c})) return *pt;
    }
}

bool sameFields(const twistPoint& a, const twistPoint& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z && a.t == b.t;
}

bool samePoint(const twistPoint& a, const twistPoint& b) {
    twistPoint ca, cb;
    ca.Set(a);
    cb.Set(b);
    ca.MakeAffine();
    cb.MakeAffine();
    return ca.x == cb.x && ca.y == cb.y && ca.z == cb.z;
}

twistPoint mul(const twistPoint& a, const mpz_class& k) {
    twistPoint c;
    c.Mul(a, k);
    return c;
}

// 5·twistGen in Jacobian form.
twistPoint jacobianPoint() {
    twistPoint c;
    c.Double(twistGen);
    c.Double(c);
    c.Add(c, twistGen);
    return c;
}

class TwistPoint : public ::testing::Test {
protected:
    gmp_randclass rng{gmp_randinit_default};
    void SetUp() override { rng.seed(11); }

    // A random point of the twist: random x mapped to the twist, no cofactor
    // cleared, so almost surely outside G2.
    twistPoint randomTwistPoint() {
        for (;;) {
            if (auto pt = twistPointWithX(Fp2{rng.get_z_range(P), rng.get_z_range(P)})) return *pt;
        }
    }
};

// The cofactor of G2 in the twist group: #E'(GF(p²)) = Order·h. h = 10069·(a
// 241-bit number).
mpz_class cofactor() { return 2 * P - Order; }

TEST_F(TwistPoint, GeneratorIsInG2) {
    twistPoint g;
    g.Set(twistGen);
    EXPECT_TRUE(g.IsOnCurve());
    EXPECT_TRUE(mul(twistGen, Order).IsInfinity());
    EXPECT_FALSE(mul(twistGen, Order - 1).IsInfinity());
}

TEST_F(TwistPoint, StringPrintsPlainCoordinatesIPartFirst) {
    twistPoint g = jacobianPoint();
    twistPoint affine;
    affine.Set(g);
    affine.MakeAffine();
    const gfP2 px = gfP2Decode(affine.x), py = gfP2Decode(affine.y);
    std::string want = "((";
    want.append(px.x.String()).append(", ").append(px.y.String()).append("), (");
    want.append(py.x.String()).append(", ").append(py.y.String()).append("))");
    EXPECT_EQ(g.String(), want);
    EXPECT_TRUE(g.z.IsOne());  // normalised in place

    twistPoint gen;
    gen.Set(twistGen);
    const std::string text = gen.String();
    mpz_class xi(text.substr(2, 64), 16);
    EXPECT_EQ(xi, mpz_class("11559732032986387107991004021392285783925812861821192530917403151452391805634"));
}

TEST_F(TwistPoint, AddWithInfinityCopiesAllFields) {
    twistPoint a = jacobianPoint();
    a.t.y = newGFp(77);
    twistPoint inf, c;
    c.Add(a, inf);
    EXPECT_TRUE(sameFields(c, a));
    c.Add(inf, a);
    EXPECT_TRUE(sameFields(c, a));
    twistPoint inf2;
    inf2.x.y = newGFp(5);
    c.Add(inf, inf2);
    EXPECT_TRUE(sameFields(c, inf2));
}

TEST_F(TwistPoint, AddAndDoubleUnderEveryAliasing) {
    const twistPoint a = jacobianPoint();
    const twistPoint b = mul(twistGen, 987654321);
    twistPoint twice, sum;
    twice.Double(a);
    sum.Add(a, b);

    twistPoint c;
    c.Set(a);
    c.Add(c, c);
    EXPECT_TRUE(samePoint(c, twice));
    c.Set(a);
    c.Add(c, a);
    EXPECT_TRUE(samePoint(c, twice));
    c.Set(a);
    c.Double(c);
    EXPECT_TRUE(sameFields(c, twice));
    c.Set(a);
    c.Add(c, b);
    EXPECT_TRUE(sameFields(c, sum));
    c.Set(b);
    c.Add(a, c);
    EXPECT_TRUE(sameFields(c, sum));
}

TEST_F(TwistPoint, NegationAddsToInfinity) {
    twistPoint neg;
    neg.Neg(twistGen);
    EXPECT_TRUE(neg.t.IsZero());
    twistPoint c;
    c.Add(twistGen, neg);
    EXPECT_TRUE(c.IsInfinity());
    c.MakeAffine();
    EXPECT_TRUE(c.x.IsZero());
    EXPECT_TRUE(c.y.IsOne());
    EXPECT_TRUE(c.z.IsZero());
    EXPECT_TRUE(c.t.IsZero());

    twistPoint self = jacobianPoint();
    twistPoint want;
    want.Neg(self);
    self.Neg(self);
    EXPECT_TRUE(sameFields(self, want));
}

TEST_F(TwistPoint, MulEdgeScalarsAndLinearity) {
    const twistPoint a = jacobianPoint();
    twistPoint zero = mul(a, 0);
    EXPECT_TRUE(sameFields(zero, twistPoint{}));
    EXPECT_TRUE(sameFields(mul(a, 1), a));

    const mpz_class k = rng.get_z_range(Order), l = rng.get_z_range(Order);
    EXPECT_TRUE(samePoint(mul(a, Order + k), mul(a, k)));
    twistPoint sum;
    sum.Add(mul(a, k), mul(a, l));
    EXPECT_TRUE(samePoint(sum, mul(a, k + l)));
    EXPECT_TRUE(samePoint(mul(mul(a, k), l), mul(a, k * l)));

    twistPoint c;
    c.Set(a);
    c.Mul(c, k);
    EXPECT_TRUE(sameFields(c, mul(a, k)));
}

TEST_F(TwistPoint, MakeAffineLeavesAffinePointUntouched) {
    twistPoint a;
    a.Set(twistGen);
    a.t.x = newGFp(4);
    twistPoint before;
    before.Set(a);
    a.MakeAffine();
    EXPECT_TRUE(sameFields(a, before));
}

TEST_F(TwistPoint, IsOnCurveRejectsPointsOffTwistAndOutsideG2) {
    twistPoint inf;
    inf.x.y = newGFp(2);
    EXPECT_TRUE(inf.IsOnCurve());
    EXPECT_TRUE(inf.x.IsZero());
    EXPECT_TRUE(inf.y.IsOne());
    EXPECT_TRUE(inf.t.IsZero());

    twistPoint outside = twistPointOutsideG2();
    twistPoint eq;
    eq.Set(outside);
    gfP2 y2, x3;
    y2.Square(eq.y);
    x3.Square(eq.x);
    x3.Mul(x3, eq.x);
    x3.Add(x3, twistB);
    ASSERT_TRUE(y2 == x3);  // on the twist
    EXPECT_FALSE(outside.IsOnCurve());

    twistPoint off;
    off.Set(twistGen);
    off.y.y = newGFp(1);
    EXPECT_FALSE(off.IsOnCurve());
}

// MulInG2 is the same point as the reference Mul for every point of G2 (affine,
// Jacobian, at infinity) and every scalar, those beyond Order included.
TEST_F(TwistPoint, MulInG2MatchesMulOnG2) {
    std::vector<twistPoint> points = {twistGen, jacobianPoint(), twistPoint{}};
    twistPoint inf;
    inf.x.y = newGFp(5);  // infinity with stray coordinates
    points.push_back(inf);
    for (int i = 0; i < 3; ++i) points.push_back(mul(twistGen, rng.get_z_range(Order)));
    std::vector<mpz_class> scalars = {0,         1,         2,         3,         15,        16,
                                      31,        33,        Order - 1, Order,     Order + 1, 2 * Order + 7,
                                      u,         (mpz_class(1) << 64) - 1, (mpz_class(1) << 256) - 1};
    for (int i = 0; i < 8; ++i) scalars.push_back(rng.get_z_range(Order));
    scalars.push_back(rng.get_z_bits(512));
    for (const twistPoint& a : points) {
        for (const mpz_class& k : scalars) {
            SCOPED_TRACE(k.get_str());
            twistPoint fast;
            fast.MulInG2(a, k);
            EXPECT_TRUE(samePoint(fast, mul(a, k)));
            twistPoint self = a;
            self.MulInG2(self, k);
            EXPECT_TRUE(samePoint(self, fast));
        }
    }
}

// Psi is multiplication by p on G2 and satisfies ψ² − t·ψ + p = 0 on the whole
// twist (t = 6u² + 1, the trace): the two facts the fast routes rest on. Psi2 is
// Psi applied twice, field for field.
TEST_F(TwistPoint, PsiIsPOnG2AndMeetsItsCharacteristicPolynomial) {
    const twistPoint g = mul(twistGen, rng.get_z_range(Order));
    twistPoint image;
    image.Psi(g);
    EXPECT_TRUE(samePoint(image, mul(g, P)));

    const mpz_class trace = 6 * u * u + 1;
    for (const twistPoint& q : {randomTwistPoint(), jacobianPoint()}) {
        twistPoint psi, psi2, sum;
        psi.Psi(q);
        psi2.Psi(psi);
        twistPoint direct;
        direct.Psi2(q);
        EXPECT_TRUE(sameFields(direct, psi2));
        sum.Add(psi2, mul(q, P));
        twistPoint minus;
        minus.Neg(mul(psi, trace));
        sum.Add(sum, minus);
        EXPECT_TRUE(sum.IsInfinity());
    }
}

// IsOnCurveFast decides as IsOnCurve, and normalises the same way, on every kind
// of point: in G2; random twist points (random x, no cofactor cleared); points
// of order dividing the cofactor, among them one of order 10069; G2 plus such a
// point; points off the twist; infinity.
TEST_F(TwistPoint, FastMembershipTestDecidesAsMultiplicationByOrder) {
    const mpz_class h = cofactor();
    ASSERT_TRUE(mpz_divisible_ui_p(h.get_mpz_t(), 10069));
    struct Case {
        const char* kind;
        twistPoint point;
        bool inG2;
    };
    std::vector<Case> cases;
    cases.push_back({"generator", twistGen, true});
    cases.push_back({"Jacobian multiple", jacobianPoint(), true});
    cases.push_back({"infinity", twistPoint{}, true});
    for (int i = 0; i < 12; ++i) {
        const twistPoint q = randomTwistPoint();
        const twistPoint inG2 = mul(q, h);
        const twistPoint torsion = mul(q, Order);              // order divides h
        const twistPoint small = mul(q, Order * (h / 10069));  // order divides 10069
        twistPoint mixed;
        mixed.Add(inG2, small);
        cases.push_back({"random twist point", q, false});
        cases.push_back({"cofactor cleared", inG2, true});
        cases.push_back({"cofactor torsion", torsion, torsion.IsInfinity()});
        cases.push_back({"order 10069", small, small.IsInfinity()});
        cases.push_back({"G2 plus order 10069", mixed, small.IsInfinity()});
    }
    twistPoint off = twistGen;
    off.y.y = newGFp(1);
    cases.push_back({"off the twist", off, false});
    twistPoint offJacobian = jacobianPoint();
    offJacobian.x.x = newGFp(3);
    cases.push_back({"off the twist, Jacobian", offJacobian, false});

    int small = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        twistPoint reference = c.point, fast = c.point;
        EXPECT_EQ(reference.IsOnCurve(), c.inG2);
        EXPECT_EQ(fast.IsOnCurveFast(), c.inG2);
        EXPECT_TRUE(sameFields(fast, reference));
        if (std::string(c.kind) == "order 10069" && !c.point.IsInfinity()) ++small;
    }
    EXPECT_GT(small, 0);  // the order-10069 kind was met
}

// Why the endomorphism test is exact: α = (u + 1) + u·ψ + u·ψ² − 2u·ψ³, reduced
// by ψ² = t·ψ − p to a + b·ψ, vanishes at ψ = p mod Order, and its norm
// a² + a·b·t + b²·p is prime to the cofactor, so α(Q) = O only for Q in G2.
TEST_F(TwistPoint, MembershipEndomorphismNormIsPrimeToCofactor) {
    const mpz_class t = 6 * u * u + 1;
    // Coefficients of 1, ψ, ψ², ψ³, reduced from the top.
    mpz_class c[4] = {u + 1, u, u, -2 * u};
    for (int d = 3; d >= 2; --d) {
        c[d - 1] += c[d] * t;
        c[d - 2] -= c[d] * P;
        c[d] = 0;
    }
    const mpz_class& a = c[0];
    const mpz_class& b = c[1];
    mpz_class atP, g;
    mpz_mod(atP.get_mpz_t(), mpz_class(a + b * P).get_mpz_t(), Order.get_mpz_t());
    EXPECT_EQ(atP, 0);
    const mpz_class norm = a * a + a * b * t + b * b * P;
    mpz_gcd(g.get_mpz_t(), norm.get_mpz_t(), cofactor().get_mpz_t());
    EXPECT_EQ(g, 1);
    mpz_gcd(g.get_mpz_t(), Order.get_mpz_t(), cofactor().get_mpz_t());
    EXPECT_EQ(g, 1);
}

}  // namespace
}  // namespace bn256
