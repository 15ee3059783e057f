// The quadratic extension GF(p^2) = GF(p)[i]/(i^2 + 1).
//
// An element {x, y} is x·i + y: the i-coefficient comes first, in memory and in
// every text and byte form. Both parts are Montgomery-form gfP values, so equality
// compares limbs and a zero-initialised element is 0. Each operation writes its
// receiver and returns it; the operations are written out over the base-field
// primitives in a fixed order, and none allocates. Where an operation may alias,
// it reads all of its operands into locals before it writes the receiver.
#pragma once

#include <string>

#include "bn256/gfp.h"

namespace bn256 {

struct gfP2 {
    gfP x;  // the coefficient of i
    gfP y;  // the constant coefficient

    friend bool operator==(const gfP2&, const gfP2&) = default;

    // e = a. e may be a.
    gfP2& Set(const gfP2& a) {
        x = a.x;
        y = a.y;
        return *this;
    }

    gfP2& SetZero() {
        x = gfP{};
        y = gfP{};
        return *this;
    }

    // e = 1: x = 0, y = the Montgomery one.
    gfP2& SetOne() {
        x = gfP{};
        y = kMontgomeryOne;
        return *this;
    }

    bool IsZero() const { return x.IsZero() && y.IsZero(); }

    // True for x = 0 and y = the Montgomery one (not the plain integer 1).
    bool IsOne() const { return x.IsZero() && y == kMontgomeryOne; }

    // e = −a = −ax·i − ay. e may be a.
    gfP2& Neg(const gfP2& a) {
        gfpNeg(x, a.x);
        gfpNeg(y, a.y);
        return *this;
    }

    // e = conj(a) = −ax·i + ay, the p-th power map. e may be a.
    gfP2& Conjugate(const gfP2& a) {
        y = a.y;
        gfpNeg(x, a.x);
        return *this;
    }

    // e = (ax + bx)·i + (ay + by). e may be a, b or both.
    gfP2& Add(const gfP2& a, const gfP2& b) {
        gfpAdd(x, a.x, b.x);
        gfpAdd(y, a.y, b.y);
        return *this;
    }

    // e = (ax − bx)·i + (ay − by). e may be a, b or both.
    gfP2& Sub(const gfP2& a, const gfP2& b) {
        gfpSub(x, a.x, b.x);
        gfpSub(y, a.y, b.y);
        return *this;
    }

    // e = (ax·b)·i + ay·b for b in GF(p). e may be a; b must not lie inside e.
    gfP2& MulScalar(const gfP2& a, const gfP& b) {
        gfpMul(x, a.x, b);
        gfpMul(y, a.y, b);
        return *this;
    }

    // Karatsuba, three products instead of four (−15% on the pairing):
    //   (ax·i + ay)(bx·i + by) = ((ax + ay)(bx + by) − ax·bx − ay·by)·i + (ay·by − ax·bx),
    // since i² = −1; the sums are left unreduced (below 2p) as operands of gfpMul.
    // The same value as MulSchoolbook. e may be a, b or both.
    gfP2& Mul(const gfP2& a, const gfP2& b) {
#ifdef BN256_HAVE_WIDE
        if (hasBMI2) [[likely]] return MulWide(a, b);
#endif
        gfP v0, v1, sa, sb;
        gfpAddLazy(sa, a.x, a.y);
        gfpAddLazy(sb, b.x, b.y);
        gfpMul(v0, a.x, b.x);
        gfpMul(v1, a.y, b.y);
        gfpMul(sa, sa, sb);
        gfpSub(sa, sa, v0);
        gfpSub(x, sa, v1);
        gfpSub(y, v1, v0);
        return *this;
    }

#ifdef BN256_HAVE_WIDE
    // Mul on the MULX path with one reduction per coefficient: the three products
    // of Karatsuba are kept at 512 bits, and
    //   x = (ax + ay)(bx + by) − ax·bx − ay·by,  in [0, 2p²),
    //   y = ay·by − ax·bx (+ p·R when negative),  in [0, p·R),
    // are reduced once each, instead of three reductions and two modular
    // subtractions (−5% on the pairing). e may be a, b or both.
    gfP2& MulWide(const gfP2& a, const gfP2& b) {
        gfP sa, sb;
        gfpAddLazy(sa, a.x, a.y);
        gfpAddLazy(sb, b.x, b.y);
        gfPWide v0, v1, s, t;
        gfpMulWideBMI2(v0, a.x, b.x);
        gfpMulWideBMI2(v1, a.y, b.y);
        gfpMulWideBMI2(s, sa, sb);
        // v0 + v1 while the third product is formed: one subtraction after it.
        gfpWideAdd(t, v0, v1);
        gfpWideSub(s, s, t);
        gfpWideAddPRWhere(v1, gfpWideSub(v1, v1, v0));
        gfpReduceWideBMI2(x, s);
        gfpReduceWideBMI2(y, v1);
        return *this;
    }
#endif

    // The schoolbook product with four products, the reference for Mul:
    //   (ax·i + ay)(bx·i + by) = (ax·by + bx·ay)·i + (ay·by − ax·bx).
    // e may be a, b or both.
    gfP2& MulSchoolbook(const gfP2& a, const gfP2& b) {
        gfP tx, t, ty;
        gfpMul(tx, a.x, b.y);
        gfpMul(t, b.x, a.y);
        gfpAdd(tx, tx, t);
        gfpMul(ty, a.y, b.y);
        gfpMul(t, a.x, b.x);
        gfpSub(ty, ty, t);
        x = tx;
        y = ty;
        return *this;
    }

    // (ax·i + ay)² = 2·ax·ay·i + (ay − ax)(ay + ax); the factors 2·ax, ay − ax and
    // ay + ax are left unreduced (below 2p) as operands of gfpMul. e may be a.
    gfP2& Square(const gfP2& a) {
        gfP tx, ty;
        gfpSubLazy(tx, a.y, a.x);
        gfpAddLazy(ty, a.x, a.y);
        gfpMul(ty, tx, ty);
        gfpAddLazy(tx, a.x, a.x);
        gfpMul(tx, tx, a.y);
        x = tx;
        y = ty;
        return *this;
    }

    // (ax·i + ay)(i + 9) = (9·ax + ay)·i + (9·ay − ax), by shifts, additions and
    // subtractions of multiples of p (no product): two passes instead of the ten
    // modular additions and subtractions of three doublings and an addition per
    // coefficient. e may be a.
    gfP2& MulXi(const gfP2& a) {
        gfP tx, ty;
        gfpNineAPlus<false>(tx, a.x, a.y);
        gfpNineAPlus<true>(ty, a.y, a.x);
        x = tx;
        y = ty;
        return *this;
    }

    // 1/(ax·i + ay) = (−ax·i + ay) / (ax² + ay²), through the norm; 0 for a = 0.
    // e may be a.
    gfP2& Invert(const gfP2& a);

    // "(" + x.String() + ", " + y.String() + ")": 132 characters of stored limbs.
    std::string String() const;
};

// A new element holding montDecode of in.x and of in.y (plain integers, no longer
// in Montgomery form); for printing points.
gfP2 gfP2Decode(const gfP2& in);

}  // namespace bn256
