#include "hibe_c/stack_scrub.h"

#include <pthread.h>

namespace hibe_c {
namespace {

// The calling thread's stack bounds, looked up on its first call. Constant
// initialised, so that reading it costs no guard. Its 24 bytes lie in the static
// thread-local area that the C library keeps for objects loaded later
// (initial-exec), at a fixed offset from the thread pointer: reading it is one
// load, with no call and no memory allocated on a thread's first call. (A
// block of dynamic thread-local storage would be allocated then, and the leak
// checker of the AddressSanitizer runtime built here misreads such blocks when
// the process exits.)
struct StackCache {
    ThreadStack stack{0, 0};
    bool looked = false;
};
[[gnu::tls_model("initial-exec")]] thread_local StackCache tCache;

// Looks the calling thread's stack up into cache. pthread_getattr_np reports
// the stack of a thread that the threads library made above its guard area, and
// a stack that the host gave it (pthread_attr_setstack) whole; for the main
// thread it reads /proc/self/maps and the stack size limit. When it fails (no
// descriptor or memory left for that read), the bounds stay unknown for the
// thread's life.
[[gnu::noinline, gnu::cold]] void LookUpStack(StackCache& cache) noexcept {
    cache.looked = true;
    pthread_attr_t attr;
    if (::pthread_getattr_np(::pthread_self(), &attr) != 0) return;
    void* base = nullptr;
    std::size_t size = 0;
    const bool known = ::pthread_attr_getstack(&attr, &base, &size) == 0;
    ::pthread_attr_destroy(&attr);
    if (!known || base == nullptr) return;
    const auto low = reinterpret_cast<std::uintptr_t>(base);
    cache.stack = {low, low + size};
}

}  // namespace

ThreadStack CallingThreadStack() noexcept {
    StackCache& cache = tCache;
    if (!cache.looked) LookUpStack(cache);
    return cache.stack;
}

// Where the compiler describes frames to unwinders with CFI directives, the
// function says where its return address is while the stack pointer is away.
#ifdef __GCC_HAVE_DWARF2_CFI_ASM
#define HIBE_CFI(directive) directive "\n\t"
#else
#define HIBE_CFI(directive)
#endif

// rdi = low, rsi = high, rdx = bytes, rcx = room. At entry rsp points at the
// return address (top), which stays; everything below it is free stack. The
// direction flag is clear at every call, so rep stosb stores upwards.
//   bottom = top - bytes
//   if low <= top < high: bottom = max(bottom, low + room)
//   if bottom < top: rsp = bottom; zero [bottom, top); rsp = top
// While it stores, the area is this function's frame, with the stack pointer at
// its bottom: every store lands above the stack pointer, where the kernel grows
// a stack and where tools that track the stack (valgrind) allow stores.
[[gnu::naked, gnu::noinline]] void ZeroStackBelow(std::uintptr_t, std::uintptr_t, std::size_t,
                                                  std::size_t) noexcept {
    asm("mov   %rsp, %r8\n\t"
        HIBE_CFI(".cfi_def_cfa_register %r8")
        "mov   %r8, %rax\n\t"
        "sub   %rdx, %rax\n\t"
        "cmp   %rdi, %r8\n\t"
        "jb    1f\n\t"
        "cmp   %rsi, %r8\n\t"
        "jae   1f\n\t"
        "add   %rcx, %rdi\n\t"
        "cmp   %rdi, %rax\n\t"
        "cmovb %rdi, %rax\n\t"
        "cmp   %r8, %rax\n\t"
        "jae   2f\n"
        "1:\n\t"
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
