// Scalar multiplication through an endomorphism with eigenvalue p: ψ on G2 and
// the p-power Frobenius on GT, in four dimensions (Galbraith–Scott, "Exponentiation
// in pairing-friendly groups using homomorphisms"; the GLS method of
// Galbraith–Lin–Scott).
//
// k·a = k0·a + k1·ψ(a) + k2·ψ²(a) + k3·ψ³(a) with the 64-bit components of
// decomposeFrobenius, each in width-5 non-adjacent form, walked together from the
// top digit: 64 doublings instead of 254, and about 4·65/6 additions from four
// tables of the odd multiples a, 3a, ..., 15a carried through ψ. The result is the
// same group element as the plain multiplication for every a of order dividing
// Order, and only for those: the eigenvalue relation holds on that subgroup alone.
//
// The digits and the table are of fixed size, so the walk can later be made
// constant time by scanning the whole table at each digit.
#pragma once

#include <gmpxx.h>

#include <array>
#include <cstdint>

#include "bn256/lattice.h"

namespace bn256 {

// What endomorphismMul needs of a group, written multiplicatively here but used
// for points as well. A group object may keep state from its table to the end.
//   Element                      the element type
//   setIdentity(c)               c = the identity
//   square(c, a)                 c = a·a (point doubling); c may be a
//   oddMultiples(table, a, n)    table[j] = a^(2j + 1) for j < n, in the form that
//                                combineTable reads; a is not the identity
//   combineTable(c, a, b)        c = a·b for b a table entry (or the inverse or
//                                image of one); c may be a
//   invert(c, a)                 c = a⁻¹; c may be a
//   endo(c, a)                   c = ψ(a) = a^p on the subgroup; c may be a
//   endo2(c, a)                  c = ψ²(a), cheaper than two endo; c may be a
//   finish(c)                    maps the result of the walk back to the group, for
//                                a table in another form (points of an isomorphic
//                                curve); called once, unless k ≡ 0 (mod Order)
template <typename Group>
void endomorphismMul(Group& group, typename Group::Element& out, const typename Group::Element& a,
                     const mpz_class& k) {
    using Element = typename Group::Element;
    constexpr int kWidth = 5;
    constexpr int kOdd = 1 << (kWidth - 2);  // a, 3a, ..., 15a

    const std::array<signedComponent, 4> parts = decomposeFrobenius(k);
    std::array<std::int8_t, kWnafDigits> digits[4];
    int top = -1;
    for (int c = 0; c < 4; ++c) {
        digits[c] = wnaf<kWidth>(parts[c].magnitude);
        for (int i = kWnafDigits - 1; i > top; --i) {
            if (digits[c][i] != 0) top = i;
        }
    }
    if (top < 0) {  // k ≡ 0 (mod Order)
        group.setIdentity(out);
        return;
    }

    // table[c][j] = ±ψ^c((2j + 1)·a), the sign that of component c.
    Element table[4][kOdd];
    group.oddMultiples(table[0], a, kOdd);
    for (int j = 0; j < kOdd; ++j) {
        group.endo(table[1][j], table[0][j]);
        group.endo2(table[2][j], table[0][j]);
        group.endo2(table[3][j], table[1][j]);
    }
    for (int c = 0; c < 4; ++c) {
        if (!parts[c].negative) continue;
        for (int j = 0; j < kOdd; ++j) group.invert(table[c][j], table[c][j]);
    }

    Element acc, entry;
    bool started = false;
    for (int i = top; i >= 0; --i) {
        if (started) group.square(acc, acc);
        for (int c = 0; c < 4; ++c) {
            const int d = digits[c][i];
            if (d == 0) continue;
            const Element* e = &table[c][(d < 0 ? -d : d) >> 1];
            if (d < 0) {
                group.invert(entry, *e);
                e = &entry;
            }
            if (started) {
                group.combineTable(acc, acc, *e);
            } else {
                acc = *e;
                started = true;
            }
        }
    }
    group.finish(acc);
    out = acc;
}

}  // namespace bn256
