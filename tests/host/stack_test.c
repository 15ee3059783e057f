/*
 * Every exported call on the stacks that hosts run calls on: a thread made with
 * a 64 KiB stack, a stack that the host gives a thread (pthread_attr_setstack),
 * a coroutine's stack (makecontext), the main thread near its stack size limit
 * (set before the first call, or lowered after it), and the child of a fork on
 * a given stack. The five calls (setup, key generation, two key reads,
 * encryption, decryption) must succeed on each, and the stack scrub that ends
 * every call must stay inside the stack:
 *   - a given or coroutine stack lies inside a larger buffer whose guard bytes,
 *     below and above it, must be intact afterwards; a thread's own guard page
 *     and the main thread's stack size limit fault when written to;
 *   - bytes of the frame that makes the calls, above them, must be intact;
 *   - on a coroutine's stack, where the library cannot know the bounds, no
 *     call changes the stack deeper below its caller's frame than
 *     include/hibe/hibe.h says it reaches (kReach), ReadKey also on coroutine
 *     stacks of 16 KiB and 8 KiB;
 *   - where the bounds are known, "tight" runs leave each call less stack than
 *     its scrub would take without them, so a scrub that ignored the bounds
 *     would write below them;
 *   - "need" runs give each call exactly the stack that hibe.h says it needs
 *     (its reach and the signal room below it) while a sibling thread signals
 *     the calling thread throughout, to a handler that uses stack of its own,
 *     with AMX tile state in use where the processor has it (its signal frames
 *     are 8 KiB larger).
 * In a measured run, the stack below the caller's frame is painted with a
 * pattern before each call; after it, no byte there may be other than the
 * pattern or zero (the scrub cleared all that the call wrote: a call deeper
 * than its scrub leaves its lowest frames), except, in a tight run, at the
 * bottom of the stack where the scrub leaves room for a signal.
 *
 *   host_stack libhibe.so scratch-directory [case]
 *   host_stack libhibe.so scratch-directory depths
 *
 * An allocation that throws std::bad_alloc inside a call, at each of its
 * allocations in turn (the host replaces operator new), must leave the call's
 * failure result and nothing of the call below it, its unwinding included.
 *
 * A case (coroutine, readkey-small, small-thread, given-stack, lowered-limit,
 * main-thread, exceptions) runs alone; every run first measures how far each
 * call reaches on a coroutine's stack. "depths" prints how far below its
 * caller's frame each call changed the stack on a coroutine's stack, where the
 * library does not know the bounds: its first call on the main thread and on
 * another thread (which look the thread's stack up), the calls that succeed,
 * calls that fail, and calls in which one allocation throws std::bad_alloc
 * (the deepest over every allocation of the call). With the library as built
 * that is how far the scrub reaches; with a library built with
 * -DHIBE_NO_STACK_SCRUB, each call's own deepest path (src/hibe_c/stack_scrub.h
 * holds the figures).
 */
#define _GNU_SOURCE
#include <alloca.h>
#include <cpuid.h>
#include <pthread.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdint.h>
#include <sys/auxv.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <ucontext.h>

#include "host_lib.h"

enum { kSetup, kKeyGen, kReadKey, kEncrypt, kDecrypt, kKinds };
static const char* const kKindNames[] = {"HibeSetup", "KeyGenFromMaster", "ReadKey",
                                         "EncryptHibeMsg", "DecryptHibeMsg"};

/* How deep below its caller's stack pointer each call writes at the most (its
   reach: the scrub ends there), as include/hibe/hibe.h states it for this
   build (the sanitizers' frames are larger). */
#if defined(__SANITIZE_ADDRESS__)
static const size_t kReach[kKinds] = {35 * 1024, 32 * 1024, 8 * 1024, 49 * 1024, 41 * 1024};
#elif defined(__SANITIZE_THREAD__)
static const size_t kReach[kKinds] = {27 * 1024, 24 * 1024, 5 * 1024, 29 * 1024, 27 * 1024};
#else
static const size_t kReach[kKinds] = {24 * 1024, 22 * 1024, 3 * 1024, 26 * 1024, 24 * 1024};
#endif

/* The stack that a signal takes below the scrub, as hibe.h states it: the
   kernel's signal frame for this processor (AT_MINSIGSTKSZ), the red zone and
   1 KiB for a handler, rounded up to 1 KiB, at least 4 KiB. */
static size_t signalRoom(void) {
    size_t room = ((size_t)getauxval(AT_MINSIGSTKSZ) + 128 + 1024 + 1023) & ~(size_t)1023;
    return room < 4096 ? 4096 : room;
}

/* The stack a call of kind needs below its caller's frame. */
static size_t need(int kind) { return kReach[kind] + signalRoom(); }

enum { kHostFrames = 8 * 1024 }; /* the host's frames on a coroutine's stack above the calls */

enum {
    kPaint = 0xA5,
    kGuard = 0x5C,
    kGuardBytes = 64 * 1024, /* a scrub that ignored the bounds lands here */
    kPaintGap = 64,           /* unpainted just below the painter's frame */
    kEntryFrames = 4096,      /* the entry points' frames, not counted as stale */
    kMaxPaint = 256 * 1024,   /* the most that is painted below a call */
    kOverreach = 256,         /* how far below the bounds a tight run's scrub would write */
    kSmallThread = 64 * 1024, /* (ThreadSanitizer makes any thread stack larger) */
    kMainStackLimit = 1024 * 1024,
    /* A given stack holds the thread's static TLS at its top, which is most of
       a megabyte under ThreadSanitizer; the calls find only the room left. */
    kGivenStack = 2 * 1024 * 1024,
};

static int failures = 0;

/* The run under way (below). */
typedef struct Run Run;
static Run* current;

