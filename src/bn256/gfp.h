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

#include <immintrin.h>

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

    // this = f^−1, and 0 for f = 0, by the constant-time divsteps of Bernstein and
    // Yang: the same value as InvertFermat. this may be f.
    gfP& Invert(const gfP& f);

    // this = f^(p−2): the inverse of f, and 0 for f = 0. 367 Montgomery products
    // whatever f is: the reference for Invert. this may be f.
    gfP& InvertFermat(const gfP& f);

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

// R mod p, the Montgomery form of 1 (plain value 1): the value of newGFp(1), held
// as a constant so that the ones of the tower need no product, and no value made
// at first use (under a guard) inside a call.
inline constexpr gfP kMontgomeryOne = {{0xd35d438dc58f0d9d, 0x0a78eb28f5c70b3d,
                                        0x666ea36f7879462c, 0x0e0a77c19a07df2f}};

// True when the processor has BMI2: gfpMul then takes its MULX path. False until
// the module start-up sets it (bn256::init, after its first constants), never
// changed afterwards.
inline bool hasBMI2 = false;

// The Montgomery product c = a·b·R^−1 mod p on the stored integers, fully
// reduced, by word-by-word (operand-scanning) reduction interleaved with the
// multiplication: 32 limb products and 4 single-limb multiplies.
//
//   t = 0
//   for i = 0, 1, 2, 3:
//       t = t + a_i·b                  a_i is limb i of a
//       m = t_0·np_0 mod 2^64          t_0 is limb 0 of t, np_0 = np[0] = −p^−1 mod 2^64
//       t = (t + m·p) / 2^64           exact: limb 0 of t + m·p is zero by the choice of m
//   c = t − p when t ≥ p, else t
//
// Afterwards t·2^256 = a·b + M·p with M = m_0 + m_1·2^64 + m_2·2^128 + m_3·2^192, so
// t ≡ a·b·R^−1 (mod p). When b < p, t < 2p before and after every round (t + a_i·b +
// m·p < 2p + 2·(2^64 − 1)·p < 2^65·p, and the division by 2^64 brings that below 2p);
// as p < 2^254, t fits in four limbs between rounds and in five within one, and the
// one conditional subtraction leaves it below p. So the result is exact and fully
// reduced whenever b < p, whatever the 256-bit a: in particular for operands below
// p, and for montEncode and montDecode of any 256-bit integer.
//
// The two code paths compute exactly these steps and give identical limbs. c may be
// a, b or both: both read a and b before they write c, allocate nothing and make no
// branch at all.

// The MUL path, for processors without BMI2: a function of its own (gfp.cpp).
void gfpMulGeneric(gfP& c, const gfP& a, const gfP& b) __asm__("bn256_gfpMulGeneric");

// How the MULX path reads limb i of a and of b. With optimisation each limb is a
// memory operand of its own, which the compiler addresses as it likes (a local by
// the stack pointer, a constant by the instruction pointer) without a pointer
// register. Without optimisation each of those operands would take a register of
// its own, more than there are, so there the limbs are read at offsets from one
// pointer register for a and one for b.
#ifdef __OPTIMIZE__
#define BN256_MUL_A(i) "%[a" #i "]"
#define BN256_MUL_B(i) "%[b" #i "]"
#define BN256_MUL_OPERANDS(x, y)                                                 \
    [a0] "m"((x).limbs[0]), [a1] "m"((x).limbs[1]), [a2] "m"((x).limbs[2]),       \
        [a3] "m"((x).limbs[3]), [b0] "m"((y).limbs[0]), [b1] "m"((y).limbs[1]),   \
        [b2] "m"((y).limbs[2]), [b3] "m"((y).limbs[3])
#else
#define BN256_MUL_A(i) #i "*8(%[a])"
#define BN256_MUL_B(i) #i "*8(%[b])"
#define BN256_MUL_OPERANDS(x, y) \
    [a] "r"((x).limbs), [b] "r"((y).limbs), "m"((x).limbs), "m"((y).limbs)
