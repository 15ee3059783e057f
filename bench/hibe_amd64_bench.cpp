// Speed of the message layer: encryption for many receivers of one hierarchy
// and decryption with and without key derivation.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/random.h"
#include "crypto/crypto.h"
#include "hibe_amd64/hibe_fast.h"

namespace {

constexpr std::int64_t kDepth = 3;

struct Org {
    hibe::SetupResult setup;
    std::vector<std::string> receivers;  // unrelated one-level identities R0, R1, ...
};

Org& org() {
    static Org* o = [] {
        auto setup = hibe_fast::Setup(common::SystemRandom(), kDepth);
        if (!setup) std::abort();
        auto* made = new Org{std::move(*setup), {}};
        for (int i = 0; i < 100; ++i) {
            made->receivers.push_back(std::string("R").append(std::to_string(i)));
        }
        return made;
    }();
    return *o;
}

hibe::PrivateKey keyOf(std::string_view id) {
    auto key = hibe_fast::KeyGenFromMaster(common::SystemRandom(), org().setup.params,
                                           org().setup.masterKey,
                                           hibe_fast::IdStr2HibeId(id).value().hibeId);
    if (!key) std::abort();
    return std::move(*key);
}

// Args: receivers, message bytes. The receivers share one parameter record, as
// the library interface shares one decoded record among equal encodings; a fresh
// copy per call starts with an empty pairing cache.
void BM_EncryptHibeMsg(benchmark::State& state) {
    const auto receivers = static_cast<std::size_t>(state.range(0));
    const std::string plaintext(static_cast<std::size_t>(state.range(1)), 'm');
    std::vector<std::string> ids(org().receivers.begin(),
                                 org().receivers.begin() + static_cast<std::ptrdiff_t>(receivers));
    hibe::Params decoded;
    if (!decoded.Unmarshal(org().setup.params.Marshal()).second) std::abort();
    for (auto _ : state) {
        hibe::Params record = decoded;
        std::vector<hibe::Params*> list(receivers, &record);
        auto map = hibe_fast::EncryptHibeMsg(common::AsBytes(plaintext), ids, list, crypto::AES);
        if (!map) state.SkipWithError(map.error().Message().c_str());
        benchmark::DoNotOptimize(map);
    }
}
BENCHMARK(BM_EncryptHibeMsg)
    ->ArgsProduct({{1, 10, 100}, {1 << 10, 1 << 20}})
    ->ArgNames({"receivers", "bytes"})
    ->Unit(benchmark::kMillisecond);

// Arg: levels derived between the holder and the receiver (0: the receiver itself).
void BM_DecryptHibeMsg(benchmark::State& state) {
    const std::string plaintext(1 << 10, 'm');
    std::vector<std::string> ids = {"A/B/C"};
    hibe::Params record = org().setup.params;
    std::vector<hibe::Params*> list = {&record};
    auto map = hibe_fast::EncryptHibeMsg(common::AsBytes(plaintext), ids, list, crypto::AES);
    if (!map) std::abort();
    const std::string holder = state.range(0) == 0 ? "A/B/C" : "A";
    const hibe::PrivateKey key = keyOf(holder);
    for (auto _ : state) {
        auto got = hibe_fast::DecryptHibeMsg(holder, &org().setup.params, &key, &*map, crypto::AES);
        if (!got) state.SkipWithError(got.error().Message().c_str());
        benchmark::DoNotOptimize(got);
    }
}
BENCHMARK(BM_DecryptHibeMsg)->Arg(0)->Arg(2)->ArgName("derived")->Unit(benchmark::kMillisecond);

}  // namespace
