#include "hibe_c/stack_scrub.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/auxv.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "hibe_c/files.h"

// The loader's record of the initial thread's stack pointer at program start
// (it points at argc); the C library uses it to find the main thread's stack.
extern "C" void* __libc_stack_end;

namespace hibe_c {
namespace {

constexpr std::uintptr_t kPage = 4096;

// The signal room from the kernel's signal frame size (see stack_scrub.h).
constexpr std::size_t kRedZone = 128;
constexpr std::size_t kHandlerFrames = 1024;
constexpr std::size_t kLeastSignalRoom = 4096;

std::size_t signalRoomFor(std::size_t signalFrame) noexcept {
    const std::size_t room = (signalFrame + kRedZone + kHandlerFrames + 1023) & ~std::size_t{1023};
    return std::max(room, kLeastSignalRoom);
}

// Read once, when the library is loaded: getauxval only reads the auxiliary
// vector that the kernel passed to the process.
const std::size_t gSignalRoom = signalRoomFor(::getauxval(AT_MINSIGSTKSZ));

// The calling thread's stack, as the scrub knows it, looked up on its first
// call:
//   high == 0: not looked up yet (the constant initial value);
//   low == high != 0: not known, for the thread's life (the lookup failed);
//   mapped == 0: a thread that the threads library made, or gave the stack that
//     the host chose (pthread_attr_setstack): [low, high) as pthread_getattr_np
//     reports it, above the guard area;
//   mapped != 0: the initial thread (see lookUp): [low, high) from the end of
//     the mapping below the process's stack to the end of the stack's mapping,
//     and mapped the lowest address of it known to be mapped: the stack's
//     mapping as it was at the lookup, extended by every scrub that went lower.
//     Writing above mapped cannot fault whatever the stack size limit is now;
//     writing below it may grow the stack, which the limit governs.
// Constant initialised, so that reading it costs no guard. Its 24 bytes lie in
// the static thread-local area that the C library keeps for objects loaded
// later (initial-exec), at a fixed offset from the thread pointer: reading it
// is one load, with no call and no memory allocated on a thread's first call.
// (A block of dynamic thread-local storage would be allocated then, and the
// leak checker of the AddressSanitizer runtime built here misreads such blocks
// when the process exits.)
struct StackCache {
    std::uintptr_t low = 0;
    std::uintptr_t high = 0;
    std::uintptr_t mapped = 0;
};
static_assert(sizeof(StackCache) == 24);
[[gnu::tls_model("initial-exec")]] thread_local StackCache tCache;

// The process's stack, as /proc/self/maps shows it.
struct ProcessStack {
    std::uintptr_t below;  // the end of the mapping below it (0: none)
    std::uintptr_t start;  // its mapping [start, end)
    std::uintptr_t end;
};

// Finds the mapping that holds __libc_stack_end in /proc/self/maps, read
// through a descriptor of the library's own (OpenOwn: kept off 0, 1 and 2
// before anything is read) into a small buffer on the stack: no stream, and no
// memory allocated (the path's 15 bytes fit in the string itself). Each line
// begins "from-to "; the rest of it is skipped, however long.
[[gnu::noinline]] bool readProcessStack(ProcessStack& out) noexcept {
    const int fd = OpenOwn(std::string("/proc/self/maps"), O_RDONLY);
    if (fd < 0) return false;
    const auto stackEnd = reinterpret_cast<std::uintptr_t>(__libc_stack_end);
    std::uintptr_t field[2] = {0, 0};  // from, to of the line being read
    int at = 0;                        // 0: from, 1: to, 2: the rest of the line
    std::uintptr_t lastTo = 0;         // the end of the line before
    bool found = false;
    char buffer[256];
    while (!found) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        for (ssize_t i = 0; i < got && !found; ++i) {
            const char c = buffer[i];
            if (c == '\n') {
                if (at == 2 && field[0] <= stackEnd && stackEnd < field[1]) {
                    out = {lastTo, field[0], field[1]};
                    found = true;
                }
                lastTo = field[1];
                field[0] = field[1] = 0;
                at = 0;
            } else if (at < 2) {
                if ((at == 0 && c == '-') || (at == 1 && c == ' ')) {
                    ++at;
                } else {
                    const int digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
                    field[at] = field[at] * 16 + static_cast<std::uintptr_t>(digit);
                }
            }
        }
    }
    ::close(fd);
    return found;
}

// Looks the calling thread's stack up into cache.
//
// The initial thread is told by its thread id, which equals the process id.
// Its stack is found from /proc/self/maps (readProcessStack), not through
// pthread_getattr_np: for that thread the C library reads the same file
// through a stream (fopen), which lands on descriptor 0 when the host has
// closed it. The same test also takes the child of a fork made on another
// thread, whose one thread has the child's process id as its id but goes on
// running on its parent thread's stack: its stack pointer lies off the process
// stack, so its calls treat their stack as unknown (a full scrub, within the
// stack a call needs), as they do on a coroutine's or a signal stack of the
// initial thread. Every other thread was made by the threads library, which
// keeps its stack in the thread's descriptor: pthread_getattr_np reports it
// without opening anything (it allocates a CPU set on the way).
//
// When the lookup fails (no descriptor or memory left), the bounds stay
// unknown for the thread's life.
[[gnu::noinline, gnu::cold]] void lookUp(StackCache& cache) noexcept {
    cache = {1, 1, 0};
    if (::gettid() == ::getpid()) {
        ProcessStack stack;
        if (readProcessStack(stack)) cache = {stack.below, stack.end, stack.start};
        return;
    }
    pthread_attr_t attr;
    if (::pthread_getattr_np(::pthread_self(), &attr) != 0) return;
    void* base = nullptr;
    std::size_t size = 0;
    const bool known = ::pthread_attr_getstack(&attr, &base, &size) == 0;
    ::pthread_attr_destroy(&attr);
    if (!known || base == nullptr) return;
    const auto low = reinterpret_cast<std::uintptr_t>(base);
    cache = {low, low + size, 0};
}

// The initial thread's bounds when a scrub down to bottom, with the signal
// room below it, may grow the stack: the lowest address that the stack may
// reach under the stack size limit as it is now, computed as the C library
// computes it: the stack begins at the page above __libc_stack_end, and the
// limit counts the whole mapping (the arguments and environment above that
// page included), rounded down to whole pages, and no further than the mapping
// below. Where the mapping already reaches lower (a limit lowered after the
// stack grew), that stays usable.
[[gnu::noinline, gnu::cold]] ScrubBounds limitedBounds(StackCache& cache, std::uintptr_t sp,
                                                       std::uintptr_t bottom) noexcept {
    std::uintptr_t lowest = cache.mapped;
    struct rlimit limit;
    if (::getrlimit(RLIMIT_STACK, &limit) == 0) {
        const std::uintptr_t stackEnd =
            (reinterpret_cast<std::uintptr_t>(__libc_stack_end) & ~(kPage - 1)) + kPage;
        const std::uintptr_t above = cache.high - stackEnd;
        std::uintptr_t size = limit.rlim_cur <= above ? 0 : (limit.rlim_cur - above) & ~(kPage - 1);
        size = std::min(size, stackEnd - cache.low);
        lowest = std::min(lowest, stackEnd - size);
    }
    const std::uintptr_t floor = lowest + gSignalRoom;
    // The scrub zeroes from just below sp down to max(bottom, floor), which it
    // maps.
    const std::uintptr_t reached = std::max(bottom, floor);
    if (reached + kPage < sp) cache.mapped = std::min(cache.mapped, reached);
    return {cache.low, cache.high, floor};
}

}  // namespace

