#include "bn256/bn256.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "bn256/constants.h"
#include "bn256/endomorphism.h"
#include "bn256/gfp.h"
#include "bn256/jacobian.h"
#include "bn256/optate.h"
#include "bn256/secret_mul.h"
#include "common/wipe.h"

namespace bn256 {
namespace {

constexpr std::size_t kG1Size = 64;
constexpr std::size_t kG2Size = 128;
constexpr std::size_t kGTSize = 384;

// The value an unset operand stands for: the identity of its group.
const curvePoint& curvePointOf(const G1& e) {
    static constexpr curvePoint infinity{};
    return e.p ? *e.p : infinity;
}

const twistPoint& twistPointOf(const G2& e) {
    static constexpr twistPoint infinity{};
    return e.p ? *e.p : infinity;
}

const gfP12& gfP12Of(const GT& e) {
    // The one of GF(p¹²): only the constant coefficient of its constant coefficient
    // is 1 (the Montgomery one); a constant, so no call makes it at first use.
    static constexpr gfP12 one{{}, {{}, {}, {gfP{}, kMontgomeryOne}}};
    return e.p ? *e.p : one;
}

// The receiver's value, given a fresh zero value when it is unset.
template <typename T>
T& valueOf(std::optional<T>& p) {
    if (!p) p.emplace();
    return *p;
}

// Writes the plain value of the Montgomery-form coordinate a at out[offset..offset+32).
void putCoordinate(common::Bytes& out, std::size_t offset, const gfP& a) {
    gfP plain;
    montDecode(plain, a);
    plain.Marshal(std::span<std::uint8_t, 32>(out.data() + offset, 32));
}

// The twelve coefficients of a GF(p^12) value in the order of the GT encoding.
template <typename F, typename E>
void forEachCoefficient(E& e, F&& f) {
    gfP* const coefficients[12] = {&e.x.x.x, &e.x.x.y, &e.x.y.x, &e.x.y.y, &e.x.z.x, &e.x.z.y,
                                   &e.y.x.x, &e.y.x.y, &e.y.y.x, &e.y.y.y, &e.y.z.x, &e.y.z.y};
    for (std::size_t i = 0; i < 12; ++i) f(i, *coefficients[i]);
}

// Reads the 32-byte coordinates m[32i, 32i + 32) into targets[i] (zeroed first), in
// order, stopping at the first that is not below p; then puts all of them into
// Montgomery form. m holds at least 32·N bytes.
template <std::size_t N>
common::Status getCoordinates(common::ByteView m, gfP* const (&targets)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
        *targets[i] = gfP{};
        if (auto ok = targets[i]->Unmarshal(m.subspan(32 * i, 32)); !ok) return ok;
    }
    for (gfP* target : targets) montEncode(*target, *target);
    return {};
}

// c = a^k for k ≥ 0 by a sliding window of four bits over the odd powers
// a, a³, ..., a¹⁵: the same value as gfP12::Exp for every element a (GT member or
// not), with one product per window instead of one per set bit. c may be a.
void expSlidingWindow(gfP12& c, const gfP12& a, const mpz_class& k) {
    constexpr int kWindow = 4;
    gfP12 odd[1 << (kWindow - 1)];  // odd[j] = a^(2j + 1)
    gfP12 a2;
    odd[0].Set(a);
    a2.Square(a);
    for (int j = 1; j < (1 << (kWindow - 1)); ++j) odd[j].Mul(odd[j - 1], a2);

    gfP12 sum;
    sum.SetOne();
    bool started = false;  // squaring one is skipped
    const mpz_srcptr kz = k.get_mpz_t();
    long i = sgn(k) == 0 ? -1 : static_cast<long>(mpz_sizeinbase(kz, 2)) - 1;
    while (i >= 0) {
        if (!mpz_tstbit(kz, static_cast<mp_bitcnt_t>(i))) {
            if (started) sum.Square(sum);
            --i;
            continue;
        }
        // The window runs from bit i down to the lowest set bit l ≥ i − 3.
        long l = i - (kWindow - 1) < 0 ? 0 : i - (kWindow - 1);
        while (!mpz_tstbit(kz, static_cast<mp_bitcnt_t>(l))) ++l;
        unsigned value = 0;
        for (long j = i; j >= l; --j) {
            value = 2 * value + static_cast<unsigned>(mpz_tstbit(kz, static_cast<mp_bitcnt_t>(j)));
            if (started) sum.Square(sum);
        }
        if (started) {
            sum.Mul(sum, odd[value >> 1]);
        } else {
            sum.Set(odd[value >> 1]);
            started = true;
        }
        i = l - 1;
    }
    c.Set(sum);
}

// c = a where mask is all ones; no branch. gfP12 is 48 limbs in a row, which this
// treats as one array so that the loop runs in vector registers.
static_assert(sizeof(gfP12) == 48 * sizeof(std::uint64_t));
void selectGfP12(gfP12& c, const gfP12& a, std::uint64_t mask) {
    auto* cl = reinterpret_cast<std::uint64_t*>(&c);
    const auto* al = reinterpret_cast<const std::uint64_t*>(&a);
    for (int i = 0; i < 48; ++i) cl[i] ^= (cl[i] ^ al[i]) & mask;
}

// GT under the p-power Frobenius for endomorphismMul. In the cyclotomic subgroup,
// which holds GT, squaring takes the Granger–Scott form and the inverse is the
// conjugate.
struct gtGroup {
    using Element = gfP12;
    static void setIdentity(gfP12& c) { c.SetOne(); }
    static void square(gfP12& c, const gfP12& a) { c.CyclotomicSquare(a); }
    static void oddMultiples(gfP12* table, const gfP12& a, int n) {
        gfP12 a2;
        a2.CyclotomicSquare(a);
        table[0] = a;
        for (int j = 1; j < n; ++j) table[j].Mul(table[j - 1], a2);
    }
    static void combineTable(gfP12& c, const gfP12& a, const gfP12& b) { c.Mul(a, b); }
    static void invert(gfP12& c, const gfP12& a) { c.Conjugate(a); }
    static void endo(gfP12& c, const gfP12& a) { c.Frobenius(a); }
    static void endo2(gfP12& c, const gfP12& a) { c.FrobeniusP2(a); }
    static void finish(gfP12&) {}

