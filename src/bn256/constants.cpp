#include "bn256/constants.h"

namespace bn256 {

void init() {}

}  // namespace bn256
