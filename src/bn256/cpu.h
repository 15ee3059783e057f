// Processor features that choose between equivalent arithmetic routines.
#pragma once

namespace bn256 {

// Detects the processor's features (CPUID); second step of the start-up.
void detectCpuFeatures();

}  // namespace bn256
