// The params, private key and ciphertext decoders on arbitrary bytes (each
// decoder reads the whole input).
//
// Checked besides memory safety: on success the record re-encodes to exactly the
// input; on failure the result is (nullptr, false), or (this, false) with the
// list holding the entries before the failing one, whose encoding is then the
// matching prefix of the input; a rejected length leaves the record untouched.
// A decoded params record has no pairing cache.
#include <algorithm>
#include <cstdint>
#include <type_traits>

#include "fuzz_support.h"
#include "hibe/scheme.h"
#include "hibe_c/startup.h"

namespace {

constexpr std::size_t kSlot = hibe::geSize;

bool IsPrefixOf(const common::Bytes& encoding, common::ByteView input) {
    return encoding.size() <= input.size() && std::equal(encoding.begin(), encoding.end(), input.begin());
}

// Params and PrivateKey: a fixed part of fixedSlots slots and a list of G1
// entries (member list).
template <typename Record, typename List>
void CheckListRecord(common::ByteView input, std::size_t fixedSlots, List Record::*list) {
    Record record;
    const auto [result, ok] = record.Unmarshal(input);
    const bool lengthOk = input.size() % kSlot == 0 && input.size() >= fixedSlots * kSlot;
    if (ok) {
        FUZZ_CHECK(lengthOk && result == &record);
        FUZZ_CHECK((record.*list).size() == input.size() / kSlot - fixedSlots);
        const common::Bytes again = record.Marshal();
        FUZZ_CHECK(again.size() == input.size() && IsPrefixOf(again, input));
        // A decoded params record comes without the pairing cache.
        if constexpr (std::is_same_v<Record, hibe::Params>) FUZZ_CHECK(!record.Pairing.has_value());
        return;
    }
    if (!lengthOk) {
        FUZZ_CHECK(result == nullptr);
        FUZZ_CHECK((record.*list).empty());  // untouched
        return;
    }
    if (result == nullptr) return;  // a fixed field failed
    // An entry of the list failed: the record holds the fixed fields and the
    // entries before it.
    FUZZ_CHECK(result == &record);
    FUZZ_CHECK((record.*list).size() < input.size() / kSlot - fixedSlots);
    FUZZ_CHECK(IsPrefixOf(record.Marshal(), input));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hibe_c::RunStartup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const common::ByteView input(data, size);

    CheckListRecord(input, 6, &hibe::Params::H);
    CheckListRecord(input, 3, &hibe::PrivateKey::B);

    hibe::Ciphertext ciphertext;
    const auto [result, ok] = ciphertext.Unmarshal(input);
    if (ok) {
        FUZZ_CHECK(size == 9 * kSlot && result == &ciphertext);
        const common::Bytes again = ciphertext.Marshal();
        FUZZ_CHECK(again.size() == size && IsPrefixOf(again, input));
    } else {
        FUZZ_CHECK(result == nullptr);
    }
    return 0;
}
