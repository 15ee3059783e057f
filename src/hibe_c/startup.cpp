#include "hibe_c/startup.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "bn256/constants.h"
#include "bn256/cpu.h"
#include "crypto/crypto.h"
#include "crypto/sym.h"

namespace hibe_c {
namespace {

// The module start-ups, in the order the library runs them: the algorithm-name
// tables, the processor features (read by the curve constants), the curve
// constants, the key-length errors of the symmetric key factory. A new module
// with a start-up of its own adds its step here.
constexpr void (*kStartupSteps[])() = {
    crypto::init,
    bn256::detectCpuFeatures,
    bn256::init,
    sym::init,
};

struct Readiness {
    std::mutex mu;
    std::condition_variable cv;
    bool ready = false;
    std::once_flag once;
};

// Built on first use, so it exists whichever runs first: the load-time
// constructor below or a call from a test. Never destroyed, so a start-up thread
// still running at process exit never meets a destroyed mutex.
Readiness& readiness() {
    static Readiness* r = new Readiness;
    return *r;
}

void runSteps() {
    for (auto step : kStartupSteps) step();
    Readiness& r = readiness();
    {
        std::lock_guard lock(r.mu);
        r.ready = true;
    }
    r.cv.notify_all();
}

// Runs when the shared object is loaded: starts the start-up on a thread of the
// library's own and returns at once. If no thread can be started, the start-up
// runs here instead, so the library still becomes ready.
__attribute__((constructor)) void startOnLoad() {
    try {
        std::thread(RunStartup).detach();
    } catch (...) {
        RunStartup();
    }
}

}  // namespace

void RunStartup() {
    std::call_once(readiness().once, runSteps);
}

void WaitUntilReady() {
    Readiness& r = readiness();
    std::unique_lock lock(r.mu);
    r.cv.wait(lock, [&] { return r.ready; });
}

bool IsReady() {
    Readiness& r = readiness();
    std::lock_guard lock(r.mu);
    return r.ready;
}

}  // namespace hibe_c
