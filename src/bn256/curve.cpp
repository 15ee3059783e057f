#include "bn256/curve.h"

#include <cstdint>
#include <vector>

#include "bn256/constants.h"
#include "bn256/gfp6.h"
#include "bn256/jacobian.h"
#include "bn256/lattice.h"

namespace bn256 {

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
