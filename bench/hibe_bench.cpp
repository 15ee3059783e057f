// Speed of the scheme's operations on a hierarchy of depth 3, with identity
// levels of full 256 bits as the identity layer makes them.
#include <benchmark/benchmark.h>

#include <utility>

#include "common/random.h"
#include "hibe/scheme.h"

namespace {

constexpr std::int64_t kDepth = 3;

struct Fixture {
    hibe::Params params;
    hibe::MasterKey master;
    hibe::HibeId id;        // depth 3
    hibe::HibeId parentId;  // its first two levels
    hibe::PrivateKey parent;
    hibe::PrivateKey key;
    hibe::Ciphertext ciphertext;
};

// Built once: the start-up has run by the time the first benchmark asks for it.
Fixture& fixture() {
    static Fixture* f = [] {
        common::RandomSource& rand = common::SystemRandom();
        auto* out = new Fixture;
        auto setup = hibe::Setup(rand, kDepth);
        out->params = std::move(setup->params);
        out->master = std::move(setup->masterKey);
        for (std::int64_t i = 0; i < kDepth; ++i) {
            std::uint8_t level[32];
            (void)rand.Fill(level);
            level[0] |= 0x80;
            mpz_class k;
            mpz_import(k.get_mpz_t(), sizeof level, 1, 1, 1, 0, level);
            out->id.push_back(k);
        }
        out->parentId = hibe::HibeId(out->id.begin(), out->id.end() - 1);
        out->parent = *hibe::KeyGenFromMaster(rand, out->params, out->master, out->parentId);
        out->key = *hibe::KeyGenFromMaster(rand, out->params, out->master, out->id);
        auto g1 = bn256::RandomG1(rand);
        auto g2 = bn256::RandomG2(rand);
        out->ciphertext =
            *hibe::Encrypt(rand, out->params, out->id, bn256::Pair(g1->element, g2->element));
        return out;
    }();
    return *f;
}

void BM_Setup(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(hibe::Setup(common::SystemRandom(), kDepth));
}
BENCHMARK(BM_Setup)->Unit(benchmark::kMicrosecond);

void BM_KeyGenFromMaster(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            hibe::KeyGenFromMaster(common::SystemRandom(), f.params, f.master, f.id));
    }
}
BENCHMARK(BM_KeyGenFromMaster)->Unit(benchmark::kMicrosecond);

void BM_KeyGenFromParent(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            hibe::KeyGenFromParent(common::SystemRandom(), f.params, f.parent, f.id));
    }
}
BENCHMARK(BM_KeyGenFromParent)->Unit(benchmark::kMicrosecond);

// Every call computes the pairing e(G2, G1) again.
void BM_EncryptColdCache(benchmark::State& state) {
    Fixture& f = fixture();
    hibe::Params params = f.params;
    const bn256::GT m = f.ciphertext.A;
    for (auto _ : state) {
        params.Pairing.reset();
        benchmark::DoNotOptimize(hibe::Encrypt(common::SystemRandom(), params, f.id, m));
    }
}
BENCHMARK(BM_EncryptColdCache)->Unit(benchmark::kMicrosecond);

void BM_EncryptWarmCache(benchmark::State& state) {
    Fixture& f = fixture();
    hibe::Params params = f.params;
    params.Pairing = bn256::Pair(params.G2, params.G1);
    const bn256::GT m = f.ciphertext.A;
    for (auto _ : state) {
        benchmark::DoNotOptimize(hibe::Encrypt(common::SystemRandom(), params, f.id, m));
    }
}
BENCHMARK(BM_EncryptWarmCache)->Unit(benchmark::kMicrosecond);

void BM_Decrypt(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) benchmark::DoNotOptimize(hibe::Decrypt(f.key, f.ciphertext));
}
BENCHMARK(BM_Decrypt)->Unit(benchmark::kMicrosecond);

void BM_ParamsUnmarshal(benchmark::State& state) {
    const common::Bytes encoded = fixture().params.Marshal();
    for (auto _ : state) {
        hibe::Params params;
        benchmark::DoNotOptimize(params.Unmarshal(encoded));
    }
}
BENCHMARK(BM_ParamsUnmarshal)->Unit(benchmark::kMicrosecond);

}  // namespace
