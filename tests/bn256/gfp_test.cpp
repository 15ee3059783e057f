#include "bn256/gfp.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <iterator>
#include <limits>
#include <random>
#include <vector>

#include "bn256/cpu.h"
#include "bn256/field_testing.h"

namespace bn256 {
namespace {

using bn256_testing::BinaryOps;
using bn256_testing::Elements;
using bn256_testing::ExpectAliasingSafe;
using bn256_testing::FromStored;
using bn256_testing::Mod;
using bn256_testing::Mont;
using bn256_testing::Prime;
using bn256_testing::R;
using bn256_testing::Stored;
using bn256_testing::UnaryOps;

using MulFn = void (*)(gfP&, const gfP&, const gfP&);

// The two code paths of gfpMul that this processor can run.
std::vector<std::pair<const char*, MulFn>> MulPaths() {
    std::vector<std::pair<const char*, MulFn>> paths = {{"MUL", gfpMulGeneric}};
    if (cpuHasBMI2()) paths.push_back({"MULX", gfpMulBMI2});
    return paths;
}

// Operands at the edges of the limb arithmetic: 0, 1, p − 1, p − 2, values near
// 2^253 and 2^254 below p, limbs that are all ones or all zeros (also under p's
// top limbs, lowered by one), and R mod p.
std::vector<mpz_class> EdgeOperands() {
    const mpz_class& p = Prime();
    mpz_class ones64 = (mpz_class(1) << 64) - 1;
    return {0,
            1,
            2,
            p - 1,
            p - 2,
            (mpz_class(1) << 253) - 1,
            mpz_class(1) << 253,
            p - (mpz_class(1) << 128),
            ones64,
            (mpz_class(1) << 128) - 1,
            (mpz_class(1) << 192) - 1,
            mpz_class(1) << 192,
            (((p >> 192) - 1) << 192) + ((mpz_class(1) << 192) - 1),
            (((p >> 128) - 1) << 128) + ((mpz_class(1) << 128) - 1),
            (((p >> 64) - 1) << 64) + ones64,
            p >> 1,
            (p + 1) >> 1,
            Stored(newGFp(1)),
            p - Stored(newGFp(1))};
}

TEST(GfpTest, FieldConstantsMatchTheirDefinitions) {
    const mpz_class& p = Prime();
    EXPECT_EQ(Stored(gfP{{p2[0], p2[1], p2[2], p2[3]}}), p);
    const mpz_class npBig = Stored(gfP{{np[0], np[1], np[2], np[3]}});
    EXPECT_EQ((p * npBig + 1) % R(), 0);
    EXPECT_EQ(Stored(r2), Mod(R() * R()));
    EXPECT_EQ(Stored(r3), Mod(R() * R() * R()));
    EXPECT_EQ(Mod(Stored(rN1) * R()), 1);
}

TEST(GfpTest, NewGFpOneIsRModPAndTheStoredOne) {
    gfP one = newGFp(1);
    EXPECT_EQ(one, kMontgomeryOne);
    EXPECT_EQ(one.limbs[0], 0xd35d438dc58f0d9dULL);
    EXPECT_EQ(one.limbs[1], 0x0a78eb28f5c70b3dULL);
    EXPECT_EQ(one.limbs[2], 0x666ea36f7879462cULL);
    EXPECT_EQ(one.limbs[3], 0x0e0a77c19a07df2fULL);
    EXPECT_EQ(one.String(), "0e0a77c19a07df2f666ea36f7879462c0a78eb28f5c70b3dd35d438dc58f0d9d");

    gfP plain;
    montDecode(plain, one);
    EXPECT_EQ(plain, (gfP{{1, 0, 0, 0}}));
}

TEST(GfpTest, NewGFpHoldsTheMontgomeryFormOfSignedValues) {
    const std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    const std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    for (std::int64_t x : {std::int64_t{0}, std::int64_t{1}, std::int64_t{2}, std::int64_t{9},
                           std::int64_t{-1}, std::int64_t{-9}, kMax, kMin}) {
        SCOPED_TRACE(x);
        EXPECT_EQ(newGFp(x), Mont(mpz_class(std::to_string(x))));
    }
    EXPECT_EQ(Stored(newGFp(-1)), Prime() - Stored(newGFp(1)));
    EXPECT_EQ(newGFp(kMin), Mont(Prime() - (mpz_class(1) << 63)));
}

TEST(GfpTest, StringPrintsStoredLimbsWithLeadingZeros) {
    gfP e{{0x1, 0xab, 0x0, 0xffffffffffffffff}};
    EXPECT_EQ(e.String(), "ffffffffffffffff000000000000000000000000000000ab0000000000000001");
    EXPECT_EQ(gfP{}.String(), std::string(64, '0'));
}

TEST(GfpTest, PrimitivesAtTheEdges) {
    const mpz_class& p = Prime();
    const gfP zero{}, one = FromStored(1), pMinus1 = FromStored(p - 1);
    struct Case {
        const char* name;
        std::function<void(gfP&)> run;
        mpz_class expected;
    };
    const Case cases[] = {
        {"-0 is 0, not p", [&](gfP& c) { gfpNeg(c, zero); }, 0},
        {"-(p-1)", [&](gfP& c) { gfpNeg(c, pMinus1); }, 1},
        {"(p-1) + 1", [&](gfP& c) { gfpAdd(c, pMinus1, one); }, 0},
        {"(p-1) + (p-1)", [&](gfP& c) { gfpAdd(c, pMinus1, pMinus1); }, p - 2},
        {"0 - 1", [&](gfP& c) { gfpSub(c, zero, one); }, p - 1},
        {"1 - (p-1)", [&](gfP& c) { gfpSub(c, one, pMinus1); }, 2},
        {"(p-1) - (p-1)", [&](gfP& c) { gfpSub(c, pMinus1, pMinus1); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        gfP out{{7, 7, 7, 7}};
        c.run(out);
        EXPECT_EQ(Stored(out), c.expected);
    }
}

TEST(GfpTest, AddSubNegMatchGmp) {
    Elements rand(1);
    std::vector<mpz_class> values = EdgeOperands();
    for (int i = 0; i < 40; ++i) values.push_back(Stored(rand.Fp()));
    for (const mpz_class& a : values) {
        gfP neg;
        gfpNeg(neg, FromStored(a));
        ASSERT_EQ(Stored(neg), Mod(-a)) << a;
        for (const mpz_class& b : values) {
            gfP sum, diff;
            gfpAdd(sum, FromStored(a), FromStored(b));
            gfpSub(diff, FromStored(a), FromStored(b));
            ASSERT_EQ(Stored(sum), Mod(a + b)) << a << " + " << b;
            ASSERT_EQ(Stored(diff), Mod(a - b)) << a << " - " << b;
        }
    }
}

TEST(GfpTest, BothMulPathsMatchTheMontgomeryProduct) {
    mpz_class rInv;
    mpz_invert(rInv.get_mpz_t(), R().get_mpz_t(), Prime().get_mpz_t());
    Elements rand(2);
    std::vector<mpz_class> values = EdgeOperands();
    for (int i = 0; i < 40; ++i) values.push_back(Stored(rand.Fp()));
    for (const auto& [name, mul] : MulPaths()) {
        SCOPED_TRACE(name);
        for (const mpz_class& a : values) {
            for (const mpz_class& b : values) {
                gfP c;
                mul(c, FromStored(a), FromStored(b));
                ASSERT_EQ(Stored(c), Mod(a * b * rInv)) << a << " * " << b;
            }
        }
    }
}

// The product is exact and fully reduced whenever b < p, whatever the 256-bit a
// (montEncode and montDecode of a raw integer rely on that), and both paths give
// the same limbs there, also where a is p or more.
TEST(GfpTest, BothMulPathsAreExactForAnyFirstOperandWhenTheSecondIsBelowP) {
    mpz_class rInv;
    mpz_invert(rInv.get_mpz_t(), R().get_mpz_t(), Prime().get_mpz_t());
    Elements rand(3);
    std::vector<mpz_class> firsts = {R() - 1, R() - 2, Prime(), Prime() + 1, R() - Prime(),
                                     mpz_class(1) << 255};
    for (int i = 0; i < 30; ++i) firsts.push_back(rand.Any256());
    std::vector<mpz_class> seconds = EdgeOperands();
    seconds.push_back(Stored(r2));
    for (int i = 0; i < 10; ++i) seconds.push_back(Stored(rand.Fp()));
    for (const auto& [name, mul] : MulPaths()) {
        SCOPED_TRACE(name);
        for (const mpz_class& a : firsts) {
            for (const mpz_class& b : seconds) {
                gfP c;
                mul(c, FromStored(a), FromStored(b));
                ASSERT_EQ(Stored(c), Mod(a * b * rInv)) << a << " * " << b;
            }
        }
    }
}

// In round i of the product, t += a_i·b, m = t_0·np_0, t = (t + m·p) / 2^64. An
// a (below p) is built limb by limb so that t_0 is zero in the given round: m is
// zero there and limb 0 passes no carry, which random operands practically never
// reach.
TEST(GfpTest, BothMulPathsHandleAZeroLowLimbInEveryRound) {
    mpz_class rInv;
    mpz_invert(rInv.get_mpz_t(), R().get_mpz_t(), Prime().get_mpz_t());
    const mpz_class two64 = mpz_class(1) << 64;
    std::mt19937_64 rng(10);
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        for (int found = 0; found < 50;) {
            gfP b{{rng() | 1, rng(), rng(), rng() & ((1ULL << 61) - 1)}};  // odd b0, b < p
            // The inverse of b0 mod 2^64 by Newton's iteration (3 correct bits from b0).
            std::uint64_t inv = b.limbs[0];
            for (int k = 0; k < 5; ++k) inv *= 2 - b.limbs[0] * inv;
            gfP a{{rng(), rng(), rng(), rng() & ((1ULL << 62) - 1)}};
            mpz_class t = 0;
            for (int i = 0; i < round; ++i) {
                t += mpz_class(static_cast<unsigned long>(a.limbs[i])) * Stored(b);
                mpz_class m = (mpz_class(t % two64) * np[0]) % two64;
                t = (t + m * Prime()) >> 64;
            }
            const std::uint64_t t0 = mpz_class(t % two64).get_ui();
            a.limbs[round] = (0 - t0) * inv;  // t_0 + a_round·b0 ≡ 0 (mod 2^64)
            if (Stored(a) >= Prime()) continue;
            ++found;
            const mpz_class expected = Mod(Stored(a) * Stored(b) * rInv);
            for (const auto& [name, mul] : MulPaths()) {
                gfP c;
                mul(c, a, b);
                ASSERT_EQ(Stored(c), expected) << name << ": " << Stored(a) << " * " << Stored(b);
            }
        }
    }
}

// Two million operand pairs below p, on both paths and through gfpMul with the
// result in place of an operand: the same limbs everywhere, and c < p with
// c·R ≡ a·b (mod p). Every limb is drawn either at random or from the values where
// carries and borrows go wrong: 0, all ones, and p's own limbs and their
// neighbours; draws of p or more are dropped.
TEST(GfpTest, BothMulPathsMatchGmpOnMillionsOfOperands) {
    constexpr int kPairs = 2'000'000;
    const std::uint64_t special[] = {0,         1,         ~0ULL,     ~0ULL - 1, p2[0], p2[0] - 1,
                                     p2[0] + 1, p2[1],     p2[1] - 1, p2[1] + 1, p2[2], p2[2] - 1,
                                     p2[2] + 1, p2[3] - 1, p2[3],     1ULL << 63};
    auto below = [](const gfP& x) {  // x < p, compared from the top limb
        for (int i = 3; i >= 0; --i) {
            if (x.limbs[i] != p2[i]) return x.limbs[i] < p2[i];
        }
        return false;
    };
    std::mt19937_64 rng(9);
    auto draw = [&]() {
        gfP e;
        do {
            for (std::uint64_t& limb : e.limbs) {
                std::uint64_t r = rng();
                limb = (r & 1) ? rng() : special[(r >> 1) % std::size(special)];
            }
            e.limbs[3] &= (1ULL << 62) - 1;
        } while (!below(e));
        return e;
    };

    mpz_t za, zb, zc, t, u;
    for (mpz_ptr z : {za, zb, zc, t, u}) mpz_init2(z, 1024);
    const bool bmi2 = cpuHasBMI2();
    for (int i = 0; i < kPairs; ++i) {
        const gfP a = draw(), b = draw();
        gfP c;
        gfpMulGeneric(c, a, b);
        if (bmi2) {
            gfP d;
            gfpMulBMI2(d, a, b);
            ASSERT_EQ(d, c) << Stored(a) << " * " << Stored(b);
        }
        gfP x = a, y = b;
        gfpMul(x, x, b);
        gfpMul(y, a, y);
        ASSERT_EQ(x, c) << Stored(a) << " * " << Stored(b);
        ASSERT_EQ(y, c) << Stored(a) << " * " << Stored(b);

        ASSERT_TRUE(below(c)) << Stored(a) << " * " << Stored(b);
        mpz_import(za, 4, -1, sizeof(std::uint64_t), 0, 0, a.limbs);
        mpz_import(zb, 4, -1, sizeof(std::uint64_t), 0, 0, b.limbs);
        mpz_import(zc, 4, -1, sizeof(std::uint64_t), 0, 0, c.limbs);
        mpz_mul(t, za, zb);
        mpz_mul_2exp(u, zc, 256);
        mpz_sub(t, t, u);
        ASSERT_TRUE(mpz_divisible_p(t, Prime().get_mpz_t()))
            << Stored(a) << " * " << Stored(b);
    }
    for (mpz_ptr z : {za, zb, zc, t, u}) mpz_clear(z);
}

TEST(GfpTest, MulByMontgomeryOneIsIdentity) {
    Elements rand(4);
    const gfP one = newGFp(1);
    for (const auto& [name, mul] : MulPaths()) {
        SCOPED_TRACE(name);
        for (int i = 0; i < 20; ++i) {
            gfP a = rand.Fp(), c;
            mul(c, a, one);
            EXPECT_EQ(c, a);
            mul(c, one, a);
            EXPECT_EQ(c, a);
        }
    }
}

TEST(GfpTest, MontEncodeAndDecodeAreInverse) {
    Elements rand(5);
    for (int i = 0; i < 20; ++i) {
        gfP plain = rand.Fp(), mont, back;
        montEncode(mont, plain);
        EXPECT_EQ(mont, Mont(Stored(plain)));
        montDecode(back, mont);
        EXPECT_EQ(back, plain);
    }
}

// Every primitive with the result sharing storage with one or both operands
// gives the value it gives into a separate result.
TEST(GfpTest, PrimitivesAcceptAliasedResults) {
    BinaryOps<gfP> binary = {{"add", gfpAdd}, {"sub", gfpSub}, {"mul", gfpMul},
                             {"mulGeneric", gfpMulGeneric}};
    if (cpuHasBMI2()) binary.push_back({"mulBMI2", gfpMulBMI2});
    const UnaryOps<gfP> unary = {{"neg", gfpNeg}};
    Elements rand(6);
    for (int i = 0; i < 10; ++i) ExpectAliasingSafe(binary, unary, rand.Fp(), rand.Fp());
}

TEST(GfpTest, InvertGivesTheInverseAndZeroForZero) {
    const gfP one = newGFp(1);
    gfP e{{5, 5, 5, 5}};
    e.Invert(gfP{});
    EXPECT_TRUE(e.IsZero());
    e.Invert(one);
    EXPECT_EQ(e, one);

    Elements rand(7);
    for (int i = 0; i < 20; ++i) {
        const gfP f = rand.Fp();
        gfP inv, product;
        inv.Invert(f);
        gfpMul(product, f, inv);
        EXPECT_EQ(product, one);
        gfP aliased = f;
        aliased.Invert(aliased);
        EXPECT_EQ(aliased, inv);
    }
}

// Every fast route of this layer gives the reference value: Invert (divsteps) and
// InvertFermat, checked also against GMP, on edge stored integers (0, small values,
// 2^62 and 2^64 around the limb splits of the divsteps, p − 2, p − 1, (p − 1)/2, the
// Montgomery one; every power of two and every run of ones 2^k − 1 below p, which
// keep g even or odd for long stretches of divsteps; runs of zeros between two ones
// and p − 2^k) and many random elements.
TEST(GfpTest, FastRoutesMatchReferences) {
    std::vector<gfP> inputs;
    const mpz_class one = 1;
    for (const mpz_class& v : std::vector<mpz_class>{
             0, 1, 2, 3, 5, 7, 9, 255, (one << 62) - 1, one << 62, one << 64,
             (one << 248) + 1, Prime() - 2, Prime() - 1, (Prime() - 1) / 2, Mod(R())}) {
        inputs.push_back(FromStored(v));
    }
    for (int k = 1; k < 254; ++k) {
        inputs.push_back(FromStored(one << k));
        inputs.push_back(FromStored((one << k) - 1));
        if (k < 253) inputs.push_back(FromStored((one << 253) + (one << k) - 1));
        inputs.push_back(FromStored(Prime() - (one << k)));
    }
    Elements rand(8);
    for (int i = 0; i < 2000; ++i) inputs.push_back(rand.Fp());
    bn256_testing::ForEachMulPath([&] {
        for (const gfP& f : inputs) {
            gfP fast, reference;
            fast.Invert(f);
            reference.InvertFermat(f);
            ASSERT_EQ(fast, reference) << Stored(f).get_str(16);
            mpz_class want = 0;
            if (!f.IsZero()) mpz_invert(want.get_mpz_t(), bn256_testing::Plain(f).get_mpz_t(),
                                        Prime().get_mpz_t());
            ASSERT_EQ(fast, Mont(want)) << Stored(f).get_str(16);
        }
    });
}

// The unreduced sums that feed products, the products of such operands on both
// paths, and the two halves of the product by xi, against GMP on edge and random
// operands.
TEST(GfpTest, LazySumsTheirProductsAndNineAPlusMatchGmp) {
    const mpz_class& p = Prime();
    std::vector<gfP> operands;
    for (const mpz_class& v : std::vector<mpz_class>{0, 1, 2, p - 2, p - 1, Mod(R())}) {
        operands.push_back(FromStored(v));
    }
    Elements rand(9);
    for (int i = 0; i < 200; ++i) operands.push_back(rand.Fp());
    mpz_class rInv;
    mpz_invert(rInv.get_mpz_t(), R().get_mpz_t(), p.get_mpz_t());
    for (std::size_t i = 0; i < operands.size(); ++i) {
        for (std::size_t j : {i, (i + 1) % operands.size(), (i + 7) % operands.size()}) {
            const gfP& a = operands[i];
            const gfP& b = operands[j];
            const mpz_class x = Stored(a), y = Stored(b);
            gfP sum, difference, nine;
            gfpAddLazy(sum, a, b);
            gfpSubLazy(difference, a, b);
            ASSERT_EQ(Stored(sum), x + y);
            ASSERT_EQ(Stored(difference), x - y + p);
            gfpNineAPlus<false>(nine, a, b);
            ASSERT_EQ(Stored(nine), Mod(9 * x + y));
            gfpNineAPlus<true>(nine, a, b);
            ASSERT_EQ(Stored(nine), Mod(9 * x - y));
            for (const auto& [name, mul] : MulPaths()) {
                SCOPED_TRACE(name);
                gfP product;
                mul(product, sum, difference);
                ASSERT_EQ(product, FromStored(Mod((x + y) * (x - y + p) * rInv)));
            }
        }
    }
}

#ifdef BN256_HAVE_WIDE
mpz_class WideValue(const gfPWide& w) {
    mpz_class v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 64) + mpz_class(std::to_string(w.limbs[i]));
    return v;
}

gfPWide WideOf(const mpz_class& v) {
    gfPWide w{};
    const gfP low = FromStored(v & ((mpz_class(1) << 256) - 1)), high = FromStored(v >> 256);
    for (int i = 0; i < 4; ++i) {
        w.limbs[i] = low.limbs[i];
        w.limbs[4 + i] = high.limbs[i];
    }
    return w;
}

// The double-width product and the separate reduction of the MULX path, against
// GMP: products of operands below 2p, and reductions of values up to p·R − 1
// (whose low limbs are all ones, so every carry runs to the top).
TEST(GfpTest, WideProductAndReductionMatchGmp) {
    if (!cpuHasBMI2()) GTEST_SKIP() << "no BMI2 on this processor";
    const mpz_class& p = Prime();
    mpz_class rInv;
    mpz_invert(rInv.get_mpz_t(), R().get_mpz_t(), p.get_mpz_t());
    std::vector<mpz_class> operands = {0, 1, p - 1, p, 2 * p - 1};
    Elements rand(10);
    for (int i = 0; i < 100; ++i) operands.push_back(Stored(rand.Fp()) + (i % 2 ? p : 0));
    for (std::size_t i = 0; i < operands.size(); ++i) {
        const mpz_class& x = operands[i];
        const mpz_class& y = operands[(i + 3) % operands.size()];
        gfPWide w;
        gfpMulWideBMI2(w, FromStored(x), FromStored(y));
        ASSERT_EQ(WideValue(w), x * y);
        gfP c;
        gfpReduceWideBMI2(c, w);
        ASSERT_EQ(c, FromStored(Mod(x * y * rInv)));
    }
    for (const mpz_class& t : std::vector<mpz_class>{p * R() - 1, p * R() / 2, 1, 0}) {
        gfP c;
        gfpReduceWideBMI2(c, WideOf(t));
        EXPECT_EQ(c, FromStored(Mod(t * rInv))) << t.get_str(16);
    }
    gfPWide d;
    EXPECT_EQ(gfpWideSub(d, WideOf(5), WideOf(7)), 1);
    gfpWideAddPRWhere(d, 1);
    EXPECT_EQ(WideValue(d), p * R() - 2);
    EXPECT_EQ(gfpWideSub(d, WideOf(7), WideOf(5)), 0);
    gfpWideAddPRWhere(d, 0);
    EXPECT_EQ(WideValue(d), 2);
}
#endif

// p as 32 big-endian bytes.
std::array<std::uint8_t, 32> BytesOf(const mpz_class& v) {
    std::array<std::uint8_t, 32> out{};
    gfP e = FromStored(v);
    e.Marshal(out);
    return out;
}

TEST(GfpTest, MarshalWritesBigEndian) {
    std::array<std::uint8_t, 32> out;
    out.fill(0xaa);
    gfP{{1, 0, 0, 0}}.Marshal(out);
    std::array<std::uint8_t, 32> expected{};
    expected[31] = 0x01;
    EXPECT_EQ(out, expected);

    gfP e{{0x0807060504030201, 0x100f0e0d0c0b0a09, 0x1817161514131211, 0x201f1e1d1c1b1a19}};
    e.Marshal(out);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(out[i], 32 - i) << i;
}

TEST(GfpTest, UnmarshalRoundTripsAndReadsOnly32Bytes) {
    Elements rand(8);
    for (int i = 0; i < 10; ++i) {
        const gfP v = rand.Fp();
        std::vector<std::uint8_t> buf(40, 0xff);  // trailing bytes above p are ignored
        v.Marshal(std::span<std::uint8_t>(buf).first<32>());
        gfP back{};
        ASSERT_TRUE(back.Unmarshal(buf).has_value());
        EXPECT_EQ(back, v);
    }
}

TEST(GfpTest, UnmarshalChecksTheRangeFromTheTopLimb) {
    const mpz_class& p = Prime();
    // Limb 3 as p's, limb 2 one below p's, limbs 1 and 0 all ones.
    const mpz_class limb3 = p >> 192;
    const mpz_class limb2 = ((p >> 128) & mpz_class("0xffffffffffffffff")) - 1;
    const mpz_class topDecides = (limb3 << 192) + (limb2 << 128) + ((mpz_class(1) << 128) - 1);
    struct Case {
        const char* name;
        mpz_class value;
        const char* error;  // nullptr: accepted
    };
    const Case cases[] = {
        {"zero", 0, nullptr},
        {"p - 1", p - 1, nullptr},
        {"first differing limb decides", topDecides, nullptr},
        {"p", p, "bn256: coordinate equals modulus"},
        {"p + 1", p + 1, "bn256: coordinate exceeds modulus"},
        {"all ones", R() - 1, "bn256: coordinate exceeds modulus"},
        {"limb 3 above p's", (limb3 + 1) << 192, "bn256: coordinate exceeds modulus"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto bytes = BytesOf(c.value);
        gfP e{};
        auto status = e.Unmarshal(bytes);
        if (c.error == nullptr) {
            EXPECT_TRUE(status.has_value());
        } else {
            ASSERT_FALSE(status.has_value());
            EXPECT_EQ(status.error().Message(), c.error);
        }
        EXPECT_EQ(Stored(e), c.value) << "the decoded integer is kept either way";
    }
}

TEST(GfpTest, UnmarshalRejectsShortInput) {
    std::vector<std::uint8_t> shortInput(31, 0);
    gfP e{};
    auto status = e.Unmarshal(shortInput);
    ASSERT_FALSE(status.has_value());
    EXPECT_EQ(status.error().Message(), "bn256: not enough data");
}

}  // namespace
}  // namespace bn256
