// The prime field GF(p) of the BN256 curve,
//   p = 21888242871839275222246405745257275088696311157297823662689037894645226208583
// (254 bits, p ≡ 3 mod 4).
//
// An element is four 64-bit limbs, least significant first, holding a·R mod p
// with R = 2^256 (Montgomery form), always fully reduced (below p). The
// representation is unique, so equality and zero tests compare limbs and a
// zero-initialised element is the field element 0.
//
// No function here allocates, and none of the four primitives makes a branch
// that depends on the data: every final correction computes both candidates and
// selects one with conditional moves. Every primitive takes the result first and
// reads all of its operands before it writes the result, so the result may be
// the same object as any operand.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/error.h"

namespace bn256 {

struct gfP {
    std::uint64_t limbs[4];  // limbs[0] is the least significant

    std::uint64_t& operator[](int i) { return limbs[i]; }
    const std::uint64_t& operator[](int i) const { return limbs[i]; }
    friend bool operator==(const gfP&, const gfP&) = default;

    bool IsZero() const { return (limbs[0] | limbs[1] | limbs[2] | limbs[3]) == 0; }

    // this = f (the four limbs copied).
    gfP& Set(const gfP& f) {
        *this = f;
        return *this;
    }

    // this = f^(p−2): the inverse of f, and 0 for f = 0. 367 Montgomery products
    // whatever f is. this may be f.
    gfP& Invert(const gfP& f);

    // The stored (Montgomery-form) limbs as 64 lowercase hexadecimal digits,
    // limb 3 first.
    std::string String() const;

    // Writes the stored integer as 32 bytes big-endian (limb 3 first). A field
    // element is taken out of Montgomery form (montDecode) before it is written.
    void Marshal(std::span<std::uint8_t, 32> out) const;

