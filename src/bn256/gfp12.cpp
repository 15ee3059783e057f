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

// (ax·w + ay)(bx·w + by) = (ax·by + bx·ay)·w + (ay·by + tau·ax·bx), since w² = tau.
gfP12& gfP12::Mul(const gfP12& a, const gfP12& b) {
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
