// Random sources and element helpers shared by the scheme's tests.
#pragma once

#include <gmpxx.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "bn256/bn256.h"
#include "common/bytes.h"
#include "common/error.h"
#include "common/random.h"

namespace hibe_test {

// A deterministic source (splitmix64) that records every draw and can be made to
// fail at its n-th call (counting from 1). The first byte of every draw is kept
// below 0x30, so a 32-byte draw is always below the group order
// (0x30644e72…) and each scalar costs exactly one draw.
class RecordingRandom final : public common::RandomSource {
public:
    static constexpr std::size_t kNever = std::numeric_limits<std::size_t>::max();

    explicit RecordingRandom(std::uint64_t seed, std::size_t failAt = kNever)
        : state_(seed), failAt_(failAt) {}

    common::Status Fill(std::span<std::uint8_t> out) override {
        ++calls_;
        if (calls_ == failAt_) return common::Fail(error_);
        for (auto& b : out) b = static_cast<std::uint8_t>(next() >> 56);
        if (!out.empty()) out[0] %= 0x30;
        draws_.emplace_back(out.begin(), out.end());
        return {};
    }

    // Calls made so far, the failing one included.
    std::size_t calls() const { return calls_; }
    const std::vector<common::Bytes>& draws() const { return draws_; }
    const common::Error& error() const { return error_; }

    // The scalar that draw i stands for (big-endian; already below the order).
    mpz_class scalar(std::size_t i) const {
        mpz_class k;
        mpz_import(k.get_mpz_t(), draws_[i].size(), 1, 1, 1, 0, draws_[i].data());
        return k;
    }

private:
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }

    std::uint64_t state_;
    std::size_t failAt_;
    std::size_t calls_ = 0;
    std::vector<common::Bytes> draws_;
    common::Error error_{"test source: draw refused"};
};

// Elements compare by their encodings (encoding only normalises points).
template <typename E>
common::Bytes Enc(const E& e) {
    return e.Marshal();
}

// The identity of GT, decoded from its encoding (383 zero bytes, then 0x01).
inline bn256::GT GTOne() {
    common::Bytes one(384, 0);
    one.back() = 1;
    bn256::GT e;
    (void)e.Unmarshal(one);
    return e;
}

// A 256-bit value from the source, as the identity vectors hold (not reduced).
inline mpz_class Level(common::RandomSource& rand) {
    std::uint8_t b[32];
    (void)rand.Fill(b);
    b[0] |= 0x80;  // full 256 bits, above the group order
    mpz_class k;
    mpz_import(k.get_mpz_t(), sizeof b, 1, 1, 1, 0, b);
    return k;
}

}  // namespace hibe_test