#define CHECK(cond, what)                                                              \
    do {                                                                               \
        if (!(cond)) {                                                                 \
            ++failures;                                                                \
            fprintf(stderr, "%s: %s: check failed: %s\n", current->name, what, #cond); \
        }                                                                              \
    } while (0)

/* The six calls of a run, in order, and the kind of each. */
enum { kCalls = 6 };
static const int kKindOf[kCalls] = {kSetup, kKeyGen, kReadKey, kReadKey, kEncrypt, kDecrypt};
static const char* const kCallNames[kCalls] = {"HibeSetup",      "KeyGenFromMaster",
                                               "ReadKey params", "ReadKey key",
                                               "EncryptHibeMsg", "DecryptHibeMsg"};

/* How much stack each call of a run has below its caller's frame. */
typedef enum {
    kAnyRoom,   /* what the stack has */
    kNeedRoom,  /* exactly what hibe.h says the call needs */
    kTightRoom, /* kOverreach less than the call reaches on a coroutine's stack */
} Room;

/* One run of the calls: the stack it runs on and what it found. */
struct Run {
    const char* name;
    char dir[4096], master[4096], params[4096], key[4096];
    uintptr_t low;   /* the lowest byte of the stack, or 0 when the host does not know it */
    Room room;
    int measured;    /* paint below each call and check what it left */
    int signals;     /* a sibling thread signals the calling thread throughout */
    int onlyReads;   /* only the two key reads, of the files of the reach run */
    size_t depth[kCalls];   /* how far below its caller's frame each call changed the stack */
    size_t roomOf[kCalls];  /* the stack that each call had below its caller's frame */
};

/* The run that measured how far each call reaches on a coroutine's stack. */
static Run reach;

/* The stack pointer where it is read. */
#define STACK_POINTER(sp) __asm__ volatile("mov %%rsp, %0" : "=r"(sp))

/* The painted area of the call under way, and its caller's stack pointer. */
static uintptr_t paintBottom, paintTop, callerSp;
/* Stale bytes below this address are not counted (the room a tight scrub leaves). */
static uintptr_t staleFloor;
/* The stack between the frame that leaves the room and the caller of a call. */
static size_t framesBetween;

/* Signals of a signal run: how many the handler took, how many interrupted
   the calling thread with its stack pointer below deepMark (near the bottom of
   the scrub of the call under way). */
static atomic_int signalsTaken, signalsDeep;
static atomic_uintptr_t deepMark;

/* The most that a call's arguments take on the stack (DecryptHibeMsg's three
   beyond the registers, rounded to 16): they lie in the caller's frame. */
enum { kStackArguments = 32 };

/* Notes the caller's stack pointer at the call, from that of the frame that
   makes it (sp), and, in a measured run, paints the stack from below it down
   to run->low (at most kMaxPaint): the call's frames go there. */
__attribute__((noinline)) static void prepareBelow(const Run* run, int kind, uintptr_t sp) {
    sp -= kStackArguments;
    callerSp = sp;
    atomic_store(&deepMark, sp - kReach[kind] + 1024);
    if (!run->measured) return;
    paintTop = sp - kPaintGap;
    paintBottom = paintTop - kMaxPaint;
    if (run->low != 0 && paintBottom < run->low) paintBottom = run->low;
    void* p = (void*)paintBottom;
    size_t n = paintTop - paintBottom;
    __asm__ volatile("rep stosb" : "+D"(p), "+c"(n) : "a"(kPaint) : "memory");
}

/* After the call: how far below its caller's frame it changed the stack, and
   how many bytes it left other than the pattern or zero below the entry
   points' frames (and above staleFloor). Reads below the stack pointer, which
   the sanitizers would take for an error. */
__attribute__((noinline, no_sanitize("address", "thread"))) static size_t measureBelow(
    size_t* stale) {
    const volatile unsigned char* painted = (const volatile unsigned char*)paintBottom;
    const size_t n = paintTop - paintBottom;
    size_t lowest = n;
    *stale = 0;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char b = painted[i];
        if (b != kPaint && lowest == n) lowest = i;
        if (i + kEntryFrames < n && paintBottom + i >= staleFloor) *stale += b != kPaint && b != 0;
    }
    return callerSp - (paintBottom + lowest);
}

/* The arguments and the result of one exported call. */
typedef struct {
    int kind;
    int64_t depth;  /* HibeSetup's */
    StringRef s[4];
    char* b[4];
    int n[4];
    int64_t status;
    void* r0;
    int64_t r1;
    size_t reach, stale;
} Call;

/* Makes one call between preparing and measuring, with nothing else between. */
__attribute__((noinline)) static void callMeasured(Call* c) {
    uintptr_t sp;
    STACK_POINTER(sp);
    prepareBelow(current, c->kind, sp);
    switch (c->kind) {
    case kSetup:
        c->status = hibe.setup(c->depth, c->s[0], c->s[1]);
        break;
    case kKeyGen:
        c->status = hibe.keyGen(c->s[0], c->s[1], c->s[2], c->s[3]);
        break;
    case kReadKey: {
        const ReadKey_return r = hibe.readKey(c->s[0]);
        c->r0 = r.r0;
        c->r1 = r.r1;
        break;
    }
    case kEncrypt: {
        const EncryptHibeMsg_return r =
            hibe.encrypt(c->b[0], c->n[0], c->b[1], c->n[1], c->b[2], c->n[2], 0);
        c->r0 = r.r0;
        c->r1 = r.r1;
        break;
    }
    case kDecrypt: {
        const DecryptHibeMsg_return r =
            hibe.decrypt(c->b[0], c->n[0], c->b[1], c->n[1], c->b[2], c->n[2], c->b[3], c->n[3], 0);
        c->r0 = r.r0;
        c->r1 = r.r1;
        break;
    }
    }
    if (current->measured) c->reach = measureBelow(&c->stale);
}

/* The stack that call index of the current run is to have below its caller's
   frame; 0 for what there is. */
static size_t roomFor(int index) {
    switch (current->room) {
    case kNeedRoom:
        return need(kKindOf[index]);
    case kTightRoom:
        return reach.depth[index] - kOverreach;
    default:
        return 0;
    }
}

/* Makes a call with the room that the run gives it: first takes the stack
   down to that much above the low end (framesBetween, from the reach run, is
   what the frames between here and the call's caller take). */
