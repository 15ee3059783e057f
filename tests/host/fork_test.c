/*
 * Hosts that fork at any moment, as daemons, pre-forking servers, Python's
 * os.fork() and crash reporters do: every child must make a full setup, a key
 * and a message round trip within a time limit, exactly as its parent would,
 * and a fork never waits for a call.
 *
 * - Right after loading: many times over, a fresh process loads libhibe.so,
 *   starts two threads that call at once (they wait for the start-up), and
 *   forks at a moment that varies from at once to after the start-up.
 * - While other threads are inside calls: one process keeps four threads busy
 *   with all five functions and forks again and again.
 * - During a long call: one thread encrypts 256 MiB (by default), another forks
 *   once that call has begun; the fork returns while the call still runs.
 * - From a signal handler on a thread inside a call, as a crash reporter does:
 *   the child _exits at once, and the fork completes.
 * - With fork handlers of the host's own that call ReadKey in all three of
 *   their handlers, registered before loading the library and after it.
 * - And without a fork: a fresh process loads the library and exits at once,
 *   during the start-up.
 * - Forks that the library does not see (_Fork, and the fork system call
 *   itself: no fork handler runs), at delays that sweep from at once after
 *   loading past the end of the start-up: the child exits with exit(), or
 *   calls ReadKey and then exits, or starts two threads that call ReadKey at
 *   once while it forks a grandchild the same way, which calls ReadKey too.
 *   Each ends; the parent waits for it with a time limit and kills it when it
 *   is stuck (a child waiting inside the library has every signal blocked, so
 *   an alarm of its own could not end it). The sanitizer runtimes do not see
 *   such forks (see rawForks): the AddressSanitizer build forks only once the
 *   start-up thread has ended, and the ThreadSanitizer build not at all.
 *
 * The host's own threads allocate or free memory, and end, only while no fork
 * is under way: the sanitizers' allocators, unlike the C library's, leave a lock
 * held in the child when another thread was inside them at the fork. Inside
 * calls, and in the library's own start-up thread, making that safe is the
 * library's part.
 *
 * To know that a call has begun, this host defines getrandom, which the library
 * draws its randomness with (the host is linked to export it, so the library's
 * reference binds here): it draws through the system call, and holds the one
 * thread armed for it inside its first draw until the host releases it. That
 * thread is then inside its call, which cannot return before the release.
 *
 *   fork_test path/to/libhibe.so scratch-directory [processes [long-call-MiB]]
 */
#define _GNU_SOURCE  /* pthread_rwlockattr_setkind_np */
#include <dirent.h>
#include <errno.h>
#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <stdatomic.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>

#include "host_lib.h"

/* A child that has not finished by then is stuck: the alarm ends it. A process
   that forks has twice as long, so that its own stuck child is reported first,
   and the process that encrypts and decrypts 256 MiB (all of it memory traffic,
   slow on a loaded machine and in the sanitizer builds) has longer still. */
enum { kTimeLimitSeconds = 30, kLongCallTimeLimitSeconds = 600 };

static const char* libPath;
static pthread_mutex_t hostMemory = PTHREAD_MUTEX_INITIALIZER;

/* The sanitizers' allocators, in the runtimes of the compiler used here
   (AddressSanitizer's, and ThreadSanitizer's too), can leave one of their locks
   held in the child when another thread was inside them at the fork, and every
   call allocates: a child was found stuck there. No library can keep a call
   that another thread is making out of the allocator at the moment of a fork
   without waiting for the call, so in those builds alone the two scenarios with
   other threads inside calls keep their calls and their forks apart: a calling
   thread holds callGate for reading across its calls, and a fork takes it for
   writing (writers first, so that the busy threads cannot starve a fork). In
   the optimised build, and in the scenarios of one calling thread that the host
   holds inside getrandom, forks land in the middle of calls. */
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
static pthread_rwlock_t callGate;

