#include "bn256/cpu.h"

namespace bn256 {

void detectCpuFeatures() {}

}  // namespace bn256
