// The params, private key and ciphertext decoders on arbitrary bytes; an
// accepted record is written back exactly.
#include <algorithm>

#include "fuzz_util.h"
#include "hibe/hibe.h"
#include "hibe_c/startup.h"

namespace {

template <typename Record>
void roundTrip(common::ByteView input) {
    Record r;
    if (!r.Unmarshal(input).second) return;
    const common::Bytes out = r.Marshal();
    fuzz::Check(std::ranges::equal(out, input), "decode then encode is the input");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hibe_c::RunStartup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const common::ByteView input(data, size);
    roundTrip<hibe::Params>(input);
    roundTrip<hibe::PrivateKey>(input);
    roundTrip<hibe::Ciphertext>(input);
    return 0;
}