    // Reads in[0..31] as a big-endian integer into this (the rest of in is not
    // read) and fails when it is not below p. On failure this holds the
    // out-of-range integer. The value read is plain: montEncode puts it into
    // Montgomery form.
    common::Status Unmarshal(std::span<const std::uint8_t> in);
};

// Error texts of gfP::Unmarshal.
inline constexpr std::string_view kCoordinateExceedsModulus = "bn256: coordinate exceeds modulus";
inline constexpr std::string_view kCoordinateEqualsModulus = "bn256: coordinate equals modulus";
inline constexpr std::string_view kCoordinateNotEnoughData = "bn256: not enough data";

// The prime p itself (not in Montgomery form).
inline constexpr std::uint64_t p2[4] = {0x3c208c16d87cfd47, 0x97816a916871ca8d,
                                        0xb85045b68181585d, 0x30644e72e131a029};

// −p^−1 mod 2^256, the Montgomery reduction constant (p·np ≡ −1 mod 2^256).
inline constexpr std::uint64_t np[4] = {0x87d20782e4866389, 0x9ede7d651eca6ac9,
                                        0xd8afcbd01833da80, 0xf57a22b791888c6b};

// R^2 mod p (stored as is; the Montgomery product with it encodes).
inline constexpr gfP r2 = {{0xf32cfc5b538afa89, 0xb5e71911d44501fb, 0x47ab1eff0a417ff6,
                            0x06d89f71cab8351f}};

// R^3 mod p (stored as is; the last factor of the inversion).
inline constexpr gfP r3 = {{0xb1cd6dafda1530df, 0x62f210e6a7283db6, 0xef7f0b0c0ada0afb,
                            0x20fd6e902d592544}};

// R^−1 mod p (stored as is; the starting value of the inversion).
inline constexpr gfP rN1 = {{0xed84884a014afa37, 0xeb2022850278edf8, 0xcf63e9cfb74492d9,
                             0x2e67157159e5c639}};

// True when the processor has BMI2: gfpMul then takes its MULX path. False until
// the module start-up sets it (bn256::init, after its first constants), never
// changed afterwards.
inline bool hasBMI2 = false;

// The two code paths of the Montgomery product, c = a·b·R^−1 mod p on the stored
// integers. Both compute the same steps and give identical limbs for every
// input: the 512-bit product T = a·b, m = (T mod R)·np mod R from a half product,
// U = m·p, r = (T + U) / R, and one conditional subtraction of p. The result is
// below p whenever a·b < R·p (in particular for operands below p). c may be a, b
// or both. gfpMulBMI2 needs a processor with BMI2.
void gfpMulGeneric(gfP& c, const gfP& a, const gfP& b) __asm__("bn256_gfpMulGeneric");
void gfpMulBMI2(gfP& c, const gfP& a, const gfP& b) __asm__("bn256_gfpMulBMI2");

// c = a·b·R^−1 mod p: on Montgomery forms, the Montgomery form of the product.
inline void gfpMul(gfP& c, const gfP& a, const gfP& b) {
    if (hasBMI2) {
        gfpMulBMI2(c, a, b);
    } else {
        gfpMulGeneric(c, a, b);
    }
}

// c = a + b mod p.
//   s = a + b (257 bits), u = s − p; c = u unless that borrowed, else c = s.
inline void gfpAdd(gfP& c, const gfP& a, const gfP& b) {
    std::uint64_t s0, s1, s2, s3, u0, u1, u2, u3, carry;
    __asm__(
        "xorl %k[carry], %k[carry]\n\t"
        "movq 0(%[a]), %[s0]\n\t"
        "movq 8(%[a]), %[s1]\n\t"
        "movq 16(%[a]), %[s2]\n\t"
        "movq 24(%[a]), %[s3]\n\t"
        "addq 0(%[b]), %[s0]\n\t"
        "adcq 8(%[b]), %[s1]\n\t"
        "adcq 16(%[b]), %[s2]\n\t"
        "adcq 24(%[b]), %[s3]\n\t"
        "adcq $0, %[carry]\n\t"
        "movq %[s0], %[u0]\n\t"
        "movq %[s1], %[u1]\n\t"
        "movq %[s2], %[u2]\n\t"
        "movq %[s3], %[u3]\n\t"
        "subq %[p0], %[u0]\n\t"
        "sbbq %[p1], %[u1]\n\t"
        "sbbq %[p2], %[u2]\n\t"
        "sbbq %[p3], %[u3]\n\t"
        "sbbq $0, %[carry]\n\t"
        "cmovcq %[s0], %[u0]\n\t"
        "cmovcq %[s1], %[u1]\n\t"
        "cmovcq %[s2], %[u2]\n\t"
        "cmovcq %[s3], %[u3]\n\t"
        : [s0] "=&r"(s0), [s1] "=&r"(s1), [s2] "=&r"(s2), [s3] "=&r"(s3), [u0] "=&r"(u0),
          [u1] "=&r"(u1), [u2] "=&r"(u2), [u3] "=&r"(u3), [carry] "=&r"(carry)
        : [a] "r"(a.limbs), [b] "r"(b.limbs), "m"(a.limbs), "m"(b.limbs), [p0] "m"(p2[0]),
          [p1] "m"(p2[1]), [p2] "m"(p2[2]), [p3] "m"(p2[3])
        : "cc");
    c.limbs[0] = u0;
    c.limbs[1] = u1;
    c.limbs[2] = u2;
    c.limbs[3] = u3;
}

// c = a − b mod p.
//   d = a − b mod 2^256; d + p when that borrowed, else d + 0.
inline void gfpSub(gfP& c, const gfP& a, const gfP& b) {
    std::uint64_t d0, d1, d2, d3, q0, q1, q2, q3;
    __asm__(
        "movq 0(%[a]), %[d0]\n\t"
        "movq 8(%[a]), %[d1]\n\t"
        "movq 16(%[a]), %[d2]\n\t"
        "movq 24(%[a]), %[d3]\n\t"
        "subq 0(%[b]), %[d0]\n\t"
        "sbbq 8(%[b]), %[d1]\n\t"
        "sbbq 16(%[b]), %[d2]\n\t"
        "sbbq 24(%[b]), %[d3]\n\t"
        // q = p masked by the borrow (all ones or zero).
        "sbbq %[q0], %[q0]\n\t"
        "movq %[q0], %[q1]\n\t"
        "movq %[q0], %[q2]\n\t"
        "movq %[q0], %[q3]\n\t"
        "andq %[p0], %[q0]\n\t"
        "andq %[p1], %[q1]\n\t"
        "andq %[p2], %[q2]\n\t"
        "andq %[p3], %[q3]\n\t"
        "addq %[q0], %[d0]\n\t"
        "adcq %[q1], %[d1]\n\t"
        "adcq %[q2], %[d2]\n\t"
        "adcq %[q3], %[d3]\n\t"
        : [d0] "=&r"(d0), [d1] "=&r"(d1), [d2] "=&r"(d2), [d3] "=&r"(d3), [q0] "=&r"(q0),
          [q1] "=&r"(q1), [q2] "=&r"(q2), [q3] "=&r"(q3)
        : [a] "r"(a.limbs), [b] "r"(b.limbs), "m"(a.limbs), "m"(b.limbs), [p0] "m"(p2[0]),
          [p1] "m"(p2[1]), [p2] "m"(p2[2]), [p3] "m"(p2[3])
        : "cc");
    c.limbs[0] = d0;
    c.limbs[1] = d1;
    c.limbs[2] = d2;
    c.limbs[3] = d3;
}

// c = −a mod p.
//   t = p − a (mod 2^256), u = t − p; c = u unless that borrowed (t < p), else c = t.
//   So −0 = 0, never p.
inline void gfpNeg(gfP& c, const gfP& a) {
    std::uint64_t t0, t1, t2, t3, u0, u1, u2, u3;
    __asm__(
        "movq %[p0], %[t0]\n\t"
        "movq %[p1], %[t1]\n\t"
        "movq %[p2], %[t2]\n\t"
        "movq %[p3], %[t3]\n\t"
        "subq 0(%[a]), %[t0]\n\t"
        "sbbq 8(%[a]), %[t1]\n\t"
        "sbbq 16(%[a]), %[t2]\n\t"
        "sbbq 24(%[a]), %[t3]\n\t"
        "movq %[t0], %[u0]\n\t"
        "movq %[t1], %[u1]\n\t"
        "movq %[t2], %[u2]\n\t"
        "movq %[t3], %[u3]\n\t"
        "subq %[p0], %[u0]\n\t"
        "sbbq %[p1], %[u1]\n\t"
        "sbbq %[p2], %[u2]\n\t"
        "sbbq %[p3], %[u3]\n\t"
        // A borrow means t < p: t is kept.
        "cmovcq %[t0], %[u0]\n\t"
        "cmovcq %[t1], %[u1]\n\t"
        "cmovcq %[t2], %[u2]\n\t"
        "cmovcq %[t3], %[u3]\n\t"
        : [t0] "=&r"(t0), [t1] "=&r"(t1), [t2] "=&r"(t2), [t3] "=&r"(t3), [u0] "=&r"(u0),
          [u1] "=&r"(u1), [u2] "=&r"(u2), [u3] "=&r"(u3)
        : [a] "r"(a.limbs), "m"(a.limbs), [p0] "m"(p2[0]), [p1] "m"(p2[1]), [p2] "m"(p2[2]),
          [p3] "m"(p2[3])
        : "cc");
    c.limbs[0] = u0;
    c.limbs[1] = u1;
    c.limbs[2] = u2;
    c.limbs[3] = u3;
}

// c = a·R mod p: a plain integer below p into Montgomery form (a·R^2·R^−1).
inline void montEncode(gfP& c, const gfP& a) { gfpMul(c, a, r2); }

// c = a·R^−1 mod p: an element out of Montgomery form, the plain value below p.
// The product is with the plain integer 1 (limbs 1, 0, 0, 0), not the Montgomery one.
inline void montDecode(gfP& c, const gfP& a) {
    constexpr gfP plainOne = {{1, 0, 0, 0}};
    gfpMul(c, a, plainOne);
}

// The Montgomery form of x mod p: limb 0 = |x| (2^63 for the smallest int64),
// negated when x < 0, then encoded in place.
gfP newGFp(std::int64_t x);

}  // namespace bn256
