#include "bn256/gfp6.h"

namespace bn256 {

// Karatsuba with tau³ = xi, v0 = az·bz, v1 = ay·by, v2 = ax·bx:
//   z = xi·((ax + ay)(bx + by) − v1 − v2) + v0
//   y = (ay + az)(by + bz) − v0 − v1 + xi·v2
//   x = (ax + az)(bx + bz) − v0 + v1 − v2
gfP6& gfP6::Mul(const gfP6& a, const gfP6& b) {
    gfP2 v0, v1, v2, t0, t1, tx, ty, tz;
    v0.Mul(a.z, b.z);
    v1.Mul(a.y, b.y);
    v2.Mul(a.x, b.x);

    t0.Add(a.x, a.y);
    t1.Add(b.x, b.y);
    tz.Mul(t0, t1);
    tz.Sub(tz, v1);
    tz.Sub(tz, v2);
    tz.MulXi(tz);
    tz.Add(tz, v0);

    t0.Add(a.y, a.z);
    t1.Add(b.y, b.z);
    ty.Mul(t0, t1);
    t0.MulXi(v2);
    ty.Sub(ty, v0);
    ty.Sub(ty, v1);
    ty.Add(ty, t0);

    t0.Add(a.x, a.z);
    t1.Add(b.x, b.z);
    tx.Mul(t0, t1);
    tx.Sub(tx, v0);
    tx.Add(tx, v1);
    tx.Sub(tx, v2);

    x = tx;
    y = ty;
    z = tz;
    return *this;
}

// (x·tau² + y·tau + z)(b1·tau + b0) = (x·b0 + y·b1)·tau² + (y·b0 + z·b1)·tau + (z·b0 + xi·x·b1),
// with y·b0 + z·b1 = (y + z)(b1 + b0) − y·b1 − z·b0 (Karatsuba).
gfP6& gfP6::MulSparse(const gfP6& a, const gfP2& b1, const gfP2& b0) {
    gfP2 yb1, zb0, xb1, t0, t1, tx, ty, tz;
    yb1.Mul(a.y, b1);
    zb0.Mul(a.z, b0);
    xb1.Mul(a.x, b1);
    tx.Mul(a.x, b0);
    tx.Add(tx, yb1);

    t0.Add(a.y, a.z);
    t1.Add(b1, b0);
    ty.Mul(t0, t1);
    ty.Sub(ty, yb1);
    ty.Sub(ty, zb0);

    tz.MulXi(xb1);
    tz.Add(tz, zb0);

    x = tx;
    y = ty;
    z = tz;
    return *this;
}

// Chung–Hasan's second squaring ("Asymmetric squaring formulae", SQR2): three
// squarings and two products instead of the six squarings of Karatsuba. With
//   s0 = z², s1 = 2·z·y, s2 = (z − y + x)², s3 = 2·y·x, s4 = x²,
// and tau³ = xi,
//   (x·tau² + y·tau + z)² = (s0 + xi·s3) + (s1 + xi·s4)·tau + (s1 + s2 + s3 − s0 − s4)·tau²,
// since s2 = z² + y² + x² − 2·z·y + 2·z·x − 2·y·x. The same value as Mul(a, a).
gfP6& gfP6::Square(const gfP6& a) {
    gfP2 s0, s1, s2, s3, s4, t;
    s0.Square(a.z);
    s4.Square(a.x);
    t.Add(a.z, a.z);
    s1.Mul(t, a.y);
    t.Add(a.y, a.y);
    s3.Mul(t, a.x);
    t.Sub(a.z, a.y);
    t.Add(t, a.x);
    s2.Square(t);

    gfP2 c0, c1, c2;
    c2.Add(s1, s2);
    c2.Add(c2, s3);
    c2.Sub(c2, s0);
    c2.Sub(c2, s4);
    c0.MulXi(s3);
    c0.Add(c0, s0);
    c1.MulXi(s4);
    c1.Add(c1, s1);

    x = c2;
    y = c1;
    z = c0;
    return *this;
}

// For a = x·tau² + y·tau + z, with the cofactors
//   A = z² − xi·(x·y),  B = xi·x² − y·z,  C = y² − x·z,
// a·(C·tau² + B·tau + A) = F = A·z + xi·(C·y + B·x), an element of GF(p^2),
// so a⁻¹ = (C·tau² + B·tau + A)·F⁻¹. F = 0 only for a = 0, and then the result is 0.
gfP6& gfP6::Invert(const gfP6& a) {
    gfP2 t1, A, B, C, F;

    A.Square(a.z);
    t1.Mul(a.x, a.y);
    t1.MulXi(t1);
    A.Sub(A, t1);

    B.Square(a.x);
    B.MulXi(B);
    t1.Mul(a.y, a.z);
    B.Sub(B, t1);

    C.Square(a.y);
    t1.Mul(a.x, a.z);
    C.Sub(C, t1);

    F.Mul(C, a.y);
    t1.Mul(B, a.x);
    F.Add(F, t1);
    F.MulXi(F);
    t1.Mul(A, a.z);
    F.Add(F, t1);

    F.Invert(F);

    x.Mul(C, F);
    y.Mul(B, F);
    z.Mul(A, F);
    return *this;
}

// a^p: the p-th power of each coefficient is its conjugate, and
// tau^p = xi^((p−1)/3)·tau, (tau²)^p = xi^((2p−2)/3)·tau².
gfP6& gfP6::Frobenius(const gfP6& a) {
    x.Conjugate(a.x);
    y.Conjugate(a.y);
    z.Conjugate(a.z);
    x.Mul(x, xiTo2PMinus2Over3);
    y.Mul(y, xiToPMinus1Over3);
    return *this;
}

// a^(p²): the conjugations cancel and both factors lie in GF(p):
// tau^(p²) = xi^((p²−1)/3)·tau, (tau²)^(p²) = xi^((2p²−2)/3)·tau².
gfP6& gfP6::FrobeniusP2(const gfP6& a) {
    x.MulScalar(a.x, xiTo2PSquaredMinus2Over3);
    y.MulScalar(a.y, xiToPSquaredMinus1Over3);
    z.Set(a.z);
    return *this;
}

std::string gfP6::String() const {
    std::string text;
    text.reserve(3 * 132 + 6);
    text.append("(").append(x.String()).append(", ").append(y.String()).append(", ");
    text.append(z.String()).append(")");
    return text;
}

}  // namespace bn256
