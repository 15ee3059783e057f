#include "hibe_c/hibe_c.h"

namespace hibe_c {

std::int64_t HibeSetup(std::int64_t, std::string_view, std::string_view) { return 1; }

std::int64_t KeyGenFromMaster(std::string_view, std::string_view, std::string_view,
                              std::string_view) {
    return 1;
}

}  // namespace hibe_c
