// Differential test of the GF(p) primitives against GMP.
//
// Input: 64 bytes, two operands a and b of four 64-bit limbs each, least
// significant limb and byte first (a shorter input is padded with zeros, bytes
// after the 64th are not read). An operand not below p is reduced mod p first.
// With R = 2^256, every result must equal the reference computed with mpz_class:
//   gfpMulGeneric, gfpMulBMI2 (when the processor has BMI2) and gfpMul: a·b·R^−1 mod p
//   gfpAdd: a + b mod p      gfpSub: a − b mod p      gfpNeg: −a mod p
//   Invert, with each multiplication path: R²·a^−1 mod p (the Montgomery form of
//     the inverse of the element whose form is a), 0 for a = 0
//   montEncode: a·R mod p    montDecode: a·R^−1 mod p
//   gfpAddLazy: a + b and gfpSubLazy: a − b + p (unreduced), and both paths'
//     products of these two (below 2p each): (a + b)(a − b + p)·R^−1 mod p
//   gfpNineAPlus: 9·a + b mod p and 9·a − b mod p
//   gfpMulWideBMI2 (with BMI2, optimised builds): the 512-bit (a + b)(a − b + p),
//     and gfpReduceWideBMI2 of it: that times R^−1 mod p; gfpWideAdd of it and
//     the 512-bit a·b (below 5p² < p·R), and gfpReduceWideBMI2 of that sum
// each also with the result aliasing an operand. The unreduced first 32 input
// bytes, read big-endian, also go through gfP::Unmarshal, which must accept them
// exactly when they are below p and then write the same bytes back.
// Any disagreement aborts.
#include <gmpxx.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "bn256/cpu.h"
#include "bn256/gfp.h"
#include "fuzz_support.h"
#include "hibe_c/startup.h"

namespace {

using bn256::gfP;

mpz_class FromLimbs(const std::uint64_t (&limbs)[4]) {
    mpz_class z;
    mpz_import(z.get_mpz_t(), 4, -1, sizeof(std::uint64_t), 0, 0, limbs);
    return z;
}

// z must be in [0, 2^256).
gfP ToGfP(const mpz_class& z) {
    gfP out{};
    std::size_t count = 0;
    mpz_export(out.limbs, &count, -1, sizeof(std::uint64_t), 0, 0, z.get_mpz_t());
    return out;
}

mpz_class Mod(const mpz_class& z, const mpz_class& m) {
    mpz_class r = z % m;
    if (r < 0) r += m;
    return r;
}

struct Reference {
    mpz_class p = FromLimbs(bn256::p2);
    mpz_class r = mpz_class(1) << 256;
    mpz_class rInverse;  // R^−1 mod p
    mpz_class r2;        // R² mod p

