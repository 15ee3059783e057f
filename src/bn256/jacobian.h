// Point formulas in Jacobian coordinates, written once for the curve E over GF(p)
// (curvePoint) and its twist E' over GF(p²) (twistPoint).
//
// Both curves have the form y² = x³ + b, so the same formulas serve both groups;
// only the coordinate field differs. A point type P has the fields x, y, z, t of
// one field type F; the affine point is (x/z², y/z³) and z = 0 is the point at
// infinity. The field operations are reached through the overloads below, so the
// formulas read the same for both fields. Every function writes its result last
// where the comment says so, which lets the result alias an operand. Nothing here
// allocates.
#pragma once

#include <cstdint>
#include <type_traits>

#include "bn256/gfp.h"
#include "bn256/gfp2.h"
#include "bn256/scalar.h"

namespace bn256::jacobian {

// The field operations of GF(p) and GF(p²) under one set of names.
inline void mul(gfP& c, const gfP& a, const gfP& b) { gfpMul(c, a, b); }
inline void mul(gfP2& c, const gfP2& a, const gfP2& b) { c.Mul(a, b); }
inline void square(gfP& c, const gfP& a) { gfpMul(c, a, a); }
inline void square(gfP2& c, const gfP2& a) { c.Square(a); }
inline void add(gfP& c, const gfP& a, const gfP& b) { gfpAdd(c, a, b); }
inline void add(gfP2& c, const gfP2& a, const gfP2& b) { c.Add(a, b); }
inline void sub(gfP& c, const gfP& a, const gfP& b) { gfpSub(c, a, b); }
inline void sub(gfP2& c, const gfP2& a, const gfP2& b) { c.Sub(a, b); }
inline void neg(gfP& c, const gfP& a) { gfpNeg(c, a); }
inline void neg(gfP2& c, const gfP2& a) { c.Neg(a); }
inline void invert(gfP& c, const gfP& a) { c.Invert(a); }
inline void invert(gfP2& c, const gfP2& a) { c.Invert(a); }

// The field's one in Montgomery form, a constant: x·i + y with x = 0 and y = 1 in
// GF(p²).
template <typename F>
const F& one() {
    if constexpr (std::is_same_v<F, gfP>) {
        return kMontgomeryOne;
    } else {
        static constexpr F value{gfP{}, kMontgomeryOne};
        return value;
    }
}

template <typename P>
using Field = decltype(P::x);

// c = a (x, y, z, t copied).
template <typename P>
void set(P& c, const P& a) {
    c.x = a.x;
    c.y = a.y;
    c.z = a.z;
    c.t = a.t;
}

// c = 2a, doubling dbl-2009-l (curves y² = x³ + b):
//   A = x², B = y², C = B², d = 2((x + B)² − A − C), e = 3A, f = e²;
//   x3 = f − 2d, y3 = e·(d − x3) − 8C, z3 = 2·y·z.
// y·z is formed before x and y are written, so c may be a. c.t is not written.
template <typename P>
void dbl(P& c, const P& a) {
    Field<P> A, B, C, tt, t2, d, e, f, yz;
    square(A, a.x);
    square(B, a.y);
    square(C, B);

    add(tt, a.x, B);
    square(t2, tt);
    sub(tt, t2, A);
    sub(t2, tt, C);
    add(d, t2, t2);

    add(tt, A, A);
    add(e, tt, A);
    square(f, e);

    mul(yz, a.y, a.z);

    add(tt, d, d);
    sub(c.x, f, tt);

    add(tt, C, C);
    add(t2, tt, tt);
    add(tt, t2, t2);  // 8C
    sub(c.y, d, c.x);
    mul(t2, e, c.y);
    sub(c.y, t2, tt);

    add(c.z, yz, yz);
}

// The common end of both additions: c.x = r² − j − 2v, c.y = r·(v − c.x) − 2·s1j.
// Reads no coordinate of an operand, so the caller takes those first.
template <typename P>
void addOutputs(P& c, const Field<P>& r, const Field<P>& j, const Field<P>& v, const Field<P>& s1j) {
    Field<P> t4, t6, tt;
    square(t4, r);
    add(tt, v, v);
    sub(t6, t4, j);
    sub(c.x, t6, tt);

    sub(tt, v, c.x);
    add(t6, s1j, s1j);
    mul(t4, r, tt);
    sub(c.y, t4, t6);
}

// ---- constant-time helpers: masks are all ones (true) or zero (false) ----

// All ones when a is zero.
inline std::uint64_t isZeroMask(const gfP& a) {
    const std::uint64_t m = a[0] | a[1] | a[2] | a[3];
    return ((m | (0 - m)) >> 63) - 1;
}
inline std::uint64_t isZeroMask(const gfP2& a) { return isZeroMask(a.x) & isZeroMask(a.y); }

// c = a where mask is set, c unchanged elsewhere; no branch.
inline void select(gfP& c, const gfP& a, std::uint64_t mask) {
    for (int i = 0; i < 4; ++i) c[i] ^= (c[i] ^ a[i]) & mask;
}
inline void select(gfP2& c, const gfP2& a, std::uint64_t mask) {
    select(c.x, a.x, mask);
    select(c.y, a.y, mask);
}

// c = −c where mask is set; no branch.
template <typename F>
void negateIf(F& c, std::uint64_t mask) {
    F n;
    neg(n, c);
    select(c, n, mask);
}

// x, y and z of c = those of a where mask is set.
template <typename P>
void selectXYZ(P& c, const P& a, std::uint64_t mask) {
    select(c.x, a.x, mask);
    select(c.y, a.y, mask);
    select(c.z, a.z, mask);
}

// c = table[index] (x and y; z = 1) for a table of n affine points, by a scan of
// every entry: neither a branch nor an address depends on index.
template <typename P>
void lookupAffine(P& c, const P* table, int n, std::uint64_t index) {
    c.x = Field<P>{};
    c.y = Field<P>{};
    for (int j = 0; j < n; ++j) {
        const std::uint64_t hit = equalMask(static_cast<std::uint64_t>(j), index);
        select(c.x, table[j].x, hit);
        select(c.y, table[j].y, hit);
    }
    c.z = one<Field<P>>();
}

// The general path of add, with no test and no branch: c = a + b for a, b not at
// infinity and a ≠ b (a = −b gives z3 = 0). h = u2 − u1 and s = s2 − s1 are both
// zero exactly when a = b. c.t is not written; c may be a, b or both.
template <typename P>
void addGeneral(P& c, const P& a, const P& b, Field<P>& h, Field<P>& s) {
    Field<P> z12, z22, u1, u2, s1, s2, tt;
    square(z12, a.z);
    square(z22, b.z);
    mul(u1, a.x, z22);
    mul(u2, b.x, z12);
    mul(tt, b.z, z22);
    mul(s1, a.y, tt);
    mul(tt, a.z, z12);
    mul(s2, b.y, tt);

    Field<P> i, j;
    sub(h, u2, u1);
    add(tt, h, h);
    square(i, tt);
    mul(j, h, i);
    sub(s, s2, s1);

    Field<P> r, v, s1j, t4;
    add(r, s, s);
    mul(v, u1, i);
    mul(s1j, s1, j);
    add(tt, a.z, b.z);
    square(t4, tt);
    sub(tt, t4, z12);
    sub(t4, tt, z22);
    addOutputs(c, r, j, v, s1j);
    mul(c.z, t4, h);
}

// c = a + b, addition add-2007-bl:
//   u1 = x1·z2², u2 = x2·z1², s1 = y1·z2³, s2 = y2·z1³, h = u2 − u1, i = (2h)², j = h·i,
//   r = 2(s2 − s1), v = u1·i;
//   x3 = r² − j − 2v, y3 = r·(v − x3) − 2·s1·j, z3 = ((z1 + z2)² − z1² − z2²)·h.
// An operand at infinity gives a copy of the other (t included); equal operands
// give dbl(a); opposite ones give z3 = 0. Every coordinate of a and b is read
// before c is written, so c may be a, b or both. c.t is not written otherwise.
template <typename P>
void add(P& c, const P& a, const P& b) {
    if (a.z.IsZero()) {
        set(c, b);
        return;
    }
    if (b.z.IsZero()) {
        set(c, a);
        return;
    }
    P sum;
    Field<P> h, s;
    addGeneral(sum, a, b, h, s);
    if (h.IsZero() && s.IsZero()) {
        dbl(c, a);
        return;
    }
    c.x = sum.x;
    c.y = sum.y;
    c.z = sum.z;
}

// The same result as add, t included, constant time in both operands: the
// general sum, the double of a and the copies are all formed, and masks pick
// one. c may be a, b or both.
template <typename P>
void addSecret(P& c, const P& a, const P& b) {
    const std::uint64_t aInfinity = isZeroMask(a.z), bInfinity = isZeroMask(b.z);
    P sum, twice;
    Field<P> h, s;
    addGeneral(sum, a, b, h, s);
    dbl(twice, a);
    selectXYZ(sum, twice, isZeroMask(h) & isZeroMask(s));
    sum.t = c.t;
    selectXYZ(sum, a, bInfinity);
    select(sum.t, a.t, bInfinity);
    selectXYZ(sum, b, aInfinity);
    select(sum.t, b.t, aInfinity);
    set(c, sum);
}

// The general path of addAffine, with no test and no branch: c = a + b for an
// affine b and a not at infinity, a ≠ b (a = −b gives z3 = 0). h and s are both
// zero exactly when a = b. c.t is not written; c may be a or b.
template <typename P>
void addAffineGeneral(P& c, const P& a, const P& b, Field<P>& h, Field<P>& s) {
    Field<P> z1z1, u2, s2, hh, i, j, r, v, tt;
    square(z1z1, a.z);
    mul(u2, b.x, z1z1);
    mul(tt, a.z, z1z1);
    mul(s2, b.y, tt);
    sub(h, u2, a.x);
    sub(s, s2, a.y);
    square(hh, h);
    add(i, hh, hh);
    add(i, i, i);
    mul(j, h, i);
    add(r, s, s);
    mul(v, a.x, i);

    Field<P> y1j;
    mul(y1j, a.y, j);
    add(tt, a.z, h);
    square(tt, tt);
    sub(tt, tt, z1z1);
    addOutputs(c, r, j, v, y1j);
    sub(c.z, tt, hh);
}

// c = a + b for an affine b (b.z = 1, b not at infinity), mixed addition
// madd-2007-bl:
//   z1z1 = z1², u2 = x2·z1z1, s2 = y2·z1·z1z1, h = u2 − x1, hh = h², i = 4hh, j = h·i,
//   r = 2(s2 − y1), v = x1·i;
//   x3 = r² − j − 2v, y3 = r·(v − x3) − 2·y1·j, z3 = (z1 + h)² − z1z1 − hh.
// The same point as add(c, a, b) with four products fewer. a at infinity gives a
// copy of b; equal operands give dbl(b); opposite ones give z3 = 0. Every
// coordinate of a and b is read before c is written, so c may be a or b. c.t is
// not written except by the copy.
template <typename P>
void addAffine(P& c, const P& a, const P& b) {
    if (a.z.IsZero()) {
        set(c, b);
        return;
    }
    P sum;
    Field<P> h, s;
    addAffineGeneral(sum, a, b, h, s);
    if (h.IsZero() && s.IsZero()) {
        dbl(c, b);
        return;
    }
    c.x = sum.x;
    c.y = sum.y;
    c.z = sum.z;
}

// The point of addAffine (x, y, z), constant time in both operands: the general
// sum, the double of b and the copy of b are all formed, and masks pick one.
template <typename P>
void addAffineSecret(P& c, const P& a, const P& b) {
    const std::uint64_t aInfinity = isZeroMask(a.z);
    P sum, twice;
    Field<P> h, s;
    addAffineGeneral(sum, a, b, h, s);
    dbl(twice, b);
    selectXYZ(sum, twice, isZeroMask(h) & isZeroMask(s));
    selectXYZ(sum, b, aInfinity);
    c.x = sum.x;
    c.y = sum.y;
    c.z = sum.z;
}

// table[j] = (2j + 1)·a for 2 ≤ n ≤ kMaxOddMultiples, all with z = 1 on the curve
// y² = x³ + λ⁶·b for λ = commonZ in GF(p), where the point (X, Y, Z) stands for
// the point (X, Y, Z·λ) of the curve of a. The formulas do not read b, so they
// serve that curve as well; one product of z by commonZ maps a result back.
//
// First the odd multiples: with s = a.z and d = 2·(a.x, a.y, 1) = (dx, dy, dz)
// on the curve for s, both a and 2a are affine on the curve for μ = s·dz,
// a = (a.x·dz², a.y·dz³) and 2a = (dx, dy), so mixed additions make them; in
// the curve's own terms, entry j is (X_j, Y_j, w_j) with w_j = z_j·μ.
//
// Then one z for all: with W = Π w_j and e_j = W̄·Π_(i≠j) w_i, the entry
// (X_j·e_j², Y_j·e_j³, w_j·e_j) has z = W·W̄, in GF(p): over GF(p²) W̄ is the
// conjugate and W·W̄ the norm (so that the p-power maps commute with the change
// of curve); over GF(p), W̄ = 1.
//
// No branch depends on a (the additions take their general path, which odd
// multiples of a point of prime order never leave); a at infinity gives
// commonZ = 0.
inline constexpr int kMaxOddMultiples = 8;
template <typename P>
void oddMultiplesCommonZ(P* table, const P& a, int n, gfP& commonZ) {
    using F = Field<P>;
    P d, base;
    base.x = a.x;
    base.y = a.y;
    base.z = one<F>();
    dbl(d, base);
    F dz2, dz3, mu, h, s;
    square(dz2, d.z);
    mul(dz3, dz2, d.z);
    mul(mu, a.z, d.z);
    d.z = one<F>();
    mul(table[0].x, a.x, dz2);
    mul(table[0].y, a.y, dz3);
    table[0].z = one<F>();
    for (int j = 1; j < n; ++j) addAffineGeneral(table[j], table[j - 1], d, h, s);

    F w[kMaxOddMultiples], prefix[kMaxOddMultiples], suffix[kMaxOddMultiples];
    for (int j = 0; j < n; ++j) mul(w[j], table[j].z, mu);
    prefix[0] = w[0];
    for (int j = 1; j < n; ++j) mul(prefix[j], prefix[j - 1], w[j]);
    suffix[n - 1] = w[n - 1];
    for (int j = n - 2; j >= 0; --j) mul(suffix[j], suffix[j + 1], w[j]);
    const F& W = prefix[n - 1];
    F conjW, e, e2, e3;
    if constexpr (std::is_same_v<F, gfP2>) {
        conjW.Conjugate(W);
        // The norm W·conj(W) = W.x² + W.y².
        gfP wx2, wy2;
        gfpMul(wx2, W.x, W.x);
        gfpMul(wy2, W.y, W.y);
        gfpAdd(commonZ, wx2, wy2);
    } else {
        conjW = one<F>();
        commonZ = W;
    }
    for (int j = 0; j < n; ++j) {
        if (j == 0) {
            mul(e, suffix[1], conjW);
        } else if (j == n - 1) {
            mul(e, prefix[n - 2], conjW);
        } else {
            mul(e, prefix[j - 1], suffix[j + 1]);
            mul(e, e, conjW);
        }
        square(e2, e);
        mul(e3, e2, e);
        mul(table[j].x, table[j].x, e2);
        mul(table[j].y, table[j].y, e3);
        table[j].z = one<F>();
        table[j].t = one<F>();
    }
}

// The point operations of secretEndomorphismMul for a walk whose table entries
// are affine on the walk's curve (oddMultiplesCommonZ), shared by G1 and G2.
template <typename P>
struct affineTableWalk {
    static void square(P& c, const P& a) { dbl(c, a); }
    static void combine(P& c, const P& a, const P& b) {
        Field<P> h, s;
        addAffineGeneral(c, a, b, h, s);
    }
    static void combineChecked(P& c, const P& a, const P& b) { addAffineSecret(c, a, b); }
    static void negateIf(P& c, std::uint64_t mask) { jacobian::negateIf(c.y, mask); }
    static void lookup(P& c, const P* table, int n, std::uint64_t index) { lookupAffine(c, table, n, index); }
    static void select(P& c, const P& a, std::uint64_t mask) { selectXYZ(c, a, mask); }
};

// (x, y, z) ↦ (x/z², y/z³, 1) in place, with t = 1; the point at infinity becomes
// x = 0, y = 1, z = 0, t = 0; a point with z = 1 is left untouched (t included).
template <typename P>
void makeAffine(P& c) {
    using F = Field<P>;
    if (c.z == one<F>()) return;
    if (c.z.IsZero()) {
        c.x = F{};
        c.y = one<F>();
        c.t = F{};
        return;
    }
    F zInv, tt, zInv2;
    invert(zInv, c.z);
    mul(tt, c.y, zInv);
    square(zInv2, zInv);
    mul(c.y, tt, zInv2);
    mul(c.x, c.x, zInv2);
    c.z = one<F>();
    c.t = one<F>();
}

// True when the affine point (x, y) satisfies y² = x³ + b; c must be affine.
template <typename P>
bool satisfiesEquation(const P& c, const Field<P>& b) {
    Field<P> y2, x3;
    square(y2, c.y);
    square(x3, c.x);
    mul(x3, x3, c.x);
    add(x3, x3, b);
    return y2 == x3;
}

}  // namespace bn256::jacobian
