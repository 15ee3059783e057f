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
#include "bn256/scalar.h"

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
    // down to bit 0; this may be a. The reference for MulInG2.
    void Mul(const twistPoint& a, const mpz_class& scalar);

    // this = scalar·a for a scalar ≥ 0 (of any size) and a point a of G2 (its order
    // divides Order), through ψ (endomorphismMul); this may be a. The same point
    // as Mul for such a, not for other points of the twist. Allocates only in the
    // scalar decomposition.
    void MulInG2(const twistPoint& a, const mpz_class& scalar);

    // this = k·a for a secret k and a point a of G2, constant time in k (and in
    // a): the same point as MulInG2(a, k), through secretEndomorphismMul with the
    // split of decomposeFrobeniusSecret; this may be a.
    void MulSecret(const twistPoint& a, const Scalar& k);

    // this = ψ(a) = (conj(x)·xi^((p−1)/3), conj(y)·xi^((p−1)/2), conj(z)), the
    // p-power Frobenius of E carried to the twist (Jacobian: conj is a field
    // automorphism, so it commutes with the division by z² and z³); t becomes
    // conj(t). ψ² − t·ψ + p = 0 with t the trace, and ψ = p on G2. this may be a.
    void Psi(const twistPoint& a);

    // this = ψ²(a) = (x·xi^((p²−1)/3), −y, z), t copied: ψ applied twice, with
    // conj² = 1 and xi^((p²−1)/2) = −1. this may be a.
    void Psi2(const twistPoint& a);

    // Normalises in place to z = 1 (t = 1), or to the normal form of the point at
    // infinity (x = 0, y = 1, z = 0, t = 0); a point with z = 1 is left untouched.
    void MakeAffine();

    // this = −a: x = a.x, y = −a.y, z = a.z, t = 0; this may be a.
    void Neg(const twistPoint& a);

    // Normalises in place; true for the point at infinity, or when y² = x³ + twistB
    // and Order·this is the point at infinity (membership in G2).
    bool IsOnCurve();

    // The same decision as IsOnCurve for every point, with the same normalisation,
    // by an endomorphism test in place of the multiplication by Order: a twist
    // point Q is in G2 exactly when [u + 1]Q + ψ([u]Q) + ψ²([u]Q) = ψ³([2u]Q)
    // (Dai–Lin–Zhao–Zhou, "Fast subgroup membership testing for G1, G2 and GT on
    // pairing-friendly curves"). Why exactly: the left side minus the right is
    // α(Q) for α = (u + 1) + u·ψ + u·ψ² − 2u·ψ³ = a + b·ψ (reducing by
    // ψ² = t·ψ − p). α = 0 on G2, where ψ = p. If α(Q) = O, then Q is also killed
    // by (a + b·ψ̂)(a + b·ψ) = a² + a·b·t + b²·p = N with ψ̂ = t − ψ, and N is prime
    // to the cofactor h = #E'(GF(p²))/Order = 2p − Order, so the order of Q
    // divides Order: Q is in G2. A test checks gcd(N, h) = 1. One multiplication
    // by the 63-bit u instead of one by the 254-bit Order.
    bool IsOnCurveFast();

    // Normalises in place, then "(" + x + ", " + y + ")", each coordinate in the
    // text form of gfP2 applied to its plain (decoded) value.
    std::string String();
};

// The generator of G2: x and y static data in Montgomery form, z = t = 1 set by
// bn256::init with the other constants.
extern twistPoint twistGen;

}  // namespace bn256
