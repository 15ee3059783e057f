// The random-source interface and the uniform draw below a bound.
//
// Every operation that draws randomness takes a RandomSource explicitly. The
// library's only source is SystemRandom(), which reads the kernel (getrandom);
// tests may pass sources of their own.
#pragma once

#include <gmpxx.h>

#include <cstdint>
#include <span>

#include "common/error.h"

namespace common {

class RandomSource {
public:
    virtual ~RandomSource() = default;

    // Fills out completely with random bytes, or returns the source's error.
    virtual Status Fill(std::span<std::uint8_t> out) = 0;
};

// The kernel's cryptographically secure source; safe to use from any thread.
RandomSource& SystemRandom();

// A uniform integer in [0, n), n > 0: candidates of as many bytes as n - 1 needs
// are read big-endian, the bits of the first byte above the bit length of n - 1
// are cleared, and the draw repeats until the candidate is below n.
Result<mpz_class> RandomBelow(RandomSource& rand, const mpz_class& n);

}  // namespace common
