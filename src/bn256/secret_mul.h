// Scalar multiplication by a secret scalar through an endomorphism, constant time
// in the scalar: φ on G1 (two dimensions), ψ on G2 and the p-power Frobenius on GT
// (four dimensions).
//
// k·a = Σ_c k_c·ψ^c(a) with the components of decomposeCurveSecret or
// decomposeFrobeniusSecret, each odd (an even one is carried as k_c + 1 and
// corrected at the end) and in the regular signed-digit form of regularRecode:
// every digit is odd and non-zero, so every position makes the same four
// doublings and one table addition per component, and the top digit of every
// component is 1. Each table entry is found by a scan of the whole table of its
// component, and its sign applied by a masked negation; the signs of the
// components are applied to the tables up front. Nothing branches on the scalar
// or addresses memory by it.
//
// No addition of the walk meets a special case before the last position, so
// those take the plain formula. Why: an addition acc + T with T = ±d·ψ^c(a)
// (d odd) is special when acc = ±T or acc = O. acc is Σ m_i·ψ^i(a) with m_i the
// part of component i read so far (16·K or K + d, K the value of the digits above,
// all non-zero), so the case means that a non-zero vector w, with w_c = m_c ∓ d
// odd, satisfies Σ w_i·λ^i ≡ 0 (mod Order), λ the eigenvalue of the map. Such a w
// corresponds to a non-zero element of norm divisible by Order: in Z[ω] for G1
// (x² − xy + y² ≥ Order, so max |w_i| ≥ √(Order/3) > 2^125.9), in Z[ζ12] for G2
// (|N(w)| ≤ (4·max |w_i|)⁴, so max |w_i| ≥ Order^(1/4)/4 > 2^61.4). Before the last
// position every |m_i| is at most |k_c|/16 + 33, below 2^123.1 for the G1
// components (< 2^127) and 2^60.1 for the G2 ones (< 2^64). At the last position
// and in the corrections the sum could be special, so there it is formed
// constant time with the special cases selected in. On GT every product is
// complete and the question does not arise.
//
// Group supplies, besides Element:
//   oddMultiples(table, a, n)   table[j] = a^(2j + 1) for j < n, in the form
//                               that combine reads (a may be the identity)
//   endo(c, a), endo2(c, a)     ψ and ψ² (only endo for two dimensions)
//   square(c, a)                c = a·a; c may be a
//   combine(c, a, b)            c = a·b for b a table entry or its inverse, where
//                               no special case can arise; c may be a
//   combineChecked(c, a, b)     the same for every a; c may be a
//   negateIf(c, mask)           c = c⁻¹ where mask is all ones
//   lookup(c, table, n, index)  c = table[index] by a scan of all n entries
//   select(c, a, mask)          c = a where mask is all ones
//   finish(c)                   maps the result back to the group
#pragma once

#include <array>
#include <cstdint>

#include "bn256/lattice.h"
#include "bn256/scalar.h"
#include "common/wipe.h"

namespace bn256 {

template <int Digits, typename Group, std::size_t Dims>
void secretEndomorphismMul(Group& group, typename Group::Element& out, const typename Group::Element& a,
                           const std::array<secretComponent, Dims>& parts) {
    using Element = typename Group::Element;
    constexpr int kOdd = 8;  // a, 3a, ..., 15a
    static_assert(Dims == 2 || Dims == 4);

    // table[c][j] = ±ψ^c((2j + 1)·a), the sign that of component c.
    Element table[Dims][kOdd];
    group.oddMultiples(table[0], a, kOdd);
    for (int j = 0; j < kOdd; ++j) {
        group.endo(table[1][j], table[0][j]);
        if constexpr (Dims == 4) {
            group.endo2(table[2][j], table[0][j]);
            group.endo2(table[3][j], table[1][j]);
        }
    }
    regularDigits<Digits> digits[Dims];
    for (std::size_t c = 0; c < Dims; ++c) {
        for (int j = 0; j < kOdd; ++j) group.negateIf(table[c][j], parts[c].negative);
        digits[c] = regularRecode<Digits>(parts[c].magnitude);
    }

    // The top digit of every component is 1.
    Element acc = table[0][0], entry, fixed;
    for (std::size_t c = 1; c < Dims; ++c) group.combine(acc, acc, table[c][0]);
    for (int i = Digits - 1; i >= 0; --i) {
        for (int b = 0; b < 4; ++b) group.square(acc, acc);
        for (std::size_t c = 0; c < Dims; ++c) {
            group.lookup(entry, table[c], kOdd, digits[c].index[i]);
            group.negateIf(entry, digits[c].negative[i]);
            if (i == 0) {
                group.combineChecked(acc, acc, entry);
            } else {
                group.combine(acc, acc, entry);
            }
        }
    }
    // An even component was walked as k_c + 1: take ±ψ^c(a) off again.
    for (std::size_t c = 0; c < Dims; ++c) {
        entry = table[c][0];
        group.negateIf(entry, ~std::uint64_t{0});
        group.combineChecked(fixed, acc, entry);
        group.select(acc, fixed, parts[c].even);
    }
    group.finish(acc);
    out = acc;

    common::WipeObject(table);
    common::WipeObject(digits);
    common::WipeObject(acc);
    common::WipeObject(entry);
    common::WipeObject(fixed);
}

}  // namespace bn256