__attribute__((noinline)) static void placedCall(Call* c, int index) {
    uintptr_t sp;
    STACK_POINTER(sp);
    const size_t room = roomFor(index);
    staleFloor = current->room == kTightRoom ? current->low + signalRoom() : 0;
    if (room == 0) {
        callMeasured(c);
        if (current == &reach) framesBetween = sp - callerSp;
        return;
    }
    const int enough = current->low != 0 && sp - current->low > room + framesBetween;
    CHECK(enough, "more stack than the room to leave");
    if (!enough) return;
    volatile char* pad = alloca(sp - current->low - room - framesBetween);
    pad[0] = 0;
    callMeasured(c);
}

/* "depths": the library may be built without the scrub, so calls may leave
   their frames below; only the depths count. */
static int depthsOnly;

/* A measured call left no byte of its own below it. */
static void checkNothingLeft(const Call* c, const char* what) {
    if (!depthsOnly) CHECK(c->stale == 0, what);
}

/* One call of a run, placed, measured and checked: in a measured run it left
   no byte of its own below it. */
static void callChecked(Call* c, int index) {
    placedCall(c, index);
    if (current->low != 0) current->roomOf[index] = callerSp - current->low;
    if (!current->measured) return;
    checkNothingLeft(c, kCallNames[index]);
    current->depth[index] = c->reach;
}

/* The calls on a new organisation in run->dir: setup, a key of A/B, the params
   and the key read back, a message for A/B/C, decrypted with the key of A/B
   (which derives the key of A/B/C on the way). */
__attribute__((noinline)) static void fiveCalls(void) {
    Run* run = current;
    const char* dir = run->onlyReads ? reach.dir : run->dir;
    joinPath(run->master, dir, "org/org.masterKey");
    joinPath(run->params, dir, "org/org.params");
    joinPath(run->key, dir, "privateKeys/A#B.privateKey");

    if (!run->onlyReads) {
        Call setup = {.kind = kSetup, .depth = 3, .s = {ref("org"), ref(run->dir)}};
        callChecked(&setup, 0);
        CHECK(setup.status == 0, "HibeSetup");

        Call keyGen = {.kind = kKeyGen,
                       .s = {ref("A/B"), ref(run->dir), ref(run->master), ref(run->params)}};
        callChecked(&keyGen, 1);
        CHECK(keyGen.status == 0, "KeyGenFromMaster");
    }

    Call readParams = {.kind = kReadKey, .s = {ref(run->params)}};
    callChecked(&readParams, 2);
    CHECK(readParams.r0 != NULL && readParams.r1 > 0, "ReadKey params");
    Call readKey = {.kind = kReadKey, .s = {ref(run->key)}};
    callChecked(&readKey, 3);
    CHECK(readKey.r0 != NULL && readKey.r1 > 0, "ReadKey key");
    if (readParams.r0 == NULL || readKey.r0 == NULL || run->onlyReads) {
        free(readKey.r0);
        free(readParams.r0);
        return;
    }

    const char* receiver = "A/B/C";
    const void* paramsValue = readParams.r0;
    int paramsLen = (int)readParams.r1;
    HibeList ids = HibeListOfStrings(1, &receiver, NULL);
    HibeList paramsList = HibeListOfBytes(1, &paramsValue, &paramsLen);
    char message[] = "a message on a small stack";
    Call encrypt = {.kind = kEncrypt,
                    .b = {message, ids.p, paramsList.p},
                    .n = {(int)strlen(message), ids.n, paramsList.n}};
    callChecked(&encrypt, 4);
    CHECK(encrypt.r1 > 4, "EncryptHibeMsg");

    Call decrypt = {.kind = kDecrypt,
                    .b = {(char*)"A/B", readParams.r0, readKey.r0, encrypt.r0},
                    .n = {3, (int)readParams.r1, (int)readKey.r1, (int)encrypt.r1}};
    callChecked(&decrypt, 5);
    CHECK(decrypt.r1 == (int64_t)strlen(message) &&
              memcmp(decrypt.r0, message, strlen(message)) == 0,
          "DecryptHibeMsg");

    free(decrypt.r0);
    free(encrypt.r0);
    HibeListFree(&ids);
    HibeListFree(&paramsList);
    free(readKey.r0);
    free(readParams.r0);
}

/* Signals throughout a run: a sibling thread sends SIGUSR1 to the calling
   thread every 0.5 to 6 microseconds (at random, so that the signals keep no
   step with the calls' own system calls), and some land while a call's scrub
   has its stack pointer at the bottom of the area it zeroes. The handler uses
   768 bytes of stack of its own, within the 1 KiB that the signal room
   allows a handler. */
static pthread_t signalTarget, signalSender;
static atomic_int sending;

static void onSignal(int sig, siginfo_t* info, void* context) {
    (void)sig;
    (void)info;
    volatile unsigned char scratch[768];
    for (size_t i = 0; i < sizeof scratch; ++i) scratch[i] = (unsigned char)i;
    const ucontext_t* uc = context;
    const uintptr_t sp = (uintptr_t)uc->uc_mcontext.gregs[REG_RSP];
    atomic_fetch_add(&signalsTaken, 1);
    if (sp < atomic_load(&deepMark) && sp > atomic_load(&deepMark) - 64 * 1024) {
        atomic_fetch_add(&signalsDeep, 1);
    }
}

static void* sendSignals(void* arg) {
    (void)arg;
    uint32_t random = 1;
    while (atomic_load(&sending)) {
        pthread_kill(signalTarget, SIGUSR1);
        random = random * 1664525u + 1013904223u;
        const long pause = 500 + (long)(random >> 8) % 5500;
        struct timespec start, now;
        clock_gettime(CLOCK_MONOTONIC, &start);
        do clock_gettime(CLOCK_MONOTONIC, &now);
        while ((now.tv_sec - start.tv_sec) * 1000000000L + (now.tv_nsec - start.tv_nsec) < pause);
    }
    return NULL;
}

/* AMX tile state: the process asks for it once; a thread then has it in use
   after loading a tile configuration and zeroing a tile (encoded as bytes, for
   assemblers that do not know the instructions). */
enum { kArchReqXcompPerm = 0x1023, kXfeatureXtiledata = 18 };
static int amx = -1; /* -1: not asked yet */

