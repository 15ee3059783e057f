#include "bn256/gfp12.h"

namespace bn256 {

// a^p: w^p = xi^((p−1)/6)·w.
gfP12& gfP12::Frobenius(const gfP12& a) {
    x.Frobenius(a.x);
    y.Frobenius(a.y);
    x.MulScalar(x, xiToPMinus1Over6);
    return *this;
}

// a^(p²): w^(p²) = xi^((p²−1)/6)·w, the factor in GF(p).
gfP12& gfP12::FrobeniusP2(const gfP12& a) {
    x.FrobeniusP2(a.x);
    x.MulGFP(x, xiToPSquaredMinus1Over6);
    y.FrobeniusP2(a.y);
    return *this;
}

// Karatsuba, since w² = tau:
//   (ax·w + ay)(bx·w + by) = ((ax + ay)(bx + by) − ax·bx − ay·by)·w + (ay·by + tau·ax·bx).
gfP12& gfP12::Mul(const gfP12& a, const gfP12& b) {
    gfP6 v0, v1, s, t;
    v0.Mul(a.x, b.x);
    v1.Mul(a.y, b.y);
    s.Add(a.x, a.y);
    t.Add(b.x, b.y);
    s.Mul(s, t);
    s.Sub(s, v0);
    x.Sub(s, v1);
    v0.MulTau(v0);
    y.Add(v1, v0);
    return *this;
}

// (ax·w + ay)(bx·w + by) = (ax·by + bx·ay)·w + (ay·by + tau·ax·bx), since w² = tau.
gfP12& gfP12::MulSchoolbook(const gfP12& a, const gfP12& b) {
    gfP6 tx, t, ty;
    tx.Mul(a.x, b.y);
    t.Mul(b.x, a.y);
    tx.Add(tx, t);

    ty.Mul(a.y, b.y);
    t.Mul(a.x, b.x);
    t.MulTau(t);

    x = tx;
    y.Add(ty, t);
    return *this;
}

// (x·w + y)² = 2·x·y·w + (y² + tau·x²), where
//   y² + tau·x² = (x + y)(tau·x + y) − x·y − tau·x·y.
gfP12& gfP12::Square(const gfP12& a) {
    gfP6 v0, t, ty;
    v0.Mul(a.x, a.y);

    t.MulTau(a.x);
    t.Add(a.y, t);
    ty.Add(a.x, a.y);
    ty.Mul(ty, t);
    ty.Sub(ty, v0);
    t.MulTau(v0);
    ty.Sub(ty, t);

    x.Add(v0, v0);
    y = ty;
    return *this;
}

namespace {

// (a + b·W)² = (a² + xi·b²) + ((a + b)² − a² − b²)·W in GF(p^4) = GF(p^2)[W]/(W² − xi):
// three GF(p^2) squarings. s0 and s1 are the two coefficients of the square.
void squareFp4(gfP2& s0, gfP2& s1, const gfP2& a, const gfP2& b) {
    gfP2 t0, t1;
    t0.Square(a);
    t1.Square(b);
    s1.Add(a, b);
    s1.Square(s1);
    s1.Sub(s1, t0);
    s1.Sub(s1, t1);
    s0.MulXi(t1);
    s0.Add(s0, t0);
}

// e = 3·s − 2·a = 2·(s − a) + s, and e = 3·s + 2·a = 2·(s + a) + s.
void threeSMinusTwoA(gfP2& e, const gfP2& s, const gfP2& a) {
    gfP2 t;
    t.Sub(s, a);
    t.Add(t, t);
    e.Add(t, s);
}

void threeSPlusTwoA(gfP2& e, const gfP2& s, const gfP2& a) {
    gfP2 t;
    t.Add(s, a);
    t.Add(t, t);
    e.Add(t, s);
}

}  // namespace

// Granger–Scott, "Faster squaring in the cyclotomic subgroup of sixth degree
// extensions". With W = w³ (W² = w⁶ = xi), GF(p^12) = GF(p^4)[w]/(w³ − W) and
//   f = A0 + A1·w + A2·w²,  A0 = y.z + x.y·W,  A1 = x.z + y.x·W,  A2 = y.y + x.x·W.
// The p^6-th power maps W to −W and w to −w, so it is conj(A0) − conj(A1)·w +
// conj(A2)·w², with conj(a + b·W) = a − b·W. For f in the cyclotomic subgroup
//   f² = (3·A0² − 2·conj(A0)) + (3·W·A2² + 2·conj(A1))·w + (3·A1² − 2·conj(A2))·w².
// With Ak² = sk0 + sk1·W, and W·(s0 + s1·W) = xi·s1 + s0·W, coefficient by coefficient:
//   y.z = 3·s00 − 2·y.z    x.y = 3·s01 + 2·x.y
//   x.z = 3·xi·s21 + 2·x.z y.x = 3·s20 − 2·y.x
//   y.y = 3·s10 − 2·y.y    x.x = 3·s11 + 2·x.x
gfP12& gfP12::CyclotomicSquare(const gfP12& a) {
    gfP2 s00, s01, s10, s11, s20, s21;
    squareFp4(s00, s01, a.y.z, a.x.y);
    squareFp4(s10, s11, a.x.z, a.y.x);
    squareFp4(s20, s21, a.y.y, a.x.x);
    s21.MulXi(s21);

    gfP12 e;
    threeSMinusTwoA(e.y.z, s00, a.y.z);
    threeSPlusTwoA(e.x.y, s01, a.x.y);
    threeSPlusTwoA(e.x.z, s21, a.x.z);
    threeSMinusTwoA(e.y.x, s20, a.y.x);
    threeSMinusTwoA(e.y.y, s10, a.y.y);
    threeSPlusTwoA(e.x.x, s11, a.x.x);
    *this = e;
    return *this;
}

// (x·w + y)⁻¹ = (−x·w + y) / n with the norm n = (x·w + y)(−x·w + y) = y² − tau·x²,
// an element of GF(p^6). For a = 0, n = 0, its inverse 0, and so is the result.
gfP12& gfP12::Invert(const gfP12& a) {
    gfP6 t1, t2;
    t1.Square(a.x);
    t2.Square(a.y);
    t1.MulTau(t1);
    t1.Sub(t2, t1);
    t2.Invert(t1);

    x.Neg(a.x);
    y.Set(a.y);
    MulScalar(*this, t2);
    return *this;
}

// Left-to-right square and multiply, most significant bit first; every step
// squares first, so the loop makes exactly bitlen(power) squarings. A negative
// power (no caller passes one) yields the inverse of a^|power|.
gfP12& gfP12::Exp(const gfP12& a, const mpz_class& power) {
    gfP12 sum, t;
    sum.SetOne();
    const int sign = mpz_sgn(power.get_mpz_t());
    mpz_class magnitude;  // only filled for a negative power
    if (sign < 0) {
        magnitude = -power;
    }
    const mpz_srcptr k = sign < 0 ? magnitude.get_mpz_t() : power.get_mpz_t();
    const long bits = sign == 0 ? 0 : static_cast<long>(mpz_sizeinbase(k, 2));
    for (long i = bits - 1; i >= 0; --i) {
        t.Square(sum);
        if (mpz_tstbit(k, static_cast<mp_bitcnt_t>(i))) {
            sum.Mul(t, a);
        } else {
            sum.Set(t);
        }
    }
    if (sign < 0) {
        sum.Invert(sum);
    }
    Set(sum);
    return *this;
}

std::string gfP12::String() const {
    std::string text;
    text.reserve(2 * (3 * 132 + 6) + 3);
    text.append("(").append(x.String()).append(",").append(y.String()).append(")");
    return text;
}

}  // namespace bn256
