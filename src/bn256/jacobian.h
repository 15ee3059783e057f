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

#include "bn256/gfp.h"
#include "bn256/gfp2.h"

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

// The field's one in Montgomery form, made once.
template <typename F>
const F& one() {
    static const F value = [] {
        F v{};
        if constexpr (requires(F f) { f.SetOne(); }) {
            v.SetOne();
        } else {
            v = newGFp(1);
        }
        return v;
    }();
    return value;
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

    Field<P> z12, z22, u1, u2, s1, s2, tt;
    square(z12, a.z);
    square(z22, b.z);
    mul(u1, a.x, z22);
    mul(u2, b.x, z12);
    mul(tt, b.z, z22);
    mul(s1, a.y, tt);
    mul(tt, a.z, z12);
    mul(s2, b.y, tt);

    Field<P> h, i, j;
    sub(h, u2, u1);
    const bool xEqual = h.IsZero();
    add(tt, h, h);
    square(i, tt);
    mul(j, h, i);
    sub(tt, s2, s1);
    const bool yEqual = tt.IsZero();
    if (xEqual && yEqual) {
        dbl(c, a);
        return;
    }

    Field<P> r, v, s1j, t4;
    add(r, tt, tt);
    mul(v, u1, i);
    mul(s1j, s1, j);
    add(tt, a.z, b.z);
    square(t4, tt);
    sub(tt, t4, z12);
    sub(t4, tt, z22);
    addOutputs(c, r, j, v, s1j);
    mul(c.z, t4, h);
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
    Field<P> z1z1, u2, s2, h, hh, i, j, r, v, tt;
    square(z1z1, a.z);
    mul(u2, b.x, z1z1);
    mul(tt, a.z, z1z1);
    mul(s2, b.y, tt);
    sub(h, u2, a.x);
    sub(tt, s2, a.y);
    if (h.IsZero()) {
        if (tt.IsZero()) {
            dbl(c, b);
        } else {
            c.z = Field<P>{};  // b = −a
        }
        return;
    }
    square(hh, h);
    add(i, hh, hh);
    add(i, i, i);
    mul(j, h, i);
    add(r, tt, tt);
    mul(v, a.x, i);

    Field<P> y1j;
    mul(y1j, a.y, j);
    add(tt, a.z, h);
    square(tt, tt);
    sub(tt, tt, z1z1);
    addOutputs(c, r, j, v, y1j);
    sub(c.z, tt, hh);
}

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