static int amxAvailable(void) {
    if (amx < 0) {
        unsigned a, b, c, d;
        amx = __get_cpuid_count(7, 0, &a, &b, &c, &d) && (d & (1u << 24)) != 0 &&
              syscall(SYS_arch_prctl, kArchReqXcompPerm, kXfeatureXtiledata) == 0;
        if (!amx) {
            fprintf(stderr, "AMX tile state: not available on this processor; the signal runs "
                            "go without it (skipped)\n");
        }
    }
    return amx;
}

static void useAmx(void) {
    if (!amxAvailable()) return;
    /* Palette 1; tile 0 of 16 rows of 64 bytes. */
    static const unsigned char config[64] __attribute__((aligned(64))) = {
        [0] = 1, [16] = 64, [17] = 0, [48] = 16};
    /* ldtilecfg (%rdi) */
    __asm__ volatile(".byte 0xc4, 0xe2, 0x78, 0x49, 0x07" : : "D"(config) : "memory");
    /* tilezero %tmm0 */
    __asm__ volatile(".byte 0xc4, 0xe2, 0x7b, 0x49, 0xc0" : : : "memory");
}

static void startSignals(void) {
    if (!current->signals) return;
    useAmx();
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_sigaction = onSignal;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, NULL);
    atomic_store(&signalsTaken, 0);
    atomic_store(&signalsDeep, 0);
    signalTarget = pthread_self();
    atomic_store(&sending, 1);
    if (pthread_create(&signalSender, NULL, sendSignals, NULL) != 0) exit(1);
}

static void stopSignals(void) {
    if (!current->signals) return;
    atomic_store(&sending, 0);
    pthread_join(signalSender, NULL);
    fprintf(stderr, "%s: %d signals taken, %d of them near the bottom of a scrub%s\n",
            current->name, atomic_load(&signalsTaken), atomic_load(&signalsDeep),
            amx > 0 ? ", with AMX tile state in use" : "");
    CHECK(atomic_load(&signalsTaken) > 0, "signals arrived");
}

/* Runs the calls below a frame whose bytes must be intact afterwards; in a
   signal run, kSignalRounds times, each on an organisation of its own. */
enum { kSignalRounds = 16 };
__attribute__((noinline)) static void callsOnThisStack(void) {
    unsigned char above[256];
    memset(above, kGuard, sizeof above);
    startSignals();
    if (current->signals) {
        const size_t end = strlen(current->dir);
        const int before = failures;
        for (int round = 0; round < kSignalRounds && failures == before; ++round) {
            snprintf(current->dir + end, 64, "/%d", round);
            fiveCalls();
        }
        current->dir[end] = '\0';
    } else {
        fiveCalls();
    }
    stopSignals();
    for (size_t i = 0; i < sizeof above; ++i) {
        if (((volatile unsigned char*)above)[i] != kGuard) {
            CHECK(!"frame above the calls intact", "canary above");
            break;
        }
    }
}

/* The usable stack of the calling thread, as the threads library reports it. */
static uintptr_t stackLow(void) {
    pthread_attr_t attr;
    void* base = NULL;
    size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return 0;
    pthread_attr_getstack(&attr, &base, &size);
    pthread_attr_destroy(&attr);
    return (uintptr_t)base;
}

/* A stack inside a buffer with guard bytes below and above it. */
typedef struct {
    unsigned char* buffer;
    void* stack;
    size_t size;
} Guarded;

static Guarded guardedStack(size_t size) {
    size = (size + 4095) & ~(size_t)4095;
    Guarded g = {NULL, NULL, size};
    if (posix_memalign((void**)&g.buffer, 4096, size + 2 * kGuardBytes) != 0) exit(1);
    memset(g.buffer, kGuard, kGuardBytes);
    memset(g.buffer + kGuardBytes + size, kGuard, kGuardBytes);
    g.stack = g.buffer + kGuardBytes;
    return g;
}

static void checkGuards(Guarded* g) {
    size_t below = 0, above = 0;
    for (size_t i = 0; i < kGuardBytes; ++i) {
        below += g->buffer[i] != kGuard;
        above += g->buffer[kGuardBytes + g->size + i] != kGuard;
    }
    CHECK(below == 0, "guard bytes below the stack");
    CHECK(above == 0, "guard bytes above the stack");
    free(g->buffer);
}

/* Cases. Each sets up current and runs the calls on its stack. */

static ucontext_t hostContext, coroutine;
static void (*coroutineWork)(void);

static void coroutineMain(void) { coroutineWork(); }

/* Runs work on a coroutine's stack of size bytes (its bounds the library cannot
   know) inside guard bytes. */
static void onCoroutineWith(size_t size, void (*work)(void)) {
    Guarded g = guardedStack(size);
    if (getcontext(&coroutine) != 0) exit(1);
    coroutine.uc_stack.ss_sp = g.stack;
    coroutine.uc_stack.ss_size = g.size;
    coroutine.uc_link = &hostContext;
    current->low = (uintptr_t)g.stack;
    coroutineWork = work;
    makecontext(&coroutine, coroutineMain, 0);
    if (swapcontext(&hostContext, &coroutine) != 0) exit(1);
    checkGuards(&g);
}

static void onCoroutine(size_t size) { onCoroutineWith(size, callsOnThisStack); }

static void* threadMain(void* arg) {
    (void)arg;
    current->low = stackLow();
    callsOnThisStack();
    return NULL;
}

static void onThread(pthread_attr_t* attr, void* (*main)(void*)) {
    pthread_t thread;
    if (pthread_create(&thread, attr, main, NULL) != 0) {
        fprintf(stderr, "%s: cannot start the thread\n", current->name);
        exit(1);
    }
    pthread_join(thread, NULL);
    pthread_attr_destroy(attr);
}

/* A thread whose stack pthread_attr_setstacksize made small. */
static void onSmallThread(void) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, kSmallThread);
    onThread(&attr, threadMain);
}

