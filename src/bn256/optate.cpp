#include "bn256/optate.h"

#include "bn256/constants.h"

namespace bn256 {

// Mixed addition rOut = r + p (p affine) and the line through r and p at q:
//   B = p.x·r.t, D = ((p.y + r.z)² − r2 − r.t)·r.t, H = B − r.x, I = H², E = 4I, J = H·E,
//   L1 = D − 2·r.y, V = r.x·E;
//   rOut.x = L1² − J − 2V, rOut.z = (r.z + H)² − r.t − I, rOut.y = (V − rOut.x)·L1 − 2·r.y·J;
//   a = 2·L1·p.x − ((p.y + rOut.z)² − r2 − rOut.z²), b = −2·L1·q.x, c = 2·rOut.z·q.y.
void lineFunctionAdd(gfP2& a, gfP2& b, gfP2& c, twistPoint& rOut, const twistPoint& r,
                     const twistPoint& p, const curvePoint& q, const gfP2& r2) {
    gfP2 B, D, H, I, E, J, L1, V, t, t2;
    B.Mul(p.x, r.t);

    D.Add(p.y, r.z);
    D.Square(D);
    D.Sub(D, r2);
    D.Sub(D, r.t);
    D.Mul(D, r.t);

    H.Sub(B, r.x);
    I.Square(H);
    E.Add(I, I);
    E.Add(E, E);
    J.Mul(H, E);

    L1.Sub(D, r.y);
    L1.Sub(L1, r.y);

    V.Mul(r.x, E);

    rOut.x.Square(L1);
    rOut.x.Sub(rOut.x, J);
    rOut.x.Sub(rOut.x, V);
    rOut.x.Sub(rOut.x, V);

    rOut.z.Add(r.z, H);
    rOut.z.Square(rOut.z);
    rOut.z.Sub(rOut.z, r.t);
    rOut.z.Sub(rOut.z, I);

    t.Sub(V, rOut.x);
    t.Mul(t, L1);
    t2.Mul(r.y, J);
    t2.Add(t2, t2);
    rOut.y.Sub(t, t2);

    rOut.t.Square(rOut.z);

    t.Add(p.y, rOut.z);
    t.Square(t);
    t.Sub(t, r2);
    t.Sub(t, rOut.t);

    t2.Mul(L1, p.x);
    t2.Add(t2, t2);
    a.Sub(t2, t);

    c.MulScalar(rOut.z, q.y);
    c.Add(c, c);

    b.Neg(L1);
    b.MulScalar(b, q.x);
    b.Add(b, b);
}

// Doubling rOut = 2r and the tangent at r evaluated at q:
//   A = r.x², B = r.y², C = B², D = 2((r.x + B)² − A − C), E = 3A, G = E²;
//   rOut.x = G − 2D, rOut.z = (r.y + r.z)² − B − r.t, rOut.y = (D − rOut.x)·E − 8C;
//   a = (r.x + E)² − A − G − 4B, b = −2·E·r.t·q.x, c = 2·rOut.z·r.t·q.y.
void lineFunctionDouble(gfP2& a, gfP2& b, gfP2& c, twistPoint& rOut, const twistPoint& r,
                        const curvePoint& q) {
    gfP2 A, B, C, D, E, G, t;
    A.Square(r.x);
    B.Square(r.y);
    C.Square(B);

    D.Add(r.x, B);
    D.Square(D);
    D.Sub(D, A);
    D.Sub(D, C);
    D.Add(D, D);

    E.Add(A, A);
    E.Add(E, A);
    G.Square(E);

    rOut.x.Sub(G, D);
    rOut.x.Sub(rOut.x, D);

    rOut.z.Add(r.y, r.z);
    rOut.z.Square(rOut.z);
    rOut.z.Sub(rOut.z, B);
    rOut.z.Sub(rOut.z, r.t);

    rOut.y.Sub(D, rOut.x);
    rOut.y.Mul(rOut.y, E);
    t.Add(C, C);
    t.Add(t, t);
    t.Add(t, t);
    rOut.y.Sub(rOut.y, t);

    rOut.t.Square(rOut.z);

    t.Mul(E, r.t);
    t.Add(t, t);
    b.Neg(t);
    b.MulScalar(b, q.x);

    a.Add(r.x, E);
    a.Square(a);
    a.Sub(a, A);
    a.Sub(a, G);
    t.Add(B, B);
    t.Add(t, t);
    a.Sub(a, t);

    c.Mul(rOut.z, r.t);
    c.Add(c, c);
    c.MulScalar(c, q.y);
}

// (x·w + y)·((a·tau + b)·w + c) with l = a·tau + b:
//   x' = (x + y)·(l + c) − x·l − y·c,  y' = y·c + tau·(x·l).
void mulLine(gfP12& ret, const gfP2& a, const gfP2& b, const gfP2& c) {
    gfP6 u0, t3, lw;
    u0.x.SetZero();
    u0.y.Set(a);
    u0.z.Set(b);
    u0.Mul(u0, ret.x);

    t3.MulScalar(ret.y, c);

    lw.x.SetZero();
    lw.y.Set(a);
    lw.z.Add(b, c);

    ret.x.Add(ret.x, ret.y);
    ret.y.Set(t3);

    ret.x.Mul(ret.x, lw);
    ret.x.Sub(ret.x, u0);
    ret.x.Sub(ret.x, ret.y);

    u0.MulTau(u0);
    ret.y.Add(ret.y, u0);
}

// Miller loop over the digits of 6u + 2 from the top, then the lines through
// Q1 = pi(Q) = p·Q and Q2 = −pi²(Q) = −p²·Q.
gfP12 miller(const twistPoint& q, const curvePoint& p) {
    gfP12 ret;
    ret.SetOne();

    twistPoint aAffine;
    aAffine.Set(q);
    aAffine.MakeAffine();

    curvePoint pAffine;
    pAffine.Set(p);
    pAffine.MakeAffine();

    twistPoint minusA;
    minusA.Neg(aAffine);

    twistPoint r, newR;
    r.Set(aAffine);

    gfP2 r2;
    r2.Square(aAffine.y);

    gfP2 a, b, c;
    for (int i = 64; i > 0; --i) {
        lineFunctionDouble(a, b, c, newR, r, pAffine);
        if (i != 64) ret.Square(ret);
        mulLine(ret, a, b, c);
        r.Set(newR);

        switch (sixuPlus2NAF[i - 1]) {
            case 1:
                lineFunctionAdd(a, b, c, newR, r, aAffine, pAffine, r2);
                break;
            case -1:
                lineFunctionAdd(a, b, c, newR, r, minusA, pAffine, r2);
                break;
            default:
                continue;
        }
        mulLine(ret, a, b, c);
        r.Set(newR);
    }

    // Q1 = (conj(x)·xi^((p−1)/3), conj(y)·xi^((p−1)/2)), the p-power Frobenius on the twist.
    twistPoint q1;
    q1.x.Conjugate(aAffine.x);
    q1.x.Mul(q1.x, xiToPMinus1Over3);
    q1.y.Conjugate(aAffine.y);
    q1.y.Mul(q1.y, xiToPMinus1Over2);
    q1.z.SetOne();
    q1.t.SetOne();

    // Q2 = (x·xi^((p²−1)/3), y): the p²-power image negated, since xi^((p²−1)/2) = −1.
    twistPoint q2;
    q2.x.MulScalar(aAffine.x, xiToPSquaredMinus1Over3);
    q2.y.Set(aAffine.y);
    q2.z.SetOne();
    q2.t.SetOne();

    r2.Square(q1.y);
    lineFunctionAdd(a, b, c, newR, r, q1, pAffine, r2);
    mulLine(ret, a, b, c);
    r.Set(newR);

    r2.Square(q2.y);
    lineFunctionAdd(a, b, c, newR, r, q2, pAffine, r2);
    mulLine(ret, a, b, c);

    return ret;
}

// in^((p^12 − 1)/Order) = (in^((p^6 − 1)(p^2 + 1)))^((p^4 − p^2 + 1)/Order). The hard
// part is the addition chain in the powers fu, fu2, fu3 of t1 by u and their
// Frobenius images.
gfP12 finalExponentiation(const gfP12& in) {
    gfP12 t1, inv, t2;
    // Easy part: t1 = conj(in)/in = in^(p^6 − 1), then t1 = t1^(p^2 + 1).
    t1.x.Neg(in.x);
    t1.y.Set(in.y);
    inv.Invert(in);
    t1.Mul(t1, inv);

    t2.FrobeniusP2(t1);
    t1.Mul(t1, t2);

    gfP12 fp, fp2, fp3;
    fp.Frobenius(t1);
    fp2.FrobeniusP2(t1);
    fp3.Frobenius(fp2);

    gfP12 fu, fu2, fu3;
    fu.Exp(t1, u);
    fu2.Exp(fu, u);
    fu3.Exp(fu2, u);

    gfP12 y3, fu2p, fu3p, y2;
    y3.Frobenius(fu);
    fu2p.Frobenius(fu2);
    fu3p.Frobenius(fu3);
    y2.FrobeniusP2(fu2);

    gfP12 y0;
    y0.Mul(fp, fp2);
    y0.Mul(y0, fp3);

    gfP12 y1, y4, y5, y6;
    y1.Conjugate(t1);
    y5.Conjugate(fu2);
    y3.Conjugate(y3);
    y4.Mul(fu, fu2p);
    y4.Conjugate(y4);
    y6.Mul(fu3, fu3p);
    y6.Conjugate(y6);

    gfP12 t0;
    t0.Square(y6);
    t0.Mul(t0, y4);
    t0.Mul(t0, y5);

    t1.Mul(y3, y5);
    t1.Mul(t1, t0);

    t0.Mul(t0, y2);

    t1.Square(t1);
    t1.Mul(t1, t0);
    t1.Square(t1);

    t0.Mul(t1, y1);

    t1.Mul(t1, y0);

    t0.Square(t0);
    t0.Mul(t0, t1);

    return t0;
}

gfP12 optimalAte(const twistPoint& a, const curvePoint& b) {
    const gfP12 e = miller(a, b);
    gfP12 ret = finalExponentiation(e);
    if (a.IsInfinity() || b.IsInfinity()) ret.SetOne();
    return ret;
}

}  // namespace bn256