    // For secretEndomorphismMul: every product is complete.
    static void combine(gfP12& c, const gfP12& a, const gfP12& b) { c.Mul(a, b); }
    static void combineChecked(gfP12& c, const gfP12& a, const gfP12& b) { c.Mul(a, b); }
    static void negateIf(gfP12& c, std::uint64_t mask) {
        // The conjugate negates the coefficient of w.
        gfP6 minusX;
        minusX.Neg(c.x);
        jacobian::select(c.x.x, minusX.x, mask);
        jacobian::select(c.x.y, minusX.y, mask);
        jacobian::select(c.x.z, minusX.z, mask);
    }
    static void lookup(gfP12& c, const gfP12* table, int n, std::uint64_t index) {
        c.SetZero();
        for (int j = 0; j < n; ++j) selectGfP12(c, table[j], equalMask(static_cast<std::uint64_t>(j), index));
    }
    static void select(gfP12& c, const gfP12& a, std::uint64_t mask) { selectGfP12(c, a, mask); }
};

// c = a^k for every element a and a secret k < 2^256, constant time in k: a fixed
// window of four bits over all 64 windows, each entry of the table a^0 ... a^15
// found by a scan. The value of gfP12::Exp for every element; the route for
// elements not known to be in GT. c may be a.
void expSecretPlain(gfP12& c, const gfP12& a, const Scalar& k) {
    gfP12 table[16];
    table[0].SetOne();
    table[1].Set(a);
    for (int j = 2; j < 16; ++j) table[j].Mul(table[j - 1], a);
    gfP12 acc, entry;
    acc.SetOne();
    for (int w = 63; w >= 0; --w) {
        for (int b = 0; b < 4; ++b) acc.Square(acc);
        const std::uint64_t nibble = (k.limbs[w / 16] >> (4 * (w % 16))) & 15;
        entry.SetZero();
        for (int j = 0; j < 16; ++j) selectGfP12(entry, table[j], equalMask(static_cast<std::uint64_t>(j), nibble));
        acc.Mul(acc, entry);
    }
    c.Set(acc);
    common::WipeObject(table);
    common::WipeObject(acc);
    common::WipeObject(entry);
}

}  // namespace

// c = a^k for a in GT, through the Frobenius (endomorphismMul): the same value as
// gfP12::Exp there, and a different one for most elements outside GT. c may be a.
void expInGT(gfP12& c, const gfP12& a, const mpz_class& k) {
    gtGroup group;
    endomorphismMul(group, c, a, k);
}

void expSecretInGT(gfP12& c, const gfP12& a, const Scalar& k) {
    gtGroup group;
    auto parts = decomposeFrobeniusSecret(k);
    secretEndomorphismMul<16>(group, c, a, parts);
    common::WipeObject(parts);
}

bool knownInGT(const GT& e) { return !e.p || !e.decoded; }

// ---- G1 ----

G1& G1::ScalarBaseMult(const mpz_class& k) {
    valueOf(p).Mul(curveGen, k);
    return *this;
}

// The constant-time route for secret scalars takes 0.84× the time of the public
// one: its regular digits need about 70 additions, all mixed, where the joint
// bits of Multi need about 96.
G1& G1::ScalarBaseMult(const Scalar& k) {
    valueOf(p).MulSecret(curveGen, k);
    return *this;
}

