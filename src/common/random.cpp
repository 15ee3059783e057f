#include "common/random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace common {
namespace {

class KernelRandom final : public RandomSource {
public:
    Status Fill(std::span<std::uint8_t> out) override {
        std::size_t done = 0;
        while (done < out.size()) {
            ssize_t got = getrandom(out.data() + done, out.size() - done, 0);
            if (got < 0) {
                if (errno == EINTR) continue;
                return Fail(std::string("getrandom: ") + std::strerror(errno));
            }
            done += static_cast<std::size_t>(got);
        }
        return {};
    }
};

// The one kernel source: made before any code runs, so no call meets a guard of
// first use (which a fork could leave locked in its child), and never destroyed,
// so calls still running at exit can draw.
union KernelRandomSlot {
    constexpr KernelRandomSlot() : source() {}
    ~KernelRandomSlot() {}
    KernelRandom source;
};

constinit KernelRandomSlot kernelRandom;

}  // namespace

RandomSource& SystemRandom() { return kernelRandom.source; }

Result<mpz_class> RandomBelow(RandomSource& rand, const mpz_class& n) {
    mpz_class max = n - 1;
    std::size_t bitLen = mpz_sizeinbase(max.get_mpz_t(), 2);
    if (max == 0) bitLen = 0;
    std::size_t byteLen = (bitLen + 7) / 8;
    if (byteLen == 0) return mpz_class(0);
    // Bits of the first byte that lie above the bit length of n - 1.
    unsigned topBits = static_cast<unsigned>(bitLen % 8);
    if (topBits == 0) topBits = 8;
    std::uint8_t mask = static_cast<std::uint8_t>((1u << topBits) - 1);

    std::vector<std::uint8_t> buf(byteLen);
    mpz_class candidate;
    for (;;) {
        if (auto filled = rand.Fill(buf); !filled) return std::unexpected(filled.error());
        buf[0] &= mask;
        mpz_import(candidate.get_mpz_t(), buf.size(), 1, 1, 1, 0, buf.data());
        if (candidate < n) return candidate;
    }
}

}  // namespace common
