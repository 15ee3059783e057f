// Helpers shared by the field and tower tests: conversions between field
// elements and GMP integers, a reference GF(p^2) in GMP, and seeded random
// elements (fixed seeds, so every failure reproduces).
#pragma once

#include <gmpxx.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <utility>
#include <vector>

#include "bn256/cpu.h"
#include "bn256/gfp.h"
#include "bn256/gfp12.h"
#include "bn256/gfp2.h"
#include "bn256/gfp6.h"

namespace bn256_testing {

inline const mpz_class& Prime() {
    static const mpz_class p(
        "21888242871839275222246405745257275088696311157297823662689037894645226208583");
    return p;
}

inline const mpz_class& R() {
    static const mpz_class r = mpz_class(1) << 256;
    return r;
}

// The stored 256-bit integer of an element.
inline mpz_class Stored(const bn256::gfP& e) {
    mpz_class v = 0;
    for (int i = 3; i >= 0; --i) {
        v <<= 64;
        v += mpz_class(static_cast<unsigned long>(e.limbs[i]));
    }
    return v;
}

// An element whose stored integer is v (0 <= v < 2^256), taken as is.
inline bn256::gfP FromStored(const mpz_class& v) {
    bn256::gfP e{};
    mpz_class t = v;
    for (int i = 0; i < 4; ++i) {
        mpz_class limb = t & mpz_class("0xffffffffffffffff");
        e.limbs[i] = limb.get_ui();
        t >>= 64;
    }
    return e;
}

inline mpz_class Mod(const mpz_class& v) {
    mpz_class r;
    mpz_mod(r.get_mpz_t(), v.get_mpz_t(), Prime().get_mpz_t());
    return r;
}

// The Montgomery form of v mod p, computed with GMP.
inline bn256::gfP Mont(const mpz_class& v) { return FromStored(Mod(Mod(v) * R())); }

// The plain value of a Montgomery-form element, computed with GMP.
inline mpz_class Plain(const bn256::gfP& e) {
    mpz_class rInv;
    mpz_invert(rInv.get_mpz_t(), R().get_mpz_t(), Prime().get_mpz_t());
    return Mod(Stored(e) * rInv);
}

// GF(p^2) = GF(p)[i]/(i^2 + 1) on plain GMP integers: x·i + y.
struct RefP2 {
    mpz_class x, y;
};

inline RefP2 RefMul(const RefP2& a, const RefP2& b) {
    return {Mod(a.x * b.y + a.y * b.x), Mod(a.y * b.y - a.x * b.x)};
}

inline RefP2 RefPow(RefP2 base, mpz_class e) {
    RefP2 result{0, 1};
    while (e > 0) {
        if (mpz_odd_p(e.get_mpz_t())) result = RefMul(result, base);
        base = RefMul(base, base);
        e >>= 1;
    }
    return result;
}

inline bn256::gfP2 MontP2(const RefP2& a) { return {Mont(a.x), Mont(a.y)}; }

// xi = i + 9.
inline RefP2 RefXi() { return {1, 9}; }

// Seeded source of field and tower elements.
class Elements {
public:
    explicit Elements(std::uint64_t seed) : rng_(seed) {}

    // A uniformly drawn 256-bit integer (not reduced).
    mpz_class Any256() {
        mpz_class v = 0;
        for (int i = 0; i < 4; ++i) {
            v <<= 64;
            v += mpz_class(static_cast<unsigned long>(rng_()));
        }
        return v;
    }

