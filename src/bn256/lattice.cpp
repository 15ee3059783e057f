#include "bn256/lattice.h"

#include <algorithm>
#include <cstddef>

#include "bn256/constants.h"
#include "common/load_time.h"
#include "common/wipe.h"

namespace bn256 {

void round(mpz_class& num, const mpz_class& denom) {
    // Euclidean division: the remainder r satisfies 0 ≤ r < |denom|.
    mpz_class r;
    if (sgn(denom) > 0) {
        mpz_fdiv_qr(num.get_mpz_t(), r.get_mpz_t(), num.get_mpz_t(), denom.get_mpz_t());
    } else {
        mpz_cdiv_qr(num.get_mpz_t(), r.get_mpz_t(), num.get_mpz_t(), denom.get_mpz_t());
    }
    // The threshold is Order >> 1 (a quarter of curveLattice's det), which keeps
    // every rounding error in (−3/4, 1/4) and with it both components positive.
    if (r > half) num += 1;
}

// out = (k, 0, ..., 0) − Σ_j c_j·vectors_j + 2·vectors_0, with c_j = round(k·inverse_j / det).
std::vector<mpz_class> lattice::decompose(const mpz_class& k) const {
    const std::size_t n = inverse.size();
    std::vector<mpz_class> c(n);
    for (std::size_t i = 0; i < n; ++i) {
        c[i] = k * inverse[i];
        round(c[i], det);
    }
    std::vector<mpz_class> out(n);
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = 0;
        for (std::size_t j = 0; j < n; ++j) out[i] += c[j] * vectors[j][i];
        out[i] = -out[i];
        out[i] += vectors[0][i];
        out[i] += vectors[0][i];
    }
    out[0] += k;
    return out;
}

// Digit i = Σ_j (bit i of component j) << j.
std::vector<std::uint8_t> lattice::Multi(const mpz_class& scalar) const {
    std::vector<mpz_class> decomp = decompose(scalar);
    std::size_t maxLen = 0;
    for (const mpz_class& v : decomp) {
        if (sgn(v) != 0) maxLen = std::max(maxLen, mpz_sizeinbase(v.get_mpz_t(), 2));
    }
    std::vector<std::uint8_t> out(maxLen, 0);
    for (std::size_t j = 0; j < decomp.size(); ++j) {
        // Bits of the magnitude; the components of curveLattice are never negative.
        mpz_class mag = abs(decomp[j]);
        for (std::size_t i = 0; i < maxLen; ++i) {
            if (mpz_tstbit(mag.get_mpz_t(), i)) out[i] = static_cast<std::uint8_t>(out[i] + (1u << j));
        }
    }
    return out;
}

namespace {

// The reduced basis and the numerators of the first row of its inverse (see
// decomposeFrobenius), built by buildScalarSplits.
struct frobeniusLattice {
    mpz_class vectors[4][4];
    mpz_class beta[4];

    frobeniusLattice() {
        const mpz_class one = 1;
        const mpz_class v[4][4] = {
            {2 * u + 1, 0, 2 * u, one},
            {2 * u, u + 1, -u, u},
            {u + 1, u, u, -2 * u},
            {2 * u + 1, -u, -(u + 1), -u},
        };
        for (int j = 0; j < 4; ++j) {
            for (int i = 0; i < 4; ++i) vectors[j][i] = v[j][i];
        }
        beta[0] = mpz_class("734653495049373973806201247608587340319794091592875701774");
        beta[1] = mpz_class("734653495049373973658254490726798021314063399421879442165");
        beta[2] = 2 * u + 1;
        beta[3] = mpz_class("734653495049373973806201247608587340314828430225682852893");
    }
};

constinit common::LoadTimeSlot<frobeniusLattice> frobeniusStorage;

const frobeniusLattice& theFrobeniusLattice() { return frobeniusStorage.value; }

}  // namespace

