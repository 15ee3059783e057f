/*
 * Hosts that fork at any moment, as daemons, pre-forking servers and Python's
 * os.fork() do: every child must make a full setup, a key and a message round
 * trip within a time limit, exactly as its parent would.
 *
 * - Right after loading: many times over, a fresh process loads libhibe.so,
 *   starts two threads that call at once (they wait for the start-up), and
 *   forks at a moment that varies from at once to after the start-up.
 * - While other threads are inside calls: one process keeps four threads busy
 *   with all five functions and forks again and again.
 *
 * The host's own threads allocate or free memory, and end, only while no fork
 * is under way: the sanitizers' allocators, unlike the C library's, leave a lock
 * held in the child when another thread was inside them at the fork. Inside
 * calls, and in the library's own start-up thread, making that safe is the
 * library's part.
 *
 *   fork_test path/to/libhibe.so scratch-directory [processes]
 */
#include <pthread.h>
#include <signal.h>
#include <stdatomic.h>
#include <sys/wait.h>
#include <time.h>

#include "host_lib.h"

/* A child that has not finished by then is stuck: the alarm ends it. A process
   that forks has twice as long, so that its own stuck child is reported first. */
enum { kTimeLimitSeconds = 30 };

static const char* libPath;
static pthread_mutex_t hostMemory = PTHREAD_MUTEX_INITIALIZER;

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
    int ok = hibe.setup(2, ref("org"), ref((const char*)root)) == 0 &&
             hibe.keyGen(ref("A/B"), ref((const char*)root), ref(master), ref(params)) == 0;
    pthread_mutex_lock(&forkedLock);
    while (!forked) pthread_cond_wait(&forkedCond, &forkedLock);
    pthread_mutex_unlock(&forkedLock);
    return ok ? NULL : (void*)1;
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
    pthread_mutex_lock(&hostMemory);
    pid_t child = fork();
    if (child == 0) {
        alarm(kTimeLimitSeconds);
        _exit(fullRound(root, "org"));
    }
    pthread_mutex_unlock(&hostMemory);
    return child;
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
        failed |= hibe.setup(2, ref("org"), ref(root)) != 0;
        failed |= hibe.keyGen(ref("A/B"), ref(root), ref(master), ref(params)) != 0;
        ReadKey_return read = hibe.readKey(ref(params));
        EncryptHibeMsg_return map = hibe.encrypt(message, (int)strlen(message),
                                                 material.ids.p, material.ids.n,
                                                 material.paramsList.p, material.paramsList.n, 0);
        DecryptHibeMsg_return plain = hibe.decrypt(
            "A/B", 3, material.params.r0, (int)material.params.r1, material.key.r0,
            (int)material.key.r1, map.r0, (int)map.r1, 0);
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
    char roots[4][4200], name[32], material_root[4096], path[4096];
    joinPath(material_root, dir, "material");
    if (fullRound(material_root, "org") != 0) return 1;
    material.params = hibe.readKey(ref(joinPath(path, material_root, "org/org.params")));
    material.key = hibe.readKey(ref(joinPath(path, material_root, "privateKeys/A#B.privateKey")));
    const char* id = "A/B";
    const void* paramsValue = material.params.r0;
    int paramsLen = (int)material.params.r1;
    material.ids = HibeListOfStrings(1, &id, NULL);
    material.paramsList = HibeListOfBytes(1, &paramsValue, &paramsLen);

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
    free(material.params.r0);
    free(material.key.r0);
    HibeListFree(&material.ids);
    HibeListFree(&material.paramsList);
    return failed;
}

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        fprintf(stderr, "usage: %s path/to/libhibe.so scratch-directory [processes]\n", argv[0]);
        return 2;
    }
    libPath = argv[1];
    const char* scratch = argv[2];
    int processes = argc == 4 ? atoi(argv[3]) : 30;
    char cmd[4200], dir[4096];
    snprintf(cmd, sizeof cmd, "rm -rf '%s' && mkdir -p '%s'", scratch, scratch);
    if (system(cmd) != 0) return 1;
    unsigned seed = (unsigned)time(NULL) ^ (unsigned)getpid();
    srand(seed);

    /* This process has not loaded the library: each fresh process forked here
       loads it anew. The delay before the fork sweeps from 0 past the start-up. */
    int failures = 0;
    for (int i = 0; i < processes; ++i) {
        snprintf(dir, sizeof dir, "%s/soon%d", scratch, i);
        long delay = i % 3 == 0 ? 0 : rand() % 2000;
        pid_t pid = fork();
        if (pid == 0) _exit(forkSoonAfterLoading(dir, delay));
        if (pid < 0 || !succeeded(pid, dir)) ++failures;
    }

    silenceStdout();
    loadHibe(libPath);
    failures += forkWhileOthersCall(joinPath(dir, scratch, "busy"), processes);

    fprintf(stderr, "%d processes, seed %u, %d failures\n", processes, seed, failures);
    return failures == 0 ? 0 : 1;
}