/* The fork child of a thread on a given stack: the same stack, the same thread. */
static void* forkOnGivenStack(void* arg) {
    (void)arg;
    current->low = stackLow();
    callsOnThisStack();
    if (failures != 0 || current->signals) return NULL;
    const pid_t pid = fork();
    if (pid == 0) {
        snprintf(current->dir + strlen(current->dir), 64, "/child");
        callsOnThisStack();
        _exit(failures == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    CHECK(WIFEXITED(status) && WEXITSTATUS(status) == 0, "child of fork");
    return NULL;
}

/* A thread on a stack that the host gives it, before and after a fork. */
static void onGivenStack(size_t size) {
    Guarded g = guardedStack(size);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstack(&attr, g.stack, size);
    onThread(&attr, forkOnGivenStack);
    checkGuards(&g);
}

static void onMainThread(void) {
    current->low = stackLow();
    callsOnThisStack();
}

static void setStackLimit(rlim_t bytes) {
    struct rlimit limit;
    if (getrlimit(RLIMIT_STACK, &limit) != 0) exit(1);
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < bytes) bytes = limit.rlim_max;
    limit.rlim_cur = bytes;
    if (setrlimit(RLIMIT_STACK, &limit) != 0) exit(1);
}

/* The main thread after its first call, with the stack size limit lowered so
   that it ends 256 KiB below this frame, where the stack has never been: a
   scrub that kept the bounds of the first call would write past the new limit
   and fault. */
static void onMainThreadLoweredLimit(void) {
    uintptr_t sp;
    STACK_POINTER(sp);
    pthread_attr_t attr;
    void* base = NULL;
    size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) exit(1);
    pthread_attr_getstack(&attr, &base, &size);
    pthread_attr_destroy(&attr);
    const uintptr_t high = (uintptr_t)base + size;
    struct rlimit limit;
    getrlimit(RLIMIT_STACK, &limit);
    /* The limit counts the arguments and environment above high too. */
    const rlim_t above = limit.rlim_cur - size;
    setStackLimit((rlim_t)(high - sp) + 256 * 1024 + above);
    onMainThread();
    CHECK(sp - current->low < 300 * 1024, "the lowered limit ends below the frame");
    setStackLimit(kMainStackLimit);
}

static void startRun(Run* run, const char* scratch, const char* name, Room room, int measured,
                     int signals) {
    memset(run, 0, sizeof *run);
    run->name = name;
    run->room = room;
    run->measured = measured;
    run->signals = signals;
    joinPath(run->dir, scratch, name);
    mkdir(run->dir, 0700);
    current = run;
}

/* A tight run gave each call less room than it reaches. */
static void checkTight(const Run* run) {
    for (int i = 0; i < kCalls; ++i) CHECK(run->roomOf[i] < reach.depth[i], kCallNames[i]);
}

/* The reach run: no call reaches deeper than hibe.h says. */
static void checkReach(const Run* run) {
    for (int i = 0; i < kCalls; ++i) {
        if (run->depth[i] == 0) continue;
        CHECK(run->depth[i] <= kReach[kKindOf[i]], kCallNames[i]);
    }
}

/* ReadKey on coroutine stacks of 16 KiB and 8 KiB, inside guard bytes: it
   reaches no deeper than hibe.h says, and the host's memory below is intact. */
static void readKeyOnSmallStacks(const char* scratch) {
    static const size_t sizes[] = {16 * 1024, 8 * 1024};
    for (size_t i = 0; i < sizeof sizes / sizeof sizes[0]; ++i) {
        Run run;
        const char* name = sizes[i] == 8 * 1024 ? "readkey-8k" : "readkey-16k";
        startRun(&run, scratch, name, kAnyRoom, 1, 0);
        run.onlyReads = 1;
        if (kReach[kReadKey] + 2048 > sizes[i]) {
            fprintf(stderr, "%s: skipped: ReadKey reaches %zu bytes in this build\n", run.name,
                    kReach[kReadKey]);
            continue;
        }
        onCoroutine(sizes[i]);
        checkReach(&run);
    }
}

/* Exceptions inside the calls: the host replaces operator new (which the
   library binds to, as it would to a host's allocator) with one that throws
   std::bad_alloc at the armed allocation of the calling thread (the nothrow
   form returns NULL there, which its callers may take in their stride). */
static _Thread_local long allocationsToFailure; /* 0: disarmed */
enum { kThrew = 1, kReturnedNull = 2 };
static _Thread_local int allocationFailed; /* how the armed allocation failed */
static void (*throwBadAlloc)(void);

__attribute__((visibility("default"))) void* _Znwm(size_t n) {
    if (allocationsToFailure > 0 && --allocationsToFailure == 0) {
        allocationFailed = kThrew;
        throwBadAlloc();
    }
    void* p = malloc(n == 0 ? 1 : n);
    if (p == NULL) throwBadAlloc();
    return p;
}
__attribute__((visibility("default"))) void* _Znam(size_t n) { return _Znwm(n); }
__attribute__((visibility("default"))) void* _ZnwmRKSt9nothrow_t(size_t n, const void* tag) {
    (void)tag;
    if (allocationsToFailure > 0 && --allocationsToFailure == 0) {
        allocationFailed = kReturnedNull;
        return NULL;
    }
    return malloc(n == 0 ? 1 : n);
}
__attribute__((visibility("default"))) void* _ZnamRKSt9nothrow_t(size_t n, const void* tag) {
    return _ZnwmRKSt9nothrow_t(n, tag);
}
__attribute__((visibility("default"))) void _ZdlPv(void* p) { free(p); }
__attribute__((visibility("default"))) void _ZdaPv(void* p) { free(p); }
__attribute__((visibility("default"))) void _ZdlPvm(void* p, size_t n) {
    (void)n;
    free(p);
}
__attribute__((visibility("default"))) void _ZdaPvm(void* p, size_t n) {
    (void)n;
    free(p);
}
__attribute__((visibility("default"))) void _ZdlPvRKSt9nothrow_t(void* p, const void* tag) {
    (void)tag;
    free(p);
}
__attribute__((visibility("default"))) void _ZdaPvRKSt9nothrow_t(void* p, const void* tag) {
    (void)tag;
    free(p);
}

static void findThrowBadAlloc(void) {
    void* cxx = dlopen("libstdc++.so.6", RTLD_NOW | RTLD_NOLOAD);
    if (cxx != NULL) *(void**)&throwBadAlloc = dlsym(cxx, "_ZSt17__throw_bad_allocv");
    if (throwBadAlloc == NULL) {
        fprintf(stderr, "cannot find std::__throw_bad_alloc\n");
        exit(1);
    }
}

