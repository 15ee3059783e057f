// The five exported functions as a host calls them, through libhibe.so, on an
// organisation of depth 3 in a scratch directory. Each call decodes its
// arguments afresh, as every host call does.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hibe/hibe.h"
#include "hibe/hibe_list.h"

namespace {

namespace fs = std::filesystem;

StringRef sref(const std::string& s) { return {s.data(), static_cast<int64_t>(s.size())}; }

std::string take(ReadKey_return r) {
    if (r.r0 == nullptr) std::abort();
    std::string bytes(static_cast<const char*>(r.r0), static_cast<std::size_t>(r.r1));
    std::free(r.r0);
    return bytes;
}

// One organisation "org" with the keys of A and A/B/C, and a message map for
// A/B/C.
struct Organisation {
    fs::path dir = fs::temp_directory_path() / ("hibe_exports_bench_" + std::to_string(::getpid()));
    std::string params, keyA, keyABC;

    Organisation() {
        fs::remove_all(dir);
        fs::create_directories(dir);
        // The setup's two path lines go nowhere.
        int saved = ::dup(1);
        int devNull = ::open("/dev/null", O_WRONLY);
        ::dup2(devNull, 1);
        if (HibeSetup(3, sref("org"), sref(dir.string())) != 0) std::abort();
        ::dup2(saved, 1);
        ::close(devNull);
        ::close(saved);
        for (const char* id : {"A", "A/B/C"}) {
            if (KeyGenFromMaster(sref(id), sref(dir.string()), sref(masterPath()), sref(paramsPath())) != 0)
                std::abort();
        }
        params = take(ReadKey(sref(paramsPath())));
        keyA = take(ReadKey(sref((dir / "privateKeys/A.privateKey").string())));
        keyABC = take(ReadKey(sref((dir / "privateKeys/A#B#C.privateKey").string())));
    }
    ~Organisation() { fs::remove_all(dir); }

    std::string paramsPath() const { return (dir / "org/org.params").string(); }
    std::string masterPath() const { return (dir / "org/org.masterKey").string(); }
};

Organisation& org() {
    static Organisation o;
    return o;
}

// The list blobs for receivers X0, X1, … of the organisation.
struct Blobs {
    HibeList ids, params;
    explicit Blobs(int receivers) {
        std::vector<std::string> names;
        for (int i = 0; i < receivers; ++i) names.push_back(std::string(1, 'X').append(std::to_string(i)));
        std::vector<const char*> idValues;
        std::vector<const void*> paramsValues;
        std::vector<int> paramsLens;
        for (const auto& name : names) {
            idValues.push_back(name.c_str());
            paramsValues.push_back(org().params.data());
            paramsLens.push_back(static_cast<int>(org().params.size()));
        }
        ids = HibeListOfStrings(receivers, idValues.data(), nullptr);
        params = HibeListOfBytes(receivers, paramsValues.data(), paramsLens.data());
    }
    ~Blobs() {
        HibeListFree(&ids);
        HibeListFree(&params);
    }
};

std::string encrypt(const std::string& message, const HibeList& ids, const HibeList& params) {
    EncryptHibeMsg_return r = EncryptHibeMsg(const_cast<char*>(message.data()), static_cast<int>(message.size()),
                                             reinterpret_cast<char*>(ids.p), static_cast<int>(ids.n),
                                             reinterpret_cast<char*>(params.p), static_cast<int>(params.n), 0);
    return take({r.r0, r.r1});
}

void BM_HibeSetup(benchmark::State& state) {
    const fs::path dir = org().dir / "setup";
    int saved = ::dup(1);
    int devNull = ::open("/dev/null", O_WRONLY);
    ::dup2(devNull, 1);
    int n = 0;
    for (auto _ : state) {
        const std::string orgId = std::string("org").append(std::to_string(n++));
        if (HibeSetup(3, sref(orgId), sref(dir.string())) != 0) std::abort();
    }
    ::dup2(saved, 1);
    ::close(devNull);
    ::close(saved);
    fs::remove_all(dir);
}
BENCHMARK(BM_HibeSetup)->Unit(benchmark::kMillisecond);

void BM_KeyGenFromMaster(benchmark::State& state) {
    const std::string out = (org().dir / "keygen").string();
    int n = 0;
    for (auto _ : state) {
        const std::string id = std::string("K/").append(std::to_string(n++));
        if (KeyGenFromMaster(sref(id), sref(out), sref(org().masterPath()),
                             sref(org().paramsPath())) != 0)
            std::abort();
    }
    fs::remove_all(out);
}
BENCHMARK(BM_KeyGenFromMaster)->Unit(benchmark::kMillisecond);

// Arg: the size of the file read, in bytes (a key file is a few hundred).
void BM_ReadKey(benchmark::State& state) {
    const std::string path = (org().dir / ("read_" + std::to_string(state.range(0)))).string();
    {
        std::ofstream(path, std::ios::binary) << std::string(static_cast<std::size_t>(state.range(0)), 'k');
    }
    for (auto _ : state) {
        ReadKey_return r = ReadKey(sref(path));
        if (r.r1 != state.range(0)) std::abort();
        std::free(r.r0);
    }
    fs::remove(path);
}
BENCHMARK(BM_ReadKey)->Arg(512)->Arg(1 << 20)->ArgName("bytes")->Unit(benchmark::kMicrosecond);

// Arg: receivers of the one organisation.
void BM_EncryptHibeMsg(benchmark::State& state) {
    Blobs blobs(static_cast<int>(state.range(0)));
    const std::string message(1024, 'm');
    for (auto _ : state) benchmark::DoNotOptimize(encrypt(message, blobs.ids, blobs.params));
}
BENCHMARK(BM_EncryptHibeMsg)->Arg(1)->Arg(10)->ArgName("receivers")->Unit(benchmark::kMillisecond);

// Arg: levels derived between the holder and the receiver A/B/C (0 or 2).
void BM_DecryptHibeMsg(benchmark::State& state) {
    const std::string receiver = "A/B/C";
    const char* receiverValue = receiver.c_str();
    HibeList ids = HibeListOfStrings(1, &receiverValue, nullptr);
    const void* paramsValue = org().params.data();
    int paramsLen = static_cast<int>(org().params.size());
    HibeList params = HibeListOfBytes(1, &paramsValue, &paramsLen);
    std::string map = encrypt(std::string(1024, 'm'), ids, params);
    HibeListFree(&ids);
    HibeListFree(&params);

    const bool derive = state.range(0) > 0;
    std::string holder = derive ? "A" : "A/B/C";
    std::string& key = derive ? org().keyA : org().keyABC;
    for (auto _ : state) {
        DecryptHibeMsg_return r = DecryptHibeMsg(
            holder.data(), static_cast<int>(holder.size()), org().params.data(),
            static_cast<int>(org().params.size()), key.data(), static_cast<int>(key.size()),
            map.data(), static_cast<int>(map.size()), 0);
        if (r.r0 == nullptr) std::abort();
        std::free(r.r0);
    }
}
BENCHMARK(BM_DecryptHibeMsg)->Arg(0)->Arg(2)->ArgName("derived")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
