/*
 * Kills a host while HibeSetup or KeyGenFromMaster writes its files, the ways a
 * host dies: SIGXFSZ (default action) at every interesting file-size limit, and
 * SIGKILL at random moments. After every death the organisation and the private
 * key are each either absent, so that a new call succeeds, or complete and
 * consistent: a key made from the master key decrypts a message made with the
 * params. An absent organisation holds at most params without a master key:
 * the old ones that the dead setup was to replace, byte for byte, or its own
 * new ones, whole. At most temporary files of the library (".<final name>.
 * <six letters or digits>.hibe-tmp") are left beside them, and a new setup
 * removes those of the organisation; beside a complete organisation, whose
 * setups are refused, only such a second name of the master key itself, or of
 * the old params that the dead setup replaced: never a copy of another master
 * key, nor new params.
 *
 *   crash_test path/to/libhibe.so scratch-directory [kills]
 */
#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include "host_expect.h"
#include "host_lib.h"

static int deaths = 0;

/* The organisation "src" (depth 3) from which the key generations make keys. */
static char srcMaster[4096], srcParams[4096];

/* What a child does: a setup of "org" (depth > 0), or a key generation for id
   from "src" (depth 0), or both (a setup, then the key of id from "org"). */
typedef struct {
    int64_t depth;
    const char* id;
} Work;

static int doWork(const Work* w, const char* root) {
    char master[4096], params[4096];
    if (w->depth > 0 && hibe.setup(w->depth, ref("org"), ref(root)) != 0) return 1;
    if (w->id == NULL) return 0;
    if (w->depth > 0) {
        joinPath(master, root, "org/org.masterKey");
        joinPath(params, root, "org/org.params");
    } else {
        strcpy(master, srcMaster);
        strcpy(params, srcParams);
    }
    return (int)hibe.keyGen(ref(w->id), ref(root), ref(master), ref(params));
}

/* Runs the work in a child whose files may not grow beyond limit bytes (SIGXFSZ
   keeps its default action, which kills), and kills it with SIGKILL after
   killAfterUs microseconds unless that is negative. Returns the wait status. */
static int runChild(const Work* w, const char* root, rlim_t limit, long killAfterUs) {
    pid_t pid = fork();
    if (pid < 0) abort();
    if (pid == 0) {
        silenceStdout();
        signal(SIGXFSZ, SIG_DFL);
        struct rlimit rl = {limit, limit};
        if (setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(3);
        _exit(doWork(w, root));
    }
    if (killAfterUs >= 0) {
        struct timespec t = {killAfterUs / 1000000, (killAfterUs % 1000000) * 1000};
        nanosleep(&t, NULL);
        kill(pid, SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) ++deaths;
    return status;
}

/* Whether every name in dir is one of the two names given (either may be NULL)
   or, where allowed, a temporary of one of them. A missing directory holds
   nothing. */
static int onlyKeyFiles(const char* dir, const char* a, const char* b, int temporaries) {
    DIR* d = opendir(dir);
    if (d == NULL) return 1;
    int ok = 1;
    for (struct dirent* e; (e = readdir(d)) != NULL;) {
        const char* n = e->d_name;
        if (strcmp(n, ".") == 0 || strcmp(n, "..") == 0) continue;
        if ((a != NULL && strcmp(n, a) == 0) || (b != NULL && strcmp(n, b) == 0)) continue;
        const int temporary =
            (a != NULL && isTemporaryOf(n, a)) || (b != NULL && isTemporaryOf(n, b));
        if (temporaries && temporary) continue;
        fprintf(stderr, "unexpected file %s/%s\n", dir, n);
        ok = 0;
    }
    closedir(d);
    return ok;
}

/* The whole content of a file (NULL when missing); the caller frees it. */
static char* slurp(const char* path, size_t* len) {
    ReadKey_return r = hibe.readKey(ref(path));
    *len = r.r1 < 0 ? 0 : (size_t)r.r1;
    return (char*)r.r0;
}

/* After a setup of "org" (depth) under root died: absent, with at most params
   (the old ones as they were, or whole new ones), and a new setup succeeds and
   leaves no temporary file; or complete and consistent, and the temporaries
   left are only second names of what it keeps. */
static void checkOrg(const char* root, int64_t depth, const char* oldParams, size_t oldLen,
                     const char* where) {
    char orgDir[4096], master[4096], params[4096];
    joinPath(orgDir, root, "org");
    joinPath(master, orgDir, "org.masterKey");
    joinPath(params, orgDir, "org.params");
    size_t len = 0;
    char* now = slurp(params, &len);
    const int paramsAsBefore = oldParams != NULL
                                   ? now != NULL && len == oldLen && memcmp(now, oldParams, len) == 0
                                   : now == NULL;
    const int newParamsWhole = now != NULL && len == (size_t)(384 + 64 * depth);
    free(now);
    EXPECT(onlyKeyFiles(orgDir, "org.params", "org.masterKey", 1), where);
    if (!exists(master)) {
        EXPECT(paramsAsBefore || newParamsWhole, where);
        EXPECT(hibe.setup(3, ref("org"), ref(root)) == 0, where);
        EXPECT(onlyKeyFiles(orgDir, "org.params", "org.masterKey", 0), where);
    } else {
        EXPECT(onlyNamesOfKeptFiles(orgDir, master, oldParams, oldLen), where);
    }
    EXPECT(orgIsConsistent(root, "org", "A/B"), where);
}

/* Makes params without their master key in root/org, as a setup that a
   previous owner of the organisation abandoned leaves them; returns their
   content (the caller frees it). */
static char* abandonedParams(const char* root, size_t* len) {
    char master[4096], params[4096];
    if (hibe.setup(2, ref("org"), ref(root)) != 0) return NULL;
    unlink(joinPath(master, root, "org/org.masterKey"));
    return slurp(joinPath(params, root, "org/org.params"), len);
}

/* After a key generation of id (whose key file is named file) under root died:
   absent and a new one succeeds, or whole and it decrypts. */
static void checkKey(const char* root, const char* id, const char* file, const char* params,
                     const char* where) {
    char keyDir[4096], keyPath[4096];
    joinPath(keyDir, root, "privateKeys");
    joinPath(keyPath, keyDir, file);
    if (!exists(keyPath)) {
        EXPECT(hibe.keyGen(ref(id), ref(root), ref(srcMaster), ref(params)) == 0, where);
    }
    EXPECT(keyDecrypts(params, keyPath, id), where);
    EXPECT(onlyKeyFiles(keyDir, file, NULL, 1), where);
}

/* Every write dies at each limit: 0, 1, the size of a point (64), a private key
   of each depth (192 to 320), the params of depth 0 (384) to 3 (576), and
   beyond every file. Setups run fresh and over an old params file. */
static void fileSizeLimits(const char* scratch) {
    static const rlim_t limits[] = {0,   1,   63,  64,  191, 192, 255, 256, 319,
                                    320, 383, 384, 447, 448, 575, 576, 577};
    const Work setup = {3, NULL}, keyA = {0, "A"}, keyABC = {0, "A/B/C"};
    char root[4096], where[128];
    for (size_t i = 0; i < sizeof limits / sizeof limits[0]; ++i) {
        for (int old = 0; old < 2; ++old) {
            snprintf(where, sizeof where, "setup, limit %lu, old params %d",
                     (unsigned long)limits[i], old);
            snprintf(root, sizeof root, "%s/xfsz-setup-%zu-%d", scratch, i, old);
            size_t oldLen = 0;
            /* A params file without its master key: the setup replaces it. */
            char* oldParams = old ? abandonedParams(root, &oldLen) : NULL;
            EXPECT(!old || oldParams != NULL, where);
            runChild(&setup, root, limits[i], -1);
            checkOrg(root, setup.depth, oldParams, oldLen, where);
            free(oldParams);
        }
        const Work* keys[] = {&keyA, &keyABC};
        const char* files[] = {"A.privateKey", "A#B#C.privateKey"};
        for (int k = 0; k < 2; ++k) {
            snprintf(where, sizeof where, "key of %s, limit %lu", keys[k]->id,
                     (unsigned long)limits[i]);
            snprintf(root, sizeof root, "%s/xfsz-key-%zu-%d", scratch, i, k);
            runChild(keys[k], root, limits[i], -1);
            checkKey(root, keys[k]->id, files[k], srcParams, where);
        }
    }
}

static long microsSince(const struct timespec* start) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - start->tv_sec) * 1000000L + (now.tv_nsec - start->tv_nsec) / 1000;
}