/* The arguments of the calls that the sweeps make, on the reach run's
   organisation and a second one ("other"), made on the main thread first. */
static struct {
    ReadKey_return params, key, keyA, otherParams;
    EncryptHibeMsg_return map, map10;
    HibeList ids, paramsList, ids10, paramsList10;
    char otherMaster[4096], otherParamsPath[4096], missing[4096], keyAPath[4096];
    char* longMessage;
} in;

enum { kLongMessage = 64 * 1024 };

static void prepareInputs(void) {
    char otherDir[4096];
    joinPath(otherDir, reach.dir, "other");
    joinPath(in.otherMaster, otherDir, "other.masterKey");
    joinPath(in.otherParamsPath, otherDir, "other.params");
    joinPath(in.missing, reach.dir, "missing");
    if (hibe.setup(3, ref("other"), ref(reach.dir)) != 0) exit(1);
    in.params = hibe.readKey(ref(reach.params));
    in.key = hibe.readKey(ref(reach.key));
    in.otherParams = hibe.readKey(ref(in.otherParamsPath));
    if (in.params.r0 == NULL || in.key.r0 == NULL || in.otherParams.r0 == NULL) exit(1);
    const char* receiver = "A/B/C";
    const void* paramsValue = in.params.r0;
    int paramsLen = (int)in.params.r1;
    in.ids = HibeListOfStrings(1, &receiver, NULL);
    in.paramsList = HibeListOfBytes(1, &paramsValue, &paramsLen);
    in.map = hibe.encrypt((char*)"a message", 9, in.ids.p, in.ids.n, in.paramsList.p,
                          in.paramsList.n, 0);
    /* Ten receivers, A/B/C among them, and the key of A. */
    const char* receivers[10] = {"A/B/C", "X1", "X2/Y", "X3", "X4", "X5", "X6", "X7", "X8", "X9"};
    const void* paramsValues[10];
    int paramsLens[10];
    for (int i = 0; i < 10; ++i) {
        paramsValues[i] = in.params.r0;
        paramsLens[i] = (int)in.params.r1;
    }
    in.ids10 = HibeListOfStrings(10, receivers, NULL);
    in.paramsList10 = HibeListOfBytes(10, paramsValues, paramsLens);
    in.map10 = hibe.encrypt((char*)"a message", 9, in.ids10.p, in.ids10.n, in.paramsList10.p,
                            in.paramsList10.n, 0);
    joinPath(in.keyAPath, reach.dir, "privateKeys/A.privateKey");
    if (hibe.keyGen(ref("A"), ref(reach.dir), ref(reach.master), ref(reach.params)) != 0) exit(1);
    in.keyA = hibe.readKey(ref(in.keyAPath));
    in.longMessage = calloc(kLongMessage, 1);
    if (in.map.r1 <= 4 || in.map10.r1 <= 4 || in.keyA.r0 == NULL || in.longMessage == NULL) exit(1);
}

static void freeInputs(void) {
    free(in.longMessage);
    free(in.keyA.r0);
    free(in.map10.r0);
    HibeListFree(&in.ids10);
    HibeListFree(&in.paramsList10);
    free(in.map.r0);
    HibeListFree(&in.ids);
    HibeListFree(&in.paramsList);
    free(in.otherParams.r0);
    free(in.key.r0);
    free(in.params.r0);
}

/* A call of each kind that succeeds: setups and key generations of fresh
   names (n). */
static char freshName[64];
static Call successCall(int kind, int n) {
    Call c = {.kind = kind, .depth = 3};
    switch (kind) {
    case kSetup:
        snprintf(freshName, sizeof freshName, "fresh%d", n);
        c.s[0] = ref(freshName);
        c.s[1] = ref(reach.dir);
        break;
    case kKeyGen:
        snprintf(freshName, sizeof freshName, "F/%d", n);
        c.s[0] = ref(freshName);
        c.s[1] = ref(reach.dir);
        c.s[2] = ref(reach.master);
        c.s[3] = ref(reach.params);
        break;
    case kReadKey:
        c.s[0] = ref(reach.key);
        break;
    case kEncrypt:
        c.b[0] = (char*)"a message";
        c.n[0] = 9;
        c.b[1] = in.ids.p;
        c.n[1] = in.ids.n;
        c.b[2] = in.paramsList.p;
        c.n[2] = in.paramsList.n;
        break;
    case kDecrypt:
        c.b[0] = (char*)"A/B";
        c.n[0] = 3;
        c.b[1] = in.params.r0;
        c.n[1] = (int)in.params.r1;
        c.b[2] = in.key.r0;
        c.n[2] = (int)in.key.r1;
        c.b[3] = in.map.r0;
        c.n[3] = (int)in.map.r1;
        break;
    }
    return c;
}

/* Whether a call returned its failure result. */
static int failed(const Call* c) {
    switch (c->kind) {
    case kSetup:
    case kKeyGen:
        return c->status == 1;
    case kEncrypt:
        return c->r1 == 4 && memcmp(c->r0, "null", 4) == 0;
    default:
        return c->r0 == NULL && c->r1 == -1;
    }
}

static void freeResult(Call* c) {
    if (c->kind != kSetup && c->kind != kKeyGen) free(c->r0);
    c->r0 = NULL;
}

/* Makes each of n calls, which must fail (or succeed), and keeps the deepest
   reach of each kind in deepest. */
static void measureCalls(Call* calls, size_t n, int fail, size_t deepest[kKinds]) {
    for (size_t i = 0; i < n; ++i) {
        Call* c = &calls[i];
        callMeasured(c);
        CHECK(failed(c) == fail, kKindNames[c->kind]);
        checkNothingLeft(c, kKindNames[c->kind]);
        if (c->reach > deepest[c->kind]) deepest[c->kind] = c->reach;
        freeResult(c);
    }
}

/* Calls that succeed on other inputs than the reach run's: setups of depth 1
   and 32, a key of one level and of three, a long message and ten receivers,
   decryption that derives two levels and from a map of ten receivers. */
