#include "bn256/cpu.h"

#include <cpuid.h>

namespace bn256 {
namespace {

// Written once by detectCpuFeatures during the start-up, read afterwards.
bool detectedBMI2 = false;

}  // namespace

void detectCpuFeatures() {
    // Leaf 7 exists only when the highest standard leaf (leaf 0, EAX) is at least 7.
    unsigned int maxLeaf = __get_cpuid_max(0, nullptr);
    if (maxLeaf < 7) {
        detectedBMI2 = false;
        return;
    }
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    constexpr unsigned int kBMI2 = 1u << 8;  // leaf 7, sub-leaf 0, EBX bit 8
    detectedBMI2 = (ebx & kBMI2) != 0;
}

bool cpuHasBMI2() { return detectedBMI2; }

}  // namespace bn256
