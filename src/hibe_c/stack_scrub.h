// The stack scrub of the exported calls: after its body returns, a call zeroes
// the stack that the body used below the call's frame, where keys, points and
// message keys would otherwise stay until the host's own calls overwrite them.
//
// What it touches, and when: once per call, after the body has returned, the
// stack below the frame that called the body (from just below the return
// address that the scrub's own call leaves there), down to
//   - kScrubBytes below that point, when the stack pointer lies off the bounds
//     that the threads library reports for the calling thread: a coroutine's
//     stack made with makecontext, a signal stack. That lies within the stack
//     that include/hibe/hibe.h tells a host a call needs.
//   - otherwise the higher of that and kSignalRoom above the low end of the
//     thread's stack: the stack of a thread that the threads library made,
//     above its guard area; the stack that the host gave a thread with
//     pthread_attr_setstack; on the main thread, where the stack size limit
//     (as it was on the thread's first call) or the mapping below stops the
//     stack's growth.
// The stack pointer stands at the bottom of that area while it is zeroed, so a
// signal handled then runs below it: on a thread's stack, in the kSignalRoom
// left above the low end. The scrub writes nothing above that point, nothing
// else, and nothing at any other time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hibe_c {

// The deepest path of every exported call, measured by painting the stack
// below a host's frame with a pattern, making the call on a library built with
// kScrubBytes = 0, and finding the lowest byte that it changed: "host_stack
// libhibe.so DIR depths" (tests/host/stack_test.c) prints it for each call, made
// in turn on a coroutine's stack on the main thread (the first of them also
// looks up the thread's stack bounds). Bytes below the host's frame, the most
// of several runs with GCC 12 (ASan+UBSan: with and without
// detect_stack_use_after_return):
//
//   build            HibeSetup  KeyGen  ReadKey  Encrypt  Decrypt
//   optimised          19328    17920     496    21056    19680
//   ASan+UBSan         28424    26424    6968    40232    33192
//   ThreadSanitizer    19840    18472     776    23272    20128
//
// The scrub is the deepest of its build rounded up to 4 KiB, plus a margin of
// 8 KiB for what the measured calls do not meet: error paths, an exception
// unwinding from deep inside a body, other compiler versions. AddressSanitizer's
// frames are larger, so the size is chosen per build when it is compiled. The
// stack test fails, in each of the three builds, when a call goes deeper than
// the scrub: it leaves bytes of its own below it.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr std::size_t kScrubBytes = 48 * 1024;
#else
inline constexpr std::size_t kScrubBytes = 32 * 1024;
#endif

// The usable stack of the calling thread, [low, high), as the threads library
// reports it; low = high = 0 when it could not say. Looked up on a thread's
// first call and kept for the thread's life: a thread's stack never moves, and
// a child of fork goes on with its parent's thread on the same stack.
struct ThreadStack {
    std::uintptr_t low;
    std::uintptr_t high;
};
ThreadStack CallingThreadStack() noexcept;

// The stack that the scrub leaves at the low end of a thread's stack, for the
// frame of a signal handled while it zeroes: the kernel's signal frame holds the
// registers (3376 bytes with AVX-512 state) below the 128-byte red zone. The
// body's own frames reach that far down only on a stack too small for a signal
// handled in them.
inline constexpr std::size_t kSignalRoom = 4096;

// Zeroes the stack below its own return address down to (that address - bytes);
// when that address lies in [low, high), not below low + room. One string store
// in place: no frame of its own below the area, no call, and the compiler
// cannot remove it.
void ZeroStackBelow(std::uintptr_t low, std::uintptr_t high, std::size_t bytes,
                    std::size_t room) noexcept;

// Zeroes the stack that a body called from this frame used (what and how much:
// above). Inlined into the frame that called the body, so the area begins at
// that frame's lower end; the lookup's own frames lie in the area and are
// zeroed with it.
[[gnu::always_inline]] inline void ScrubStack() noexcept {
    const ThreadStack stack = CallingThreadStack();
    ZeroStackBelow(stack.low, stack.high, kScrubBytes, kSignalRoom);
}

}  // namespace hibe_c
