// Peak memory of one EncryptHibeMsg call through libhibe.so, as a host makes
// it: a 256 MiB message (or the size in MiB given as the only argument) for one
// receiver, A/B, of the known-answer organisation.
//
// Prints the resident set before the call (the host's message included), the
// peak during it, and the peak above the starting point per byte of message.
// Not a Google Benchmark: any other argument is refused at once, so that
// runners of every program under bench/ pass over it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "hibe/hibe.h"
#include "hibe/hibe_list.h"

namespace {

// A field of /proc/self/status in kiB: VmRSS (now) or VmHWM (the peak).
long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, n, field) == 0 && line[n] == ':') return std::atol(line.c_str() + n + 1);
    }
    return -1;
}

// Sets VmHWM back to the current resident set.
bool resetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    return static_cast<bool>(clear.flush());
}

std::string encrypt(std::string& message, const HibeList& ids, const HibeList& params) {
    EncryptHibeMsg_return r =
        EncryptHibeMsg(message.data(), static_cast<int>(message.size()), ids.p, ids.n, params.p,
                       params.n, 0);
    if (r.r0 == nullptr) std::abort();
    std::string head(static_cast<const char*>(r.r0), static_cast<std::size_t>(r.r1 < 16 ? r.r1 : 16));
    std::free(r.r0);
    return head + " … (" + std::to_string(r.r1) + " bytes)";
}

}  // namespace

int main(int argc, char** argv) {
    long mib = 256;
    if (argc > 2 || (argc == 2 && (mib = std::atol(argv[1])) <= 0)) {
        std::fprintf(stderr, "usage: %s [MiB of message, default 256]\n", argv[0]);
        return 2;
    }

    std::ifstream in(HIBE_TEST_DATA "/org.params", std::ios::binary);
    const std::string params((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (params.empty()) return 1;
    const char* receiver = "A/B";
    const void* paramsValue = params.data();
    const int paramsLen = static_cast<int>(params.size());
    HibeList ids = HibeListOfStrings(1, &receiver, nullptr);
    HibeList paramsList = HibeListOfBytes(1, &paramsValue, &paramsLen);

    // A small call first, so that the library's start-up is not counted.
    std::string small = "warm up";
    encrypt(small, ids, paramsList);

    std::string message(static_cast<std::size_t>(mib) << 20, 'm');
    const long before = statusKiB("VmRSS");
    if (!resetPeak()) std::fprintf(stderr, "cannot reset the peak; it may include earlier use\n");
    const std::string result = encrypt(message, ids, paramsList);
    const long peak = statusKiB("VmHWM");

    const double messageKiB = static_cast<double>(mib) * 1024;
    std::printf("message      %ld MiB\n", mib);
    std::printf("map          %s\n", result.c_str());
    std::printf("RSS before   %.1f MiB (the message included)\n", before / 1024.0);
    std::printf("peak RSS     %.1f MiB\n", peak / 1024.0);
    std::printf("peak above   %.2f x the message\n", (peak - before) / messageKiB);
    HibeListFree(&ids);
    HibeListFree(&paramsList);
    return 0;
}
