/*
 * The path moves under the setups. One host thread switches the working
 * directory between two folders while the main thread runs setups with the
 * relative keyOutPath "keys"; then a host thread swaps a component of an
 * absolute keyOutPath, a symbolic link renamed over itself, between two
 * folders. Afterwards, for every setup, in every folder:
 *
 * - no temporary, nor any other name but the organisation's two files, is
 *   left in its directory;
 * - no organisation is split across the folders, nor has a master key without
 *   its params;
 * - a setup that returned 0 left exactly one organisation, complete and
 *   consistent; one that returned 1 left no file at all (only directories).
 *
 *   chdir_test path/to/libhibe.so scratch-directory [setups]
 */
#include <dirent.h>
#include <pthread.h>
#include <stdatomic.h>

#include "host_expect.h"
#include "host_lib.h"

/* Enough for a few hundred setups in the sanitizer builds on a loaded machine. */
enum { kTimeLimitSeconds = 600 };

static atomic_int stop;

/* The two folders that the threads switch between; the link that the second
   thread swaps, and the name it makes each new link under first. */
static const char* folders[2];
static const char* swapped;
static const char* nextLink;

static void* switchFolders(void* arg) {
    (void)arg;
    while (!atomic_load(&stop)) {
        for (int i = 0; i < 2; ++i) {
            if (chdir(folders[i]) != 0) abort();
        }
    }
    return NULL;
}

static void* swapLink(void* arg) {
    (void)arg;
    while (!atomic_load(&stop)) {
        for (int i = 0; i < 2; ++i) {
            if (symlink(folders[i], nextLink) != 0 || rename(nextLink, swapped) != 0) abort();
        }
    }
    return NULL;
}

/* What one folder holds of organisation org under keys: whether its master key
   and its params are there; 0 when any other name is (a temporary). */
static int holds(const char* keys, const char* org, int* master, int* params) {
    char dir[4096], masterName[64], paramsName[64];
    joinPath(dir, keys, org);
    snprintf(masterName, sizeof masterName, "%s.masterKey", org);
    snprintf(paramsName, sizeof paramsName, "%s.params", org);
    *master = *params = 0;
    DIR* d = opendir(dir);
    if (d == NULL) return 1;
    int ok = 1;
    for (struct dirent* e; (e = readdir(d)) != NULL;) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
        if (strcmp(e->d_name, masterName) == 0) {
            *master = 1;
        } else if (strcmp(e->d_name, paramsName) == 0) {
            *params = 1;
        } else {
            fprintf(stderr, "left behind: %s/%s\n", dir, e->d_name);
            ok = 0;
        }
    }
    closedir(d);
    return ok;
}

/* Checks what setup i (its result given) left in the key directories. */
static void checkSetup(const char* const keys[2], int i, int64_t result, const char* scenario) {
    char org[32], where[128];
    snprintf(org, sizeof org, "o%d", i);
    snprintf(where, sizeof where, "%s, setup %d (returned %lld)", scenario, i, (long long)result);
    int complete = 0, files = 0;
    for (int f = 0; f < 2; ++f) {
        int master = 0, params = 0;
        EXPECT(holds(keys[f], org, &master, &params), where);
        EXPECT(!master || params, where);
        complete += master && params;
        files += master + params;
        /* A key of its own identity: keys under one root are shared by name. */
        if (master && params) EXPECT(orgIsConsistent(keys[f], org, org), where);
    }
    if (result == 0) {
        EXPECT(complete == 1 && files == 2, where);
    } else {
        EXPECT(result == 1 && files == 0, where);
    }
}

/* Runs the setups o0, o1, ... with keyOutPath while thread moves the path. */
static void runSetups(int setups, const char* keyOutPath, void* (*thread)(void*), int64_t* results,
                      int* succeeded) {
    pthread_t mover;
    atomic_store(&stop, 0);
    if (pthread_create(&mover, NULL, thread, NULL) != 0) abort();
    *succeeded = 0;
    for (int i = 0; i < setups; ++i) {
        char org[32];
        snprintf(org, sizeof org, "o%d", i);
        results[i] = hibe.setup(1, ref(org), ref(keyOutPath));
        *succeeded += results[i] == 0;
    }
    atomic_store(&stop, 1);
    pthread_join(mover, NULL);
}

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        fprintf(stderr, "usage: %s path/to/libhibe.so scratch-directory [setups]\n", argv[0]);
        return 2;
    }
    alarm(kTimeLimitSeconds);
    const char* scratch = argv[2];
    const int setups = argc == 4 ? atoi(argv[3]) : 300;
    char cmd[4200], a[4096], b[4096], keysA[4096], keysB[4096], linkPath[4096], nextPath[4096],
        keyOutPath[4096];
    snprintf(cmd, sizeof cmd, "rm -rf '%s' && mkdir -p '%s/a' '%s/b' '%s/s/A' '%s/s/B'", scratch,
             scratch, scratch, scratch, scratch);
    if (system(cmd) != 0) return 1;
    loadHibe(argv[1]);
    silenceStdout();
    int64_t* results = calloc((size_t)setups, sizeof *results);
    if (results == NULL) return 1;
    int succeeded = 0;

    /* The working directory switches between a and b. */
    folders[0] = joinPath(a, scratch, "a");
    folders[1] = joinPath(b, scratch, "b");
    runSetups(setups, "keys", switchFolders, results, &succeeded);
    fprintf(stderr, "working directory switching: %d of %d setups succeeded\n", succeeded, setups);
    const char* const inFolders[2] = {joinPath(keysA, a, "keys"), joinPath(keysB, b, "keys")};
    for (int i = 0; i < setups; ++i) checkSetup(inFolders, i, results[i], "chdir");

    /* The component s/keys of keyOutPath s/keys/keys names s/A, then s/B. */
    folders[0] = joinPath(a, scratch, "s/A");
    folders[1] = joinPath(b, scratch, "s/B");
    swapped = joinPath(linkPath, scratch, "s/keys");
    nextLink = joinPath(nextPath, scratch, "s/next");
    if (symlink(folders[0], swapped) != 0) return 1;
    runSetups(setups, joinPath(keyOutPath, swapped, "keys"), swapLink, results, &succeeded);
    fprintf(stderr, "path component swapping: %d of %d setups succeeded\n", succeeded, setups);
    const char* const inSwapped[2] = {joinPath(keysA, a, "keys"), joinPath(keysB, b, "keys")};
    for (int i = 0; i < setups; ++i) checkSetup(inSwapped, i, results[i], "swapped component");

    free(results);
    fprintf(stderr, "%d failures\n", failures);
    return failures == 0 ? 0 : 1;
}