static size_t variantDepth[kKinds];
static void variantCalls(void) {
    Call calls[] = {
        {.kind = kSetup, .depth = 1, .s = {ref("depth1"), ref(reach.dir)}},
        {.kind = kSetup, .depth = 32, .s = {ref("depth32"), ref(reach.dir)}},
        {.kind = kKeyGen, .s = {ref("V"), ref(reach.dir), ref(reach.master), ref(reach.params)}},
        {.kind = kKeyGen,
         .s = {ref("V/W/X"), ref(reach.dir), ref(reach.master), ref(reach.params)}},
        {.kind = kEncrypt, .b = {in.longMessage, in.ids.p, in.paramsList.p},
         .n = {kLongMessage, in.ids.n, in.paramsList.n}},
        {.kind = kEncrypt, .b = {(char*)"m", in.ids10.p, in.paramsList10.p},
         .n = {1, in.ids10.n, in.paramsList10.n}},
        {.kind = kDecrypt,
         .b = {(char*)"A", in.params.r0, in.keyA.r0, in.map.r0},
         .n = {1, (int)in.params.r1, (int)in.keyA.r1, (int)in.map.r1}},
        {.kind = kDecrypt,
         .b = {(char*)"A/B", in.params.r0, in.key.r0, in.map10.r0},
         .n = {3, (int)in.params.r1, (int)in.key.r1, (int)in.map10.r1}},
    };
    measureCalls(calls, sizeof calls / sizeof calls[0], 0, variantDepth);
}

/* Calls that fail, each late on its way where it can: a setup of an existing
   organisation (after drawing its keys) and one below a regular file, key
   generations from another organisation's master key, of an existing key and
   from missing params, reads of a missing file and of a directory, encryption
   with params and receivers that do not decode, decryption with another
   organisation's params, of a map that is not JSON, and for a holder the map
   does not name. */
static size_t failureDepth[kKinds];
static void failureCalls(void) {
    Call calls[] = {
        {.kind = kSetup, .depth = 3, .s = {ref("org"), ref(reach.dir)}},
        {.kind = kSetup, .depth = 3, .s = {ref("org"), ref(reach.params)}},
        {.kind = kKeyGen,
         .s = {ref("A/C"), ref(reach.dir), ref(in.otherMaster), ref(reach.params)}},
        {.kind = kKeyGen, .s = {ref("A/B"), ref(reach.dir), ref(reach.master), ref(reach.params)}},
        {.kind = kKeyGen, .s = {ref("A/C"), ref(reach.dir), ref(reach.master), ref(in.missing)}},
        {.kind = kReadKey, .s = {ref(in.missing)}},
        {.kind = kReadKey, .s = {ref(reach.dir)}},
        {.kind = kEncrypt, .b = {(char*)"m", in.ids.p, (char*)"garbage"}, .n = {1, in.ids.n, 7}},
        {.kind = kEncrypt,
         .b = {(char*)"m", (char*)"garbage", in.paramsList.p},
         .n = {1, 7, in.paramsList.n}},
        {.kind = kDecrypt,
         .b = {(char*)"A/B", in.otherParams.r0, in.key.r0, in.map.r0},
         .n = {3, (int)in.otherParams.r1, (int)in.key.r1, (int)in.map.r1}},
        {.kind = kDecrypt,
         .b = {(char*)"A/B", in.params.r0, in.key.r0, (char*)"{\"not\": a map"},
         .n = {3, (int)in.params.r1, (int)in.key.r1, 13}},
        {.kind = kDecrypt,
         .b = {(char*)"X/Y", in.params.r0, in.key.r0, in.map.r0},
         .n = {3, (int)in.params.r1, (int)in.key.r1, (int)in.map.r1}},
    };
    measureCalls(calls, sizeof calls / sizeof calls[0], 1, failureDepth);
}

/* The deepest that a call of each kind reaches when one of its allocations
   throws, over every allocation it makes: the first, the second, and so on,
   until a call makes no more. Each call whose allocation threw returns its
   failure result, and (in a measured run) none leaves anything of its own
   below. */
static size_t exceptionDepth[kKinds];
static void exceptionSweep(void) {
    int n = 0;
    for (int kind = 0; kind < kKinds; ++kind) {
        for (long k = 1;; ++k) {
            Call c = successCall(kind, n++);
            allocationFailed = 0;
            allocationsToFailure = k;
            callMeasured(&c);
            allocationsToFailure = 0;
            if (!allocationFailed) {
                CHECK(!failed(&c), kKindNames[kind]);
                freeResult(&c);
                break;
            }
            if (allocationFailed == kThrew) CHECK(failed(&c), kKindNames[kind]);
            checkNothingLeft(&c, kKindNames[kind]);
            if (c.reach > exceptionDepth[kind]) exceptionDepth[kind] = c.reach;
            freeResult(&c);
        }
    }
}

/* The sweep on a thread of its own: AddressSanitizer, which clears its marks
   on the stack that an exception unwinds, knows a thread's stack but not a
   coroutine's. */
static void* sweepOnThread(void* arg) {
    (void)arg;
    current->low = stackLow();
    exceptionSweep();
    return NULL;
}

static void sweepExceptions(void) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    onThread(&attr, sweepOnThread);
}

/* The exceptions case: no call in which an allocation throws reaches deeper
   than hibe.h says or leaves anything of its own below it. */
static void exceptionsCase(const char* scratch) {
    Run run;
    startRun(&run, scratch, "exceptions", kAnyRoom, 1, 0);
    sweepExceptions();
    for (int kind = 0; kind < kKinds; ++kind) {
        CHECK(exceptionDepth[kind] <= kReach[kind], kKindNames[kind]);
    }
}

/* The first call of the process (which looks up the main thread's stack), and
   the first call of each kind on a new thread (which looks up that thread's). */
static size_t firstMainDepth, firstThreadDepth[kKinds];
static const char* firstFile;

static void firstReadKey(void) {
    Call c = {.kind = kReadKey, .s = {ref(firstFile)}};
    callMeasured(&c);
    CHECK(!failed(&c), "ReadKey");
    firstMainDepth = c.reach;
    freeResult(&c);
}

static int firstKind;
static void firstCallOfKind(void) {
    Call c = successCall(firstKind, 1000 + firstKind);
    callMeasured(&c);
    CHECK(!failed(&c), kKindNames[firstKind]);
    firstThreadDepth[firstKind] = c.reach;
    freeResult(&c);
}

