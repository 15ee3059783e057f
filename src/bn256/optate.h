// The optimal ate pairing e: G2 × G1 → GT of the BN curve with parameter u.
//
// The value is the Miller loop over 6u + 2 (with the two Frobenius corrections)
// raised to exactly (p^12 − 1)/Order, so every correct implementation yields the
// same GF(p^12) element; message keys are derived from its encoding. Nothing here
// allocates, and no operation changes its point arguments: the Miller loop works
// on affine copies. A product of pairings (pairingProduct) shares the squarings of
// its Miller loops and has one final exponentiation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "bn256/curve.h"
#include "bn256/gfp12.h"
#include "bn256/gfp2.h"
#include "bn256/twist.h"

namespace bn256 {

// 6u + 2 = 29793968203157093288 as 65 signed binary digits, least significant
// first. Not a strict NAF; the top digit (index 64) is accounted for by starting
// the loop from r = Q and is never read.
inline constexpr std::int8_t sixuPlus2NAF[65] = {
    0, 0, 0, 1,  0, 1, 0, -1, 0, 0, 1, -1, 0, 0, 1, 0,  0, 1, 1, 0, -1, 0,
    0, 1, 0, -1, 0, 0, 0, 0,  1, 1, 1, 0,  0, -1, 0, 0, 1, 0, 0, 0, 0,  0,
    -1, 0, 0, 1, 1, 0, 0, -1, 0, 0, 0, 1,  1, 0,  -1, 0, 0, 1, 0, 1, 1};

// The line through r and the affine point p, evaluated at the affine curve point q,
// is L = (a·tau + b)·w + c; rOut = r + p with rOut.t = rOut.z². Requires
// r.t = r.z² and pySquared = p.y². rOut must not be r or p.
void lineFunctionAdd(gfP2& a, gfP2& b, gfP2& c, twistPoint& rOut, const twistPoint& r,
                     const twistPoint& p, const curvePoint& q, const gfP2& pySquared);

// The tangent at r evaluated at the affine curve point q, L = (a·tau + b)·w + c;
// rOut = 2r with rOut.t = rOut.z². Requires r.t = r.z². rOut must not be r.
void lineFunctionDouble(gfP2& a, gfP2& b, gfP2& c, twistPoint& rOut, const twistPoint& r,
                        const curvePoint& q);

// The same lines for r in homogeneous projective coordinates (x = X/Z, y = Y/Z,
// t unused), each the Jacobian line times a non-zero element of GF(p^2); r is
// updated in place. threeB = 3·twistB; s must be affine.
void lineFunctionDoubleProjective(gfP2& a, gfP2& b, gfP2& c, twistPoint& r, const gfP2& threeB,
                                  const curvePoint& q);
void lineFunctionAddProjective(gfP2& a, gfP2& b, gfP2& c, twistPoint& r, const twistPoint& s,
                               const curvePoint& q);

// ret = ret · ((a·tau + b)·w + c), exploiting the zero coefficients of the line.
void mulLine(gfP12& ret, const gfP2& a, const gfP2& b, const gfP2& c);

// ret = ret · ((a1·tau + b1)·w + c1) · ((a2·tau + b2)·w + c2): the product of the
// two lines first, then one product with fewer GF(p^2) products than two mulLine.
void mulLinePair(gfP12& ret, const gfP2& a1, const gfP2& b1, const gfP2& c1, const gfP2& a2,
                 const gfP2& b2, const gfP2& c2);

// The Miller loop value f_{6u+2,Q}(P) times the lines of the two Frobenius
// corrections, with the lines of homogeneous projective coordinates: the value of
// millerJacobian times an element of GF(p^2)*, which the final exponentiation
// removes, so both give the same pairing. q and p are not changed.
gfP12 miller(const twistPoint& q, const curvePoint& p);

// The same loop with the Jacobian lines lineFunctionDouble and lineFunctionAdd,
// the reference for miller.
gfP12 millerJacobian(const twistPoint& q, const curvePoint& p);

// One factor of a pairing product: e(*q, *p), or its inverse when inverse is set.
struct PairingTerm {
    const twistPoint* q;
    const curvePoint* p;
    bool inverse = false;
};

// The product of the Miller loop values of the terms (of q and −p for an inverse
// term), leaving out those with a point at infinity; 1 for no such term.
gfP12 millerProduct(std::span<const PairingTerm> terms);

// The product of the pairings of the terms with one final exponentiation of the
// product of their Miller loop values; equal to the product of optimalAte of each
// term (inverted where asked), and 1 for no terms. The points are not changed.
gfP12 pairingProduct(std::span<const PairingTerm> terms);

// a^u for a in the cyclotomic subgroup, where a^−1 = conj(a): left to right over
// the width-4 non-adjacent form of u (14 non-zero digits in ±{1, 3, 5, 7}) with
// cyclotomic squarings, a, a³, a⁵, a⁷ made first and their inverses taken as
// conjugates: 63 squarings and 16 products, against 62 and 23 over the plain
// non-adjacent form (−6% on the pairing). On any other element the value is not
// a^u (gfP12::Exp is the general power).
gfP12 cyclotomicPowU(const gfP12& a);

// in^((p^12 − 1)/Order): the easy part (p^6 − 1)(p^2 + 1), then the hard part with
// three powers by u.
gfP12 finalExponentiation(const gfP12& in);

// The pairing of the twist point a with the curve point b; 1 when either is the
// point at infinity (decided after the full computation).
gfP12 optimalAte(const twistPoint& a, const curvePoint& b);

}  // namespace bn256
