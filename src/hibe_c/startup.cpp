#include "hibe_c/startup.h"

#include <pthread.h>

#include <condition_variable>
#include <cstddef>
#include <iterator>
#include <memory>
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
constexpr std::size_t kStepCount = std::size(kStartupSteps);

// The state shared by the start-up, the calls and fork, all under mu.
//
// A start-up step runs with mu held, and a fork holds mu from its prepare
// handler on, so a fork falls between two steps, never inside one: the module
// steps are guarded by once-flags that a child would run again over half-built
// values. A fork also waits, with mu, until no call is inside the library
// (calls == 0), and no call enters while it is under way (forking). Only the
// forking thread lives on in the child, so whatever a call holds while it runs
// (OpenSSL takes locks of its own on every cipher and digest set-up; a
// function-local constant is made under a guard) is free there.
struct Frame {
    std::mutex mu;
    // Readiness, the end of a fork, and the last call leaving while a fork waits.
    std::condition_variable changed;
    std::size_t stepsDone = 0;
    std::size_t calls = 0;
    bool forking = false;
    // Whether a thread is running the start-up for this process or will: the
    // load-time thread. A child of a fork has no such thread; its calls run the
    // steps left themselves.
    bool runner = false;
    // The load-time thread, whether it has begun its work and whether it is done
    // with the frame. A fork waits until it has begun, and the first call or fork
    // after the start-up waits until it is done and joins it: it is never on its
    // way in or out (setting up or freeing its memory) when the process forks.
    std::thread thread;
    bool threadBegun = false;
    bool threadDone = false;

    bool ready() const { return stepsDone == kStepCount; }
};

// Built at load, before any fork handler can run, and never destroyed, so a
// start-up thread still running at process exit never meets a destroyed mutex.
Frame& frame() {
    static Frame* f = new Frame;
    return *f;
}

// Whether the load-time thread, after the start-up, is still to leave the frame.
bool threadLeaving(const Frame& f) { return f.ready() && f.thread.joinable() && !f.threadDone; }

// Whether the load-time thread is on its way in or out.
bool threadMoving(const Frame& f) {
    return f.thread.joinable() && (!f.threadBegun || threadLeaving(f));
}

// Joins the load-time thread once it has left the frame; mu held.
void joinStartupThread(Frame& f) {
    if (f.threadDone && f.thread.joinable()) f.thread.join();
}

void startupThread() {
    Frame& f = frame();
    {
        std::lock_guard lock(f.mu);
        f.threadBegun = true;
    }
    f.changed.notify_all();
    RunStartup();
    {
        std::lock_guard lock(f.mu);
        f.threadDone = true;
    }
    f.changed.notify_all();
}

void forkPrepare() {
    Frame& f = frame();
    f.mu.lock();
    f.forking = true;
    std::unique_lock lock(f.mu, std::adopt_lock);
    f.changed.wait(lock, [&] { return f.calls == 0 && !threadMoving(f); });
    joinStartupThread(f);
    lock.release();  // held across fork
}

void forkParent() {
    Frame& f = frame();
    f.forking = false;
    f.mu.unlock();
    f.changed.notify_all();
}

// In the child, threads that waited in the parent are gone, but the condition
// variable still counts them: the child gets a fresh one (the old one is
// dropped, not destroyed, which would wait for those waiters).
void forkChild() {
    Frame& f = frame();
    f.forking = false;
    f.runner = false;
    std::construct_at(&f.changed);
    std::construct_at(&f.thread);  // forget the parent's thread, if still running
    f.mu.unlock();
}

// Runs when the shared object is loaded: installs the fork handlers and starts
// the start-up on a thread of the library's own, returning at once. If no thread
// can be started, the start-up runs here instead, so the library still becomes
// ready.
__attribute__((constructor)) void startOnLoad() {
    Frame& f = frame();
    ::pthread_atfork(forkPrepare, forkParent, forkChild);
    try {
        std::lock_guard lock(f.mu);
        f.thread = std::thread(startupThread);
        f.runner = true;
    } catch (...) {
        RunStartup();
    }
}

// At exit the load-time thread is joined when it is done, and let go when it is
// still running, so that no thread of the library is left unjoined.
__attribute__((destructor)) void releaseOnExit() {
    Frame& f = frame();
    std::lock_guard lock(f.mu);
    joinStartupThread(f);
    if (f.thread.joinable()) f.thread.detach();
}

}  // namespace

void RunStartup() {
    Frame& f = frame();
    std::unique_lock lock(f.mu);
    while (!f.ready()) {
        kStartupSteps[f.stepsDone]();
        ++f.stepsDone;
        // Between two steps a fork may take mu.
        lock.unlock();
        lock.lock();
    }
    lock.unlock();
    f.changed.notify_all();
}

CallScope::CallScope() {
    Frame& f = frame();
    std::unique_lock lock(f.mu);
    while (!f.ready() || f.forking || threadLeaving(f)) {
        if (!f.ready() && !f.runner) {
            lock.unlock();
            RunStartup();
            lock.lock();
            continue;
        }
        f.changed.wait(lock);
    }
    joinStartupThread(f);
    ++f.calls;
}

CallScope::~CallScope() {
    Frame& f = frame();
    std::unique_lock lock(f.mu);
    if (--f.calls == 0 && f.forking) {
        lock.unlock();
        f.changed.notify_all();
    }
}

}  // namespace hibe_c
