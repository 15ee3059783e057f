/*
 * Every exported call on the stacks that hosts run calls on: a thread made with
 * a 64 KiB stack, a stack that the host gives a thread (pthread_attr_setstack),
 * a coroutine's stack (makecontext), the main thread near its stack size limit,
 * and the child of a fork on a given stack. The five calls (setup, key
 * generation, two key reads, encryption, decryption) must succeed on each, and
 * the stack scrub that ends every call must stay inside the stack:
 *   - a given stack lies inside a larger buffer whose guard bytes, below and
 *     above it, must be intact afterwards; a thread's own guard page and the
 *     main thread's stack size limit fault when written to;
 *   - bytes of the frame that makes the calls, above them, must be intact;
 *   - where the bounds of the stack are known (a thread's, the main thread's),
 *     the calls run with less stack left than the scrub would take without
 *     them, so a scrub that ignored the bounds would write below them;
 *   - on a coroutine's stack, whose bounds the library cannot know, each call
 *     has exactly the stack that include/hibe/hibe.h says a call needs.
 * Before each call the stack below the caller's frame is painted with a
 * pattern; after it, no byte there may be other than the pattern or zero (the
 * scrub cleared all that the call wrote: a call deeper than the scrub leaves
 * its lowest frames).
 *
 *   host_stack libhibe.so scratch-directory [case]
 *   host_stack libhibe.so scratch-directory depths
 *
 * A case (coroutine, small-thread, given-stack, main-thread) runs alone; every
 * run first measures how far the scrub reaches on a coroutine's stack.
 * "depths" prints how far below its caller's frame each call changed the stack
 * on a coroutine's stack, where the library does not know the bounds: with the
 * library as built, how far the scrub reaches; with a library built without the
 * scrub, each call's own deepest path.
 */
#define _GNU_SOURCE
#include <alloca.h>
#include <pthread.h>
#include <stdint.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <ucontext.h>

#include "host_lib.h"

/* The stack that include/hibe/hibe.h tells a host that a call needs, in this
   build (the sanitizers' frames are larger), and the host's own frames on a
   coroutine's stack above the calls. */
#if defined(__SANITIZE_ADDRESS__)
enum { kCallNeeds = 52 * 1024 };
#else
enum { kCallNeeds = 36 * 1024 };
#endif
enum { kHostFrames = 8 * 1024 };

enum {
    kPaint = 0xA5,
    kGuard = 0x5C,
    kGuardBytes = 64 * 1024, /* a scrub that ignored the bounds lands here */
    kPaintGap = 64,           /* unpainted just below the painter's frame */
    kEntryFrames = 4096,      /* the entry points' frames, not counted as stale */
    kMaxPaint = 256 * 1024,   /* the most that is painted below a call */
    kSmallThread = 64 * 1024, /* (ThreadSanitizer makes any thread stack larger) */
    kMainStackLimit = 1024 * 1024,
    /* A given stack holds the thread's static TLS at its top, which is most of
       a megabyte under ThreadSanitizer; the calls find only the room left. */
    kGivenStack = 2 * 1024 * 1024,
};

static int failures = 0;

#define CHECK(cond, what)                                                              \
    do {                                                                               \
        if (!(cond)) {                                                                 \
            ++failures;                                                                \
            fprintf(stderr, "%s: %s: check failed: %s\n", current->name, what, #cond); \
        }                                                                              \
    } while (0)

/* One run of the five calls: the stack it runs on and what it found. */
typedef struct {
    const char* name;
    char dir[4096], master[4096], params[4096], key[4096];
    uintptr_t low;  /* the lowest byte of the stack, or 0 when the host does not know it */
    size_t room;    /* stack to leave each call below its caller's frame (0: all there is) */
    size_t deepest; /* the most that a call changed below its caller's frame */
    size_t mostRoom; /* the most stack that a call had below its caller's frame */
    size_t depth[6];
} Run;

static Run* current;

/* The stack pointer where it is read. */
#define STACK_POINTER(sp) __asm__ volatile("mov %%rsp, %0" : "=r"(sp))

/* The painted area of the call under way. */
static uintptr_t paintBottom, paintTop, callerSp;
/* The stack between the frame that leaves the room and the caller of a call. */
static size_t framesBetween;

/* Paints the stack from below this function's frame down to run->low (at most
   kMaxPaint): the next call's frames go there. */
__attribute__((noinline)) static void paintBelow(const Run* run) {
    uintptr_t sp;
    STACK_POINTER(sp);
    callerSp = sp;
    paintTop = sp - kPaintGap;
    paintBottom = paintTop - kMaxPaint;
    if (run->low != 0 && paintBottom < run->low) paintBottom = run->low;
    void* p = (void*)paintBottom;
    size_t n = paintTop - paintBottom;
    __asm__ volatile("rep stosb" : "+D"(p), "+c"(n) : "a"(kPaint) : "memory");
}

/* After the call: how far below its caller's frame it changed the stack, and
   how many bytes it left other than the pattern or zero below the entry
   points' frames. Reads below the stack pointer, which the sanitizers would
   take for an error. */
__attribute__((noinline, no_sanitize("address", "thread"))) static size_t measureBelow(
    size_t* stale) {
    const volatile unsigned char* painted = (const volatile unsigned char*)paintBottom;
    const size_t n = paintTop - paintBottom;
    size_t lowest = n;
    *stale = 0;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char b = painted[i];
        if (b != kPaint && lowest == n) lowest = i;
        if (i + kEntryFrames < n) *stale += b != kPaint && b != 0;
    }
    return callerSp - (paintBottom + lowest);
}

