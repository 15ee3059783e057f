// The G1, G2 and GT decoders on arbitrary bytes; an accepted encoding is
// written back exactly.
#include <algorithm>

#include "bn256/bn256.h"
#include "fuzz_util.h"
#include "hibe_c/startup.h"

namespace {

template <typename Element>
void roundTrip(common::ByteView input) {
    Element e;
    auto rest = e.Unmarshal(input);
    if (!rest) return;
    const common::Bytes out = e.Marshal();
    fuzz::Check(out.size() + rest->size() == input.size(), "the decoder consumes one encoding");
    fuzz::Check(std::equal(out.begin(), out.end(), input.begin()), "decode then encode is the input");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hibe_c::RunStartup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const common::ByteView input(data, size);
    roundTrip<bn256::G1>(input);
    roundTrip<bn256::G2>(input);
    roundTrip<bn256::GT>(input);
    return 0;
}