    Reference() {
        mpz_invert(rInverse.get_mpz_t(), r.get_mpz_t(), p.get_mpz_t());
        r2 = Mod(r * r, p);
    }
};

const Reference* ref = nullptr;

// Both multiplication paths on (a, b), with every aliasing of result and operand.
void CheckMul(const gfP& a, const gfP& b, const gfP& expected) {
    using Mul = void (*)(gfP&, const gfP&, const gfP&);
    std::array<Mul, 2> paths = {bn256::gfpMulGeneric, bn256::gfpMulBMI2};
    const std::size_t pathCount = bn256::cpuHasBMI2() ? 2 : 1;
    for (std::size_t i = 0; i < pathCount; ++i) {
        gfP c;
        paths[i](c, a, b);
        FUZZ_CHECK(c == expected);
        c = a;
        paths[i](c, c, b);
        FUZZ_CHECK(c == expected);
        c = b;
        paths[i](c, a, c);
        FUZZ_CHECK(c == expected);
    }
}

void CheckSquare(const gfP& a, const gfP& expected) {
    gfP c = a;
    bn256::gfpMulGeneric(c, c, c);
    FUZZ_CHECK(c == expected);
    if (bn256::cpuHasBMI2()) {
        c = a;
        bn256::gfpMulBMI2(c, c, c);
        FUZZ_CHECK(c == expected);
    }
}

// Invert through the path gfpMul dispatches to, chosen by hasBMI2.
void CheckInvert(const gfP& a, const gfP& expected, bool bmi2) {
    const bool saved = bn256::hasBMI2;
    bn256::hasBMI2 = bmi2;
    gfP c;
    c.Invert(a);
    gfP d = a;
    d.Invert(d);
    bn256::hasBMI2 = saved;
    FUZZ_CHECK(c == expected);
    FUZZ_CHECK(d == expected);
}

template <typename Op>
void CheckBinary(Op op, const gfP& a, const gfP& b, const gfP& expected) {
    gfP c;
    op(c, a, b);
    FUZZ_CHECK(c == expected);
    c = a;
    op(c, c, b);
    FUZZ_CHECK(c == expected);
    c = b;
    op(c, a, c);
    FUZZ_CHECK(c == expected);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hibe_c::RunStartup();
    ref = new Reference;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint8_t bytes[64] = {};
    if (size > 0) std::memcpy(bytes, data, std::min<std::size_t>(size, sizeof bytes));
    std::uint64_t rawA[4], rawB[4];
    std::memcpy(rawA, bytes, 32);  // little-endian limbs on this platform
    std::memcpy(rawB, bytes + 32, 32);

    // The decoder on the first 32 bytes as they stand, big-endian.
    {
        mpz_class value;
        mpz_import(value.get_mpz_t(), 32, 1, 1, 1, 0, bytes);
        gfP decoded;
        const auto status = decoded.Unmarshal(std::span<const std::uint8_t>(bytes, 32));
        FUZZ_CHECK(status.has_value() == (value < ref->p));
        if (status) {
            std::uint8_t out[32];
            decoded.Marshal(std::span<std::uint8_t, 32>(out));
            FUZZ_CHECK(std::memcmp(out, bytes, 32) == 0);
        } else if (value == ref->p) {
            FUZZ_CHECK(status.error().Message() == bn256::kCoordinateEqualsModulus);
        } else {
            FUZZ_CHECK(status.error().Message() == bn256::kCoordinateExceedsModulus);
        }
    }

    const mpz_class& p = ref->p;
    const mpz_class x = Mod(FromLimbs(rawA), p);
    const mpz_class y = Mod(FromLimbs(rawB), p);
    const gfP a = ToGfP(x);
    const gfP b = ToGfP(y);

    const gfP product = ToGfP(Mod(x * y * ref->rInverse, p));
    CheckMul(a, b, product);
    gfP viaDispatch;
    bn256::gfpMul(viaDispatch, a, b);  // the path chosen by the start-up
    FUZZ_CHECK(viaDispatch == product);
    CheckSquare(a, ToGfP(Mod(x * x * ref->rInverse, p)));
    CheckBinary(bn256::gfpAdd, a, b, ToGfP(Mod(x + y, p)));
    CheckBinary(bn256::gfpSub, a, b, ToGfP(Mod(x - y, p)));

    const gfP negated = ToGfP(Mod(-x, p));
    gfP c;
    bn256::gfpNeg(c, a);
    FUZZ_CHECK(c == negated);
    c = a;
    bn256::gfpNeg(c, c);
    FUZZ_CHECK(c == negated);

    mpz_class inverse = 0;
    if (x != 0) {
        mpz_invert(inverse.get_mpz_t(), x.get_mpz_t(), p.get_mpz_t());
        inverse = Mod(inverse * ref->r2, p);
    }
    const gfP inverted = ToGfP(inverse);
    CheckInvert(a, inverted, false);
    if (bn256::cpuHasBMI2()) CheckInvert(a, inverted, true);

    gfP sum, difference;
    CheckBinary(bn256::gfpAddLazy, a, b, ToGfP(x + y));
    CheckBinary(bn256::gfpSubLazy, a, b, ToGfP(x - y + p));
    bn256::gfpAddLazy(sum, a, b);
    bn256::gfpSubLazy(difference, a, b);
    CheckMul(sum, difference, ToGfP(Mod((x + y) * (x - y + p) * ref->rInverse, p)));
#ifdef BN256_HAVE_WIDE
    if (bn256::cpuHasBMI2()) {
        bn256::gfPWide wide;
        bn256::gfpMulWideBMI2(wide, sum, difference);
        mpz_class wideValue;
        mpz_import(wideValue.get_mpz_t(), 8, -1, sizeof(std::uint64_t), 0, 0, wide.limbs);
        FUZZ_CHECK(wideValue == (x + y) * (x - y + p));
        bn256::gfpReduceWideBMI2(c, wide);
        FUZZ_CHECK(c == ToGfP(Mod((x + y) * (x - y + p) * ref->rInverse, p)));
        bn256::gfPWide product;
        bn256::gfpMulWideBMI2(product, a, b);
        bn256::gfpWideAdd(wide, wide, product);
        mpz_import(wideValue.get_mpz_t(), 8, -1, sizeof(std::uint64_t), 0, 0, wide.limbs);
        FUZZ_CHECK(wideValue == (x + y) * (x - y + p) + x * y);
        bn256::gfpReduceWideBMI2(c, wide);
        FUZZ_CHECK(c == ToGfP(Mod(((x + y) * (x - y + p) + x * y) * ref->rInverse, p)));
    }
#endif
    CheckBinary(bn256::gfpNineAPlus<false>, a, b, ToGfP(Mod(9 * x + y, p)));
    CheckBinary(bn256::gfpNineAPlus<true>, a, b, ToGfP(Mod(9 * x - y, p)));

    bn256::montEncode(c, a);
    FUZZ_CHECK(c == ToGfP(Mod(x * ref->r, p)));
    bn256::montDecode(c, a);
    FUZZ_CHECK(c == ToGfP(Mod(x * ref->rInverse, p)));
    return 0;
}
