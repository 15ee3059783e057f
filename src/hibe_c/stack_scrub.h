// The stack scrub of the exported calls: after its body returns, a call zeroes
// the stack that the body used below the call's frame, where keys, points and
// message keys would otherwise stay until the host's own calls overwrite them.
//
// What it touches, and when: once per call, after the body has returned, the
// stack below the frame that called the body (from just below the return
// address that the scrub's own call leaves there), down to
//   - the call's reach (kReachBytes) below its caller's stack pointer, when the
//     stack pointer lies off the bounds of the calling thread's stack: a
//     coroutine's stack made with makecontext, a signal stack. That is the
//     call's own deepest path plus a margin, and lies within the stack that
//     include/hibe/hibe.h tells a host the call needs.
//   - otherwise the higher of that and the signal room (below) above the
//     lowest address that the thread's stack may reach: the stack of a thread
//     that the threads library made, above its guard area; the stack that the
//     host gave a thread with pthread_attr_setstack; on the main thread, where
//     the stack size limit as it is at the call (RLIMIT_STACK) or the mapping
//     below stops the stack's growth.
// The stack pointer stands at the bottom of that area while it is zeroed, so a
// signal handled then runs below it: on a thread's known stack, in the room
// left above its low end; elsewhere, in the part of the stack that a call needs
// for a signal. The scrub writes nothing else, and nothing at any other time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hibe_c {

// The exported calls, each with a reach of its own.
enum class Call { kHibeSetup, kKeyGenFromMaster, kReadKey, kEncryptHibeMsg, kDecryptHibeMsg };

// How deep below its caller's stack pointer each exported call writes at the
// most, as include/hibe/hibe.h states it: the call's deepest path plus a
// margin, rounded up to whole KiB.
//
// The deepest paths are measured by "host_stack libhibe.so DIR depths"
// (tests/host/stack_test.c) against a library built with -DHIBE_NO_STACK_SCRUB
// (below): it paints the stack below the host's frame on a coroutine's stack,
// makes a call, and finds the lowest byte that the call changed. The calls
// measured: the process's first call right after loading (it waits for the
// start-up and looks up the main thread's stack), the first call of each kind
// on a new thread (which looks up that thread's stack), calls that succeed on
// several inputs, calls that fail late, and calls in which one allocation
// throws std::bad_alloc, at each allocation in turn. The deepest of them, in
// bytes, the most of several runs with GCC 12 (ASan+UBSan: with and without
// detect_stack_use_after_return; also pinned to one processor, so that the
// first call waits for the start-up), and the reach:
//
//   call        optimised       ASan+UBSan      ThreadSanitizer
//   HibeSetup   19304 → 24 KiB  28632 → 35 KiB  21304 → 27 KiB
//   KeyGen      17848 → 22 KiB  26088 → 32 KiB  19544 → 24 KiB
//   ReadKey      2368 →  3 KiB   5816 →  8 KiB   3944 →  5 KiB
//   Encrypt     21000 → 26 KiB  39640 → 49 KiB  23272 → 29 KiB
//   Decrypt     19576 → 24 KiB  33272 → 41 KiB  21512 → 27 KiB
//
// ReadKey's deepest path is the unwinding of a bad_alloc from its copy of the
// path (under ThreadSanitizer, its wait for the start-up); the other calls'
// are the crypto of a successful call. The margin is a quarter of the deepest
// path, at least 512 bytes: room for what no measured call meets (another
// compiler version's inlining moves frames of the pairing and field code;
// paths that no measured input takes), in proportion to the call, so that a
// cheap call such as ReadKey writes a few hundred bytes below what its own work
// reaches, not KiBs. The sanitizers' frames are larger, so the figures are
// chosen per build when it is compiled. The stack test fails, in each of the
// three builds, when a call writes deeper than its reach and when a call goes
// deeper than its scrub (it leaves bytes of its own below it).
#if defined(HIBE_NO_STACK_SCRUB)
inline constexpr std::size_t kReachBytes[] = {0, 0, 0, 0, 0};
#elif defined(__SANITIZE_ADDRESS__)
inline constexpr std::size_t kReachBytes[] = {35 * 1024, 32 * 1024, 8 * 1024, 49 * 1024, 41 * 1024};
#elif defined(__SANITIZE_THREAD__)
inline constexpr std::size_t kReachBytes[] = {27 * 1024, 24 * 1024, 5 * 1024, 29 * 1024, 27 * 1024};
#else
inline constexpr std::size_t kReachBytes[] = {24 * 1024, 22 * 1024, 3 * 1024, 26 * 1024, 24 * 1024};
#endif

// The signal room: the stack that a signal handled while the scrub zeroes
// takes below the scrub's stack pointer. It is the kernel's signal frame for
// this processor's register state (getauxval(AT_MINSIGSTKSZ), read when the
// library is loaded: 3376 bytes with AVX-512 state, 11952 with AMX tile data),
// the 128-byte red zone that the kernel leaves above the frame, and 1 KiB for
// the handler's own frames, rounded up to 1 KiB and never less than 4 KiB. On a
// thread's known stack the scrub keeps its stack pointer at least this far
// above the low end; on a stack whose bounds it cannot know, the stack that
// hibe.h says a call needs is the call's reach plus this room.

// What the scrub below a frame must keep to: a stack pointer in [low, high)
// lies on the calling thread's stack, and the scrub then puts its own no lower
// than floor. low = high when the thread's stack is not known.
struct ScrubBounds {
    std::uintptr_t low;
    std::uintptr_t high;
    std::uintptr_t floor;
};

// The bounds for a scrub from the stack pointer sp of the calling thread down
// to bottom. A thread's bounds are looked up on its first call and kept for its
// life (a thread's stack never moves, and a child of fork goes on with its
// parent's thread on the same stack); on the main thread, the stack size limit
// is read at the call whenever the scrub could grow its stack (see
// stack_scrub.cpp).
ScrubBounds BoundsOfScrub(std::uintptr_t sp, std::uintptr_t bottom) noexcept;

// Zeroes the stack below its own return address (top) down to bottom; when top
// lies in [low, high), not below floor. One string store in place: no frame of
// its own below the area, no call, and the compiler cannot remove it.
void ZeroStackBelow(std::uintptr_t low, std::uintptr_t high, std::uintptr_t floor,
                    std::uintptr_t bottom) noexcept;

// The caller's stack pointer at its call of the entry point that evaluates
// this (in the entry point's own body): the entry point's frame address (which
// the compiler then keeps in a frame pointer), above the saved frame pointer
// and the return address.
#define HIBE_CALLER_STACK() (reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)) + 16)

// Zeroes the stack that the body of call, called from this frame, used (what
// and how much: above), down to kReachBytes below callerSp (HIBE_CALLER_STACK
// of the entry point). Inlined into the frame that called the body, so the area
// begins at that frame's lower end; the lookup's own frames lie in the area and
// are zeroed with it.
[[gnu::always_inline]] inline void ScrubStack(Call call, std::uintptr_t callerSp) noexcept {
    const std::uintptr_t bottom = callerSp - kReachBytes[static_cast<int>(call)];
    std::uintptr_t sp;
    asm volatile("mov %%rsp, %0" : "=r"(sp));
    const ScrubBounds bounds = BoundsOfScrub(sp, bottom);
    ZeroStackBelow(bounds.low, bounds.high, bounds.floor, bottom);
}

}  // namespace hibe_c
