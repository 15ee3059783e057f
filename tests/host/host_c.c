/*
 * A C host of libhibe.so: loads it with dlopen, resolves the five functions and
 * checks their results as a host sees them.
 *
 *   host_c path/to/libhibe.so scratch-directory
 */
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "hibe/hibe.h"

typedef int64_t (*HibeSetupFn)(int64_t, StringRef, StringRef);
typedef int64_t (*KeyGenFromMasterFn)(StringRef, StringRef, StringRef, StringRef);
typedef ReadKey_return (*ReadKeyFn)(StringRef);
typedef EncryptHibeMsg_return (*EncryptHibeMsgFn)(char*, int, char*, int, char*, int, int64_t);
typedef DecryptHibeMsg_return (*DecryptHibeMsgFn)(char*, int, char*, int, char*, int, char*, int,
                                                  int64_t);

static HibeSetupFn hibeSetup;
static KeyGenFromMasterFn keyGenFromMaster;
static ReadKeyFn readKey;
static EncryptHibeMsgFn encryptHibeMsg;
static DecryptHibeMsgFn decryptHibeMsg;

static int failures = 0;
static int checks = 0;

#define CHECK(cond)                                                      \
    do {                                                                 \
        ++checks;                                                        \
        if (!(cond)) {                                                   \
            ++failures;                                                  \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
        }                                                                \
    } while (0)

static StringRef ref(const char* s) {
    StringRef r = {s, (int64_t)strlen(s)};
    return r;
}

static void* resolve(void* lib, const char* name) {
    void* f = dlsym(lib, name);
    if (f == NULL) {
        fprintf(stderr, "missing symbol %s\n", name);
        exit(1);
    }
    return f;
}

static void writeFile(const char* path, const char* content, size_t n) {
    FILE* f = fopen(path, "wb");
    if (f == NULL || fwrite(content, 1, n, f) != n || fclose(f) != 0) {
        fprintf(stderr, "cannot write %s\n", path);
        exit(1);
    }
}

static void testReadKey(const char* dir) {
    char path[4096];

    snprintf(path, sizeof path, "%s/key.bin", dir);
    const char content[] = {'k', 0, 'e', (char)0xff, 'y'};
    writeFile(path, content, sizeof content);
    ReadKey_return r = readKey(ref(path));
    CHECK(r.r0 != NULL && r.r1 == (int64_t)sizeof content);
    if (r.r0 != NULL) CHECK(memcmp(r.r0, content, sizeof content) == 0);
    free(r.r0);

    snprintf(path, sizeof path, "%s/empty.bin", dir);
    writeFile(path, "", 0);
    r = readKey(ref(path));
    CHECK(r.r0 != NULL && r.r1 == 0);
    free(r.r0);

    snprintf(path, sizeof path, "%s/missing.bin", dir);
    r = readKey(ref(path));
    CHECK(r.r0 == NULL && r.r1 == -1);

    r = readKey(ref(dir));
    CHECK(r.r0 == NULL && r.r1 == -1);

    StringRef empty = {NULL, 0};
    r = readKey(empty);
    CHECK(r.r0 == NULL && r.r1 == -1);

    /* A zero byte after an existing file's path names no file. */
    snprintf(path, sizeof path, "%s/key.bin", dir);
    size_t len = strlen(path);
    path[len + 1] = 'x';
    StringRef withZero = {path, (int64_t)len + 2};
    r = readKey(withZero);
    CHECK(r.r0 == NULL && r.r1 == -1);

    StringRef negative = {path, -1};
    r = readKey(negative);
    CHECK(r.r0 == NULL && r.r1 == -1);
}

static void testFailureResults(void) {
    EncryptHibeMsg_return e = encryptHibeMsg("m", -1, NULL, 0, NULL, 0, 0);
    CHECK(e.r0 != NULL && e.r1 == 4 && memcmp(e.r0, "null", 4) == 0);
    free(e.r0);

    DecryptHibeMsg_return d = decryptHibeMsg("A", 1, NULL, -1, NULL, 0, NULL, 0, 0);
    CHECK(d.r0 == NULL && d.r1 == -1);

    StringRef negative = {"x", -1};
    CHECK(hibeSetup(3, negative, ref(".")) == 1);
    CHECK(keyGenFromMaster(ref("A"), negative, ref("m"), ref("p")) == 1);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s path/to/libhibe.so scratch-directory\n", argv[0]);
        return 2;
    }
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (lib == NULL) {
        fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
        return 1;
    }
    hibeSetup = (HibeSetupFn)resolve(lib, "HibeSetup");
    keyGenFromMaster = (KeyGenFromMasterFn)resolve(lib, "KeyGenFromMaster");
    readKey = (ReadKeyFn)resolve(lib, "ReadKey");
    encryptHibeMsg = (EncryptHibeMsgFn)resolve(lib, "EncryptHibeMsg");
    decryptHibeMsg = (DecryptHibeMsgFn)resolve(lib, "DecryptHibeMsg");

    /* A call made at once after loading waits for the start-up and then behaves
       like any later call. */
    ReadKey_return first = readKey(ref(argv[0]));
    CHECK(first.r0 != NULL && first.r1 > 0);
    free(first.r0);

    const char* dir = argv[2];
    char cmd[4200];
    snprintf(cmd, sizeof cmd, "rm -rf '%s' && mkdir -p '%s'", dir, dir);
    if (system(cmd) != 0) return 1;

    testReadKey(dir);
    testFailureResults();

    printf("%d passed, %d failed\n", checks - failures, failures);
    return failures == 0 ? 0 : 1;
}