static void initCallGate(void) {
    pthread_rwlockattr_t attr;
    pthread_rwlockattr_init(&attr);
    pthread_rwlockattr_setkind_np(&attr, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
    pthread_rwlock_init(&callGate, &attr);
    pthread_rwlockattr_destroy(&attr);
}
static void enterCalls(void) { pthread_rwlock_rdlock(&callGate); }
static void leaveCalls(void) { pthread_rwlock_unlock(&callGate); }
static void forkApart(void) { pthread_rwlock_wrlock(&callGate); }
static void forkDone(void) { pthread_rwlock_unlock(&callGate); }
#else
static void initCallGate(void) {}
static void enterCalls(void) {}
static void leaveCalls(void) {}
static void forkApart(void) {}
static void forkDone(void) {}
#endif

/* The host's signal mask (SIGUSR2 blocked, as a mark), set in main before any
   thread or process starts. The library blocks signals on a host thread only
   while it may hold its lock (while a call waits for the start-up, and across a
   fork before then), and always restores the host's mask: every thread checks
   that it has this mask after loading, after its calls and after a fork, in
   parent and child. */
static sigset_t hostMask;

static int hasHostMask(const char* what) {
    sigset_t now;
    pthread_sigmask(SIG_SETMASK, NULL, &now);
    for (int sig = 1; sig < NSIG; ++sig) {
        if (sigismember(&now, sig) != sigismember(&hostMask, sig)) {
            fprintf(stderr, "%s: signal %d is %s\n", what, sig,
                    sigismember(&now, sig) ? "blocked" : "not blocked");
            return 0;
        }
    }
    return 1;
}

/* Sets up organisation org under root, makes the key of A/B and decrypts a
   message with it; returns 0 when all of it worked. */
static int fullRound(const char* root, const char* org) {
    if (hibe.setup(2, ref(org), ref(root)) != 0) return 1;
    return orgIsConsistent(root, org, "A/B") ? 0 : 1;
}

/* Set once the process has forked; the calling threads end only then, as a
   thread on its way out frees its memory. The fork waits until they have begun. */
static pthread_mutex_t forkedLock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t forkedCond = PTHREAD_COND_INITIALIZER;
static int forked = 0;

static int begun = 0;

/* Blocks until count calling threads have begun (a thread on its way in sets
   up its memory). */
static void awaitBegun(int count) {
    pthread_mutex_lock(&forkedLock);
    while (begun < count) pthread_cond_wait(&forkedCond, &forkedLock);
    pthread_mutex_unlock(&forkedLock);
}

static void setForked(void) {
    pthread_mutex_lock(&forkedLock);
    forked = 1;
    pthread_cond_broadcast(&forkedCond);
    pthread_mutex_unlock(&forkedLock);
}

/* A setup and a key, called at once after loading; no memory of the host's. */
static void* callingThread(void* root) {
    char master[4096], params[4096];
    joinPath(master, (const char*)root, "org/org.masterKey");
    joinPath(params, (const char*)root, "org/org.params");
    pthread_mutex_lock(&forkedLock);
    ++begun;
    pthread_cond_broadcast(&forkedCond);
    pthread_mutex_unlock(&forkedLock);
    enterCalls();
    int ok = hibe.setup(2, ref("org"), ref((const char*)root)) == 0 &&
             hibe.keyGen(ref("A/B"), ref((const char*)root), ref(master), ref(params)) == 0 &&
             hasHostMask("a thread that called during the start-up");
    leaveCalls();
    pthread_mutex_lock(&forkedLock);
    while (!forked) pthread_cond_wait(&forkedCond, &forkedLock);
    pthread_mutex_unlock(&forkedLock);
    return ok ? NULL : (void*)1;
}

/* Whether ReadKey of path gives exactly text. */
static int readsWhole(const char* path, const char* text) {
    ReadKey_return read = hibe.readKey(ref(path));
    int ok = read.r1 == (int64_t)strlen(text) && memcmp(read.r0, text, strlen(text)) == 0;
    free(read.r0);
    return ok;
}

/* Waits for pid; whether it exited with 0. */
static int succeeded(pid_t pid, const char* what) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return 0;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return 1;
    if (WIFSIGNALED(status)) {
        fprintf(stderr, "%s: killed by signal %d%s\n", what, WTERMSIG(status),
                WTERMSIG(status) == SIGALRM ? " (time limit: stuck)" : "");
    } else {
        fprintf(stderr, "%s: exit status %d\n", what, WEXITSTATUS(status));
    }
    return 0;
}