#endif

// One round of the MULX path, as the steps above: first "t = t + a_i·b", then
// "m = t_0·np_0, t = (t + m·p)/2^64". The four limbs of t and a free fifth register
// are named at each use, since t moves through five registers used as a ring.
//
// BN256_MULX_FIRST_ROW: t = a_0·b into t0..t4 (t is zero, so the row is written,
// not added); each high half added to the next product's low half.
#define BN256_MULX_FIRST_ROW                          \
    "movq " BN256_MUL_A(0) ", %%rdx\n\t"             \
    "mulxq " BN256_MUL_B(0) ", %[t0], %[t1]\n\t"     \
    "mulxq " BN256_MUL_B(1) ", %[x0], %[t2]\n\t"     \
    "mulxq " BN256_MUL_B(2) ", %[x1], %[t3]\n\t"     \
    "mulxq " BN256_MUL_B(3) ", %[x2], %[t4]\n\t"     \
    "addq %[x0], %[t1]\n\t"                          \
    "adcq %[x1], %[t2]\n\t"                          \
    "adcq %[x2], %[t3]\n\t"                          \
    "adcq $0, %[t4]\n\t"

// BN256_MULX_ROW(i, T0, T1, T2, T3, T4): t += a_i·b with t in T0..T3 and T4 free:
// the products with b_0 and b_2 at limbs 0..3, then those with b_1 and b_3 at limbs
// 1..4; a_i·b_3's high half goes into T4, the new limb 4.
#define BN256_MULX_ROW(i, T0, T1, T2, T3, T4)         \
    "movq " BN256_MUL_A(i) ", %%rdx\n\t"             \
    "mulxq " BN256_MUL_B(0) ", %[x0], %[x1]\n\t"     \
    "mulxq " BN256_MUL_B(2) ", %[x2], %[x3]\n\t"     \
    "addq %[x0], %[" #T0 "]\n\t"                     \
    "adcq %[x1], %[" #T1 "]\n\t"                     \
    "adcq %[x2], %[" #T2 "]\n\t"                     \
    "adcq %[x3], %[" #T3 "]\n\t"                     \
    "mulxq " BN256_MUL_B(1) ", %[x0], %[x1]\n\t"     \
    "mulxq " BN256_MUL_B(3) ", %[x2], %[" #T4 "]\n\t" \
    "adcq $0, %[" #T4 "]\n\t"                        \
    "addq %[x0], %[" #T1 "]\n\t"                     \
    "adcq %[x1], %[" #T2 "]\n\t"                     \
    "adcq %[x2], %[" #T3 "]\n\t"                     \
    "adcq $0, %[" #T4 "]\n\t"

// BN256_MULX_REDUCE(T0, T1, T2, T3, T4): m = T0·np_0 mod 2^64 in rdx; t += m·p
// with t in T0..T4: the products with p_0 and p_2 at limbs 0..3 (limb 0 becomes
// zero, passing its carry on), then those with p_1 and p_3 at limbs 1..4. Dropping
// limb 0 leaves t in T1..T4, and T0 is free.
#define BN256_MULX_REDUCE(T0, T1, T2, T3, T4) \
    "movq %[" #T0 "], %%rdx\n\t"             \
    "imulq %[np0], %%rdx\n\t"                \
    "mulxq %[p0], %[x0], %[x1]\n\t"          \
    "mulxq %[p2], %[x2], %[x3]\n\t"          \
    "addq %[x0], %[" #T0 "]\n\t"             \
    "adcq %[x1], %[" #T1 "]\n\t"             \
    "adcq %[x2], %[" #T2 "]\n\t"             \
    "adcq %[x3], %[" #T3 "]\n\t"             \
    "mulxq %[p1], %[x0], %[x1]\n\t"          \
    "mulxq %[p3], %[x2], %[x3]\n\t"          \
    "adcq %[x3], %[" #T4 "]\n\t"             \
    "addq %[x0], %[" #T1 "]\n\t"             \
    "adcq %[x1], %[" #T2 "]\n\t"             \
    "adcq %[x2], %[" #T3 "]\n\t"             \
    "adcq $0, %[" #T4 "]\n\t"