/* A setup followed by a key generation, killed at a random moment of it; every
   other setup replaces params without a master key. */
static void randomKills(const char* scratch, int kills) {
    const Work work = {2, "A/B"};
    char root[4096], where[128], params[4096];

    /* The span to aim at: how long the whole work takes in a child, undisturbed. */
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    runChild(&work, joinPath(root, scratch, "kill-timing"), RLIM_INFINITY, -1);
    long span = microsSince(&start) + 1;

    unsigned seed = (unsigned)time(NULL) ^ (unsigned)getpid();
    fprintf(stderr, "random kills: %d within %ld us, seed %u\n", kills, span, seed);
    srand(seed);
    for (int i = 0; i < kills; ++i) {
        snprintf(root, sizeof root, "%s/kill-%d", scratch, i);
        snprintf(where, sizeof where, "kill %d (seed %u)", i, seed);
        size_t oldLen = 0;
        char* oldParams = i % 2 == 1 ? abandonedParams(root, &oldLen) : NULL;
        EXPECT(i % 2 == 0 || oldParams != NULL, where);
        runChild(&work, root, RLIM_INFINITY, rand() % span);
        checkOrg(root, work.depth, oldParams, oldLen, where);
        free(oldParams);
        checkKey(root, "A/B", "A#B.privateKey", joinPath(params, root, "org/org.params"), where);
    }
}

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        fprintf(stderr, "usage: %s path/to/libhibe.so scratch-directory [kills]\n", argv[0]);
        return 2;
    }
    const char* scratch = argv[2];
    int kills = argc == 4 ? atoi(argv[3]) : 300;
    char cmd[4200];
    snprintf(cmd, sizeof cmd, "rm -rf '%s' && mkdir -p '%s'", scratch, scratch);
    if (system(cmd) != 0) return 1;

    loadHibe(argv[1]);
    silenceStdout();
    char srcRoot[4096];
    joinPath(srcRoot, scratch, "src");
    if (hibe.setup(3, ref("src"), ref(srcRoot)) != 0) return 1;
    joinPath(srcMaster, srcRoot, "src/src.masterKey");
    joinPath(srcParams, srcRoot, "src/src.params");

    fileSizeLimits(scratch);
    randomKills(scratch, kills);

    fprintf(stderr, "%d children died, %d failures\n", deaths, failures);
    return failures == 0 ? 0 : 1;
}
