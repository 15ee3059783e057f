// Start-up and readiness of the library, and the frame of every exported call.
//
// Loading the shared object runs the start-up steps that enter OpenSSL on the
// loading thread and starts the rest on a thread of the library's own; every
// exported call holds a CallScope, which first waits until the library is
// ready. Readiness is set once and never cleared; once it is set, a call takes
// no lock at all.
//
// The library works in the child of a fork made at any moment, and a fork never
// waits for a call. Only a start-up step is kept whole: a fork falls between two
// steps, never inside one. Calls hold no lock of their own, and nothing that a
// child could inherit locked (startup.cpp says what a call may hold at a fork).
// A child whose parent had not finished the start-up runs the rest of it on the
// thread of its first call. So does the child of a fork that runs no fork
// handler (_Fork, clone, the fork system call), which may cut a step off: the
// start-up remembers the process that started its thread, and in any other
// process a call makes the start-up's state its own and runs the step again
// from its start, and exit waits for no thread of another process.
#pragma once

namespace hibe_c {

// Runs the start-up steps that have not run yet, in the library's fixed order,
// on the calling thread, then marks the library ready. Each step runs once per
// process, whoever calls it; returns at once when the library is ready.
void RunStartup();

// An exported call inside the library: construction waits until the library is
// ready. It holds nothing while the call runs.
class CallScope {
public:
    CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;
};

}  // namespace hibe_c