// BN256_MULX_SUBTRACT_P(T0, T1, T2, T3): x = t − p with t in T0..T3 (below 2p); a
// borrow means t < p, and t is kept. The result is in x0..x3.
#define BN256_MULX_SUBTRACT_P(T0, T1, T2, T3) \
    "movq %[" #T0 "], %[x0]\n\t"             \
    "movq %[" #T1 "], %[x1]\n\t"             \
    "movq %[" #T2 "], %[x2]\n\t"             \
    "movq %[" #T3 "], %[x3]\n\t"             \
    "subq %[p0], %[x0]\n\t"                  \
    "sbbq %[p1], %[x1]\n\t"                  \
    "sbbq %[p2], %[x2]\n\t"                  \
    "sbbq %[p3], %[x3]\n\t"                  \
    "cmovcq %[" #T0 "], %[x0]\n\t"           \
    "cmovcq %[" #T1 "], %[x1]\n\t"           \
    "cmovcq %[" #T2 "], %[x2]\n\t"           \
    "cmovcq %[" #T3 "], %[x3]\n\t"

// The MULX path; the processor must have BMI2. MULX leaves the flags alone, so each
// row x·(y_0, y_1, y_2, y_3) is added into t in two add-with-carry passes: first the
// products with y_0 and y_2 (low and high halves land in adjacent limbs, four limbs
// with no gaps), then those with y_1 and y_3 one limb higher. ADCX/ADOX are not used.
// t lives in five registers used as a ring: the register that the shift frees takes
// the high half of the next row's last product. Always inline, so that the hot
// callers pay no call and keep their operands where they are.
[[gnu::always_inline]] inline void gfpMulBMI2(gfP& c, const gfP& a, const gfP& b) {
    std::uint64_t t0, t1, t2, t3, t4, x0, x1, x2, x3, m;
    __asm__(
        BN256_MULX_FIRST_ROW
        BN256_MULX_REDUCE(t0, t1, t2, t3, t4)
        BN256_MULX_ROW(1, t1, t2, t3, t4, t0)
        BN256_MULX_REDUCE(t1, t2, t3, t4, t0)
        BN256_MULX_ROW(2, t2, t3, t4, t0, t1)
        BN256_MULX_REDUCE(t2, t3, t4, t0, t1)
        BN256_MULX_ROW(3, t3, t4, t0, t1, t2)
        BN256_MULX_REDUCE(t3, t4, t0, t1, t2)
        BN256_MULX_SUBTRACT_P(t4, t0, t1, t2)

        : [t0] "=&r"(t0), [t1] "=&r"(t1), [t2] "=&r"(t2), [t3] "=&r"(t3), [t4] "=&r"(t4),
          [x0] "=&r"(x0), [x1] "=&r"(x1), [x2] "=&r"(x2), [x3] "=&r"(x3), "=&d"(m)
        : BN256_MUL_OPERANDS(a, b), [p0] "m"(p2[0]), [p1] "m"(p2[1]), [p2] "m"(p2[2]),
          [p3] "m"(p2[3]), [np0] "m"(np[0])
        : "cc");
    c.limbs[0] = x0;
    c.limbs[1] = x1;
    c.limbs[2] = x2;
    c.limbs[3] = x3;
}

// A 512-bit value, eight limbs, least significant first: a product not yet reduced.
struct gfPWide {
    std::uint64_t limbs[8];
};

#ifdef __OPTIMIZE__
// The double-width products below need all their limbs in registers, which leaves
// none for operand pointers; they exist in optimised builds only (BN256_HAVE_WIDE),
// and the callers fall back to gfpMul elsewhere.
#define BN256_HAVE_WIDE 1

