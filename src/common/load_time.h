// Storage for a value that a start-up step builds and that is never destroyed.
//
// The library's start-up runs on a thread of its own, possibly while the static
// initialisers of other files still run, and may still be running at process
// exit; calls on host threads may also still run at exit. A LoadTimeSlot is
// constant-initialised (it exists before any code runs, so nothing can reset it
// after the start-up has filled it, and no call meets a guard of first use) and
// has no destructor that touches the value, so it outlives every thread.
#pragma once

#include <memory>
#include <utility>

namespace common {

template <typename T>
union LoadTimeSlot {
    constexpr LoadTimeSlot() : none() {}
    ~LoadTimeSlot() {}

    // Builds the value; called by the owning start-up step. A step that a fork
    // interrupted runs again in the child and calls this again: the new value
    // replaces the one there, whole or half built, which is dropped without
    // being destroyed (its memory is not freed), and every reference to value
    // then names the new one.
    template <typename... Args>
    T& Emplace(Args&&... args) {
        return *std::construct_at(&value, std::forward<Args>(args)...);
    }

    char none;
    T value;
};

}  // namespace common
