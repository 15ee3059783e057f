// The JSON map reader on arbitrary text; a map it returns survives a write and
// a second read unchanged.
#include <string_view>

#include "fuzz_util.h"
#include "hibe_c/json_map.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto map = hibe_c::ReadJsonMap(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!map) return 0;
    const std::string written = hibe_c::WriteJsonMap(*map);
    auto again = hibe_c::ReadJsonMap(written);
    fuzz::Check(again.has_value() && *again == *map, "write then read returns the map");
    fuzz::Check(hibe_c::WriteJsonMap(*again) == written, "writing is deterministic");
    return 0;
}