// w = a·b, all 512 bits, MULX path: the rows of gfpMulBMI2 without the reductions,
// row i added at limb i. As there, the running limbs live in five registers used as
// a ring; limb i is final after row i and is stored, and its register takes limb
// i + 5. The processor must have BMI2.
[[gnu::always_inline]] inline void gfpMulWideBMI2(gfPWide& w, const gfP& a, const gfP& b) {
    std::uint64_t t0, t1, t2, t3, t4, x0, x1, x2, x3, m;
    __asm__(
        BN256_MULX_FIRST_ROW
        "movq %[t0], 0(%[w])\n\t"
        BN256_MULX_ROW(1, t1, t2, t3, t4, t0)
        "movq %[t1], 8(%[w])\n\t"
        BN256_MULX_ROW(2, t2, t3, t4, t0, t1)
        "movq %[t2], 16(%[w])\n\t"
        BN256_MULX_ROW(3, t3, t4, t0, t1, t2)
        "movq %[t3], 24(%[w])\n\t"
        "movq %[t4], 32(%[w])\n\t"
        "movq %[t0], 40(%[w])\n\t"
        "movq %[t1], 48(%[w])\n\t"
        "movq %[t2], 56(%[w])\n\t"
        : [t0] "=&r"(t0), [t1] "=&r"(t1), [t2] "=&r"(t2), [t3] "=&r"(t3), [t4] "=&r"(t4),
          [x0] "=&r"(x0), [x1] "=&r"(x1), [x2] "=&r"(x2), [x3] "=&r"(x3), "=&d"(m), "=m"(w)
        : BN256_MUL_OPERANDS(a, b), [w] "r"(w.limbs)
        : "cc");
}

// c = t·R^−1 mod p for t below p·R, fully reduced, MULX path. With t = l + h·R
// (l and h of four limbs), (t + M·p)/R = h + (l + M·p)/R, and M depends on l only:
// the four reduction rounds of gfpMulBMI2 run on l, with a zero limb entering the
// ring after each, give s = (l + M·p)/R ≤ p; then s + h < 2p for h < p, and one
// conditional subtraction. The processor must have BMI2.
[[gnu::always_inline]] inline void gfpReduceWideBMI2(gfP& c, const gfPWide& w) {
    std::uint64_t t0, t1, t2, t3, t4, x0, x1, x2, x3, m;
    __asm__(
        "movq 0(%[w]), %[t0]\n\t"
        "movq 8(%[w]), %[t1]\n\t"
        "movq 16(%[w]), %[t2]\n\t"
        "movq 24(%[w]), %[t3]\n\t"
        "xorl %k[t4], %k[t4]\n\t"
        BN256_MULX_REDUCE(t0, t1, t2, t3, t4)
        "xorl %k[t0], %k[t0]\n\t"
        BN256_MULX_REDUCE(t1, t2, t3, t4, t0)
        "xorl %k[t1], %k[t1]\n\t"
        BN256_MULX_REDUCE(t2, t3, t4, t0, t1)
        "xorl %k[t2], %k[t2]\n\t"
        BN256_MULX_REDUCE(t3, t4, t0, t1, t2)
        // s + h, with s in t4, t0, t1, t2.
        "addq 32(%[w]), %[t4]\n\t"
        "adcq 40(%[w]), %[t0]\n\t"
        "adcq 48(%[w]), %[t1]\n\t"
        "adcq 56(%[w]), %[t2]\n\t"
        BN256_MULX_SUBTRACT_P(t4, t0, t1, t2)
        : [t0] "=&r"(t0), [t1] "=&r"(t1), [t2] "=&r"(t2), [t3] "=&r"(t3), [t4] "=&r"(t4),
          [x0] "=&r"(x0), [x1] "=&r"(x1), [x2] "=&r"(x2), [x3] "=&r"(x3), "=&d"(m)
        : [w] "r"(w.limbs), "m"(w), [p0] "m"(p2[0]), [p1] "m"(p2[1]), [p2] "m"(p2[2]),
          [p3] "m"(p2[3]), [np0] "m"(np[0])
        : "cc");
    c.limbs[0] = x0;
    c.limbs[1] = x1;
    c.limbs[2] = x2;
    c.limbs[3] = x3;
}

