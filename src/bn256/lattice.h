// Scalar decomposition for the G1 endomorphism.
//
// A scalar k is split into two non-negative components (k1, k2) of about 128 bits
// with k ≡ k1 + k2·λ (mod Order), where λ is the eigenvalue on G1 of
// phi(x, y) = (beta·x, y). curvePoint::Mul then walks the bits of k1 and k2
// together, halving the number of doublings. The big-integer work here allocates;
// the point arithmetic that consumes the digits does not.
#pragma once

#include <gmpxx.h>

#include <array>
#include <cstdint>
#include <vector>

#include "bn256/scalar.h"

namespace bn256 {

// A lattice basis together with the first row of its inverse (inverse_i / det).
// The dimension n is inverse.size(); there are n vectors of n components each.
struct lattice {
    std::vector<std::vector<mpz_class>> vectors;  // vectors[j][i]: component i of basis vector j
    std::vector<mpz_class> inverse;               // numerators of the inverse's first row
    mpz_class det;                                // their common denominator

    // Returns (k, 0) − Σ_j round(k·inverse_j / det)·vectors_j + 2·vectors_0. For
    // curveLattice and every k ≥ 0 both components are positive and below 2^129.
    std::vector<mpz_class> decompose(const mpz_class& k) const;

    // The joint digits of decompose(scalar), least significant first: digit i holds
    // bit i of component j at bit position j (0..3 for curveLattice). Its length
    // is the largest bit length among the components (128 or 129 for curveLattice).
    std::vector<std::uint8_t> Multi(const mpz_class& scalar) const;
};

// num = the Euclidean quotient num / denom, plus 1 when the remainder is strictly
// greater than half (= Order >> 1, not denom / 2).
void round(mpz_class& num, const mpz_class& denom);

// The lattice of the G1 scalar decomposition; built by bn256::init with the
// other constants.
extern lattice& curveLattice;

// One component of a scalar split: (−1)^negative · magnitude.
struct signedComponent {
    std::uint64_t magnitude;
    bool negative;
};

// The split of a scalar k ≥ 0 (of any size) for an endomorphism with eigenvalue p
// on a group of order Order: ψ on G2 and the p-power Frobenius on GT. The result
// (k0, k1, k2, k3) satisfies k ≡ k0 + k1·p + k2·p² + k3·p³ (mod Order), with every
// |ki| < 0.95·2^64, so four walks of 64 bits replace one of 254.
//
// k mod Order is written in the reduced basis of the lattice
// {v : v0 + v1·p + v2·p² + v3·p³ ≡ 0 (mod Order)} (rows, with u the curve parameter)
//   (2u + 1, 0,     2u,       1)
//   (2u,     u + 1, −u,       u)
//   (u + 1,  u,     u,        −2u)
//   (2u + 1, −u,    −(u + 1), −u),
// whose determinant is −Order (Babai rounding, as in Galbraith–Lin–Scott):
// c_j = round(k·beta_j / Order), where beta / Order is the first row of the
// inverse basis, and (k0, ..., k3) = (k, 0, 0, 0) − Σ_j c_j·v_j. Every rounding
// error is at most 1/2, so |ki| ≤ (1/2)·Σ_j |v_j[i]| ≤ (7u + 3)/2 < 2^64.
// The big-integer work allocates.
std::array<signedComponent, 4> decomposeFrobenius(const mpz_class& k);

// The width-w non-adjacent form of n: n = Σ digits[i]·2^i with every non-zero
// digit odd, |digit| < 2^(w−1), and at most one non-zero digit in any w in a row.
// A 64-bit n needs at most 65 digits; the unused top digits are zero.
inline constexpr int kWnafDigits = 65;
template <int W>
constexpr std::array<std::int8_t, kWnafDigits> wnaf(std::uint64_t n) {
    std::array<std::int8_t, kWnafDigits> digits{};
    unsigned __int128 k = n;
    for (int i = 0; k != 0; ++i) {
        if (k & 1) {
            int d = static_cast<int>(k & ((1u << W) - 1));
            if (d >= (1 << (W - 1))) d -= 1 << W;
            digits[i] = static_cast<std::int8_t>(d);
            if (d > 0) {
                k -= static_cast<unsigned>(d);
            } else {
                k += static_cast<unsigned>(-d);
            }
        }
        k >>= 1;
    }
    return digits;
}

// One component of a split of a secret scalar, in constant time: the value is
// (−1)^negative · (magnitude − even), with magnitude odd. An even value v is
// carried as the odd v + 1 and the flag even, so that the walk over the digits
// below never needs a zero digit and corrects for it at the end. negative and
// even are masks (all ones or zero).
struct secretComponent {
    unsigned __int128 magnitude;
    std::uint64_t negative;
    std::uint64_t even;
};

// A split of k for curveLattice (k ≡ k0 + k1·λ mod Order), with |ki| < 2^127, in
// fixed-width arithmetic: the Babai rounding of lattice::decompose without the
// added 2·vectors_0, c_j from a 256-bit fixed-point inverse instead of a
// division. Constant time in k; the components may differ from decompose's, the
// value k0 + k1·λ mod Order does not.
std::array<secretComponent, 2> decomposeCurveSecret(const Scalar& k);

// A split of k as decomposeFrobenius, with |ki| < 2^64, in fixed-width arithmetic
// (c_j from a fixed-point beta_j / Order); constant time in k.
std::array<secretComponent, 4> decomposeFrobeniusSecret(const Scalar& k);

// Builds the fixed tables of decomposeFrobenius, decomposeCurveSecret and
// decomposeFrobeniusSecret from u, Order and curveLattice: the last part of
// init(), so that no call makes a value at first use. Read-only afterwards.
void buildScalarSplits();

// The regular signed-digit form of an odd n below 2^(4·N) (Joye–Tunstall, width 4):
// n = 16^N + Σ_(i<N) d_i·16^i with every d_i odd in [−15, 15], so every digit
// takes one table entry and the top digit is always 1. Digit i is given as the
// table index (|d_i| − 1)/2 and a sign mask. Constant time in n.
template <int N>
struct regularDigits {
    std::uint8_t index[N];
    std::uint64_t negative[N];
};

template <int N>
regularDigits<N> regularRecode(unsigned __int128 n) {
    regularDigits<N> out;
    for (int i = 0; i < N; ++i) {
        // d = (n mod 32) − 16; n = (n − d)/16 = 2·floor(n/32) + 1 stays odd.
        const std::int64_t d = static_cast<std::int64_t>(n & 31) - 16;
        const std::uint64_t sign = static_cast<std::uint64_t>(d >> 63);
        const std::uint64_t magnitude = (static_cast<std::uint64_t>(d) ^ sign) - sign;
        out.index[i] = static_cast<std::uint8_t>(magnitude >> 1);
        out.negative[i] = sign;
        n = ((n >> 5) << 1) | 1;
    }
    return out;
}

}  // namespace bn256
