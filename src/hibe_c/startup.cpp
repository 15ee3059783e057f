#include "hibe_c/startup.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>

#include "bn256/constants.h"
#include "bn256/cpu.h"
#include "common/load_time.h"
#include "crypto/crypto.h"
#include "crypto/sym.h"

namespace hibe_c {
namespace {

// The module start-ups, in the order the library runs them: the algorithm-name
// tables and the OpenSSL algorithms, the processor features (read by the curve
// constants), the curve constants and the tables built from them, the key-length
// errors of the symmetric key factory. A new module with a start-up of its own
// adds its step here.
//
// A fork that runs no fork handler (_Fork, clone, the fork system call) may cut
// a step off at any instruction; the child then runs that step again from its
// start, on the thread of its first call, over the memory as the cut left it
// (see ownFrame). So every step is restartable:
// - it builds each of its values anew, constructing into the value's storage
//   without destroying or freeing what a cut-off run left there: that may be
//   half built, and its memory may belong to a heap arena whose lock the
//   vanished thread held (the child leaks it instead);
// - it keeps no guard that a cut-off run leaves "in progress" (std::call_once,
//   pthread_once, a function-local static), which the child would wait on for
//   ever; a guard of its own is a flag set when the step has finished;
// - run again after it had finished, it gives the same values (it may find its
//   flag set and do nothing);
// - it takes no lock of its own that could outlive a cut.
// Locks inside the libraries that a step calls (OpenSSL's, the C library's
// heap and stdio locks) are beyond that: a cut while the start-up thread holds
// one leaves it held in the child, which no library can repair from outside.
constexpr void (*kStartupSteps[])() = {
    crypto::init,
    bn256::detectCpuFeatures,
    bn256::init,
    sym::init,
};
constexpr std::size_t kStepCount = std::size(kStartupSteps);

// The first steps, which enter OpenSSL's process-wide state (crypto::init), run
// on the loading thread before the load returns, and the start-up thread runs
// the rest. OpenSSL sets that state up the first time under once-guards and
// locks of its own, which no step can make restartable: a fork that runs no
// fork handler and lands while the start-up thread is inside one leaves a child
// that waits for ever when it runs the step again. Done before dlopen returns,
// no fork made after it has returned can land there; the load waits for them,
// and the steps after them touch only the library's own memory and the C heap.
constexpr std::size_t kStepsAtLoad = 1;

// Blocks every signal on the calling thread while it exists and then restores
// the thread's own mask. It is held wherever a thread may hold the frame's lock
// outside a fork, so that no handler of the host runs on a thread that holds it
// (a handler that forked would wait for a lock that its own thread holds). It
// touches a host thread's mask only before the library is ready: while the
// loading thread runs the first steps and creates the start-up thread (which
// keeps every signal blocked for its whole life), and while a call waits for
// readiness. The fork host test checks that every host thread has its own mask
// back after loading, after its calls and after a fork.
class SignalsBlocked {
public:
    SignalsBlocked() {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &saved_);
    }
    ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
    SignalsBlocked(const SignalsBlocked&) = delete;
    SignalsBlocked& operator=(const SignalsBlocked&) = delete;

private:
    sigset_t saved_;
};

// The state of the start-up, shared by the load-time thread, the calls waiting
// for readiness and the fork handlers.
//
// A fork waits for no call. The fork handlers keep only the start-up whole:
// before the library is ready, the prepare handler takes mu, which every step
// runs under, so that a fork falls between two steps (a step may hold the C++
// runtime's locks, and its values are half built until it ends; a fork that
// runs no handler may fall inside one: see kStartupSteps and ownFrame). It
// also waits while the load-time thread is on its way in or out (setting up or
// freeing its own memory: the sanitizers' allocators, unlike the C library's,
// leave a lock held in the child when a thread was inside them at the fork),
// and joins it once it is done. After readiness, and once that thread is
// joined, the handlers hold nothing.
//
// What a call may hold at a fork, and why its child is safe: a call takes no
// lock of the library's own. Every value it reads was made by the start-up and
// is only read afterwards, so no call makes a value at first use under a guard
// of the C++ runtime, which a child inherits locked when the fork lands while
// another thread makes the value (the host test host_no_first_use_guard checks
// that the library imports no such guard). Every OpenSSL cipher and digest was
// fetched by the start-up, so no call enters OpenSSL's algorithm store.
// Randomness comes from the kernel by getrandom. What a call may hold while
// another thread forks is then the C library's heap lock (GMP and OpenSSL
// allocate from the C heap too), which the C library's fork takes itself in the
// parent and hands over free to the child. (_Fork hands over nothing: a host
// that makes one while its other threads may be inside malloc, in a call or
// not, risks a child stuck in malloc whatever it loaded. In the sanitizer
// builds a call may also hold a lock of the sanitizer's own allocator, whose
// runtime here does not hand it over free: that is the runtime's, and the fork
// host test keeps calls and forks apart there.) Found by forking again and again with no wait
// for calls, right after loading with two threads calling and with four threads
// inside all five functions, and reading the stack of each child that hung:
// every one was in the guard of a function-local static that a call was making.
// With those values made by the start-up no child hung in 2,400 forks, with the
// ciphers set up by name or from fetched objects; the fork host test keeps it
// so.
struct Frame {
    std::mutex mu;
    // Readiness, and the load-time thread's arrival and leaving.
    std::condition_variable changed;
    std::size_t stepsDone = 0;
    // stepsDone == kStepCount, written under mu; a call reads it without mu.
    std::atomic<bool> ready{false};
    // Whether a thread is running the start-up for this process or will: the
    // load-time thread. A child of a fork has no such thread; its calls run the
    // steps left themselves.
    bool runner = false;
    // The load-time thread, whether it has begun its work and whether it is done
    // with the frame.
    std::thread thread;
    bool threadBegun = false;
    bool threadDone = false;
    // Whether the load-time thread is joined, or there is none in this process.
    std::atomic<bool> threadGone{false};
    // The thread whose fork holds mu, from the prepare handler to the parent or
    // child handler, or none; and that thread's signal mask before the prepare.
    std::atomic<pthread_t> forkHolder{};
    sigset_t forkMask;
    // The process whose threads mu, changed and thread belong to: the one that
    // loaded the library, or a child of a fork once it has made the frame its own
    // (see ownFrame); -pid while a thread of process pid is doing that.
    std::atomic<pid_t> owner{0};
};

// Built when the object is loaded, before any call or fork handler can run, and
// never destroyed, so a start-up thread still running at process exit never
// meets a destroyed mutex.
constinit common::LoadTimeSlot<Frame> frameSlot;

Frame& frame() { return frameSlot.value; }

// Whether the calling thread holds mu across a fork: it is in a fork handler
// (the library's, or a host's that calls in) between prepare and parent or child.
bool heldForFork(const Frame& f) {
    return pthread_equal(f.forkHolder.load(std::memory_order_relaxed), pthread_self()) != 0;
}

// Whether the load-time thread is on its way in or out: not yet begun, or done
// with the start-up but not yet done with the frame.
bool threadMoving(const Frame& f) {
    return f.thread.joinable() &&
           (!f.threadBegun || (f.ready.load(std::memory_order_relaxed) && !f.threadDone));
}

// Runs the next start-up step and marks the library ready after the last; mu
// held. The caller wakes the waiting calls. A fork that ran no handler may have
// come between the last step and readiness: then only readiness is left.
void runStep(Frame& f) {
    if (f.stepsDone < kStepCount) {
        kStartupSteps[f.stepsDone]();
        ++f.stepsDone;
    }
    if (f.stepsDone == kStepCount) f.ready.store(true, std::memory_order_release);
}

// Drops the lock, the condition variable and the load-time thread of another
// process, and gives the frame fresh ones; the steps done and readiness stay.
void takeOver(Frame& f) {
    std::construct_at(&f.mu);
    std::construct_at(&f.changed);
    std::construct_at(&f.thread);
    f.runner = false;
    f.forkHolder.store(pthread_t{}, std::memory_order_relaxed);
    f.threadGone.store(true, std::memory_order_release);
}

// Makes the frame the calling process's own; every thread runs this before it
// takes mu or waits for the load-time thread. A process that the library did
// not see forked (_Fork, clone, the fork system call: no fork handler ran)
// inherits the frame as the threads of its parent left it: mu may be held and
// the condition variable may count waiters that do not exist here, and the
// load-time thread is gone. Nothing of the frame can be trusted but what the
// steps have finished. The first thread of the process to arrive claims the
// frame, setting owner from any value that is not its own to -pid, and gives
// it a fresh lock and condition variable and no load-time thread (takeOver);
// then owner is pid, and the steps left run on the process's own threads.
// Threads that arrive meanwhile wait until owner is pid; the claim takes a few
// stores, and signals are blocked while it is held, so that no handler calling
// in waits on its own thread for it. Only a process's own threads write its
// pid or -pid there, so a value of a parent's (a parent that was claiming the
// frame itself when it forked) is claimed again in the child, and so on down
// to a child of that child. A call on a ready library never gets here.
void ownFrame(Frame& f) {
    const pid_t self = ::getpid();
    for (pid_t seen = f.owner.load(std::memory_order_acquire); seen != self;
         seen = f.owner.load(std::memory_order_acquire)) {
        if (seen == -self) {
            ::sched_yield();
            continue;
        }
        const SignalsBlocked blocked;
        if (f.owner.compare_exchange_strong(seen, -self, std::memory_order_acquire)) {
            takeOver(f);
            f.owner.store(self, std::memory_order_release);
            return;
        }
    }
}

// Returns once the library is ready. Runs the steps left on this thread when
// runSteps is set or no thread runs them for this process, else waits for them.
void awaitReady(bool runSteps) {
    Frame& f = frame();
    if (f.ready.load(std::memory_order_acquire)) return;
    const SignalsBlocked blocked;
    if (heldForFork(f)) {
        // A fork handler calls in while this thread holds mu across the fork:
        // no other thread can run a step now, so this one runs the rest. The
        // parent handler wakes the calls that wait (in the child none do).
        while (!f.ready.load(std::memory_order_relaxed)) runStep(f);
        return;
    }
    ownFrame(f);
    std::unique_lock lock(f.mu);
    while (!f.ready.load(std::memory_order_relaxed)) {
        if (!runSteps && f.runner) {
            f.changed.wait(lock);
            continue;
        }
        runStep(f);
        // Between two steps a fork may take mu.
        lock.unlock();
        if (f.ready.load(std::memory_order_relaxed)) f.changed.notify_all();
        lock.lock();
    }
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

// Joins the load-time thread once it is done with the frame; mu held.
void joinStartupThread(Frame& f) {
    if (f.threadDone && f.thread.joinable()) {
        f.thread.join();
        f.threadGone.store(true, std::memory_order_release);
    }
}

// Before the library is ready, or while its load-time thread is not yet joined:
// takes mu, once no step runs and that thread is not on its way in or out, and
// holds it across the fork with every signal of the forking thread blocked (a
// handler that forked again would wait for mu). Otherwise holds nothing.
void forkPrepare() {
    Frame& f = frame();
    if (f.ready.load(std::memory_order_acquire) && f.threadGone.load(std::memory_order_acquire)) {
        return;
    }
    sigset_t all, saved;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &saved);
    ownFrame(f);
    std::unique_lock lock(f.mu);
    f.changed.wait(lock, [&] { return !threadMoving(f); });
    joinStartupThread(f);
    f.forkMask = saved;
    f.forkHolder.store(pthread_self(), std::memory_order_relaxed);
    lock.release();  // held across fork
}

// Releases what the prepare handler took, if it took anything.
void releaseFork(Frame& f) {
    const sigset_t saved = f.forkMask;
    f.forkHolder.store(pthread_t{}, std::memory_order_relaxed);
    f.mu.unlock();
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

// Also wakes the calls that wait, in case a fork handler finished the start-up.
void forkParent() {
    Frame& f = frame();
    if (!heldForFork(f)) return;
    releaseFork(f);
    f.changed.notify_all();
}

// In the child, only the forking thread exists. The threads that waited in the
// parent are gone, but the condition variable still counts them: the child gets
// a fresh one (the old one is dropped, not destroyed, which would wait for
// them). The load-time thread is gone too: the child forgets it, and its first
// call runs the steps left. The frame is the child's own from here.
void forkChild() {
    Frame& f = frame();
    if (!heldForFork(f)) return;
    std::construct_at(&f.changed);
    std::construct_at(&f.thread);
    f.runner = false;
    f.threadGone.store(true, std::memory_order_release);
    f.owner.store(::getpid(), std::memory_order_release);
    releaseFork(f);
}

// Runs at exit before every exit handler registered before the object was
// loaded (OpenSSL's own clean-up among them, when the host had set OpenSSL up
// first): waits until the load-time thread has finished the start-up and left,
// and joins it, so that no thread of the library still runs, inside OpenSSL or
// elsewhere, while those handlers free what it uses. A child of a fork has no
// such thread and returns at once, also when no fork handler told it so: in a
// process other than the one that started that thread, ownFrame forgets it.
void awaitStartupThreadAtExit() {
    Frame& f = frame();
    if (f.threadGone.load(std::memory_order_acquire)) return;
    ownFrame(f);
    if (f.threadGone.load(std::memory_order_acquire)) return;
    std::unique_lock lock(f.mu);
    f.changed.wait(lock, [&] { return f.threadDone || !f.thread.joinable(); });
    joinStartupThread(f);
}

// Runs when the shared object is loaded: installs the fork handlers and the exit
// wait, runs the steps that enter OpenSSL (kStepsAtLoad), and starts the rest of
// the start-up on a thread of the library's own, returning without waiting for
// it. That thread starts with every signal blocked (the loading thread's mask
// is blocked only while it runs those steps and creates the thread), so no
// handler of the host ever runs on it. If no thread can be started, the
// start-up runs here instead, so the library still becomes ready.
__attribute__((constructor)) void startOnLoad() {
    Frame& f = frameSlot.Emplace();
    f.owner.store(::getpid(), std::memory_order_release);
    ::pthread_atfork(forkPrepare, forkParent, forkChild);
    std::atexit(awaitStartupThreadAtExit);
    try {
        const SignalsBlocked blocked;
        std::lock_guard lock(f.mu);
        while (f.stepsDone < kStepsAtLoad) runStep(f);
        f.thread = std::thread(startupThread);
        f.runner = true;
    } catch (...) {
        f.threadGone.store(true, std::memory_order_release);
        RunStartup();
    }
}

}  // namespace

void RunStartup() { awaitReady(true); }

CallScope::CallScope() { awaitReady(false); }

}  // namespace hibe_c