/* The arguments and the result of one exported call. */
enum { kSetup, kKeyGen, kReadKey, kEncrypt, kDecrypt };
typedef struct {
    int which;
    StringRef s[4];
    char* b[4];
    int n[4];
    int64_t status;
    void* r0;
    int64_t r1;
    size_t depth, stale;
} Call;

/* Makes one call between painting and measuring, with nothing else between. */
__attribute__((noinline)) static void callMeasured(Call* c) {
    paintBelow(current);
    switch (c->which) {
    case kSetup:
        c->status = hibe.setup(3, c->s[0], c->s[1]);
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
    c->depth = measureBelow(&c->stale);
}

static const char* const kCallNames[] = {"HibeSetup", "KeyGenFromMaster", "ReadKey params",
                                         "ReadKey key", "EncryptHibeMsg", "DecryptHibeMsg"};

/* One call, measured and checked: it left no byte of its own below, and its
   depth is kept for the run. */
static void callChecked(Call* c, int index) {
    callMeasured(c);
    CHECK(c->stale == 0, kCallNames[index]);
    current->depth[index] = c->depth;
    if (c->depth > current->deepest) current->deepest = c->depth;
    if (current->low != 0 && callerSp - current->low > current->mostRoom) {
        current->mostRoom = callerSp - current->low;
    }
}

/* The five calls on a new organisation in run->dir: setup, a key of A/B, the
   params and the key read back, a message for A/B/C, decrypted with the key of
   A/B (which derives the key of A/B/C on the way). */
__attribute__((noinline)) static void fiveCalls(void) {
    Run* run = current;
    joinPath(run->master, run->dir, "org/org.masterKey");
    joinPath(run->params, run->dir, "org/org.params");
    joinPath(run->key, run->dir, "privateKeys/A#B.privateKey");

    Call setup = {.which = kSetup, .s = {ref("org"), ref(run->dir)}};
    callChecked(&setup, 0);
    CHECK(setup.status == 0, "HibeSetup");

    Call keyGen = {.which = kKeyGen,
                   .s = {ref("A/B"), ref(run->dir), ref(run->master), ref(run->params)}};
    callChecked(&keyGen, 1);
    CHECK(keyGen.status == 0, "KeyGenFromMaster");

    Call readParams = {.which = kReadKey, .s = {ref(run->params)}};
    callChecked(&readParams, 2);
    CHECK(readParams.r0 != NULL && readParams.r1 > 0, "ReadKey params");
    Call readKey = {.which = kReadKey, .s = {ref(run->key)}};
    callChecked(&readKey, 3);
    CHECK(readKey.r0 != NULL && readKey.r1 > 0, "ReadKey key");
    if (readParams.r0 == NULL || readKey.r0 == NULL) return;

    const char* receiver = "A/B/C";
    const void* paramsValue = readParams.r0;
    int paramsLen = (int)readParams.r1;
    HibeList ids = HibeListOfStrings(1, &receiver, NULL);
    HibeList paramsList = HibeListOfBytes(1, &paramsValue, &paramsLen);
    char message[] = "a message on a small stack";
    Call encrypt = {.which = kEncrypt,
                    .b = {message, ids.p, paramsList.p},
                    .n = {(int)strlen(message), ids.n, paramsList.n}};
    callChecked(&encrypt, 4);
    CHECK(encrypt.r1 > 4, "EncryptHibeMsg");

    Call decrypt = {.which = kDecrypt,
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

/* Runs the five calls below a frame whose bytes must be intact afterwards. With
   run->room set, first takes the stack that each call would find below its
   caller's frame down to that much (framesBetween, from a run without room, is
   what the frames between here and that caller take). */
__attribute__((noinline)) static void callsOnThisStack(void) {
    unsigned char above[256];
    memset(above, kGuard, sizeof above);
    uintptr_t sp;
    STACK_POINTER(sp);
    if (current->room != 0) {
        CHECK(current->low != 0 && sp - current->low > current->room + framesBetween,
              "more stack than the room to leave");
        if (failures != 0) return;
        volatile char* pad = alloca(sp - current->low - current->room - framesBetween);
        pad[0] = 0;
        fiveCalls();
    } else {
        fiveCalls();
        framesBetween = sp - callerSp;
    }
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

/* Cases. Each sets up current and runs the five calls on its stack. */

static ucontext_t hostContext, coroutine;

static void coroutineMain(void) { callsOnThisStack(); }

/* On a coroutine's stack of size bytes: the library cannot know its bounds. */
static void onCoroutine(size_t size) {
    Guarded g = guardedStack(size);
    if (getcontext(&coroutine) != 0) exit(1);
    coroutine.uc_stack.ss_sp = g.stack;
    coroutine.uc_stack.ss_size = size;
    coroutine.uc_link = &hostContext;
    current->low = (uintptr_t)g.stack;
    makecontext(&coroutine, coroutineMain, 0);
    if (swapcontext(&hostContext, &coroutine) != 0) exit(1);
    checkGuards(&g);
}

static void* threadMain(void* arg) {
    (void)arg;
    current->low = stackLow();
    callsOnThisStack();
    return NULL;
}

static void onThread(pthread_attr_t* attr) {
    pthread_t thread;
    if (pthread_create(&thread, attr, threadMain, NULL) != 0) {
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
    onThread(&attr);
}

/* The fork child of a thread on a given stack: the same stack, the same thread. */
static void* forkOnGivenStack(void* arg) {
    (void)arg;
    current->low = stackLow();
    callsOnThisStack();
    if (failures != 0) return NULL;
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

/* A thread on a stack that the host gives it, with room bytes left for the
   calls, before and after a fork. */
static void onGivenStack(size_t size) {
    Guarded g = guardedStack(size);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstack(&attr, g.stack, size);
    pthread_t thread;
    if (pthread_create(&thread, &attr, forkOnGivenStack, NULL) != 0) exit(1);
    pthread_join(thread, NULL);
    pthread_attr_destroy(&attr);
    checkGuards(&g);
}

/* The main thread, with room bytes left above its stack size limit. */
static void onMainThread(void) {
    current->low = stackLow();
    callsOnThisStack();
}

static void startRun(Run* run, const char* scratch, const char* name, size_t room) {
    memset(run, 0, sizeof *run);
    run->name = name;
    run->room = room;
    joinPath(run->dir, scratch, name);
    mkdir(run->dir, 0700);
    current = run;
}

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        fprintf(stderr, "usage: %s libhibe.so scratch-directory [case | depths]\n", argv[0]);
        return 2;
    }
    const char* scratch = argv[2];
    const char* only = argc == 4 ? argv[3] : NULL;

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
    loadHibe(argv[1]);
    silenceStdout();

    /* How far a call reaches below its caller's frame where the library cannot
       know the stack's bounds: on a coroutine's stack with plenty of room. */
    Run reach;
    startRun(&reach, scratch, "reach", 0);
    onCoroutine(kMaxPaint + 2 * kPaintGap + kHostFrames);
    if (only != NULL && strcmp(only, "depths") == 0) {
        for (int i = 0; i < 6; ++i) fprintf(stderr, "%-18s %zu\n", kCallNames[i], reach.depth[i]);
        return failures == 0 ? 0 : 1;
    }
    if (failures != 0) return 1;
    /* Less than the scrub takes, and more than any call's own deepest path: the
       scrub must stop at the bounds. */
    const size_t tight = reach.deepest - 2048;

    Run run;
    if (only == NULL || strcmp(only, "coroutine") == 0) {
        startRun(&run, scratch, "coroutine", kCallNeeds);
        onCoroutine(kCallNeeds + kHostFrames);
    }
    if (only == NULL || strcmp(only, "small-thread") == 0) {
        startRun(&run, scratch, "small-thread", 0);
        onSmallThread();
    }
    if (only == NULL || strcmp(only, "given-stack") == 0) {
        startRun(&run, scratch, "given-stack", tight);
        onGivenStack(kGivenStack);
        CHECK(run.mostRoom < reach.deepest, "less room than the scrub takes");
    }
    if (only == NULL || strcmp(only, "main-thread") == 0) {
        startRun(&run, scratch, "main-thread", tight);
        onMainThread();
        CHECK(run.mostRoom < reach.deepest, "less room than the scrub takes");
    }
    if (failures != 0) {
        fprintf(stderr, "%d checks failed\n", failures);
        return 1;
    }
    return 0;
}