static void* firstOnThread(void* arg) {
    (void)arg;
    onCoroutineWith(kMaxPaint + 2 * kPaintGap + kHostFrames, firstCallOfKind);
    return NULL;
}

/* The "depths" table (see the top of the file). */
static void printDepths(const char* scratch) {
    Run run;
    prepareInputs();
    for (firstKind = 0; firstKind < kKinds; ++firstKind) {
        startRun(&run, scratch, "first", kAnyRoom, 1, 0);
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        onThread(&attr, firstOnThread);
    }
    startRun(&run, scratch, "variants", kAnyRoom, 1, 0);
    onCoroutineWith(kMaxPaint + 2 * kPaintGap + kHostFrames, variantCalls);
    startRun(&run, scratch, "failures", kAnyRoom, 1, 0);
    onCoroutineWith(kMaxPaint + 2 * kPaintGap + kHostFrames, failureCalls);
    startRun(&run, scratch, "exceptions", kAnyRoom, 1, 0);
    sweepExceptions();
    fprintf(stderr, "%-18s %8s %8s %8s %8s %9s\n", "call", "first", "thread", "success",
            "failure", "exception");
    for (int kind = 0; kind < kKinds; ++kind) {
        size_t success = variantDepth[kind];
        for (int i = 0; i < kCalls; ++i) {
            if (kKindOf[i] == kind && reach.depth[i] > success) success = reach.depth[i];
        }
        char first[16] = "-";
        if (kind == kReadKey) snprintf(first, sizeof first, "%zu", firstMainDepth);
        fprintf(stderr, "%-18s %8s %8zu %8zu %8zu %9zu\n", kKindNames[kind], first,
                firstThreadDepth[kind], success, failureDepth[kind], exceptionDepth[kind]);
    }
    freeInputs();
}

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        fprintf(stderr, "usage: %s libhibe.so scratch-directory [case | depths]\n", argv[0]);
        return 2;
    }
    const char* scratch = argv[2];
    const char* only = argc == 4 ? argv[3] : NULL;
    const int depths = only != NULL && strcmp(only, "depths") == 0;
    depthsOnly = depths;

    /* The main thread's stack may grow to kMainStackLimit; set before the first
       call on it, when the library looks the bounds up. */
    struct rlimit limit;
    if (getrlimit(RLIMIT_STACK, &limit) == 0 && limit.rlim_cur > kMainStackLimit &&
        (limit.rlim_max == RLIM_INFINITY || limit.rlim_max >= kMainStackLimit)) {
        limit.rlim_cur = kMainStackLimit;
        setrlimit(RLIMIT_STACK, &limit);
    }
    char cmd[8300];
    snprintf(cmd, sizeof cmd, "rm -rf '%s' && mkdir -p '%s'", scratch, scratch);
    if (system(cmd) != 0) return 1;
    startRun(&reach, scratch, "reach", kAnyRoom, 1, 0);
    if (depths) {
        /* The process's first call, right after loading: it waits for the
           start-up and looks up the main thread's stack. */
        static char path[4096];
        firstFile = joinPath(path, scratch, "first.key");
        FILE* f = fopen(firstFile, "wb");
        if (f == NULL || fwrite("0123456789abcdef", 1, 16, f) != 16 || fclose(f) != 0) return 1;
        loadHibe(argv[1]);
        onCoroutineWith(kMaxPaint + 2 * kPaintGap + kHostFrames, firstReadKey);
    } else {
        loadHibe(argv[1]);
    }
    silenceStdout();
    findThrowBadAlloc();

    /* How far a call reaches below its caller's frame where the library cannot
       know the stack's bounds: on a coroutine's stack with plenty of room. */
    onCoroutine(kMaxPaint + 2 * kPaintGap + kHostFrames);
    if (failures != 0) return 1;
    if (depths) {
        printDepths(scratch);
        return failures == 0 ? 0 : 1;
    }
    checkReach(&reach);

    Run run;
    if (only == NULL || strcmp(only, "coroutine") == 0) {
        startRun(&run, scratch, "coroutine", kNeedRoom, 0, 1);
        size_t most = 0;
        for (int kind = 0; kind < kKinds; ++kind) most = need(kind) > most ? need(kind) : most;
        onCoroutine(most + kHostFrames);
    }
    if (only == NULL || strcmp(only, "readkey-small") == 0) readKeyOnSmallStacks(scratch);
    if (only == NULL || strcmp(only, "small-thread") == 0) {
        startRun(&run, scratch, "small-thread", kAnyRoom, 1, 0);
        onSmallThread();
        startRun(&run, scratch, "small-thread-signals", kNeedRoom, 0, 1);
        onSmallThread();
    }
    if (only == NULL || strcmp(only, "given-stack") == 0) {
        startRun(&run, scratch, "given-stack", kTightRoom, 1, 0);
        onGivenStack(kGivenStack);
        checkTight(&run);
        startRun(&run, scratch, "given-stack-signals", kNeedRoom, 0, 1);
        onGivenStack(kGivenStack);
    }
    if (only == NULL || strcmp(only, "lowered-limit") == 0) {
        startRun(&run, scratch, "lowered-limit", kTightRoom, 1, 0);
        onMainThreadLoweredLimit();
        checkTight(&run);
    }
    if (only == NULL || strcmp(only, "main-thread") == 0) {
        startRun(&run, scratch, "main-thread", kTightRoom, 1, 0);
        onMainThread();
        checkTight(&run);
        /* Near its limit the scrub reads the limit first: that system call
           takes the signals pending, and few land in the zeroing that follows;
           away from the limit, as many land in it as on other stacks. */
        startRun(&run, scratch, "main-thread-signals", kNeedRoom, 0, 1);
        onMainThread();
        startRun(&run, scratch, "main-thread-signals-high", kAnyRoom, 0, 1);
        onMainThread();
    }
    if (only == NULL || strcmp(only, "exceptions") == 0) {
        prepareInputs();
        exceptionsCase(scratch);
        freeInputs();
    }
    if (failures != 0) {
        fprintf(stderr, "%d checks failed\n", failures);
        return 1;
    }
    return 0;
}