std::array<signedComponent, 4> decomposeFrobenius(const mpz_class& k) {
    const frobeniusLattice& l = theFrobeniusLattice();
    mpz_class kr, twiceOrder = 2 * Order, c[4];
    mpz_mod(kr.get_mpz_t(), k.get_mpz_t(), Order.get_mpz_t());
    // c_j = floor((2·k·beta_j + Order) / (2·Order)), the nearest integer to k·beta_j / Order.
    for (int j = 0; j < 4; ++j) {
        c[j] = 2 * kr * l.beta[j] + Order;
        mpz_fdiv_q(c[j].get_mpz_t(), c[j].get_mpz_t(), twiceOrder.get_mpz_t());
    }
    std::array<signedComponent, 4> out{};
    mpz_class ki;
    for (int i = 0; i < 4; ++i) {
        ki = i == 0 ? kr : mpz_class(0);
        for (int j = 0; j < 4; ++j) ki -= c[j] * l.vectors[j][i];
        out[i].negative = sgn(ki) < 0;
        ki = abs(ki);
        out[i].magnitude = mpz_getlimbn(ki.get_mpz_t(), 0);
    }
    return out;
}

}  // namespace bn256

namespace bn256 {
namespace {

using u128 = unsigned __int128;

// A fixed-point split: c_j = round(k·g_j / 2^shift) with g_j = round(2^shift·num_j / den),
// and the basis vectors modulo 2^128 (their components and the results are far
// below 2^127 in magnitude, so arithmetic modulo 2^128 gives them exactly).
template <int N>
struct fixedPointSplit {
    int shift;
    std::uint64_t g[N][4];
    u128 vectors[N][N];

    fixedPointSplit(int s, const mpz_class (&num)[N], const mpz_class& den, const mpz_class (&v)[N][N])
        : shift(s) {
        for (int j = 0; j < N; ++j) {
            mpz_class gj = ((mpz_class(1) << s) * num[j] + den / 2) / den;
            for (int i = 0; i < 4; ++i) g[j][i] = mpz_getlimbn(gj.get_mpz_t(), i);
            for (int i = 0; i < N; ++i) {
                const mpz_class m = abs(v[j][i]);
                u128 x = (static_cast<u128>(mpz_getlimbn(m.get_mpz_t(), 1)) << 64) |
                         mpz_getlimbn(m.get_mpz_t(), 0);
                vectors[j][i] = sgn(v[j][i]) < 0 ? 0 - x : x;
            }
        }
    }

    // (kr, 0, ..., 0) − Σ_j c_j·vectors_j, with kr = k mod Order; each component as
    // a sign, an odd magnitude and the even flag. Constant time in k.
    std::array<secretComponent, N> split(const Scalar& k) const {
        const Scalar kr = reduceModOrder(k);
        u128 c[N];
        for (int j = 0; j < N; ++j) c[j] = mulShiftRound(kr, g[j], shift);
        std::array<secretComponent, N> out;
        for (int i = 0; i < N; ++i) {
            u128 x = i == 0 ? (static_cast<u128>(kr.limbs[1]) << 64) | kr.limbs[0] : 0;
            for (int j = 0; j < N; ++j) x -= c[j] * vectors[j][i];
            const u128 sign = 0 - (x >> 127);
            const u128 magnitude = (x ^ sign) - sign;
            const std::uint64_t even = (static_cast<std::uint64_t>(magnitude) & 1) - 1;
            out[i] = {magnitude | 1, static_cast<std::uint64_t>(sign), even};
        }
        common::WipeObject(c);
        return out;
    }
};

constinit common::LoadTimeSlot<fixedPointSplit<2>> curveSplitStorage;
constinit common::LoadTimeSlot<fixedPointSplit<4>> frobeniusSplitStorage;

const fixedPointSplit<2>& curveSplit() { return curveSplitStorage.value; }
const fixedPointSplit<4>& frobeniusSplit() { return frobeniusSplitStorage.value; }

}  // namespace

void buildScalarSplits() {
    const frobeniusLattice& l = frobeniusStorage.Emplace();
    const mpz_class num[2] = {curveLattice.inverse[0], curveLattice.inverse[1]};
    const mpz_class v[2][2] = {{curveLattice.vectors[0][0], curveLattice.vectors[0][1]},
                               {curveLattice.vectors[1][0], curveLattice.vectors[1][1]}};
    curveSplitStorage.Emplace(383, num, curveLattice.det, v);
    frobeniusSplitStorage.Emplace(320, l.beta, Order, l.vectors);
}

std::array<secretComponent, 2> decomposeCurveSecret(const Scalar& k) { return curveSplit().split(k); }

std::array<secretComponent, 4> decomposeFrobeniusSecret(const Scalar& k) {
    return frobeniusSplit().split(k);
}

}  // namespace bn256
