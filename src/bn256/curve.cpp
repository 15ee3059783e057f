#include "bn256/curve.h"

#include <cstdint>
#include <vector>

#include "bn256/constants.h"
#include "bn256/gfp6.h"
#include "bn256/lattice.h"

namespace bn256 {
namespace {

// The Montgomery one, R mod p, made once from the integer 1.
const gfP& montOne() {
    static const gfP one = newGFp(1);
    return one;
}

}  // namespace

void curvePoint::Set(const curvePoint& a) {
    x = a.x;
    y = a.y;
    z = a.z;
    t = a.t;
}

bool curvePoint::IsInfinity() const { return z.IsZero(); }

void curvePoint::SetInfinity() {
    x = gfP{};
    y = montOne();
    z = gfP{};
    t = gfP{};
}

// Jacobian addition add-2007-bl (curves y² = x³ + b):
//   u1 = x1·z2², u2 = x2·z1², s1 = y1·z2³, s2 = y2·z1³, h = u2 − u1, i = (2h)², j = h·i,
//   r = 2(s2 − s1), v = u1·i;
//   x3 = r² − j − 2v, y3 = r·(v − x3) − 2·s1·j, z3 = ((z1 + z2)² − z1² − z2²)·h.
// a.x, a.y, b.x, b.y are read before x and y are written, and a.z, b.z before z is
// written (last), so this may be a, b or both.
void curvePoint::Add(const curvePoint& a, const curvePoint& b) {
    if (a.IsInfinity()) {
        Set(b);
        return;
    }
    if (b.IsInfinity()) {
        Set(a);
        return;
    }

    gfP z12, z22, u1, u2, s1, s2, tt;
    gfpMul(z12, a.z, a.z);
    gfpMul(z22, b.z, b.z);
    gfpMul(u1, a.x, z22);
    gfpMul(u2, b.x, z12);
    gfpMul(tt, b.z, z22);
    gfpMul(s1, a.y, tt);
    gfpMul(tt, a.z, z12);
    gfpMul(s2, b.y, tt);

    gfP h, i, j;
    gfpSub(h, u2, u1);
    const bool xEqual = h.IsZero();
    gfpAdd(tt, h, h);
    gfpMul(i, tt, tt);
    gfpMul(j, h, i);
    gfpSub(tt, s2, s1);
    const bool yEqual = tt.IsZero();
    if (xEqual && yEqual) {
        Double(a);
        return;
    }

    gfP r, v, t4, t6;
    gfpAdd(r, tt, tt);
    gfpMul(v, u1, i);
    gfpMul(t4, r, r);
    gfpAdd(tt, v, v);
    gfpSub(t6, t4, j);
    gfpSub(x, t6, tt);

    gfpSub(tt, v, x);
    gfpMul(t4, s1, j);
    gfpAdd(t6, t4, t4);
    gfpMul(t4, r, tt);
    gfpSub(y, t4, t6);

    gfpAdd(tt, a.z, b.z);
    gfpMul(t4, tt, tt);
    gfpSub(tt, t4, z12);
    gfpSub(t4, tt, z22);
    gfpMul(z, t4, h);
}

// Jacobian doubling dbl-2009-l (curves y² = x³ + b):
//   A = x², B = y², C = B², d = 2((x + B)² − A − C), e = 3A, f = e²;
//   x3 = f − 2d, y3 = e·(d − x3) − 8C, z3 = 2·y·z.
// y·z is formed before x and y are written, so this may be a.
void curvePoint::Double(const curvePoint& a) {
    gfP A, B, C, tt, t2, d, e, f, yz;
    gfpMul(A, a.x, a.x);
    gfpMul(B, a.y, a.y);
    gfpMul(C, B, B);

    gfpAdd(tt, a.x, B);
    gfpMul(t2, tt, tt);
    gfpSub(tt, t2, A);
    gfpSub(t2, tt, C);
    gfpAdd(d, t2, t2);

    gfpAdd(tt, A, A);
    gfpAdd(e, tt, A);
    gfpMul(f, e, e);

    gfpMul(yz, a.y, a.z);

    gfpAdd(tt, d, d);
    gfpSub(x, f, tt);

    gfpAdd(tt, C, C);
    gfpAdd(t2, tt, tt);
    gfpAdd(tt, t2, t2);  // 8C
    gfpSub(y, d, x);
    gfpMul(t2, e, y);
    gfpSub(y, t2, tt);

    gfpAdd(z, yz, yz);
}

// scalar·a = k1·a + k2·phi(a) with (k1, k2) from curveLattice, walked jointly from
// the most significant digit: each digit (bit of k1) + 2·(bit of k2) picks a, phi(a)
// or a + phi(a), where phi(x, y) = (beta·x, y) is multiplication by λ on G1.
// a is read only to build the table and this is written only at the end, so this
// may be a.
void curvePoint::Mul(const curvePoint& a, const mpz_class& scalar) {
    curvePoint precomp[4];
    precomp[1].Set(a);
    precomp[2].Set(a);
    gfpMul(precomp[2].x, precomp[2].x, xiTo2PSquaredMinus2Over3);
    precomp[3].Add(precomp[1], precomp[2]);

    const std::vector<std::uint8_t> multiScalar = curveLattice.Multi(scalar);

    curvePoint sum, tt;
    sum.SetInfinity();
    for (std::size_t i = multiScalar.size(); i-- > 0;) {
        tt.Double(sum);
        if (multiScalar[i] == 0) {
            sum.Set(tt);
        } else {
            sum.Add(tt, precomp[multiScalar[i]]);
        }
    }
    Set(sum);
}

// (x, y, z) ↦ (x/z², y/z³, 1).
void curvePoint::MakeAffine() {
    if (z == montOne()) return;
    if (z.IsZero()) {
        x = gfP{};
        y = montOne();
        t = gfP{};
        return;
    }
    gfP zInv, tt, zInv2;
    zInv.Invert(z);
    gfpMul(tt, y, zInv);
    gfpMul(zInv2, zInv, zInv);
    gfpMul(x, x, zInv2);
    gfpMul(y, tt, zInv2);
    z = montOne();
    t = montOne();
}

// y² = x³ + 3 on the affine form.
bool curvePoint::IsOnCurve() {
    MakeAffine();
    if (IsInfinity()) return true;
    gfP y2, x3;
    gfpMul(y2, y, y);
    gfpMul(x3, x, x);
    gfpMul(x3, x3, x);
    gfpAdd(x3, x3, curveB);
    return y2 == x3;
}

std::string curvePoint::String() {
    MakeAffine();
    gfP px, py;
    montDecode(px, x);
    montDecode(py, y);
    std::string text = "(";
    text += px.String();
    text += ", ";
    text += py.String();
    text += ")";
    return text;
}

}  // namespace bn256
