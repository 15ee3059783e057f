#include "bn256/twist.h"

#include <cstddef>

#include "bn256/constants.h"

namespace bn256 {

void twistPoint::Set(const twistPoint& a) {
    x.Set(a.x);
    y.Set(a.y);
    z.Set(a.z);
    t.Set(a.t);
}

bool twistPoint::IsInfinity() const { return z.IsZero(); }

// Jacobian addition add-2007-bl, as for curvePoint::Add, over GF(p²):
//   u1 = x1·z2², u2 = x2·z1², s1 = y1·z2³, s2 = y2·z1³, h = u2 − u1, i = (2h)², j = h·i,
//   r = 2(s2 − s1), v = u1·i;
//   x3 = r² − j − 2v, y3 = r·(v − x3) − 2·s1·j, z3 = ((z1 + z2)² − z1² − z2²)·h.
// a.x, a.y, b.x, b.y are read before x and y are written, and a.z, b.z before z is
// written (last), so this may be a, b or both.
void twistPoint::Add(const twistPoint& a, const twistPoint& b) {
    if (a.IsInfinity()) {
        Set(b);
        return;
    }
    if (b.IsInfinity()) {
        Set(a);
        return;
    }

    gfP2 z12, z22, u1, u2, s1, s2, tt;
    z12.Square(a.z);
    z22.Square(b.z);
    u1.Mul(a.x, z22);
    u2.Mul(b.x, z12);
    tt.Mul(b.z, z22);
    s1.Mul(a.y, tt);
    tt.Mul(a.z, z12);
    s2.Mul(b.y, tt);

    gfP2 h, i, j;
    h.Sub(u2, u1);
    const bool xEqual = h.IsZero();
    tt.Add(h, h);
    i.Square(tt);
    j.Mul(h, i);
    tt.Sub(s2, s1);
    const bool yEqual = tt.IsZero();
    if (xEqual && yEqual) {
        Double(a);
        return;
    }

    gfP2 r, v, t4, t6;
    r.Add(tt, tt);
    v.Mul(u1, i);
    t4.Square(r);
    tt.Add(v, v);
    t6.Sub(t4, j);
    x.Sub(t6, tt);

    tt.Sub(v, x);
    t4.Mul(s1, j);
    t6.Add(t4, t4);
    t4.Mul(r, tt);
    y.Sub(t4, t6);

    tt.Add(a.z, b.z);
    t4.Square(tt);
    tt.Sub(t4, z12);
    t4.Sub(tt, z22);
    z.Mul(t4, h);
}

// Jacobian doubling dbl-2009-l over GF(p²):
//   A = x², B = y², C = B², d = 2((x + B)² − A − C), e = 3A, f = e²;
//   x3 = f − 2d, y3 = e·(d − x3) − 8C, z3 = 2·y·z.
// y·z is formed before x and y are written, so this may be a.
void twistPoint::Double(const twistPoint& a) {
    gfP2 A, B, C, tt, t2, d, e, f, yz;
    A.Square(a.x);
    B.Square(a.y);
    C.Square(B);

    tt.Add(a.x, B);
    t2.Square(tt);
    tt.Sub(t2, A);
    t2.Sub(tt, C);
    d.Add(t2, t2);

    tt.Add(A, A);
    e.Add(tt, A);
    f.Square(e);

    yz.Mul(a.y, a.z);

    tt.Add(d, d);
    x.Sub(f, tt);

    tt.Add(C, C);
    t2.Add(tt, tt);
    tt.Add(t2, t2);  // 8C
    y.Sub(d, x);
    t2.Mul(e, y);
    y.Sub(t2, tt);

    z.Add(yz, yz);
}

// Left-to-right double-and-add from bit BitLen(scalar) (always 0) down to bit 0.
// Reading the scalar's bits allocates nothing. this is written only at the end, so
// this may be a.
void twistPoint::Mul(const twistPoint& a, const mpz_class& scalar) {
    twistPoint acc, tt;
    const std::size_t bitLen = sgn(scalar) == 0 ? 0 : mpz_sizeinbase(scalar.get_mpz_t(), 2);
    for (std::size_t i = bitLen + 1; i-- > 0;) {
        tt.Double(acc);
        if (mpz_tstbit(scalar.get_mpz_t(), i)) {
            acc.Add(tt, a);
        } else {
            acc.Set(tt);
        }
    }
    Set(acc);
}

// (x, y, z) ↦ (x/z², y/z³, 1).
void twistPoint::MakeAffine() {
    if (z.IsOne()) return;
    if (z.IsZero()) {
        x.SetZero();
        y.SetOne();
        t.SetZero();
        return;
    }
    gfP2 zInv, tt, zInv2;
    zInv.Invert(z);
    tt.Mul(y, zInv);
    zInv2.Square(zInv);
    y.Mul(tt, zInv2);
    tt.Mul(x, zInv2);
    x.Set(tt);
    z.SetOne();
    t.SetOne();
}

void twistPoint::Neg(const twistPoint& a) {
    x.Set(a.x);
    y.Neg(a.y);
    z.Set(a.z);
    t.SetZero();
}

// y² = x³ + 3/xi on the affine form, then Order·this = ∞ (the G2 membership test).
bool twistPoint::IsOnCurve() {
    MakeAffine();
    if (IsInfinity()) return true;
    gfP2 y2, x3;
    y2.Square(y);
    x3.Square(x);
    x3.Mul(x3, x);
    x3.Add(x3, twistB);
    if (!(y2 == x3)) return false;

    twistPoint cneg;
    cneg.Mul(*this, Order);
    return cneg.z.IsZero();
}

std::string twistPoint::String() {
    MakeAffine();
    const gfP2 px = gfP2Decode(x);
    const gfP2 py = gfP2Decode(y);
    std::string text = "(";
    text += px.String();
    text += ", ";
    text += py.String();
    text += ")";
    return text;
}

}  // namespace bn256
