// Points of the sextic twist E': y² = x³ + 3/xi over GF(p²); those of order
// dividing Order form the group G2.
//
// Jacobian coordinates as for curvePoint; z = 0 is the point at infinity. t holds
// z² for the running point of the Miller loop (the line functions maintain it);
// elsewhere it is only copied. Every operation writes its receiver and accepts a
// receiver that is the same object as any operand. Nothing here allocates.
#pragma once

#include <gmpxx.h>

#include <string>

#include "bn256/gfp2.h"

namespace bn256 {

struct twistPoint {
    gfP2 x{};
    gfP2 y{};
    gfP2 z{};
    gfP2 t{};

    // this = a (x, y, z, t copied).
    void Set(const twistPoint& a);

    // True when z is zero (both parts).
    bool IsInfinity() const;

    // this = a + b (add-2007-bl); this may be a, b or both.
    void Add(const twistPoint& a, const twistPoint& b);

    // this = 2a (dbl-2009-l); this may be a.
    void Double(const twistPoint& a);

    // this = scalar·a for a scalar ≥ 0, plain double-and-add from bit BitLen(scalar)
    // down to bit 0; this may be a.
    void Mul(const twistPoint& a, const mpz_class& scalar);

    // Normalises in place to z = 1 (t = 1), or to the normal form of the point at
    // infinity (x = 0, y = 1, z = 0, t = 0); a point with z = 1 is left untouched.
    void MakeAffine();

    // this = −a: x = a.x, y = −a.y, z = a.z, t = 0; this may be a.
    void Neg(const twistPoint& a);

    // Normalises in place; true for the point at infinity, or when y² = x³ + twistB
    // and Order·this is the point at infinity (membership in G2).
    bool IsOnCurve();

    // Normalises in place, then "(" + x + ", " + y + ")", each coordinate in the
    // text form of gfP2 applied to its plain (decoded) value.
    std::string String();
};

}  // namespace bn256
