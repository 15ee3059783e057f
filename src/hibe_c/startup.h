// Start-up and readiness of the library, and the frame of every exported call.
//
// Loading the shared object starts RunStartup on a thread of the library's own;
// every exported call holds a CallScope, which first waits until the library is
// ready. Readiness is set once and never cleared.
//
// The library works in the child of a fork made at any moment. A fork waits
// until no start-up step and no call is running inside the library, so the child
// meets no value half made and no lock (the library's, or one that OpenSSL or
// the C++ runtime takes inside a call) held by a thread that it does not have.
// A child whose parent had not finished the start-up runs the rest of it on the
// thread of its first call.
#pragma once

namespace hibe_c {

// Runs the start-up steps that have not run yet, in the library's fixed order,
// on the calling thread, then marks the library ready. Each step runs once per
// process, whoever calls it; returns at once when the library is ready.
void RunStartup();

// An exported call inside the library: construction waits until the library is
// ready and no fork is under way; a fork waits until every scope has ended.
class CallScope {
public:
    CallScope();
    ~CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;
};

}  // namespace hibe_c
