// hibe_c::DecryptHibeMsg as a whole on arbitrary arguments.
//
// Input layout (fuzz::Splitter): four fields cut from the front,
//   [2-byte LE length][localId] [2-byte LE length][params] [2-byte LE length][prvKey] [hibeMsgMap = the rest]
// A length beyond the end takes what is left, so every input is a call.
//
// Checked: memory safety, leaks and undefined behaviour under the sanitizers,
// no exception escaping, and that a successful call gives the same plaintext
// again (decryption draws no randomness and keyType is not read).
#include <cstdint>

#include "fuzz_support.h"
#include "hibe_c/hibe_c.h"
#include "hibe_c/startup.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hibe_c::RunStartup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Splitter in(data, size);
    const common::Bytes localId = in.Field();
    const common::Bytes params = in.Field();
    const common::Bytes prvKey = in.Field();
    const common::Bytes map = in.Rest();

    const auto plain = hibe_c::DecryptHibeMsg(localId, params, prvKey, map, 0);
    if (plain) {
        // keyType is not read.
        const auto again = hibe_c::DecryptHibeMsg(localId, params, prvKey, map, 1);
        FUZZ_CHECK(again == plain);
    }
    return 0;
}
