// The G1, G2 and GT decoders on arbitrary bytes.
//
// Each decoder reads the front of the whole input. Checked besides memory
// safety: an accepted element re-encodes to exactly the bytes it was read from,
// the decoder returns the rest of the input after them, and a rejected input
// leaves the receiver unset. Then the input is decoded once more as G1 ‖ G2 ‖ GT
// in sequence, as the record decoders read it; when G1 and G2 both decode there,
// the pairing of the two is computed and its value must survive a GT round trip.
#include <algorithm>
#include <cstdint>

#include "bn256/bn256.h"
#include "fuzz_support.h"
#include "hibe_c/startup.h"

namespace {

constexpr std::size_t kG1Size = 64;
constexpr std::size_t kG2Size = 128;
constexpr std::size_t kGTSize = 384;

// Decodes the front of input into element; on success checks the rest and the
// re-encoding and returns true, on failure checks that element stayed unset.
template <typename Element>
bool DecodeAndCheck(Element& element, common::ByteView input, std::size_t encodedSize) {
    auto rest = element.Unmarshal(input);
    if (!rest) {
        if (input.size() < encodedSize) FUZZ_CHECK(rest.error().Message() == bn256::kNotEnoughData);
        FUZZ_CHECK(!element.p.has_value());
        return false;
    }
    FUZZ_CHECK(input.size() >= encodedSize);
    FUZZ_CHECK(rest->data() == input.data() + encodedSize);
    FUZZ_CHECK(rest->size() == input.size() - encodedSize);
    const common::Bytes again = element.Marshal();
    FUZZ_CHECK(again.size() == encodedSize);
    FUZZ_CHECK(std::equal(again.begin(), again.end(), input.begin()));
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hibe_c::RunStartup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const common::ByteView input(data, size);

    bn256::G1 g1;
    bn256::G2 g2;
    bn256::GT gt;
    DecodeAndCheck(g1, input, kG1Size);
    DecodeAndCheck(g2, input, kG2Size);
    DecodeAndCheck(gt, input, kGTSize);

    // G1 ‖ G2 ‖ GT, each from where the one before stopped.
    bn256::G1 a;
    bn256::G2 b;
    bn256::GT c;
    if (!DecodeAndCheck(a, input, kG1Size)) return 0;
    const common::ByteView afterA = input.subspan(kG1Size);
    if (!DecodeAndCheck(b, afterA, kG2Size)) return 0;
    DecodeAndCheck(c, afterA.subspan(kG2Size), kGTSize);

    const common::Bytes paired = bn256::Pair(a, b).Marshal();
    bn256::GT e;
    FUZZ_CHECK(DecodeAndCheck(e, paired, kGTSize));
    return 0;
}
