#include "bn256/twist.h"

#include <cstddef>
#include <cstdint>

#include "bn256/constants.h"
#include "bn256/endomorphism.h"
#include "bn256/gfp12.h"
#include "bn256/gfp6.h"
#include "bn256/jacobian.h"

namespace bn256 {
namespace {

// The curve parameter u as a machine word (bn256::u holds the same value).
constexpr std::uint64_t kU = 4965661367192848881;

// xi^((p − 1)/2), the factor of y in ψ: the cube of xi^((p − 1)/6), made once.
// (The factor of x, xi^((p − 1)/3), is a constant of the tower.)
const gfP2& psiFactorY() {
    static const gfP2 factor = [] {
        gfP2 f;
        f.Square(xiToPMinus1Over6);
        f.Mul(f, xiToPMinus1Over6);
        return f;
    }();
    return factor;
}

// G2 under ψ for endomorphismMul. The walk runs on an isomorphic curve on which
// the whole table is affine, so that each of its additions is a mixed one (four
// products fewer), and no inversion is needed.
//
// The Jacobian formulas do not read the curve constant b, so they also serve the
// curve y² = x³ + λ⁶·b for any λ ≠ 0, where the point (X, Y, Z) stands for the
// point (X, Y, Z·λ) of the twist. For λ in GF(p), conj(λ) = λ, so ψ is the same
// map on both.
struct g2Group {
    using Element = twistPoint;

    gfP commonZ;  // λ of the walk, in GF(p)

    static void setIdentity(twistPoint& c) { c = twistPoint{}; }
    static void square(twistPoint& c, const twistPoint& a) { jacobian::dbl(c, a); }
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

    // table[j] = (2j + 1)·a for n ≤ 8, all with z = 1 on the curve for λ = commonZ.
    //
    // First the odd multiples: with s = a.z and d = 2·(a.x, a.y, 1) = (dx, dy, dz)
    // on the curve for s, both a and 2a are affine on the curve for μ = s·dz,
    // a = (a.x·dz², a.y·dz³) and 2a = (dx, dy), so mixed additions make them; in
    // the twist's own terms, entry j is (X_j, Y_j, w_j) with w_j = z_j·μ.
    //
    // Then one z for all: with W = Π w_j and e_j = conj(W)·Π_(i≠j) w_i, the entry
    // (X_j·e_j², Y_j·e_j³, w_j·e_j) has z = W·conj(W), the norm of W, in GF(p).
    static constexpr int kMaxTable = 8;
    void oddMultiples(twistPoint* table, const twistPoint& a, int n) {
        twistPoint d, base;
        base.x = a.x;
        base.y = a.y;
        base.z.SetOne();
        jacobian::dbl(d, base);
        gfP2 dz2, dz3, mu;
        dz2.Square(d.z);
        dz3.Mul(dz2, d.z);
        mu.Mul(a.z, d.z);
        d.z.SetOne();
        table[0].x.Mul(a.x, dz2);
        table[0].y.Mul(a.y, dz3);
        table[0].z.SetOne();
        for (int j = 1; j < n; ++j) jacobian::addAffine(table[j], table[j - 1], d);

        gfP2 w[kMaxTable], prefix[kMaxTable], suffix[kMaxTable];
        for (int j = 0; j < n; ++j) w[j].Mul(table[j].z, mu);
        prefix[0] = w[0];
        for (int j = 1; j < n; ++j) prefix[j].Mul(prefix[j - 1], w[j]);
        suffix[n - 1] = w[n - 1];
        for (int j = n - 2; j >= 0; --j) suffix[j].Mul(suffix[j + 1], w[j]);
        gfP2 conjW, e, e2, e3;
        conjW.Conjugate(prefix[n - 1]);
        // The norm W·conj(W) = W.x² + W.y².
        gfP wx2, wy2;
        gfpMul(wx2, prefix[n - 1].x, prefix[n - 1].x);
        gfpMul(wy2, prefix[n - 1].y, prefix[n - 1].y);
        gfpAdd(commonZ, wx2, wy2);
        for (int j = 0; j < n; ++j) {
            if (j == 0) {
                e.Mul(suffix[1], conjW);
            } else if (j == n - 1) {
                e.Mul(prefix[n - 2], conjW);
            } else {
                e.Mul(prefix[j - 1], suffix[j + 1]);
                e.Mul(e, conjW);
            }
            e2.Square(e);
            e3.Mul(e2, e);
            table[j].x.Mul(table[j].x, e2);
            table[j].y.Mul(table[j].y, e3);
            table[j].z.SetOne();
            table[j].t.SetOne();
        }
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

void twistPoint::Psi(const twistPoint& a) {
    x.Conjugate(a.x);
    x.Mul(x, xiToPMinus1Over3);
    y.Conjugate(a.y);
    y.Mul(y, psiFactorY());
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
