// The JSON map reader on arbitrary text, and the write-then-read round trip.
//
// Checked besides memory safety and the absence of exceptions:
// - a map read from any text, written and read again, is the same map, and the
//   second writing is the same text as the first;
// - the input taken as one key and one value (split at its middle) written as a
//   map reads back as a map of one member, which is a fixed point of the round
//   trip (reading replaces what is not UTF-8, after which nothing changes);
// - an absent map writes as "null".
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "hibe_c/json_map.h"
#include "hibe_c/startup.h"

namespace {

using hibe_c::HibeMsgMap;

// Writing map and reading it back gives map itself, and the same text twice.
void CheckFixedPoint(const HibeMsgMap& map) {
    const std::string written = hibe_c::WriteJsonMap(map);
    const auto reread = hibe_c::ReadJsonMap(written);
    FUZZ_CHECK(reread.has_value());
    FUZZ_CHECK(*reread == map);
    FUZZ_CHECK(hibe_c::WriteJsonMap(*reread) == written);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hibe_c::RunStartup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const auto map = hibe_c::ReadJsonMap(text);
    if (map) CheckFixedPoint(*map);

    // Arbitrary bytes as a key and a value: written, they are one valid member.
    const std::string key(text.substr(0, size / 2));
    const std::string value(text.substr(size / 2));
    const auto once = hibe_c::ReadJsonMap(hibe_c::WriteJsonMap(HibeMsgMap{{key, value}}));
    FUZZ_CHECK(once.has_value() && once->size() == 1);
    CheckFixedPoint(*once);

    FUZZ_CHECK(hibe_c::WriteJsonMap(std::optional<HibeMsgMap>()) == "null");
    return 0;
}