    bn256::gfP Fp() { return FromStored(Mod(Any256())); }
    bn256::gfP2 Fp2() { return {Fp(), Fp()}; }
    bn256::gfP6 Fp6() { return {Fp2(), Fp2(), Fp2()}; }
    bn256::gfP12 Fp12() { return {Fp6(), Fp6()}; }

private:
    std::mt19937_64 rng_;
};

// Runs check on each Montgomery-product path the processor has: the MUL path, then
// the MULX path where there is BMI2. The flag is restored afterwards.
inline void ForEachMulPath(const std::function<void()>& check) {
    const bool saved = bn256::hasBMI2;
    for (bool flag : {false, true}) {
        if (flag && !bn256::cpuHasBMI2()) continue;
        SCOPED_TRACE(flag ? "MULX path" : "MUL path");
        bn256::hasBMI2 = flag;
        check();
    }
    bn256::hasBMI2 = saved;
}

// A fast route and the reference route whose value it must give, as functions of
// two operands (unary routes ignore the second).
template <typename F>
struct FastRoute {
    const char* name;
    std::function<F(const F&, const F&)> fast, reference;
};

// An element of a tower level with every GF(p) coefficient holding the stored
// integer v.
template <typename F>
F AllCoefficients(const mpz_class& v) {
    static_assert(sizeof(F) % sizeof(bn256::gfP) == 0);
    F e{};
    auto* c = reinterpret_cast<bn256::gfP*>(&e);
    for (std::size_t i = 0; i < sizeof(F) / sizeof(bn256::gfP); ++i) c[i] = FromStored(v);
    return e;
}

// Edge inputs of a tower level (zero, one, every coefficient p − 1, every
// coefficient the stored 1) followed by count random elements.
template <typename F>
std::vector<F> EdgeAndRandom(std::function<F()> random, int count) {
    std::vector<F> out = {F{}, F{}.SetOne(), AllCoefficients<F>(Prime() - 1),
                          AllCoefficients<F>(1)};
    for (int n = 0; n < count; ++n) out.push_back(random());
    return out;
}

// The inverse as a route: a·a⁻¹ is one, and zero for a = 0 (whose inverse is 0).
template <typename F>
FastRoute<F> InverseRoute() {
    return {"Invert", [](const F& a, const F&) { return F{}.Mul(a, F{}.Invert(a)); },
            [](const F& a, const F&) { return a.IsZero() ? F{} : F{}.SetOne(); }};
}

// Every route gives its reference value on each input a (with the next input as
// b), on both Montgomery-product paths.
template <typename F>
void ExpectFastRoutesMatch(const std::vector<FastRoute<F>>& routes, const std::vector<F>& inputs) {
    ForEachMulPath([&] {
        for (const FastRoute<F>& route : routes) {
            SCOPED_TRACE(route.name);
            for (std::size_t i = 0; i < inputs.size(); ++i) {
                const F& a = inputs[i];
                const F& b = inputs[(i + 1) % inputs.size()];
                EXPECT_EQ(route.fast(a, b), route.reference(a, b)) << "input " << i;
            }
        }
    });
}

// Operations of one tower level, by name, for the aliasing checks below.
template <typename F>
using BinaryOps = std::vector<std::pair<const char*, std::function<void(F&, const F&, const F&)>>>;
template <typename F>
using UnaryOps = std::vector<std::pair<const char*, std::function<void(F&, const F&)>>>;

// Every operation gives the same value whether its result is a separate element
// or shares storage with one operand or (binary ones) with both.
template <typename F>
void ExpectAliasingSafe(const BinaryOps<F>& binary, const UnaryOps<F>& unary, const F& a,
                        const F& b) {
    for (const auto& [name, op] : binary) {
        SCOPED_TRACE(name);
        F expected, expectedSelf;
        op(expected, a, b);
        op(expectedSelf, a, a);
        F x = a;
        op(x, x, b);
        EXPECT_EQ(x, expected) << "e = a";
        F y = b;
        op(y, a, y);
        EXPECT_EQ(y, expected) << "e = b";
        F z = a;
        op(z, z, z);
        EXPECT_EQ(z, expectedSelf) << "e = a = b";
    }
    for (const auto& [name, op] : unary) {
        SCOPED_TRACE(name);
        F expected;
        op(expected, a);
        F x = a;
        op(x, x);
        EXPECT_EQ(x, expected);
    }
}

}  // namespace bn256_testing
