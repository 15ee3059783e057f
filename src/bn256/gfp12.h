// The degree-12 extension GF(p^12) = GF(p^6)[w]/(w² − tau), so w⁶ = xi.
//
// An element {x, y} is x·w + y: the higher-degree half first. Its twelve GF(p)
// coefficients, in memory order x.x.x, x.x.y, ..., y.z.y, are also the order of
// the 384-byte GT encoding. Every component is in Montgomery form and fully
// reduced; a zero-initialised element is 0. Each operation writes its receiver
// and returns it. Set, Conjugate, Frobenius, FrobeniusP2 and MulScalar work half
// by half, so the receiver may be a; Mul, MulSchoolbook, Square, CyclotomicSquare
// and Invert write the receiver last, so it may be a, b or both; Exp writes its
// receiver only at the end. The
// scalar of MulScalar must be a separate object. Only Exp reads a big integer;
// nothing here allocates.
#pragma once

#include <gmpxx.h>

#include <string>

#include "bn256/gfp6.h"

namespace bn256 {

// xi^((p − 1)/6). Plain value:
//   i-part   16469823323077808223889137241176536799009286646108169935659301613961712198316
//   constant 8376118865763821496583973867626364092589906065868298776909617916018768340080
inline constexpr gfP2 xiToPMinus1Over6 = {
    {{0xa222ae234c492d72, 0xd00f02a4565de15b, 0xdc2ff3a253dfc926, 0x10a75716b3899551}},
    {{0xaf9ba69633144907, 0xca6b1d7387afb78a, 0x11bded5ef08a2087, 0x02f34d751a1f3a7c}},
};

// xi^((p² − 1)/6) = p − beta, a primitive sixth root of unity in GF(p). Plain value:
//   21888242871839275220042445260109153167277707414472061641714758635765020556617
inline constexpr gfP xiToPSquaredMinus1Over6 = {
    {0xca8d800500fa1bf2, 0xf0c5d61468b39769, 0x0e201271ad0d4418, 0x04290f65bad856e6}};

struct gfP12 {
    gfP6 x;  // the coefficient of w
    gfP6 y;  // the constant coefficient

    friend bool operator==(const gfP12&, const gfP12&) = default;

    gfP12& Set(const gfP12& a) {
        x.Set(a.x);
        y.Set(a.y);
        return *this;
    }

    gfP12& SetZero() {
        x.SetZero();
        y.SetZero();
        return *this;
    }

    // x = 0, y = the GF(p^6) one.
    gfP12& SetOne() {
        x.SetZero();
        y.SetOne();
        return *this;
    }

    bool IsZero() const { return x.IsZero() && y.IsZero(); }
    bool IsOne() const { return x.IsZero() && y.IsOne(); }

    // e = −a.x·w + a.y, the p⁶-th power map (the inverse on GT).
    gfP12& Conjugate(const gfP12& a) {
        x.Neg(a.x);
        y.Set(a.y);
        return *this;
    }

    // e = a^p.
    gfP12& Frobenius(const gfP12& a);

    // e = a^(p²).
    gfP12& FrobeniusP2(const gfP12& a);

    // e = a·b, Karatsuba with three GF(p^6) products. e may be a, b or both.
    gfP12& Mul(const gfP12& a, const gfP12& b);

    // e = a·b, schoolbook with four GF(p^6) products: the reference for Mul. e may
    // be a, b or both.
    gfP12& MulSchoolbook(const gfP12& a, const gfP12& b);

    // e = a·b for b in GF(p^6): each half times b, x first.
    gfP12& MulScalar(const gfP12& a, const gfP6& b) {
        x.Mul(a.x, b);
        y.Mul(a.y, b);
        return *this;
    }

    // e = a², complex squaring with two GF(p^6) products.
    gfP12& Square(const gfP12& a);

    // e = a² for a in the cyclotomic subgroup (Granger–Scott): a^(p^6 + 1) = 1 and
    // a^(p^4 − p^2 + 1) = 1, as after the easy part of the final exponentiation and
    // on GT. Nine GF(p^2) squarings instead of two GF(p^6) products. On any other
    // element the value is not a². The receiver may alias a.
    gfP12& CyclotomicSquare(const gfP12& a);

    // e = a⁻¹ through the norm y² − tau·x²; 0 for a = 0.
    gfP12& Invert(const gfP12& a);

    // c = a^power for power ≥ 0 (one for power 0), left-to-right square and
    // multiply. c may be a.
    gfP12& Exp(const gfP12& a, const mpz_class& power);

    // "(" + x + "," + y + ")", each half in the text form of gfP6.
    std::string String() const;
};

}  // namespace bn256