G1& G1::ScalarMult(const G1& a, const Scalar& k) {
    const curvePoint& ap = curvePointOf(a);
    valueOf(p).MulSecret(ap, k);
    return *this;
}

G1& G1::ScalarMult(const G1& a, const mpz_class& k) {
    const curvePoint& ap = curvePointOf(a);
    valueOf(p).Mul(ap, k);
    return *this;
}

G1& G1::Add(const G1& a, const G1& b) {
    const curvePoint& ap = curvePointOf(a);
    const curvePoint& bp = curvePointOf(b);
    jacobian::addSecret(valueOf(p), ap, bp);
    return *this;
}

G1& G1::Set(const G1& a) {
    const curvePoint& ap = curvePointOf(a);
    valueOf(p).Set(ap);
    return *this;
}

common::Bytes G1::Marshal() const {
    curvePoint& point = valueOf(p);
    point.MakeAffine();
    common::Bytes out(kG1Size, 0);
    if (point.IsInfinity()) return out;
    putCoordinate(out, 0, point.x);
    putCoordinate(out, 32, point.y);
    return out;
}

common::Result<common::ByteView> G1::Unmarshal(common::ByteView m) {
    if (m.size() < kG1Size) return common::Fail(std::string(kNotEnoughData));
    // Decoded into a local and stored only on success: a failed decode leaves the
    // receiver as it was, so no half-decoded or off-curve point is ever held.
    curvePoint point;
    gfP* const coordinates[2] = {&point.x, &point.y};
    if (auto ok = getCoordinates(m, coordinates); !ok) return std::unexpected(ok.error());

    if (point.x.IsZero() && point.y.IsZero()) {
        // Only the all-zero encoding stands for the point at infinity.
        point.SetInfinity();
    } else {
        point.z = newGFp(1);
        point.t = newGFp(1);
        if (!point.IsOnCurve()) return common::Fail(std::string(kMalformedPoint));
    }
    p = point;
    return m.subspan(kG1Size);
}

std::string G1::String() const { return "bn256.G1" + valueOf(p).String(); }

// ---- G2 ----

// Every G2 element is in G2: decoded points pass the membership test, and the
// others are sums and multiples of those and of twistGen. So MulInG2 applies
// (0.35× the time of the plain double-and-add for a random scalar), and for a
// secret scalar its constant-time counterpart MulSecret (1.33× the time of
// MulInG2).

G2& G2::ScalarBaseMult(const mpz_class& k) {
    valueOf(p).MulInG2(twistGen, k);
    return *this;
}

G2& G2::ScalarBaseMult(const Scalar& k) {
    valueOf(p).MulSecret(twistGen, k);
    return *this;
}

G2& G2::ScalarMult(const G2& a, const Scalar& k) {
    const twistPoint& ap = twistPointOf(a);
    valueOf(p).MulSecret(ap, k);
    return *this;
}

G2& G2::ScalarMult(const G2& a, const mpz_class& k) {
    const twistPoint& ap = twistPointOf(a);
    valueOf(p).MulInG2(ap, k);
    return *this;
}

G2& G2::Add(const G2& a, const G2& b) {
    const twistPoint& ap = twistPointOf(a);
    const twistPoint& bp = twistPointOf(b);
    jacobian::addSecret(valueOf(p), ap, bp);
    return *this;
}

common::Bytes G2::Marshal() const {
    twistPoint& point = valueOf(p);
    point.MakeAffine();
    common::Bytes out(kG2Size, 0);
    if (point.IsInfinity()) return out;
    putCoordinate(out, 0, point.x.x);
    putCoordinate(out, 32, point.x.y);
    putCoordinate(out, 64, point.y.x);
    putCoordinate(out, 96, point.y.y);
    return out;
}

common::Result<common::ByteView> G2::Unmarshal(common::ByteView m) {
    if (m.size() < kG2Size) return common::Fail(std::string(kNotEnoughData));
    // As for G1: stored only on success.
    twistPoint point;
    gfP* const coordinates[4] = {&point.x.x, &point.x.y, &point.y.x, &point.y.y};
    if (auto ok = getCoordinates(m, coordinates); !ok) return std::unexpected(ok.error());

    if (point.x.IsZero() && point.y.IsZero()) {
        // The normal form of the point at infinity.
        point.y.SetOne();
        point.z.SetZero();
        point.t.SetZero();
    } else {
        point.z.SetOne();
        point.t.SetOne();
        // The twist equation and membership in G2, by the endomorphism test
        // (the same decision as the multiplication by Order; the decoder takes
        // 0.23× the time it took with that multiplication).
        if (!point.IsOnCurveFast()) return common::Fail(std::string(kMalformedPoint));
    }
    p = point;
    return m.subspan(kG2Size);
}

