// Speed of the field arithmetic that the pairing is built from: the Montgomery
// product on both code paths, and the GF(p^2), GF(p^6) and GF(p^12) products.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "bn256/cpu.h"
#include "bn256/gfp.h"
#include "bn256/gfp12.h"
#include "bn256/gfp2.h"
#include "bn256/gfp6.h"

namespace {

using bn256::gfP;
using bn256::gfP12;
using bn256::gfP2;
using bn256::gfP6;

// Elements with limbs from a fixed seed, reduced by repeated products so that
// they are valid field elements.
gfP Element(std::mt19937_64& rng) {
    gfP e{{rng(), rng(), rng(), rng() >> 3}};
    bn256::gfpMulGeneric(e, e, bn256::r2);
    return e;
}

gfP2 Element2(std::mt19937_64& rng) { return {Element(rng), Element(rng)}; }
gfP6 Element6(std::mt19937_64& rng) { return {Element2(rng), Element2(rng), Element2(rng)}; }
gfP12 Element12(std::mt19937_64& rng) { return {Element6(rng), Element6(rng)}; }

// Unless said otherwise, each iteration feeds its result into the next, so the
// figures are latencies.
void BM_GfpMulGeneric(benchmark::State& state) {
    std::mt19937_64 rng(1);
    gfP a = Element(rng), b = Element(rng);
    for (auto _ : state) {
        bn256::gfpMulGeneric(a, a, b);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_GfpMulGeneric);

void BM_GfpMulBMI2(benchmark::State& state) {
    if (!bn256::cpuHasBMI2()) {
        state.SkipWithError("no BMI2 on this processor");
        return;
    }
    std::mt19937_64 rng(1);
    gfP a = Element(rng), b = Element(rng);
    for (auto _ : state) {
        bn256::gfpMulBMI2(a, a, b);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_GfpMulBMI2);

// Four independent products per iteration: the rate at which the processor
// completes Montgomery products when they do not wait on each other, as in
// the four products of gfP2::Mul.
template <void (*Mul)(gfP&, const gfP&, const gfP&)>
void MulThroughput(benchmark::State& state) {
    std::mt19937_64 rng(1);
    gfP a = Element(rng), b = Element(rng), c = Element(rng), d = Element(rng);
    const gfP k = Element(rng);
    for (auto _ : state) {
        Mul(a, a, k);
        Mul(b, b, k);
        Mul(c, c, k);
        Mul(d, d, k);
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(b);
        benchmark::DoNotOptimize(c);
        benchmark::DoNotOptimize(d);
    }
    state.SetItemsProcessed(4 * state.iterations());
}

void BM_GfpMulGenericThroughput(benchmark::State& state) {
    MulThroughput<bn256::gfpMulGeneric>(state);
}
BENCHMARK(BM_GfpMulGenericThroughput);

void BM_GfpMulBMI2Throughput(benchmark::State& state) {
    if (!bn256::cpuHasBMI2()) {
        state.SkipWithError("no BMI2 on this processor");
        return;
    }
    MulThroughput<bn256::gfpMulBMI2>(state);
}
BENCHMARK(BM_GfpMulBMI2Throughput);

// The dispatching gfpMul, as the tower calls it.
void BM_GfpMul(benchmark::State& state) {
    std::mt19937_64 rng(1);
    gfP a = Element(rng), b = Element(rng);
    for (auto _ : state) {
        bn256::gfpMul(a, a, b);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_GfpMul);

void BM_GfpAdd(benchmark::State& state) {
    std::mt19937_64 rng(1);
    gfP a = Element(rng), b = Element(rng);
    for (auto _ : state) {
        bn256::gfpAdd(a, a, b);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_GfpAdd);

void BM_GfpInvert(benchmark::State& state) {
    std::mt19937_64 rng(1);
    gfP a = Element(rng);
    for (auto _ : state) {
        a.Invert(a);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_GfpInvert);

void BM_GfP2Mul(benchmark::State& state) {
    std::mt19937_64 rng(2);
    gfP2 a = Element2(rng), b = Element2(rng);
    for (auto _ : state) {
        a.Mul(a, b);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_GfP2Mul);

void BM_GfP2Square(benchmark::State& state) {
    std::mt19937_64 rng(2);
    gfP2 a = Element2(rng);
    for (auto _ : state) {
        a.Square(a);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_GfP2Square);

void BM_GfP2Invert(benchmark::State& state) {
    std::mt19937_64 rng(2);
    gfP2 a = Element2(rng);
    for (auto _ : state) {
        a.Invert(a);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_GfP2Invert);

void BM_GfP6Mul(benchmark::State& state) {
    std::mt19937_64 rng(3);
    gfP6 a = Element6(rng), b = Element6(rng);
    for (auto _ : state) {
        a.Mul(a, b);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_GfP6Mul);

void BM_GfP6Square(benchmark::State& state) {
    std::mt19937_64 rng(3);
    gfP6 a = Element6(rng);
    for (auto _ : state) {
        a.Square(a);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_GfP6Square);

void BM_GfP6Invert(benchmark::State& state) {
    std::mt19937_64 rng(3);
    gfP6 a = Element6(rng);
    for (auto _ : state) {
        a.Invert(a);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_GfP6Invert);

void BM_GfP12Mul(benchmark::State& state) {
    std::mt19937_64 rng(4);
    gfP12 a = Element12(rng), b = Element12(rng);
    for (auto _ : state) {
        a.Mul(a, b);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_GfP12Mul);

void BM_GfP12Square(benchmark::State& state) {
    std::mt19937_64 rng(4);
    gfP12 a = Element12(rng);
    for (auto _ : state) {
        a.Square(a);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_GfP12Square);

void BM_GfP12Invert(benchmark::State& state) {
    std::mt19937_64 rng(5);
    gfP12 a = Element12(rng);
    for (auto _ : state) {
        a.Invert(a);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_GfP12Invert);

}  // namespace
