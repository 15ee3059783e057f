#include "bn256/twist.h"

#include <cstddef>
#include <cstdint>

#include "bn256/constants.h"
#include "bn256/endomorphism.h"
#include "bn256/gfp6.h"
#include "bn256/jacobian.h"
#include "bn256/secret_mul.h"
#include "common/wipe.h"

namespace bn256 {
namespace {

// G2 under ψ for endomorphismMul and secretEndomorphismMul. The walk runs on an
// isomorphic curve on which the whole table is affine, so that each of its
// additions is a mixed one (four products fewer), and no inversion is needed.
//
// The Jacobian formulas do not read the curve constant b, so they also serve the
// curve y² = x³ + λ⁶·b for any λ ≠ 0, where the point (X, Y, Z) stands for the
// point (X, Y, Z·λ) of the twist. For λ in GF(p), conj(λ) = λ, so ψ is the same
// map on both.
struct g2Group : jacobian::affineTableWalk<twistPoint> {
    using Element = twistPoint;

    gfP commonZ;  // λ of the walk, in GF(p)

    static void setIdentity(twistPoint& c) { c = twistPoint{}; }
    static void combineTable(twistPoint& c, const twistPoint& a, const twistPoint& b) {
        jacobian::addAffine(c, a, b);
    }
    static void invert(twistPoint& c, const twistPoint& a) {
        c.x = a.x;
        c.y.Neg(a.y);
        c.z = a.z;
        c.t = a.t;
    }
    static void endo(twistPoint& c, const twistPoint& a) { c.Psi(a); }
    static void endo2(twistPoint& c, const twistPoint& a) { c.Psi2(a); }
    void finish(twistPoint& c) const { c.z.MulScalar(c.z, commonZ); }

    // table[j] = (2j + 1)·a, all with z = 1 on the curve for λ = commonZ.
    void oddMultiples(twistPoint* table, const twistPoint& a, int n) {
        jacobian::oddMultiplesCommonZ(table, a, n, commonZ);
    }
};

}  // namespace

void twistPoint::Set(const twistPoint& a) { jacobian::set(*this, a); }

bool twistPoint::IsInfinity() const { return z.IsZero(); }

void twistPoint::Add(const twistPoint& a, const twistPoint& b) { jacobian::add(*this, a, b); }

void twistPoint::Double(const twistPoint& a) { jacobian::dbl(*this, a); }

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

// Valid for a in G2 only (ψ = p there).
void twistPoint::MulInG2(const twistPoint& a, const mpz_class& scalar) {
    if (a.IsInfinity()) {
        *this = twistPoint{};
        return;
    }
    g2Group group;
    endomorphismMul(group, *this, a, scalar);
}

// Constant time in k and in a (see secretEndomorphismMul); t = 0.
void twistPoint::MulSecret(const twistPoint& a, const Scalar& k) {
    g2Group group;
    auto parts = decomposeFrobeniusSecret(k);
    secretEndomorphismMul<16>(group, *this, a, parts);
    common::WipeObject(parts);
    t = gfP2{};
}

void twistPoint::Psi(const twistPoint& a) {
    x.Conjugate(a.x);
    x.Mul(x, xiToPMinus1Over3);
    y.Conjugate(a.y);
    y.Mul(y, xiToPMinus1Over2);
    z.Conjugate(a.z);
    t.Conjugate(a.t);
}

void twistPoint::Psi2(const twistPoint& a) {
    x.MulScalar(a.x, xiToPSquaredMinus1Over3);
    y.Neg(a.y);
    z.Set(a.z);
    t.Set(a.t);
}

void twistPoint::MakeAffine() { jacobian::makeAffine(*this); }

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
    if (!jacobian::satisfiesEquation(*this, twistB)) return false;

    twistPoint cneg;
    cneg.Mul(*this, Order);
    return cneg.z.IsZero();
}

bool twistPoint::IsOnCurveFast() {
    MakeAffine();
    if (IsInfinity()) return true;
    if (!jacobian::satisfiesEquation(*this, twistB)) return false;

    // uq = [u]Q by the signed binary digits of u, the affine Q added mixed.
    static constexpr std::array<std::int8_t, kWnafDigits> uDigits = wnaf<2>(kU);
    int top = kWnafDigits - 1;
    while (uDigits[top] == 0) --top;
    twistPoint minusQ, uq;
    g2Group::invert(minusQ, *this);
    uq = uDigits[top] > 0 ? *this : minusQ;
    for (int i = top - 1; i >= 0; --i) {
        jacobian::dbl(uq, uq);
        if (uDigits[i] != 0) jacobian::addAffine(uq, uq, uDigits[i] > 0 ? *this : minusQ);
    }

    // [u + 1]Q + ψ([u]Q) + ψ²([u]Q) − ψ³([2u]Q) = O.
    twistPoint sum, image;
    jacobian::addAffine(sum, uq, *this);
    image.Psi(uq);
    jacobian::add(sum, sum, image);
    image.Psi2(uq);
    jacobian::add(sum, sum, image);
    jacobian::dbl(image, uq);
    image.Psi2(image);
    image.Psi(image);
    g2Group::invert(image, image);
    jacobian::add(sum, sum, image);
    return sum.IsInfinity();
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