ScrubBounds BoundsOfScrub(std::uintptr_t sp, std::uintptr_t bottom) noexcept {
    StackCache& cache = tCache;
    if (cache.high == 0) lookUp(cache);
    if (cache.mapped == 0) return {cache.low, cache.high, cache.low + gSignalRoom};
    // The initial thread. Off its stack (a coroutine's, a signal stack) the
    // bounds do not apply; within the part that is mapped, the limit stops
    // nothing, and the limit is read only when the scrub may go below it.
    if (sp <= cache.low || sp > cache.high) return {cache.low, cache.high, 0};
    if (bottom > cache.mapped && bottom - cache.mapped >= gSignalRoom) {
        return {cache.low, cache.high, 0};
    }
    return limitedBounds(cache, sp, bottom);
}

// Where the compiler describes frames to unwinders with CFI directives, the
// function says where its return address is while the stack pointer is away.
#ifdef __GCC_HAVE_DWARF2_CFI_ASM
#define HIBE_CFI(directive) directive "\n\t"
#else
#define HIBE_CFI(directive)
#endif

// rdi = low, rsi = high, rdx = floor, rcx = bottom. At entry rsp points at the
// return address (top), which stays; everything below it is free stack. The
// direction flag is clear at every call, so rep stosb stores upwards.
//   if low <= top < high: bottom = max(bottom, floor)
//   if bottom < top: rsp = bottom; zero [bottom, top); rsp = top
// While it stores, the area is this function's frame, with the stack pointer at
// its bottom: every store lands above the stack pointer, where the kernel grows
// a stack and where tools that track the stack (valgrind) allow stores.
[[gnu::naked, gnu::noinline]] void ZeroStackBelow(std::uintptr_t, std::uintptr_t, std::uintptr_t,
                                                  std::uintptr_t) noexcept {
    asm("mov   %rsp, %r8\n\t"
        HIBE_CFI(".cfi_def_cfa_register %r8")
        "mov   %rcx, %rax\n\t"
        "cmp   %rdi, %r8\n\t"
        "jb    1f\n\t"
        "cmp   %rsi, %r8\n\t"
        "jae   1f\n\t"
        "cmp   %rdx, %rax\n\t"
        "cmovb %rdx, %rax\n"
        "1:\n\t"
        "cmp   %r8, %rax\n\t"
        "jae   2f\n\t"
        "mov   %rax, %rsp\n\t"
        "mov   %rax, %rdi\n\t"
        "mov   %r8, %rcx\n\t"
        "sub   %rax, %rcx\n\t"
        "xor   %eax, %eax\n\t"
        "rep stosb\n\t"
        "mov   %r8, %rsp\n"
        "2:\n\t"
        HIBE_CFI(".cfi_def_cfa_register %rsp")
        "ret");
}

#undef HIBE_CFI

}  // namespace hibe_c
