// Speed of the pairing library's group operations: scalar multiplication in G1,
// G2 and GT (of a pairing output and of a decoded element) by a random secret
// scalar on the constant-time routes, and by a public scalar on the variable-time
// routes (...Public), the pairing, and the G1 and G2 decoders (the latter includes
// the subgroup check).
#include <benchmark/benchmark.h>
#include <gmpxx.h>

#include <cstdint>
#include <random>
#include <span>

#include "bn256/bn256.h"
#include "bn256/constants.h"
#include "bn256/optate.h"

namespace {

// A reproducible random source, so every run measures the same scalars.
class BenchRandom final : public common::RandomSource {
public:
    common::Status Fill(std::span<std::uint8_t> out) override {
        for (auto& b : out) b = static_cast<std::uint8_t>(engine_());
        return {};
    }

private:
    std::mt19937_64 engine_{42};
};

BenchRandom& source() {
    static BenchRandom r;
    return r;
}

// A random scalar: secret (fixed width, for the constant-time routes) or public.
bn256::Scalar secretScalar() { return *bn256::randomK(source()); }
mpz_class scalar() { return secretScalar().ToMpz(); }

void BM_G1ScalarMult(benchmark::State& state) {
    const bn256::G1 a = bn256::RandomG1(source())->element;
    const bn256::Scalar k = secretScalar();
    bn256::G1 e;
    for (auto _ : state) {
        e.ScalarMult(a, k);
        benchmark::DoNotOptimize(e);
    }
}
BENCHMARK(BM_G1ScalarMult)->Unit(benchmark::kMicrosecond);

void BM_G1ScalarMultPublic(benchmark::State& state) {
    const bn256::G1 a = bn256::RandomG1(source())->element;
    const mpz_class k = scalar();
    bn256::G1 e;
    for (auto _ : state) {
        e.ScalarMult(a, k);
        benchmark::DoNotOptimize(e);
    }
}
BENCHMARK(BM_G1ScalarMultPublic)->Unit(benchmark::kMicrosecond);

void BM_G2ScalarMult(benchmark::State& state) {
    const bn256::G2 a = bn256::RandomG2(source())->element;
    const bn256::Scalar k = secretScalar();
    bn256::G2 e;
    for (auto _ : state) {
        e.ScalarMult(a, k);
        benchmark::DoNotOptimize(e);
    }
}
BENCHMARK(BM_G2ScalarMult)->Unit(benchmark::kMicrosecond);

void BM_G2ScalarMultPublic(benchmark::State& state) {
    const bn256::G2 a = bn256::RandomG2(source())->element;
    const mpz_class k = scalar();
    bn256::G2 e;
    for (auto _ : state) {
        e.ScalarMult(a, k);
        benchmark::DoNotOptimize(e);
    }
}
BENCHMARK(BM_G2ScalarMultPublic)->Unit(benchmark::kMicrosecond);

void BM_GTScalarMult(benchmark::State& state) {
    const bn256::GT a = bn256::Pair(bn256::RandomG1(source())->element, bn256::RandomG2(source())->element);
    const bn256::Scalar k = secretScalar();
    bn256::GT e;
    for (auto _ : state) {
        e.ScalarMult(a, k);
        benchmark::DoNotOptimize(e);
    }
}
BENCHMARK(BM_GTScalarMult)->Unit(benchmark::kMicrosecond);

void BM_GTScalarMultPublic(benchmark::State& state) {
    const bn256::GT a = bn256::Pair(bn256::RandomG1(source())->element, bn256::RandomG2(source())->element);
    const mpz_class k = scalar();
    bn256::GT e;
    for (auto _ : state) {
        e.ScalarMult(a, k);
        benchmark::DoNotOptimize(e);
    }
}
BENCHMARK(BM_GTScalarMultPublic)->Unit(benchmark::kMicrosecond);

// The same power of an element decoded from bytes, which is not known to be in
// GT and so takes the plain route.
void BM_GTScalarMultDecoded(benchmark::State& state) {
    const bn256::GT paired = bn256::Pair(bn256::RandomG1(source())->element, bn256::RandomG2(source())->element);
    bn256::GT a;
    (void)a.Unmarshal(paired.Marshal());
    const bn256::Scalar k = secretScalar();
    bn256::GT e;
    for (auto _ : state) {
        e.ScalarMult(a, k);
        benchmark::DoNotOptimize(e);
    }
}
BENCHMARK(BM_GTScalarMultDecoded)->Unit(benchmark::kMicrosecond);

void BM_Pair(benchmark::State& state) {
    const bn256::G1 a = bn256::RandomG1(source())->element;
    const bn256::G2 b = bn256::RandomG2(source())->element;
    for (auto _ : state) {
        bn256::GT e = bn256::Pair(a, b);
        benchmark::DoNotOptimize(e);
    }
}
BENCHMARK(BM_Pair)->Unit(benchmark::kMicrosecond);

// Two pairings in one product, as a decryption computes them.
void BM_PairProduct2(benchmark::State& state) {
    const bn256::G1 a = bn256::RandomG1(source())->element, c = bn256::RandomG1(source())->element;
    const bn256::G2 b = bn256::RandomG2(source())->element, d = bn256::RandomG2(source())->element;
    const bn256::PairTerm terms[2] = {{&a, &b}, {&c, &d, true}};
    for (auto _ : state) {
        bn256::GT e = bn256::PairProduct(terms);
        benchmark::DoNotOptimize(e);
    }
}
BENCHMARK(BM_PairProduct2)->Unit(benchmark::kMicrosecond);

// The two halves of a pairing: the Miller loop (affine copies of the points
// included) and the final exponentiation of its value.
void BM_MillerLoop(benchmark::State& state) {
    bn256::twistPoint q;
    q.Mul(bn256::twistGen, scalar());
    bn256::curvePoint p;
    p.Mul(bn256::curveGen, scalar());
    for (auto _ : state) {
        bn256::gfP12 f = bn256::miller(q, p);
        benchmark::DoNotOptimize(f);
    }
}
BENCHMARK(BM_MillerLoop)->Unit(benchmark::kMicrosecond);

void BM_FinalExponentiation(benchmark::State& state) {
    const bn256::gfP12 f = bn256::miller(bn256::twistGen, bn256::curveGen);
    for (auto _ : state) {
        bn256::gfP12 e = bn256::finalExponentiation(f);
        benchmark::DoNotOptimize(e);
    }
}
BENCHMARK(BM_FinalExponentiation)->Unit(benchmark::kMicrosecond);

void BM_G1Unmarshal(benchmark::State& state) {
    const common::Bytes m = bn256::RandomG1(source())->element.Marshal();
    bn256::G1 e;
    for (auto _ : state) {
        auto rest = e.Unmarshal(m);
        benchmark::DoNotOptimize(rest);
    }
}
BENCHMARK(BM_G1Unmarshal)->Unit(benchmark::kMicrosecond);

void BM_G2Unmarshal(benchmark::State& state) {
    const common::Bytes m = bn256::RandomG2(source())->element.Marshal();
    bn256::G2 e;
    for (auto _ : state) {
        auto rest = e.Unmarshal(m);
        benchmark::DoNotOptimize(rest);
    }
}
BENCHMARK(BM_G2Unmarshal)->Unit(benchmark::kMicrosecond);

}  // namespace
