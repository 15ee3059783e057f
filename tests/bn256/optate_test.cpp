#include "bn256/optate.h"

#include <gtest/gtest.h>
#include <gmpxx.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include <functional>
#include <vector>

#include "bn256/constants.h"
#include "bn256/field_testing.h"

// Every allocation of this test binary is counted, through operator new and
// through GMP's memory functions (GMP calls malloc directly), so a test can show
// that a computation allocates nothing.
namespace {
std::atomic<long> allocations{0};

void* countedMalloc(std::size_t n) {
    ++allocations;
    return std::malloc(n);
}
void* countedRealloc(void* p, std::size_t, std::size_t n) {
    ++allocations;
    return std::realloc(p, n);
}
void countedFree(void* p, std::size_t) { std::free(p); }
}  // namespace

void* operator new(std::size_t n) {
    ++allocations;
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
    ++allocations;
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace bn256 {
namespace {

mpz_class plainValue(const gfP& a) {
    gfP plain;
    montDecode(plain, a);
    mpz_class v = 0;
    for (int i = 3; i >= 0; --i) {
        v <<= 64;
        v += mpz_class(std::to_string(plain[i]));
    }
    return v;
}

twistPoint g2(const mpz_class& k) {
    twistPoint q;
    q.Mul(twistGen, k);
    return q;
}

curvePoint g1(const mpz_class& k) {
    curvePoint p;
    p.Mul(curveGen, k);
    return p;
}

gfP12 power(const gfP12& a, const mpz_class& k) {
    gfP12 c;
    c.Exp(a, k);
    return c;
}

// A GF(p^12) element with every coefficient non-zero.
gfP12 someElement() {
    gfP12 f;
    gfP* coefficients[12] = {&f.x.x.x, &f.x.x.y, &f.x.y.x, &f.x.y.y, &f.x.z.x, &f.x.z.y,
                             &f.y.x.x, &f.y.x.y, &f.y.y.x, &f.y.y.y, &f.y.z.x, &f.y.z.y};
    for (int i = 0; i < 12; ++i) *coefficients[i] = newGFp(1000 * i + 17);
    return f;
}

class Pairing : public ::testing::Test {
protected:
    gmp_randclass rng{gmp_randinit_default};
    void SetUp() override { rng.seed(3); }
};

TEST_F(Pairing, SixuPlus2DigitsGiveSixUPlusTwo) {
    mpz_class v = 0;
    int ones = 0, minusOnes = 0;
    for (int i = 64; i >= 0; --i) {
        v = 2 * v + sixuPlus2NAF[i];
        if (i < 64) {
            ones += sixuPlus2NAF[i] == 1;
            minusOnes += sixuPlus2NAF[i] == -1;
        }
    }
    EXPECT_EQ(v, 6 * u + 2);
    EXPECT_EQ(v, mpz_class("29793968203157093288"));
    EXPECT_EQ(ones, 17);
    EXPECT_EQ(minusOnes, 8);
}

TEST_F(Pairing, GeneratorsPairToKnownCoefficients) {
    const gfP12 e = optimalAte(twistGen, curveGen);
    EXPECT_EQ(plainValue(e.x.x.x),
              mpz_class("7484542354754424633621663080190936924481536615300815203692506276894207018007"));
    EXPECT_EQ(plainValue(e.y.z.y),
              mpz_class("8493334370784016972005089913588211327688223499729897951716206968320726508021"));
    EXPECT_FALSE(e.IsOne());
    EXPECT_TRUE(power(e, Order).IsOne());
}

TEST_F(Pairing, InfinityPairsToOne) {
    twistPoint qInf;
    curvePoint pInf;
    EXPECT_TRUE(optimalAte(qInf, curveGen).IsOne());
    EXPECT_TRUE(optimalAte(twistGen, pInf).IsOne());
    EXPECT_TRUE(optimalAte(g2(Order), g1(5)).IsOne());
}

TEST_F(Pairing, IsBilinear) {
    const gfP12 base = optimalAte(twistGen, curveGen);
    for (int i = 0; i < 3; ++i) {
        const mpz_class a = rng.get_z_range(Order), b = rng.get_z_range(Order);
        const gfP12 want = power(base, a * b);
        EXPECT_EQ(optimalAte(g2(a), g1(b)), want);
        EXPECT_EQ(optimalAte(g2(a * b), curveGen), want);
        EXPECT_EQ(optimalAte(twistGen, g1(a * b)), want);
    }
}

TEST_F(Pairing, JacobianInputsPairLikeAffineAndAreNotChanged) {
    const twistPoint q = g2(12345);  // Jacobian, z ≠ 1
    const curvePoint p = g1(678);
    ASSERT_FALSE(q.z.IsOne());
    twistPoint qa;
    qa.Set(q);
    qa.MakeAffine();
    curvePoint pa;
    pa.Set(p);
    pa.MakeAffine();
    const twistPoint qBefore = q;
    const curvePoint pBefore = p;
    EXPECT_EQ(optimalAte(q, p), optimalAte(qa, pa));
    EXPECT_TRUE(q.x == qBefore.x && q.y == qBefore.y && q.z == qBefore.z && q.t == qBefore.t);
    EXPECT_TRUE(p.x == pBefore.x && p.y == pBefore.y && p.z == pBefore.z && p.t == pBefore.t);
}

// The two points after the loop: q1 = (p mod Order)·Q and q2 = −((p² mod Order)·Q).
TEST_F(Pairing, FrobeniusImagesOnTwist) {
    twistPoint q = g2(rng.get_z_range(Order));
    q.MakeAffine();
    twistPoint q1;
    q1.x.Conjugate(q.x);
    q1.x.Mul(q1.x, xiToPMinus1Over3);
    q1.y.Conjugate(q.y);
    q1.y.Mul(q1.y, xiToPMinus1Over2);
    q1.z.SetOne();
    twistPoint q2;
    q2.x.MulScalar(q.x, xiToPSquaredMinus1Over3);
    q2.y.Set(q.y);
    q2.z.SetOne();

    mpz_class pModR, p2ModR;
    mpz_class p2 = P * P;
    mpz_mod(pModR.get_mpz_t(), P.get_mpz_t(), Order.get_mpz_t());
    mpz_mod(p2ModR.get_mpz_t(), p2.get_mpz_t(), Order.get_mpz_t());
    twistPoint w1, w2;
    w1.Mul(q, pModR);
    w1.MakeAffine();
    w2.Mul(q, p2ModR);
    w2.Neg(w2);
    w2.MakeAffine();
    EXPECT_TRUE(q1.x == w1.x && q1.y == w1.y);
    EXPECT_TRUE(q2.x == w2.x && q2.y == w2.y);
}

// The final exponentiation is exactly the power (p^12 − 1)/Order.
TEST_F(Pairing, FinalExponentiationIsExactPower) {
    gfP12 one;
    one.SetOne();
    EXPECT_TRUE(finalExponentiation(one).IsOne());

    mpz_class p12;
    mpz_pow_ui(p12.get_mpz_t(), P.get_mpz_t(), 12);
    const mpz_class exponent = (p12 - 1) / Order;
    ASSERT_EQ((p12 - 1) % Order, 0);

    const gfP12 f = someElement();
    EXPECT_EQ(finalExponentiation(f), power(f, exponent));
    const gfP12 m = miller(twistGen, curveGen);
    EXPECT_EQ(finalExponentiation(m), power(m, exponent));
}

// Elements of the cyclotomic subgroup: the easy part of the final exponentiation
// applied to the edge values one and someElement() and to a Miller loop value.
std::vector<gfP12> cyclotomicElements() {
    std::vector<gfP12> out;
    gfP12 one;
    one.SetOne();
    for (const gfP12& f : {one, someElement(), miller(twistGen, curveGen)}) {
        gfP12 g, inv, frob;
        g.Conjugate(f);
        g.Mul(g, inv.Invert(f));
        out.push_back(g.Mul(g, frob.FrobeniusP2(g)));
    }
    return out;
}

// The fast routes of the pairing give the values of the general routes.
TEST_F(Pairing, FastRoutesMatchReferences) {
    struct Route {
        const char* name;
        std::function<gfP12(const gfP12&)> fast, reference;
    };
    const std::vector<Route> routes = {
        {"cyclotomicPowU", cyclotomicPowU, [](const gfP12& a) { return power(a, u); }},
        // The line (a·tau + b)·w + c made of three coefficients of the input.
        {"mulLine",
         [](const gfP12& f) {
             gfP12 e = f;
             mulLine(e, f.x.x, f.y.y, f.x.z);
             return e;
         },
         [](const gfP12& f) {
             gfP12 line{};
             line.x.y = f.x.x;
             line.x.z = f.y.y;
             line.y.z = f.x.z;
             return gfP12{}.MulSchoolbook(f, line);
         }},
        // Two lines made of coefficients of the input, against two mulLine.
        {"mulLinePair",
         [](const gfP12& f) {
             gfP12 e = f;
             mulLinePair(e, f.x.x, f.y.y, f.x.z, f.y.x, f.x.y, f.y.z);
             return e;
         },
         [](const gfP12& f) {
             gfP12 e = f;
             mulLine(e, f.x.x, f.y.y, f.x.z);
             mulLine(e, f.y.x, f.x.y, f.y.z);
             return e;
         }},
    };
    const std::vector<gfP12> inputs = cyclotomicElements();
    bn256_testing::ForEachMulPath([&] {
        for (const Route& route : routes) {
            SCOPED_TRACE(route.name);
            for (std::size_t i = 0; i < inputs.size(); ++i) {
                EXPECT_EQ(route.fast(inputs[i]), route.reference(inputs[i])) << "input " << i;
            }
        }
    });
}

// The homogeneous-line Miller loop gives the pairing of the Jacobian-line loop
// bit for bit (their values differ by a GF(p^2) factor), on the generators,
// small, random and Order − 1 multiples, Jacobian (z ≠ 1) and affine inputs.
TEST_F(Pairing, HomogeneousLinesGiveTheSamePairing) {
    struct Case {
        const char* name;
        mpz_class q, p;
    };
    const std::vector<Case> cases = {
        {"generators", 1, 1},
        {"small", 2, 3},
        {"minus generators", Order - 1, Order - 1},
        {"random", rng.get_z_range(Order - 1) + 1, rng.get_z_range(Order - 1) + 1},
        {"random g2", rng.get_z_range(Order - 1) + 1, 1},
        {"random g1", 1, rng.get_z_range(Order - 1) + 1},
    };
    bn256_testing::ForEachMulPath([&] {
        for (const Case& test : cases) {
            SCOPED_TRACE(test.name);
            const twistPoint q = g2(test.q);
            const curvePoint p = g1(test.p);
            EXPECT_EQ(finalExponentiation(miller(q, p)),
                      finalExponentiation(millerJacobian(q, p)));
        }
    });
}

// A product of pairings equals the product of separate optimalAte values, with
// inverse terms, points at infinity, and more terms than one batch holds.
TEST_F(Pairing, PairingProductMatchesProductOfPairings) {
    std::vector<twistPoint> qs = {twistGen, g2(rng.get_z_range(Order)), twistPoint{}};
    std::vector<curvePoint> ps = {curveGen, g1(rng.get_z_range(Order)), curvePoint{}};
    for (int i = 0; i < 4; ++i) {
        qs.push_back(g2(rng.get_z_range(Order)));
        ps.push_back(g1(rng.get_z_range(Order)));
    }
    const std::size_t inf = 2;
    struct Case {
        const char* name;
        std::vector<std::pair<std::size_t, std::size_t>> pairs;  // (index of q, of p)
        std::vector<bool> inverse;
    };
    const std::vector<Case> cases = {
        {"none", {}, {}},
        {"generators", {{0, 0}}, {false}},
        {"one inverse", {{1, 1}}, {true}},
        {"cancelling", {{1, 1}, {1, 1}}, {false, true}},
        {"decryption shape", {{1, 0}, {0, 1}}, {false, true}},
        {"infinity", {{inf, 1}, {1, inf}, {0, 0}}, {false, true, false}},
        {"more than a batch",
         {{0, 0}, {1, 1}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {3, 6}},
         {false, true, false, false, true, false, true}},
    };
    bn256_testing::ForEachMulPath([&] {
        for (const Case& test : cases) {
            SCOPED_TRACE(test.name);
            std::vector<PairingTerm> terms;
            gfP12 want;
            want.SetOne();
            for (std::size_t i = 0; i < test.pairs.size(); ++i) {
                const auto [qi, pi] = test.pairs[i];
                terms.push_back({&qs[qi], &ps[pi], test.inverse[i]});
                gfP12 e = optimalAte(qs[qi], ps[pi]);
                if (test.inverse[i]) e.Invert(e);
                want.Mul(want, e);
            }
            EXPECT_EQ(pairingProduct(terms), want);
        }
    });
}

// mulLine multiplies by the sparse element (a·tau + b)·w + c.
TEST_F(Pairing, MulLineIsProductWithSparseElement) {
    const gfP12 f = someElement();
    gfP2 a{newGFp(3), newGFp(4)}, b{newGFp(5), newGFp(6)}, c{newGFp(7), newGFp(8)};
    gfP12 line{};
    line.x.y = a;
    line.x.z = b;
    line.y.z = c;
    gfP12 want;
    want.Mul(f, line);
    gfP12 got = f;
    mulLine(got, a, b, c);
    EXPECT_EQ(got, want);
}

// The pairing and the G2 and point arithmetic allocate nothing.
TEST_F(Pairing, HotPathsAllocateNothing) {
    const twistPoint q = g2(rng.get_z_range(Order));
    const curvePoint p = g1(rng.get_z_range(Order));
    const mpz_class k = rng.get_z_range(Order);
    gfP12 e, f;
    twistPoint r;
    curvePoint s;

    mp_set_memory_functions(countedMalloc, countedRealloc, countedFree);
    const long before = allocations.load();
    e = miller(q, p);
    f = finalExponentiation(e);
    e = optimalAte(q, p);
    const PairingTerm terms[2] = {{&q, &p}, {&q, &p, true}};
    e = pairingProduct(terms);
    r.Mul(q, k);
    r.MakeAffine();
    s.Add(p, p);
    s.Double(s);
    s.MakeAffine();
    f.Exp(f, k);
    const long after = allocations.load();
    mp_set_memory_functions(nullptr, nullptr, nullptr);
    EXPECT_EQ(after, before);

    // The counter works: a big-integer product allocates.
    mp_set_memory_functions(countedMalloc, countedRealloc, countedFree);
    mpz_class big = k * k * k;
    mp_set_memory_functions(nullptr, nullptr, nullptr);
    EXPECT_GT(allocations.load(), after);
}

}  // namespace
}  // namespace bn256
