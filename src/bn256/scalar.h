// Secret scalars: a fixed-width integer below 2^256 for the scalars that must not
// leak (the master secret, the drawn exponents, the scalars of random elements),
// with the arithmetic their multiplications need, all constant time.
//
// A Scalar is four 64-bit limbs, least significant first, and wipes them when it
// goes out of scope. Nothing here branches on, or indexes memory by, the value of
// a Scalar; the one outcome made visible is the accept/reject decision of a draw.
// Public scalars (identity digests, u, Order) stay mpz_class and take the
// variable-time routes.
#pragma once

#include <gmpxx.h>

#include <cstddef>
#include <cstdint>

#include "common/error.h"
#include "common/random.h"

namespace bn256 {

// A secret scalar below 2^256; wiped when it goes out of scope.
struct Scalar {
    std::uint64_t limbs[4] = {0, 0, 0, 0};  // limbs[0] is the least significant

    Scalar() = default;
    Scalar(const Scalar&) = default;
    Scalar& operator=(const Scalar&) = default;
    ~Scalar();

    // The value k mod 2^256 of a non-negative k; for public values and tests.
    explicit Scalar(const mpz_class& k);

    // The value as a big integer; for public values and tests only (GMP is not
    // constant time).
    mpz_class ToMpz() const;
};

// Marks n bytes at p as carrying no secret: a no-op, except under valgrind's
// memcheck, where it marks them defined. Called where a value derived from a
// secret is allowed to steer the program (the accept/reject outcome of a draw).
void declassify(const void* p, std::size_t n);

// All ones when a = b, for values below 2^63; no branch.
inline std::uint64_t equalMask(std::uint64_t a, std::uint64_t b) { return 0 - (((a ^ b) - 1) >> 63); }

// k mod Order for any k < 2^256, by five constant-time conditional subtractions.
Scalar reduceModOrder(const Scalar& k);

// The rounded quotient (a·b + 2^(shift − 1)) >> shift of the 512-bit product, for
// 256 ≤ shift < 512, modulo 2^128 (its low 128 bits). Constant time.
unsigned __int128 mulShiftRound(const Scalar& a, const std::uint64_t (&b)[4], int shift);

// A uniform scalar in [0, Order): 32-byte big-endian candidates with the two top
// bits cleared, drawn again until one is below Order; the same bytes and the same
// value as common::RandomBelow(rand, Order). Only whether a candidate is accepted
// is visible. On a failure of the source, its error unchanged.
common::Result<Scalar> RandomScalar(common::RandomSource& rand);

}  // namespace bn256