static void sleepMicros(long micros) {
    struct timespec t = {micros / 1000000, (micros % 1000000) * 1000};
    nanosleep(&t, NULL);
}

/* Forks a child that does a full round in dir/name; returns its pid. */
static pid_t forkRound(const char* dir, const char* name) {
    char root[4096];
    joinPath(root, dir, name);
    forkApart();
    pthread_mutex_lock(&hostMemory);
    pid_t child = fork();
    if (child == 0) {
        alarm(kTimeLimitSeconds);
        _exit(!hasHostMask("a child") || fullRound(root, "org") != 0);
    }
    pthread_mutex_unlock(&hostMemory);
    forkDone();
    return hasHostMask("a parent after fork") ? child : -1;
}

static int joinAll(pthread_t* threads, int n, const char* what) {
    int failed = 0;
    for (int i = 0; i < n; ++i) {
        void* threadFailed = NULL;
        pthread_join(threads[i], &threadFailed);
        if (threadFailed != NULL) fprintf(stderr, "%s: a calling thread failed\n", what);
        failed |= threadFailed != NULL;
    }
    return failed;
}

/* A fresh process: loads the library, starts two calling threads, waits
   delayMicros, forks; the child and the parent each do a round. */
static int forkSoonAfterLoading(const char* dir, long delayMicros) {
    alarm(2 * kTimeLimitSeconds);
    silenceStdout();
    loadHibe(libPath);
    if (!hasHostMask("the loading thread")) return 1;
    char threadRoots[2][4200], root[4096], what[4200];
    pthread_t threads[2];
    for (int i = 0; i < 2; ++i) {
        snprintf(threadRoots[i], sizeof threadRoots[i], "%s/thread%d", dir, i);
        if (pthread_create(&threads[i], NULL, callingThread, threadRoots[i]) != 0) return 1;
    }
    awaitBegun(2);
    sleepMicros(delayMicros);
    pid_t child = forkRound(dir, "child");
    setForked();
    int failed = child < 0 || fullRound(joinPath(root, dir, "parent"), "org") != 0;
    failed |= joinAll(threads, 2, dir);
    snprintf(what, sizeof what, "%s/child", dir);
    if (child > 0 && !succeeded(child, what)) failed = 1;
    return failed;
}

/* What the busy threads encrypt and decrypt with: blobs made before they start. */
typedef struct {
    ReadKey_return params, key;
    HibeList ids, paramsList;
} Material;

static Material material;
static atomic_int stop = 0;

/* Makes an organisation under root and the blobs to encrypt for and decrypt as
   its identity A/B into material; returns 0 when it worked. */
static int makeMaterial(const char* root) {
    char path[4096];
    if (fullRound(root, "org") != 0) return 1;
    material.params = hibe.readKey(ref(joinPath(path, root, "org/org.params")));
    material.key = hibe.readKey(ref(joinPath(path, root, "privateKeys/A#B.privateKey")));
    const char* id = "A/B";
    const void* paramsValue = material.params.r0;
    int paramsLen = (int)material.params.r1;
    material.ids = HibeListOfStrings(1, &id, NULL);
    material.paramsList = HibeListOfBytes(1, &paramsValue, &paramsLen);
    return material.params.r0 == NULL || material.key.r0 == NULL;
}

static void freeMaterial(void) {
    free(material.params.r0);
    free(material.key.r0);
    HibeListFree(&material.ids);
    HibeListFree(&material.paramsList);
}

/* Whether map is a message map of A/B that decrypts to the len bytes at message. */
static int decryptsTo(EncryptHibeMsg_return map, const char* message, int len) {
    DecryptHibeMsg_return plain =
        hibe.decrypt("A/B", 3, material.params.r0, (int)material.params.r1, material.key.r0,
                     (int)material.key.r1, map.r0, (int)map.r1, 0);
    int ok = plain.r1 == len && memcmp(plain.r0, message, (size_t)len) == 0;
    free(plain.r0);
    return ok;
}

