// Processor features that choose between equivalent arithmetic routines.
#pragma once

namespace bn256 {

// Detects the processor's features with CPUID; the second step of the start-up.
// BMI2 is CPUID leaf 7, sub-leaf 0, EBX bit 8, and absent when the highest
// standard leaf is below 7.
void detectCpuFeatures();

// The BMI2 bit found by detectCpuFeatures (false before it runs). bn256::init
// copies it into hasBMI2, which is what the field arithmetic reads.
bool cpuHasBMI2();

}  // namespace bn256
