#include "bn256/scalar.h"

#include <valgrind/memcheck.h>

#include <array>

#include "common/wipe.h"

namespace bn256 {
namespace {

using u128 = unsigned __int128;

// Order, least significant limb first.
constexpr std::uint64_t kOrder[4] = {0x43e1f593f0000001, 0x2833e84879b97091, 0xb85045b68181585d,
                                     0x30644e72e131a029};

// All ones when bit is 1, zero when it is 0.
std::uint64_t maskOf(std::uint64_t bit) { return 0 - bit; }

// out = a − b over four limbs; returns the borrow (0 or 1).
std::uint64_t sub4(std::uint64_t (&out)[4], const std::uint64_t (&a)[4], const std::uint64_t (&b)[4]) {
    std::uint64_t borrow = 0;
    for (int i = 0; i < 4; ++i) {
        const u128 d = static_cast<u128>(a[i]) - b[i] - borrow;
        out[i] = static_cast<std::uint64_t>(d);
        borrow = static_cast<std::uint64_t>(d >> 64) & 1;
    }
    return borrow;
}

}  // namespace

Scalar::~Scalar() { common::WipeObject(limbs); }

Scalar::Scalar(const mpz_class& k) {
    for (int i = 0; i < 4; ++i) limbs[i] = mpz_getlimbn(k.get_mpz_t(), i);
}

mpz_class Scalar::ToMpz() const {
    mpz_class out;
    mpz_import(out.get_mpz_t(), 4, -1, sizeof(std::uint64_t), 0, 0, limbs);
    return out;
}

void declassify(const void* p, std::size_t n) { (void)VALGRIND_MAKE_MEM_DEFINED(p, n); }

// Order > 2^256 / 6, so five subtractions bring every 256-bit value below Order.
Scalar reduceModOrder(const Scalar& k) {
    Scalar r = k;
    Scalar t;
    for (int round = 0; round < 5; ++round) {
        const std::uint64_t keep = maskOf(sub4(t.limbs, r.limbs, kOrder));  // r < Order
        for (int i = 0; i < 4; ++i) r.limbs[i] = (r.limbs[i] & keep) | (t.limbs[i] & ~keep);
    }
    return r;
}

// Schoolbook 4×4 product into eight limbs, then the rounded shift.
u128 mulShiftRound(const Scalar& a, const std::uint64_t (&b)[4], int shift) {
    std::uint64_t wide[10] = {};
    for (int i = 0; i < 4; ++i) {
        std::uint64_t carry = 0;
        for (int j = 0; j < 4; ++j) {
            const u128 t = static_cast<u128>(a.limbs[i]) * b[j] + wide[i + j] + carry;
            wide[i + j] = static_cast<std::uint64_t>(t);
            carry = static_cast<std::uint64_t>(t >> 64);
        }
        wide[i + 4] = carry;
    }
    // + 2^(shift − 1), carried through the limbs above.
    const int half = shift - 1;
    u128 carry = static_cast<u128>(1) << (half % 64);
    for (int i = half / 64; i < 8; ++i) {
        const u128 t = static_cast<u128>(wide[i]) + carry;
        wide[i] = static_cast<std::uint64_t>(t);
        carry = t >> 64;
    }
    // Bits shift .. shift + 127 (shift is public).
    const int limb = shift / 64, bit = shift % 64;
    const u128 lo = wide[limb], mid = wide[limb + 1], hi = wide[limb + 2];
    const u128 out = bit == 0 ? lo | mid << 64 : lo >> bit | mid << (64 - bit) | hi << (128 - bit);
    common::WipeObject(wide);
    return out;
}

common::Result<Scalar> RandomScalar(common::RandomSource& rand) {
    std::array<std::uint8_t, 32> buf{};
    Scalar candidate, diff;
    for (;;) {
        if (auto filled = rand.Fill(buf); !filled) {
            common::WipeObject(buf);
            return std::unexpected(filled.error());
        }
        buf[0] &= 0x3f;  // Order has 254 bits
        for (int i = 0; i < 4; ++i) {
            std::uint64_t limb = 0;
            for (int j = 0; j < 8; ++j) limb = (limb << 8) | buf[31 - 8 * i - (7 - j)];
            candidate.limbs[i] = limb;
        }
        std::uint64_t below = sub4(diff.limbs, candidate.limbs, kOrder);  // candidate < Order
        declassify(&below, sizeof below);  // the accept/reject outcome, not the value
        if (below) break;
    }
    common::WipeObject(buf);
    return candidate;
}

}  // namespace bn256
