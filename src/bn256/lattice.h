// Scalar decomposition for the G1 endomorphism.
//
// A scalar k is split into two non-negative components (k1, k2) of about 128 bits
// with k ≡ k1 + k2·λ (mod Order), where λ is the eigenvalue on G1 of
// phi(x, y) = (beta·x, y). curvePoint::Mul then walks the bits of k1 and k2
// together, halving the number of doublings. The big-integer work here allocates;
// the point arithmetic that consumes the digits does not.
#pragma once

#include <gmpxx.h>

#include <cstdint>
#include <vector>

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

}  // namespace bn256
