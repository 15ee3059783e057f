// Points of the curve E: y² = x³ + 3 over GF(p), the group G1 (cofactor 1).
//
// Jacobian coordinates: the affine point is (x/z², y/z³); z = 0 is the point at
// infinity, whatever x, y and t hold. t is carried along (Set copies it) but no
// operation computes with it. Every operation writes its receiver and accepts a
// receiver that is the same object as any operand. Apart from the scalar
// decomposition inside Mul nothing here allocates.
#pragma once

#include <gmpxx.h>

#include <string>

#include "bn256/gfp.h"
#include "bn256/scalar.h"

namespace bn256 {

struct curvePoint {
    gfP x{};
    gfP y{};
    gfP z{};
    gfP t{};

    // this = a (x, y, z, t copied).
    void Set(const curvePoint& a);

    // True when z is zero.
    bool IsInfinity() const;

    // this = the normal form of the point at infinity: x = 0, y = 1, z = 0, t = 0.
    void SetInfinity();

    // this = a + b (add-2007-bl); this may be a, b or both.
    void Add(const curvePoint& a, const curvePoint& b);

    // this = 2a (dbl-2009-l); this may be a.
    void Double(const curvePoint& a);

    // this = scalar·a for a scalar ≥ 0, by the joint double-and-add over the digits
    // of curveLattice.Multi(scalar) with the table {a, phi(a), a + phi(a)}; this may be a.
    void Mul(const curvePoint& a, const mpz_class& scalar);

    // this = k·a for a secret k, constant time in k (and in a): the same point as
    // Mul(a, k), through secretEndomorphismMul with the split of
    // decomposeCurveSecret; this may be a.
    void MulSecret(const curvePoint& a, const Scalar& k);

    // Normalises in place to z = 1 (t = 1), or to the normal form of the point at
    // infinity; a point that already has z = 1 is left untouched.
    void MakeAffine();

    // Normalises in place, then true for the point at infinity or when y² = x³ + 3.
    bool IsOnCurve();

    // Normalises in place, then "(" + x + ", " + y + ")", each the 64 hexadecimal
    // digits of the plain affine coordinate.
    std::string String();
};

// The generator of G1: x = 1, y = 2, z = t = 1. All zero until bn256::init
// builds it with the other constants.
extern curvePoint curveGen;

}  // namespace bn256