// w = a − b mod 2^512; returns the borrow (1 when a < b).
inline unsigned char gfpWideSub(gfPWide& w, const gfPWide& a, const gfPWide& b) {
    unsigned char borrow = 0;
    for (int i = 0; i < 8; ++i) {
        unsigned long long d;
        borrow = _subborrow_u64(borrow, a.limbs[i], b.limbs[i], &d);
        w.limbs[i] = d;
    }
    return borrow;
}

// w = a + b mod 2^512.
inline void gfpWideAdd(gfPWide& w, const gfPWide& a, const gfPWide& b) {
    unsigned char carry = 0;
    for (int i = 0; i < 8; ++i) {
        unsigned long long s;
        carry = _addcarry_u64(carry, a.limbs[i], b.limbs[i], &s);
        w.limbs[i] = s;
    }
}

// w = w + p·R (p added to limbs 4..7) when add is 1, w when it is 0, mod 2^512.
inline void gfpWideAddPRWhere(gfPWide& w, unsigned char add) {
    const std::uint64_t mask = 0 - static_cast<std::uint64_t>(add);
    unsigned char carry = 0;
    for (int i = 0; i < 4; ++i) {
        unsigned long long s;
        carry = _addcarry_u64(carry, w.limbs[4 + i], p2[i] & mask, &s);
        w.limbs[4 + i] = s;
    }
}
#endif  // __OPTIMIZE__

#undef BN256_MULX_FIRST_ROW
#undef BN256_MULX_ROW
#undef BN256_MULX_REDUCE
#undef BN256_MULX_SUBTRACT_P
#undef BN256_MUL_A
#undef BN256_MUL_B
#undef BN256_MUL_OPERANDS

// c = a·b·R^−1 mod p: on Montgomery forms, the Montgomery form of the product. The
// flag is set once at start-up, so the branch is always predicted. This and the
// modular sums below are always inlined: left to the compiler, some tower callers
// called them, and the calls cost 3% of a pairing.
[[gnu::always_inline]] inline void gfpMul(gfP& c, const gfP& a, const gfP& b) {
    if (hasBMI2) [[likely]] {
        gfpMulBMI2(c, a, b);
    } else {
        gfpMulGeneric(c, a, b);
    }
}