/* Calls all five functions in a loop, in a directory of its own each time. */
static void* busyThread(void* dir) {
    char root[4096], name[32], master[4096], params[4096];
    char message[] = "a message while others fork";
    int failed = 0;
    for (int i = 0; !stop && !failed; ++i) {
        snprintf(name, sizeof name, "%d", i);
        joinPath(root, (const char*)dir, name);
        joinPath(master, root, "org/org.masterKey");
        joinPath(params, root, "org/org.params");
        enterCalls();
        failed |= hibe.setup(2, ref("org"), ref(root)) != 0;
        failed |= hibe.keyGen(ref("A/B"), ref(root), ref(master), ref(params)) != 0;
        ReadKey_return read = hibe.readKey(ref(params));
        EncryptHibeMsg_return map = hibe.encrypt(message, (int)strlen(message),
                                                 material.ids.p, material.ids.n,
                                                 material.paramsList.p, material.paramsList.n, 0);
        DecryptHibeMsg_return plain = hibe.decrypt(
            "A/B", 3, material.params.r0, (int)material.params.r1, material.key.r0,
            (int)material.key.r1, map.r0, (int)map.r1, 0);
        leaveCalls();
        failed |= read.r1 != 512 || plain.r1 != (int64_t)strlen(message);
        pthread_mutex_lock(&hostMemory);
        free(read.r0);
        free(map.r0);
        free(plain.r0);
        pthread_mutex_unlock(&hostMemory);
    }
    if (failed) fprintf(stderr, "a busy thread failed in %s\n", root);
    return failed ? (void*)1 : NULL;
}

static int forkWhileOthersCall(const char* dir, int forks) {
    char roots[4][4200], name[32], materialRoot[4096];
    if (makeMaterial(joinPath(materialRoot, dir, "material")) != 0) return 1;

    pthread_t threads[4];
    for (int i = 0; i < 4; ++i) {
        snprintf(roots[i], sizeof roots[i], "%s/busy%d", dir, i);
        if (pthread_create(&threads[i], NULL, busyThread, roots[i]) != 0) return 1;
    }
    int failed = 0;
    for (int i = 0; i < forks; ++i) {
        sleepMicros(rand() % 3000);
        snprintf(name, sizeof name, "child%d", i);
        pid_t child = forkRound(dir, name);
        if (child < 0 || !succeeded(child, name)) failed = 1;
    }
    stop = 1;
    failed |= joinAll(threads, 4, dir);
    freeMaterial();
    return failed;
}

/* The getrandom of this host (see the top of the file). The thread armed for it
   is held inside its first draw: callBegun is posted, and the draw waits for
   callRelease. Any other draw, and every draw in a child, goes straight through. */
static pthread_t armedThread;
static atomic_int armed = 0;
static sem_t callBegun, callRelease;

__attribute__((visibility("default"))) ssize_t getrandom(void* buf, size_t n, unsigned flags) {
    if (atomic_load(&armed) && pthread_equal(pthread_self(), armedThread) &&
        atomic_exchange(&armed, 0)) {
        sem_post(&callBegun);
        while (sem_wait(&callRelease) != 0 && errno == EINTR) {
        }
    }
    return syscall(SYS_getrandom, buf, n, flags);
}

/* A call of EncryptHibeMsg on a thread of its own, armed to be held at its first
   draw; returned is set when the call has returned. */
typedef struct {
    char* message;
    int len;
    EncryptHibeMsg_return map;
    atomic_int returned;
} LongCall;

static void* longCallThread(void* arg) {
    LongCall* call = arg;
    armedThread = pthread_self();
    atomic_store(&armed, 1);
    call->map = hibe.encrypt(call->message, call->len, material.ids.p, material.ids.n,
                             material.paramsList.p, material.paramsList.n, 0);
    atomic_store(&call->returned, 1);
    return NULL;
}

/* A fresh process: makes material, starts a call of len bytes on a thread of its
   own and waits until that call has begun (it is then held in its first draw). */
