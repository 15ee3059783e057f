// The main of the benchmark programs: the library's start-up, as at load, then
// the benchmarks. The start-up turns on the MULX path where the processor has it.
#include <benchmark/benchmark.h>

#include "hibe_c/startup.h"

int main(int argc, char** argv) {
    hibe_c::RunStartup();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
