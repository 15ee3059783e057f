// The pairing groups G1, G2 and GT of the BN256 curve, the pairing between them,
// random elements, and the byte encodings of the elements.
//
// Encodings are big-endian with no header: a G1 element is 64 bytes (affine x, y),
// a G2 element 128 bytes (x.i, x.1, y.i, y.1), a GT element 384 bytes (the twelve
// coefficients x.x.x ... y.z.y of gfP12), every coordinate the 32-byte plain value
// below p. The identity of G1 and of G2 encodes as all zeros, that of GT as 383
// zeros and 0x01.
//
// Each element holds its value exclusively; it is unset (absent) until first
// written. The group operations set the receiver and return it, and the receiver
// may be the same element as an operand. Marshal and String are const but put the
// held point into its normal form (the same group element) and give an unset
// element the identity, so an element is never used from two threads at once.
// An unset operand counts as the identity.
//
// Scalars come in two kinds. A secret scalar (Scalar: the master secret, drawn
// exponents, the scalars of random elements) takes a route that is constant time
// in it; a public one (mpz_class: identity digests, u, Order) takes the faster
// variable-time route. Both give the same element. Add is constant time in its
// operands, which may be secret keys.
#pragma once

#include <gmpxx.h>

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "bn256/curve.h"
#include "bn256/gfp12.h"
#include "bn256/scalar.h"
#include "bn256/twist.h"
#include "common/bytes.h"
#include "common/error.h"
#include "common/random.h"

namespace bn256 {

// Error texts of the decoders (besides the coordinate errors of gfP::Unmarshal).
inline constexpr std::string_view kNotEnoughData = "bn256: not enough data";
inline constexpr std::string_view kMalformedPoint = "bn256: malformed point";

// An element of G1: a point of y² = x³ + 3 over GF(p) (cofactor 1).
struct G1 {
    mutable std::optional<curvePoint> p;

    G1& ScalarBaseMult(const Scalar& k);              // e = k·curveGen, constant time in k
    G1& ScalarMult(const G1& a, const Scalar& k);     // e = k·a, constant time in k and a
    G1& ScalarBaseMult(const mpz_class& k);           // e = k·curveGen, k public
    G1& ScalarMult(const G1& a, const mpz_class& k);  // e = k·a, k ≥ 0 public, of any size
    G1& Add(const G1& a, const G1& b);                // e = a + b, constant time
    G1& Set(const G1& a);                             // e = a

    // The 64-byte encoding; normalises the held point in place.
    common::Bytes Marshal() const;

    // Decodes the 64 bytes at the front of m and returns the bytes after them.
    // Fails with "bn256: not enough data", a coordinate error of gfP::Unmarshal
    // (x checked before y), or "bn256: malformed point" for a non-zero encoding off
    // the curve. The receiver changes only on success.
    common::Result<common::ByteView> Unmarshal(common::ByteView m);

    // "bn256.G1" + the text of the affine point; normalises in place.
    std::string String() const;
};

// An element of G2: a point of the twist y² = x³ + 3/xi over GF(p²) of order
// dividing Order. Every way of making one keeps it so (the decoder checks it), so
// the scalar multiplications take twistPoint::MulInG2 (public scalars) and
// twistPoint::MulSecret (secret ones), both valid on G2 alone.
struct G2 {
    mutable std::optional<twistPoint> p;

    G2& ScalarBaseMult(const Scalar& k);              // e = k·twistGen, constant time in k
    G2& ScalarMult(const G2& a, const Scalar& k);     // e = k·a, constant time in k and a
    G2& ScalarBaseMult(const mpz_class& k);           // e = k·twistGen, k public
    G2& ScalarMult(const G2& a, const mpz_class& k);  // e = k·a, k ≥ 0 public
    G2& Add(const G2& a, const G2& b);                // e = a + b, constant time

    // The 128-byte encoding; normalises the held point in place.
    common::Bytes Marshal() const;

    // Decodes the 128 bytes at the front of m and returns the bytes after them.
    // Fails like G1::Unmarshal; "bn256: malformed point" also for a point of the
    // twist outside G2 (twistPoint::IsOnCurveFast, the same decision as a
    // multiplication by Order). The receiver changes only on success.
    common::Result<common::ByteView> Unmarshal(common::ByteView m);

    // "bn256.G2" + the text of the affine point; normalises in place.
    std::string String() const;
};

// An element of GT ⊂ GF(p^12)*, written additively: Add is the field product,
// ScalarMult the power and Neg the conjugate (the inverse on GT).
//
// decoded records that the value came from bytes, directly or through the group
// operations, and so is not known to lie in GT. The other values are: pairing
// outputs, the identity, and what Add, Neg and ScalarMult make of them. Their
// powers take a faster route with the same value; a decoded element keeps the
// plain power, whose value for an element outside GT differs from the fast
// route's. A value written into p directly must lie in GT, or decoded be set.
struct GT {
    mutable std::optional<gfP12> p;
    bool decoded = false;

    GT& ScalarMult(const GT& a, const Scalar& k);     // e = a^k, constant time in k
    GT& ScalarMult(const GT& a, const mpz_class& k);  // e = a^k, k ≥ 0 public
    GT& Add(const GT& a, const GT& b);                // e = a·b
    GT& Neg(const GT& a);                             // e = conj(a) = a^−1 on GT

    // The 384-byte encoding; an unset element becomes 1.
    common::Bytes Marshal() const;

    // Decodes the 384 bytes at the front of m and returns the bytes after them.
    // Fails with "bn256: not enough data" or a coordinate error. Any twelve
    // coordinates below p are accepted: there is no test of membership in GT.
    // The receiver changes only on success.
    common::Result<common::ByteView> Unmarshal(common::ByteView m);

    // "bn256.GT" + the text of gfP12 (stored Montgomery limbs).
    std::string String() const;
};

// True when e is unset or not decoded.
bool knownInGT(const GT& e);

// c = a^k for k ≥ 0 (of any size) and a in GT, through the p-power Frobenius in
// four dimensions: the value of gfP12::Exp for every a in GT. c may be a.
void expInGT(gfP12& c, const gfP12& a, const mpz_class& k);

// c = a^k for a in GT and a secret k, constant time in k: the value of expInGT.
void expSecretInGT(gfP12& c, const gfP12& a, const Scalar& k);

// A uniformly random scalar in [1, Order − 1] from rand (zero draws are repeated;
// only that outcome is visible), or the source's error unchanged.
common::Result<Scalar> randomK(common::RandomSource& rand);

// A random element together with its scalar: element = k·curveGen or k·twistGen.
struct RandomG1Result {
    Scalar k;
    G1 element;
};
struct RandomG2Result {
    Scalar k;
    G2 element;
};

// k from randomK and the new element k·curveGen; or the source's error.
common::Result<RandomG1Result> RandomG1(common::RandomSource& rand);

// k from randomK and the new element k·twistGen; or the source's error.
common::Result<RandomG2Result> RandomG2(common::RandomSource& rand);

// e(g1, g2) = optimalAte(point of g2, point of g1), a new GT element; 1 when either
// is the identity.
GT Pair(const G1& g1, const G2& g2);

// One factor of PairProduct: e(*g1, *g2), or its inverse when inverse is set.
struct PairTerm {
    const G1* g1;
    const G2* g2;
    bool inverse = false;
};

// The product of the factors e(g1, g2)^(±1) of terms, a new GT element equal to
// the product of separate pairings (1 for no terms). The Miller loops share their
// squarings and there is one final exponentiation, so two pairings cost well
// under twice one.
GT PairProduct(std::span<const PairTerm> terms);

}  // namespace bn256