static int beginLongCall(const char* dir, LongCall* call, pthread_t* thread, int len) {
    char root[4096];
    alarm(kLongCallTimeLimitSeconds);
    silenceStdout();
    loadHibe(libPath);
    if (makeMaterial(joinPath(root, dir, "material")) != 0) return 1;
    sem_init(&callBegun, 0, 0);
    sem_init(&callRelease, 0, 0);
    call->len = len;
    call->message = malloc((size_t)len);
    if (call->message == NULL) return 1;
    for (unsigned i = 0; i < (unsigned)len; ++i) call->message[i] = (char)(i * 131 + (i >> 20));
    if (pthread_create(thread, NULL, longCallThread, call) != 0) return 1;
    while (sem_wait(&callBegun) != 0 && errno == EINTR) {
    }
    return 0;
}

/* Lets the held call go on, waits for it, and checks that its map decrypts. */
static int endLongCall(LongCall* call, pthread_t thread, const char* what) {
    sem_post(&callRelease);
    pthread_join(thread, NULL);
    int ok = decryptsTo(call->map, call->message, call->len);
    if (!ok) fprintf(stderr, "%s: the map of the long call does not decrypt\n", what);
    free(call->map.r0);
    free(call->message);
    freeMaterial();
    return ok ? 0 : 1;
}

/* The size of the long call's message. The order that the test checks holds
   whatever the size (the call is held inside until the fork has returned); the
   sanitizer builds pass a smaller one, as they make every byte many times
   slower to encrypt. */
static int longCallBytes = 256 << 20;

/* One thread encrypts 256 MiB; this one forks once that call has begun. The fork
   returns while the call still runs (it cannot return before the release that
   follows the fork); the child makes a full round, and the parent's call ends
   with a map that decrypts. */
static int forkDuringLongCall(const char* dir) {
    static LongCall call;
    pthread_t thread;
    if (beginLongCall(dir, &call, &thread, longCallBytes) != 0) return 1;
    pid_t child = forkRound(dir, "child");
    int returnedAtFork = atomic_load(&call.returned);
    int failed = child < 0 || endLongCall(&call, thread, dir) != 0;
    if (returnedAtFork) {
        fprintf(stderr, "%s: the fork returned only after the call\n", dir);
        failed = 1;
    }
    if (child > 0 && !succeeded(child, "child of a fork during a long call")) failed = 1;
    return failed;
}

/* A crash reporter's handler: forks, and its child _exits at once. */
static volatile sig_atomic_t handlerChild = 0;
static sem_t handlerDone;

static void forkingHandler(int sig) {
    (void)sig;
    pid_t child = fork();
    if (child == 0) _exit(0);
    handlerChild = child;
    sem_post(&handlerDone);
}

/* A thread held inside a call gets a signal whose handler forks: the fork
   completes, its child exits with 0, and the call then ends as it would have. */
static int forkInSignalHandler(const char* dir) {
    static LongCall call;
    pthread_t thread;
    sem_init(&handlerDone, 0, 0);
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = forkingHandler;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGUSR1, &action, NULL) != 0) return 1;
    if (beginLongCall(dir, &call, &thread, 1 << 20) != 0) return 1;
    pthread_kill(thread, SIGUSR1);
    while (sem_wait(&handlerDone) != 0 && errno == EINTR) {
    }
    int failed = handlerChild <= 0 || !succeeded(handlerChild, "child of a signal handler");
    failed |= endLongCall(&call, thread, dir);
    return failed;
}

/* The host's own fork handlers, each reading handlerFile with ReadKey; each
   records whether the bytes came back whole. */
static char handlerFile[4096];
static const char kHandlerFileText[] = "read in a fork handler";
static int readInPrepare, readInParent, readInChild;

static int readsHandlerFile(void) { return readsWhole(handlerFile, kHandlerFileText); }

static void prepareReads(void) { readInPrepare = readsHandlerFile(); }
static void parentReads(void) { readInParent = readsHandlerFile(); }
static void childReads(void) { readInChild = readsHandlerFile(); }

/* A fresh process registers fork handlers that call ReadKey, before loading the
   library or after it, and forks twice: at once after loading (during the
   start-up, as a rule) and after a full round. Every handler reads the file, and
   each child makes a full round. */