std::string G2::String() const { return "bn256.G2" + valueOf(p).String(); }

// ---- GT ----

// Elements known to be in GT take the Frobenius route (0.37× the time of the
// sliding window for a random scalar); decoded ones the sliding window, whose
// value is the plain power of any GF(p^12) element.
GT& GT::ScalarMult(const GT& a, const mpz_class& k) {
    const gfP12& av = gfP12Of(a);
    const bool known = knownInGT(a);
    if (known) {
        expInGT(valueOf(p), av, k);
    } else {
        expSlidingWindow(valueOf(p), av, k);
    }
    decoded = !known;
    return *this;
}

// The same two routes, constant time in k: 1.4× the time of the variable-time
// Frobenius route for an element of GT.
GT& GT::ScalarMult(const GT& a, const Scalar& k) {
    const gfP12& av = gfP12Of(a);
    const bool known = knownInGT(a);
    if (known) {
        expSecretInGT(valueOf(p), av, k);
    } else {
        expSecretPlain(valueOf(p), av, k);
    }
    decoded = !known;
    return *this;
}

GT& GT::Add(const GT& a, const GT& b) {
    const gfP12& av = gfP12Of(a);
    const gfP12& bv = gfP12Of(b);
    const bool known = knownInGT(a) && knownInGT(b);
    valueOf(p).Mul(av, bv);
    decoded = !known;
    return *this;
}

GT& GT::Neg(const GT& a) {
    const gfP12& av = gfP12Of(a);
    const bool known = knownInGT(a);
    valueOf(p).Conjugate(av);
    decoded = !known;
    return *this;
}

common::Bytes GT::Marshal() const {
    if (!p) p.emplace().SetOne();
    common::Bytes out(kGTSize, 0);
    forEachCoefficient(*p, [&](std::size_t i, const gfP& c) { putCoordinate(out, 32 * i, c); });
    return out;
}

common::Result<common::ByteView> GT::Unmarshal(common::ByteView m) {
    if (m.size() < kGTSize) return common::Fail(std::string(kNotEnoughData));
    // As for G1: stored only on success.
    gfP12 value;
    value.SetZero();
    gfP* coefficients[12];
    forEachCoefficient(value, [&](std::size_t i, gfP& c) { coefficients[i] = &c; });
    if (auto ok = getCoordinates(m, coefficients); !ok) return std::unexpected(ok.error());
    p = value;
    decoded = true;  // any twelve coordinates are accepted
    return m.subspan(kGTSize);
}

std::string GT::String() const {
    if (!p) p.emplace().SetOne();
    return "bn256.GT" + p->String();
}

// ---- random elements and the pairing ----

common::Result<Scalar> randomK(common::RandomSource& rand) {
    for (;;) {
        auto k = RandomScalar(rand);
        if (!k) return std::unexpected(k.error());
        const std::uint64_t any = k->limbs[0] | k->limbs[1] | k->limbs[2] | k->limbs[3];
        std::uint64_t zero = 1 ^ ((any | (0 - any)) >> 63);
        declassify(&zero, sizeof zero);  // the accept/reject outcome, not the value
        if (!zero) return k;
    }
}

common::Result<RandomG1Result> RandomG1(common::RandomSource& rand) {
    auto k = randomK(rand);
    if (!k) return std::unexpected(k.error());
    RandomG1Result out{*k, G1{}};
    out.element.ScalarBaseMult(out.k);
    return out;
}

common::Result<RandomG2Result> RandomG2(common::RandomSource& rand) {
    auto k = randomK(rand);
    if (!k) return std::unexpected(k.error());
    RandomG2Result out{*k, G2{}};
    out.element.ScalarBaseMult(out.k);
    return out;
}

GT Pair(const G1& g1, const G2& g2) {
    const PairTerm term[1] = {{&g1, &g2}};
    return PairProduct(term);
}

// Terms are handed to millerProduct this many at a time; the Miller values of the
// chunks are multiplied, and the product gets one final exponentiation.
constexpr std::size_t kPairChunk = 8;

GT PairProduct(std::span<const PairTerm> terms) {
    gfP12 product;
    product.SetOne();
    PairingTerm chunk[kPairChunk];
    for (std::size_t start = 0; start < terms.size(); start += kPairChunk) {
        const std::size_t n = std::min(kPairChunk, terms.size() - start);
        for (std::size_t i = 0; i < n; ++i) {
            const PairTerm& term = terms[start + i];
            chunk[i] = {&twistPointOf(*term.g2), &curvePointOf(*term.g1), term.inverse};
        }
        const gfP12 value = millerProduct(std::span(chunk, n));
        if (start == 0) {
            product = value;  // no product with one
        } else {
            product.Mul(product, value);
        }
    }
    GT out;
    out.p = finalExponentiation(product);
    return out;
}

}  // namespace bn256
