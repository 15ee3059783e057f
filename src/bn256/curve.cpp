#include "bn256/curve.h"

#include <cstdint>
#include <vector>

#include "bn256/constants.h"
#include "bn256/gfp6.h"
#include "bn256/jacobian.h"
#include "bn256/lattice.h"
#include "bn256/secret_mul.h"
#include "common/wipe.h"

namespace bn256 {
namespace {

// G1 under phi(x, y) = (beta·x, y) for secretEndomorphismMul. As in Mul, the
// walk runs on an isomorphic curve on which the whole table is affine
// (oddMultiplesCommonZ), so every addition is a mixed one; phi is the same map
// on every curve y² = x³ + b'.
struct g1Group : jacobian::affineTableWalk<curvePoint> {
    using Element = curvePoint;

    gfP commonZ;  // λ of the walk

    void oddMultiples(curvePoint* table, const curvePoint& a, int n) {
        jacobian::oddMultiplesCommonZ(table, a, n, commonZ);
    }
    static void endo(curvePoint& c, const curvePoint& a) {
        c = a;
        gfpMul(c.x, a.x, xiTo2PSquaredMinus2Over3);
    }
    void finish(curvePoint& c) const { gfpMul(c.z, c.z, commonZ); }
};

}  // namespace

void curvePoint::Set(const curvePoint& a) { jacobian::set(*this, a); }

bool curvePoint::IsInfinity() const { return z.IsZero(); }

void curvePoint::SetInfinity() {
    x = gfP{};
    y = jacobian::one<gfP>();
    z = gfP{};
    t = gfP{};
}

void curvePoint::Add(const curvePoint& a, const curvePoint& b) { jacobian::add(*this, a, b); }

void curvePoint::Double(const curvePoint& a) { jacobian::dbl(*this, a); }

// scalar·a = k1·a + k2·phi(a) with (k1, k2) from curveLattice, walked jointly from
// the most significant digit: each digit (bit of k1) + 2·(bit of k2) picks a, phi(a)
// or a + phi(a), where phi(x, y) = (beta·x, y) is multiplication by λ on G1.
//
// The walk runs on the isomorphic curve y² = x³ + 3·s⁶, s = a.z, where the point
// (X, Y, Z) stands for (X, Y, Z·s) here: there a and phi(a), which share s, are
// the affine (a.x, a.y) and (beta·a.x, a.y), so two of the three table points are
// added with the mixed formula. The Jacobian formulas do not read the curve
// constant, so they serve both curves; one product by s maps the sum back.
// a is read only to build the table and this is written only at the end, so this
// may be a.
void curvePoint::Mul(const curvePoint& a, const mpz_class& scalar) {
    const std::vector<std::uint8_t> multiScalar = curveLattice.Multi(scalar);
    if (a.IsInfinity()) {
        Set(a);
        return;
    }

    curvePoint precomp[4];
    precomp[1].x = a.x;
    precomp[1].y = a.y;
    precomp[1].z = jacobian::one<gfP>();
    precomp[2].Set(precomp[1]);
    gfpMul(precomp[2].x, precomp[2].x, xiTo2PSquaredMinus2Over3);
    jacobian::addAffine(precomp[3], precomp[1], precomp[2]);

    curvePoint sum, tt;
    sum.SetInfinity();
    for (std::size_t i = multiScalar.size(); i-- > 0;) {
        tt.Double(sum);
        switch (multiScalar[i]) {
            case 0:
                sum.Set(tt);
                break;
            case 3:
                sum.Add(tt, precomp[3]);
                break;
            default:
                jacobian::addAffine(sum, tt, precomp[multiScalar[i]]);
        }
    }
    gfpMul(sum.z, sum.z, a.z);
    Set(sum);
}

// Constant time in k and in a; t = 0. A point at infinity gives commonZ = 0 and
// so a result with z = 0.
void curvePoint::MulSecret(const curvePoint& a, const Scalar& k) {
    g1Group group;
    auto parts = decomposeCurveSecret(k);
    secretEndomorphismMul<32>(group, *this, a, parts);
    common::WipeObject(parts);
    t = gfP{};
}

void curvePoint::MakeAffine() { jacobian::makeAffine(*this); }

// y² = x³ + 3 on the affine form.
bool curvePoint::IsOnCurve() {
    MakeAffine();
    if (IsInfinity()) return true;
    return jacobian::satisfiesEquation(*this, curveB);
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