static int forkWithHostHandlers(const char* dir, int registerFirst) {
    char root[4096], name[32];
    alarm(2 * kTimeLimitSeconds);
    silenceStdout();
    if (mkdir(dir, 0700) != 0) return 1;
    joinPath(handlerFile, dir, "handler-file");
    FILE* file = fopen(handlerFile, "w");
    if (file == NULL || fputs(kHandlerFileText, file) < 0 || fclose(file) != 0) return 1;
    if (registerFirst) pthread_atfork(prepareReads, parentReads, childReads);
    loadHibe(libPath);
    if (!registerFirst) pthread_atfork(prepareReads, parentReads, childReads);
    int failed = 0;
    for (int i = 0; i < 2; ++i) {
        if (i == 1 && fullRound(joinPath(root, dir, "parent"), "org") != 0) failed = 1;
        readInPrepare = readInParent = readInChild = 0;
        snprintf(name, sizeof name, "child%d", i);
        joinPath(root, dir, name);
        pid_t child = fork();
        if (child == 0) {
            alarm(kTimeLimitSeconds);
            _exit(!readInPrepare || !readInChild || !hasHostMask("a child") ||
                  fullRound(root, "org") != 0);
        }
        if (!hasHostMask("a parent after fork")) failed = 1;
        if (child < 0 || !readInPrepare || !readInParent) {
            fprintf(stderr, "%s/%s: a fork handler of the parent could not read\n", dir, name);
            failed = 1;
        }
        if (child > 0 && !succeeded(child, name)) failed = 1;
    }
    return failed;
}

/* A fresh process loads the library and exits at once, while the start-up runs:
   exit waits for the start-up thread, which may be inside OpenSSL, before any
   exit handler frees what it uses. */
static int exitRightAfterLoading(const char* dir) {
    (void)dir;
    alarm(kTimeLimitSeconds);
    silenceStdout();
    loadHibe(libPath);
    exit(0);
}

/* rawForks: the forks that run no fork handler, what their child does, and the
   file that the children read with ReadKey. */
typedef enum { kRawChildExits, kRawChildReads, kRawChildThreads } RawChild;
static const struct {
    const char* name;
    int systemCall;  /* syscall(SYS_fork), else _Fork */
    RawChild child;
} rawForks[] = {
    {"_Fork-exit", 0, kRawChildExits},
    {"_Fork-ReadKey", 0, kRawChildReads},
    {"_Fork-threads-and-grandchild", 0, kRawChildThreads},
    {"SYS_fork-ReadKey", 1, kRawChildReads},
};
enum { kRawForkSweepMicros = 3000 };
static char rawFile[4096];
static const char kRawFileText[] = "read in a child of a raw fork";

static int readsRawFile(void) { return readsWhole(rawFile, kRawFileText); }

/* Sanitizer runtimes do not see a fork that runs no fork handler, and leave
   their own state in the child as the parent's threads had it. The locks of
   AddressSanitizer's allocator, which the start-up thread holds while it
   allocates, stay held; so in that build a raw fork waits until the start-up
   thread has ended. LeakSanitizer looks for the memory of the parent's threads
   and reports it leaked, and what a step cut off had half built, which the
   child drops by design: it is off in the children. ThreadSanitizer takes the
   child's work on the library's state for a race with the start-up thread,
   which the child does not have: its build makes no raw fork. The optimised
   build forks from the moment of loading on. */
static int inRawForkChild = 0;
#if defined(__SANITIZE_ADDRESS__)
__attribute__((visibility("default"))) int __lsan_is_turned_off(void) { return inRawForkChild; }
enum { kRawForks = 1, kRawForkAfterStartup = 1 };
#elif defined(__SANITIZE_THREAD__)
enum { kRawForks = 0, kRawForkAfterStartup = 1 };
#else
enum { kRawForks = 1, kRawForkAfterStartup = 0 };
#endif

/* Whether the process runs no thread but the calling one. */
static int onlyThisThread(void) {
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == NULL) return 0;
    int threads = 0;
    for (struct dirent* entry; (entry = readdir(tasks)) != NULL;) threads += entry->d_name[0] != '.';
    closedir(tasks);
    return threads == 1;
}

