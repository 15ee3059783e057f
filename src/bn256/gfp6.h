// The sextic extension GF(p^6) = GF(p^2)[tau]/(tau^3 − xi), xi = i + 9.
//
// An element {x, y, z} is x·tau² + y·tau + z: the highest-degree coefficient
// first. Every GF(p) component is in Montgomery form and fully reduced; a
// zero-initialised element is 0. Each operation writes its receiver and returns
// it. Set, Neg, Add, Sub, MulScalar, MulGFP, Frobenius and FrobeniusP2 work
// coefficient by coefficient, so the receiver may be any operand; MulTau, Mul,
// MulSparse, Square and Invert compute into locals and write the receiver last, so
// it may be a, b or both. The scalar of MulScalar and MulGFP must be a separate object.
// Nothing here allocates.
#pragma once

#include <string>

#include "bn256/gfp2.h"

namespace bn256 {

// xi^((2p − 2)/3). Plain value:
//   i-part   19937756971775647987995932169929341994314640652964949448313374472400716661030
//   constant 2581911344467009335267311115468803099551665605076196740867805258568234346338
inline constexpr gfP2 xiTo2PMinus2Over3 = {
    {{0x5dddfd154bd8c949, 0x62cb29a5a4445b60, 0x37bc870a0c7dd2b9, 0x24830a9d3171f0fd}},
    {{0x7361d77f843abe92, 0xa5bb2bd3273411fb, 0x9c941f314b3e2399, 0x15df9cddbb9fd3ec}},
};

// xi^((p − 1)/3). Plain value:
//   i-part   10307601595873709700152284273816112264069230130616436755625194854815875713954
//   constant 21575463638280843010398324269430826099269044274347216827212613867836435027261
inline constexpr gfP2 xiToPMinus1Over3 = {
    {{0x6e849f1ea0aa4757, 0xaa1c7b6d89f89141, 0xb6e713cdfae0ca3a, 0x26694fbb4e82ebc3}},
    {{0xb5773b104563ab30, 0x347f91c8a9aa6454, 0x7a007127242e0991, 0x1956bcd8118214ec}},
};

// xi^((p − 1)/2), the factor of y in the p-power Frobenius map carried to the
// twist (ψ, and the lines of the Miller loop). Plain value:
//   i-part   3505843767911556378687030309984248845540243509899259641013678093033130930403
//   constant 2821565182194536844548159561693502659359617185244120367078079554186484126554
inline constexpr gfP2 xiToPMinus1Over2 = {
    {{0xa1d77ce45ffe77c7, 0x07affd117826d1db, 0x6d16bd27bb7edc6b, 0x2c87200285defecc}},
    {{0xe4bbdd0c2936b629, 0xbb30f162e133bacb, 0x31a9d1b6f9645366, 0x253570bea500f8dd}},
};

// xi^((2p² − 2)/3) = beta, a primitive cube root of unity in GF(p) (also the
// factor of the G1 endomorphism (x, y) -> (beta·x, y)). Plain value:
//   2203960485148121921418603742825762020974279258880205651966
inline constexpr gfP xiTo2PSquaredMinus2Over3 = {
    {0x71930c11d782e155, 0xa6bb947cffbe3323, 0xaa303344d4741444, 0x2c3b3f0d26594943}};

// xi^((p² − 1)/3) = beta² = p − beta − 1. Plain value:
//   21888242871839275220042445260109153167277707414472061641714758635765020556616
inline constexpr gfP xiToPSquaredMinus1Over3 = {
    {0x3350c88e13e80b9c, 0x7dce557cdb5e56b9, 0x6001b4b8b615564a, 0x2682e617020217e0}};

struct gfP6 {
    gfP2 x;  // the coefficient of tau²
    gfP2 y;  // the coefficient of tau
    gfP2 z;  // the constant coefficient

    friend bool operator==(const gfP6&, const gfP6&) = default;

    gfP6& Set(const gfP6& a) {
        x = a.x;
        y = a.y;
        z = a.z;
        return *this;
    }

    gfP6& SetZero() {
        x.SetZero();
        y.SetZero();
        z.SetZero();
        return *this;
    }

    // x = y = 0, z = the GF(p^2) one.
    gfP6& SetOne() {
        x.SetZero();
        y.SetZero();
        z.SetOne();
        return *this;
    }

    bool IsZero() const { return x.IsZero() && y.IsZero() && z.IsZero(); }
    bool IsOne() const { return x.IsZero() && y.IsZero() && z.IsOne(); }

    gfP6& Neg(const gfP6& a) {
        x.Neg(a.x);
        y.Neg(a.y);
        z.Neg(a.z);
        return *this;
    }

    gfP6& Add(const gfP6& a, const gfP6& b) {
        x.Add(a.x, b.x);
        y.Add(a.y, b.y);
        z.Add(a.z, b.z);
        return *this;
    }

    gfP6& Sub(const gfP6& a, const gfP6& b) {
        x.Sub(a.x, b.x);
        y.Sub(a.y, b.y);
        z.Sub(a.z, b.z);
        return *this;
    }

    // e = a·b for b in GF(p^2): each coefficient times b.
    gfP6& MulScalar(const gfP6& a, const gfP2& b) {
        x.Mul(a.x, b);
        y.Mul(a.y, b);
        z.Mul(a.z, b);
        return *this;
    }

    // e = a·b for b in GF(p): each coefficient scaled by b.
    gfP6& MulGFP(const gfP6& a, const gfP& b) {
        x.MulScalar(a.x, b);
        y.MulScalar(a.y, b);
        z.MulScalar(a.z, b);
        return *this;
    }

    // a·tau = ay·tau² + az·tau + xi·ax, since tau³ = xi.
    gfP6& MulTau(const gfP6& a) {
        gfP2 tz, ty;
        tz.MulXi(a.x);
        ty.Set(a.y);
        y.Set(a.z);
        x.Set(ty);
        z.Set(tz);
        return *this;
    }

    // e = a·b, Karatsuba over the three coefficients (six GF(p^2) products).
    gfP6& Mul(const gfP6& a, const gfP6& b);

    // e = a·(b1·tau + b0), the product with an element whose tau² coefficient is
    // zero: five GF(p^2) products instead of six. e may be a, b1 or b0.
    gfP6& MulSparse(const gfP6& a, const gfP2& b1, const gfP2& b0);

    // e = a² by Chung–Hasan's SQR2: three GF(p^2) squarings and two products
    // instead of Karatsuba's six squarings (−3% on the GF(p^12) inverse).
    gfP6& Square(const gfP6& a);

    // e = a⁻¹ through the cofactors A, B, C; 0 for a = 0.
    gfP6& Invert(const gfP6& a);

    // e = a^p: conj of each coefficient, x times xiTo2PMinus2Over3, y times
    // xiToPMinus1Over3.
    gfP6& Frobenius(const gfP6& a);

    // e = a^(p²): x scaled by xiTo2PSquaredMinus2Over3, y by xiToPSquaredMinus1Over3.
    gfP6& FrobeniusP2(const gfP6& a);

    // "(" + x + ", " + y + ", " + z + ")", each in the text form of gfP2.
    std::string String() const;
};

}  // namespace bn256
