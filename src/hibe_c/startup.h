// Start-up and readiness of the library.
//
// Loading the shared object starts RunStartup on a thread of the library's own;
// every exported call first waits in WaitUntilReady. Readiness is set once and
// never cleared.
#pragma once

namespace hibe_c {

// Runs every module's start-up in the library's fixed order, then marks the
// library ready. Runs its steps at most once per process, whoever calls it.
void RunStartup();

// Blocks until RunStartup has finished; returns at once afterwards.
void WaitUntilReady();

// Whether the start-up has finished (for tests).
bool IsReady();

}  // namespace hibe_c