/* Waits until the library is ready and its start-up thread has ended; whether
   that came in time. */
static int startupThreadEnded(void) {
    if (!readsRawFile()) return 0;
    for (long waited = 0; waited < kTimeLimitSeconds * 1000000L; waited += 100) {
        if (onlyThisThread()) return 1;
        sleepMicros(100);
    }
    return 0;
}

/* Forks as _Fork or the system call; the child is marked as one of a raw fork. */
static pid_t rawFork(int systemCall) {
    const pid_t child = systemCall ? (pid_t)syscall(SYS_fork) : _Fork();
    if (child == 0) inRawForkChild = 1;
    return child;
}

/* Waits for pid at most seconds; whether it exited with 0. A child still
   running then is stuck, and is killed. */
static int endsInTime(pid_t pid, int seconds, const char* what) {
    for (long waited = 0; waited < seconds * 1000000L; waited += 1000) {
        int status = 0;
        const pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid) {
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return 1;
            fprintf(stderr, "%s: %s %d\n", what, WIFEXITED(status) ? "exit status" : "signal",
                    WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
            return 0;
        }
        if (ended < 0 && errno != EINTR) return 0;
        sleepMicros(1000);
    }
    fprintf(stderr, "%s: stuck, killed after %d s\n", what, seconds);
    kill(pid, SIGKILL);
    waitpid(pid, NULL, 0);
    return 0;
}

/* The threads of a child of a raw fork: each has begun once it counts itself
   in rawBegun, and ends only once rawForked is set (a thread on its way in or
   out sets up or frees its memory, which no fork may interrupt). */
static atomic_int rawBegun = 0, rawForked = 0;

static void* rawReadingThread(void* arg) {
    (void)arg;
    atomic_fetch_add(&rawBegun, 1);
    enterCalls();
    int ok = readsRawFile();
    leaveCalls();
    while (!atomic_load(&rawForked)) sleepMicros(100);
    return ok ? NULL : (void*)1;
}

/* A child of a raw fork: two threads call ReadKey at once, while this thread
   forks a grandchild the same way, which calls ReadKey and exits; 0 when all
   of it worked. */
static int threadsAndGrandchild(int systemCall) {
    pthread_t threads[2];
    for (int i = 0; i < 2; ++i) {
        if (pthread_create(&threads[i], NULL, rawReadingThread, NULL) != 0) return 1;
    }
    while (atomic_load(&rawBegun) < 2) sleepMicros(10);
    forkApart();
    pid_t grandchild = rawFork(systemCall);
    if (grandchild == 0) exit(!readsRawFile() || !hasHostMask("a grandchild of a raw fork"));
    forkDone();
    atomic_store(&rawForked, 1);
    /* Half the time of its parent, which is then still there to kill it. */
    int failed = grandchild < 0 ||
                 !endsInTime(grandchild, kTimeLimitSeconds / 2, "a grandchild of a raw fork");
    failed |= joinAll(threads, 2, "a child of a raw fork");
    return failed;
}

/* A fresh process loads the library, waits delayMicros and forks as
   rawForks[which] says; the child ends with exit(). */
static int rawForkAfterLoading(int which, long delayMicros) {
    alarm(2 * kTimeLimitSeconds);
    silenceStdout();
    loadHibe(libPath);
    if (kRawForkAfterStartup && !startupThreadEnded()) {
        fprintf(stderr, "%s: the start-up thread did not end\n", rawForks[which].name);
        return 1;
    }
    sleepMicros(delayMicros);
    pid_t child = rawFork(rawForks[which].systemCall);
    if (child == 0) {
        switch (rawForks[which].child) {
            case kRawChildExits: exit(0);
            case kRawChildReads: exit(!readsRawFile() || !hasHostMask("a child of a raw fork"));
            case kRawChildThreads: exit(threadsAndGrandchild(rawForks[which].systemCall));
        }
    }
    char what[128];
    snprintf(what, sizeof what, "%s after %ld us", rawForks[which].name, delayMicros);
    return child < 0 || !endsInTime(child, kTimeLimitSeconds, what);
}