// c = a + b mod p.
//   s = a + b (257 bits), u = s − p; c = u unless that borrowed, else c = s.
[[gnu::always_inline]] inline void gfpAdd(gfP& c, const gfP& a, const gfP& b) {
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
[[gnu::always_inline]] inline void gfpSub(gfP& c, const gfP& a, const gfP& b) {
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
[[gnu::always_inline]] inline void gfpNeg(gfP& c, const gfP& a) {
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

// c = a + b (with minus set: a + (p − b)) without the final reduction: below 2p
// for a and b below p. Such a value is only ever an operand of gfpMul, which is
// exact and fully reduced for operands below 2p (their product is below R·p, so t
// < 2p before its one subtraction).
template <bool minus>
inline void gfpLazySum(gfP& c, const gfP& a, const gfP& b) {
    std::uint64_t s0, s1, s2, s3;
    __asm__(
        ".if %c[minus]\n\t"
        "movq %[p0], %[s0]\n\t"
        "movq %[p1], %[s1]\n\t"
        "movq %[p2], %[s2]\n\t"
        "movq %[p3], %[s3]\n\t"
        "subq 0(%[b]), %[s0]\n\t"
        "sbbq 8(%[b]), %[s1]\n\t"
        "sbbq 16(%[b]), %[s2]\n\t"
        "sbbq 24(%[b]), %[s3]\n\t"
        ".else\n\t"
        "movq 0(%[b]), %[s0]\n\t"
        "movq 8(%[b]), %[s1]\n\t"
        "movq 16(%[b]), %[s2]\n\t"
        "movq 24(%[b]), %[s3]\n\t"
        ".endif\n\t"
        "addq 0(%[a]), %[s0]\n\t"
        "adcq 8(%[a]), %[s1]\n\t"
        "adcq 16(%[a]), %[s2]\n\t"
        "adcq 24(%[a]), %[s3]\n\t"
        : [s0] "=&r"(s0), [s1] "=&r"(s1), [s2] "=&r"(s2), [s3] "=&r"(s3)
        : [a] "r"(a.limbs), [b] "r"(b.limbs), "m"(a.limbs), "m"(b.limbs), [p0] "m"(p2[0]),
          [p1] "m"(p2[1]), [p2] "m"(p2[2]), [p3] "m"(p2[3]), [minus] "i"(minus ? 1 : 0)
        : "cc");
    c.limbs[0] = s0;
    c.limbs[1] = s1;
    c.limbs[2] = s2;
    c.limbs[3] = s3;
}

// c = a + b, below 2p, as an operand of gfpMul.
inline void gfpAddLazy(gfP& c, const gfP& a, const gfP& b) { gfpLazySum<false>(c, a, b); }

// c = a − b + p, in (0, 2p), as an operand of gfpMul.
inline void gfpSubLazy(gfP& c, const gfP& a, const gfP& b) { gfpLazySum<true>(c, a, b); }

// 8p, 4p, 2p and p in five limbs, least significant first: the subtrahends that
// bring a value below 10p under p.
inline constexpr std::uint64_t kMultiplesOfP[4][5] = {
    {0xe10460b6c3e7ea38, 0xbc0b548b438e5469, 0xc2822db40c0ac2ec, 0x83227397098d014d, 1},
    {0xf082305b61f3f51c, 0x5e05aa45a1c72a34, 0xe14116da06056176, 0xc19139cb84c680a6, 0},
    {0x7841182db0f9fa8e, 0x2f02d522d0e3951a, 0x70a08b6d0302b0bb, 0x60c89ce5c2634053, 0},
    {0x3c208c16d87cfd47, 0x97816a916871ca8d, 0xb85045b68181585d, 0x30644e72e131a029, 0},
};

// s = s − k·p where that does not borrow, for k = 8, 4, 2, 1 in turn: s below 10p
// (five limbs s0..s4, scratch t0..t4) ends below p. After the step by 8p, s is below
// 8p; after 4p below 4p < 2^256, so the last two steps need four limbs.
#define BN256_SUBTRACT_MULTIPLE(row, limbs)                       \
    "movq %[s0], %[t0]\n\t"                                       \
    "movq %[s1], %[t1]\n\t"                                       \
    "movq %[s2], %[t2]\n\t"                                       \
    "movq %[s3], %[t3]\n\t"                                       \
    "subq " #row "*40+0(%[k]), %[t0]\n\t"                         \
    "sbbq " #row "*40+8(%[k]), %[t1]\n\t"                         \
    "sbbq " #row "*40+16(%[k]), %[t2]\n\t"                        \
    "sbbq " #row "*40+24(%[k]), %[t3]\n\t" limbs                  \
    "cmovncq %[t0], %[s0]\n\t"                                    \
    "cmovncq %[t1], %[s1]\n\t"                                    \
    "cmovncq %[t2], %[s2]\n\t"                                    \
    "cmovncq %[t3], %[s3]\n\t"
#define BN256_FIVE_LIMBS(row)                 \
    "movq %[s4], %[t4]\n\t"                  \
    "sbbq " #row "*40+32(%[k]), %[t4]\n\t"   \
    "cmovncq %[t4], %[s4]\n\t"

// gfpNineAPlus holds thirteen registers. With optimisation its reads of a and b
// are stated as memory operands that share the pointer registers; without, each
// would take a register of its own, more than there are, so there a memory
// clobber stands for them.
#ifdef __OPTIMIZE__
#define BN256_NINE_READS(x, y) "m"((x).limbs), "m"((y).limbs)
#define BN256_NINE_CLOBBERS "cc"
#else
#define BN256_NINE_READS(x, y) "m"(kMultiplesOfP)
#define BN256_NINE_CLOBBERS "cc", "memory"
#endif

// c = 9·a + b mod p (with minus set: 9·a − b = 9·a + (p − b)), by shifts and
// additions below 10p and the subtractions of 8p, 4p, 2p and p: the two halves of
// the product by xi. No multiplication, so one path for every processor.
template <bool minus>
inline void gfpNineAPlus(gfP& c, const gfP& a, const gfP& b) {
    std::uint64_t s0, s1, s2, s3, s4, t0, t1, t2, t3, t4;
    __asm__(
        // t = b, or p − b; its top limb is 0.
        ".if %c[minus]\n\t"
        "movq %[p0], %[t0]\n\t"
        "movq %[p1], %[t1]\n\t"
        "movq %[p2], %[t2]\n\t"
        "movq %[p3], %[t3]\n\t"
        "subq 0(%[b]), %[t0]\n\t"
        "sbbq 8(%[b]), %[t1]\n\t"
        "sbbq 16(%[b]), %[t2]\n\t"
        "sbbq 24(%[b]), %[t3]\n\t"
        ".else\n\t"
        "movq 0(%[b]), %[t0]\n\t"
        "movq 8(%[b]), %[t1]\n\t"
        "movq 16(%[b]), %[t2]\n\t"
        "movq 24(%[b]), %[t3]\n\t"
        ".endif\n\t"
        // s = 8·a (five limbs)
        "movq 24(%[a]), %[s3]\n\t"
        "movq %[s3], %[s4]\n\t"
        "shrq $61, %[s4]\n\t"
        "movq 16(%[a]), %[s2]\n\t"
        "shldq $3, %[s2], %[s3]\n\t"
        "movq 8(%[a]), %[s1]\n\t"
        "shldq $3, %[s1], %[s2]\n\t"
        "movq 0(%[a]), %[s0]\n\t"
        "shldq $3, %[s0], %[s1]\n\t"
        "shlq $3, %[s0]\n\t"
        // s = s + a + t, below 8p + p + p
        "addq 0(%[a]), %[s0]\n\t"
        "adcq 8(%[a]), %[s1]\n\t"
        "adcq 16(%[a]), %[s2]\n\t"
        "adcq 24(%[a]), %[s3]\n\t"
        "adcq $0, %[s4]\n\t"
        "addq %[t0], %[s0]\n\t"
        "adcq %[t1], %[s1]\n\t"
        "adcq %[t2], %[s2]\n\t"
        "adcq %[t3], %[s3]\n\t"
        "adcq $0, %[s4]\n\t"
        BN256_SUBTRACT_MULTIPLE(0, BN256_FIVE_LIMBS(0))
        BN256_SUBTRACT_MULTIPLE(1, BN256_FIVE_LIMBS(1))
        BN256_SUBTRACT_MULTIPLE(2, "")
        BN256_SUBTRACT_MULTIPLE(3, "")
        : [s0] "=&r"(s0), [s1] "=&r"(s1), [s2] "=&r"(s2), [s3] "=&r"(s3), [s4] "=&r"(s4),
          [t0] "=&r"(t0), [t1] "=&r"(t1), [t2] "=&r"(t2), [t3] "=&r"(t3), [t4] "=&r"(t4)
        : [a] "r"(a.limbs), [b] "r"(b.limbs), BN256_NINE_READS(a, b), [k] "r"(kMultiplesOfP),
          "m"(kMultiplesOfP), [p0] "m"(p2[0]), [p1] "m"(p2[1]), [p2] "m"(p2[2]),
          [p3] "m"(p2[3]), [minus] "i"(minus ? 1 : 0)
        : BN256_NINE_CLOBBERS);
    c.limbs[0] = s0;
    c.limbs[1] = s1;
    c.limbs[2] = s2;
    c.limbs[3] = s3;
}

#undef BN256_SUBTRACT_MULTIPLE
#undef BN256_FIVE_LIMBS
#undef BN256_NINE_READS
#undef BN256_NINE_CLOBBERS

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
