// DecryptHibeMsg as a whole. One input holds its four byte arrays: localId,
// params and the private key as fields (a 2-byte little-endian length, then the
// bytes), and the message map as the rest.
#include "fuzz_util.h"
#include "hibe_c/hibe_c.h"
#include "hibe_c/startup.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hibe_c::RunStartup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    common::Bytes localId = in.Field();
    common::Bytes params = in.Field();
    common::Bytes prvKey = in.Field();
    common::Bytes map = in.Rest();
    (void)hibe_c::DecryptHibeMsg(std::move(localId), std::move(params), std::move(prvKey),
                                 std::move(map), 0);
    return 0;
}