/* Each raw fork, in count fresh processes with delays from 0 to
   kRawForkSweepMicros; a kind stops at its first failure. */
static int rawForksAfterLoading(const char* scratch, int count) {
    int failures = 0;
    if (!kRawForks) return 0;
    joinPath(rawFile, scratch, "raw-fork-file");
    FILE* file = fopen(rawFile, "w");
    if (file == NULL || fputs(kRawFileText, file) < 0 || fclose(file) != 0) return 1;
    for (size_t which = 0; which < sizeof rawForks / sizeof rawForks[0]; ++which) {
        for (int i = 0; i < count; ++i) {
            const long delay = (long)i * kRawForkSweepMicros / (count > 1 ? count - 1 : 1);
            pid_t pid = fork();
            if (pid == 0) exit(rawForkAfterLoading((int)which, delay));
            if (pid < 0 || !succeeded(pid, rawForks[which].name)) {
                ++failures;
                break;
            }
        }
    }
    return failures;
}

/* Runs scenario(dir) in a fresh process, which ends with exit as a host does;
   whether it failed. */
static int inFreshProcess(int (*scenario)(const char*), const char* dir) {
    pid_t pid = fork();
    if (pid == 0) exit(scenario(dir));
    return pid < 0 || !succeeded(pid, dir);
}

static int handlersRegisteredFirst(const char* dir) { return forkWithHostHandlers(dir, 1); }
static int handlersRegisteredAfter(const char* dir) { return forkWithHostHandlers(dir, 0); }

int main(int argc, char** argv) {
    if (argc < 3 || argc > 5) {
        fprintf(stderr, "usage: %s path/to/libhibe.so scratch-directory [processes [long-call-MiB]]\n",
                argv[0]);
        return 2;
    }
    libPath = argv[1];
    const char* scratch = argv[2];
    int processes = argc >= 4 ? atoi(argv[3]) : 30;
    if (argc == 5) longCallBytes = atoi(argv[4]) << 20;
    char cmd[4200], dir[4096];
    snprintf(cmd, sizeof cmd, "rm -rf '%s' && mkdir -p '%s'", scratch, scratch);
    if (system(cmd) != 0) return 1;
    unsigned seed = (unsigned)time(NULL) ^ (unsigned)getpid();
    srand(seed);
    initCallGate();
    sigemptyset(&hostMask);
    sigaddset(&hostMask, SIGUSR2);
    pthread_sigmask(SIG_SETMASK, &hostMask, NULL);

    /* This process has not loaded the library: each fresh process forked here
       loads it anew. The delay before the fork sweeps from 0 past the start-up. */
    int failures = 0;
    for (int i = 0; i < processes; ++i) {
        snprintf(dir, sizeof dir, "%s/exit%d", scratch, i);
        failures += inFreshProcess(exitRightAfterLoading, dir);
    }
    for (int i = 0; i < processes; ++i) {
        snprintf(dir, sizeof dir, "%s/soon%d", scratch, i);
        long delay = i % 3 == 0 ? 0 : rand() % 2000;
        pid_t pid = fork();
        if (pid == 0) exit(forkSoonAfterLoading(dir, delay));
        if (pid < 0 || !succeeded(pid, dir)) ++failures;
    }

    failures += rawForksAfterLoading(scratch, processes);

    failures += inFreshProcess(forkDuringLongCall, joinPath(dir, scratch, "long-call"));
    failures += inFreshProcess(forkInSignalHandler, joinPath(dir, scratch, "signal"));
    failures += inFreshProcess(handlersRegisteredFirst, joinPath(dir, scratch, "handlers-first"));
    failures += inFreshProcess(handlersRegisteredAfter, joinPath(dir, scratch, "handlers-after"));

    silenceStdout();
    loadHibe(libPath);
    failures += forkWhileOthersCall(joinPath(dir, scratch, "busy"), processes);

    fprintf(stderr, "%d processes, seed %u, %d failures\n", processes, seed, failures);
    return failures == 0 ? 0 : 1;
}
