/*
 * A C host of libhibe.so: loads it with dlopen, resolves the five functions and
 * checks their results as a host sees them. Right after loading, while the
 * library's start-up may still be running, it starts `threads` threads that
 * each call all five functions on shared, read-only organisation files (the
 * known-answer files in data-directory) and on files and messages of their own.
 *
 *   host_c path/to/libhibe.so scratch-directory data-directory [threads]
 */
#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host_lib.h"

static int failures = 0;
static int checks = 0;
static pthread_mutex_t counterLock = PTHREAD_MUTEX_INITIALIZER;

#define CHECK(cond)                                                                  \
    do {                                                                             \
        int ok_ = (cond);                                                            \
        pthread_mutex_lock(&counterLock);                                            \
        ++checks;                                                                    \
        if (!ok_) {                                                                  \
            ++failures;                                                              \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
        }                                                                            \
        pthread_mutex_unlock(&counterLock);                                          \
    } while (0)

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
    ReadKey_return r = hibe.readKey(ref(path));
    CHECK(r.r0 != NULL && r.r1 == (int64_t)sizeof content);
    if (r.r0 != NULL) CHECK(memcmp(r.r0, content, sizeof content) == 0);
    free(r.r0);

    snprintf(path, sizeof path, "%s/empty.bin", dir);
    writeFile(path, "", 0);
    r = hibe.readKey(ref(path));
    CHECK(r.r0 != NULL && r.r1 == 0);
    free(r.r0);

    snprintf(path, sizeof path, "%s/missing.bin", dir);
    r = hibe.readKey(ref(path));
    CHECK(r.r0 == NULL && r.r1 == -1);

    r = hibe.readKey(ref(dir));
    CHECK(r.r0 == NULL && r.r1 == -1);

    StringRef empty = {NULL, 0};
    r = hibe.readKey(empty);
    CHECK(r.r0 == NULL && r.r1 == -1);

    /* A zero byte after an existing file's path names no file. */
    snprintf(path, sizeof path, "%s/key.bin", dir);
    size_t len = strlen(path);
    path[len + 1] = 'x';
    StringRef withZero = {path, (int64_t)len + 2};
    r = hibe.readKey(withZero);
    CHECK(r.r0 == NULL && r.r1 == -1);

    StringRef negative = {path, -1};
    r = hibe.readKey(negative);
    CHECK(r.r0 == NULL && r.r1 == -1);
}

static void testFailureResults(void) {
    EncryptHibeMsg_return e = hibe.encrypt("m", -1, NULL, 0, NULL, 0, 0);
    CHECK(e.r0 != NULL && e.r1 == 4 && memcmp(e.r0, "null", 4) == 0);
    free(e.r0);

    DecryptHibeMsg_return d = hibe.decrypt("A", 1, NULL, -1, NULL, 0, NULL, 0, 0);
    CHECK(d.r0 == NULL && d.r1 == -1);

    StringRef negative = {"x", -1};
    CHECK(hibe.setup(3, negative, ref(".")) == 1);
    CHECK(hibe.keyGen(ref("A"), negative, ref("m"), ref("p")) == 1);
}

/* The list helper writes the layout byte for byte, and refuses what the
   library would not read in full. */
static void testHibeList(void) {
    static const char want[] =
        "vtkv" "v1.0" "\xff\xff\xff\xff\xff\xff\xff\xff" "\x03\0\0\0"
        "\x01\0\0\0" "\x04\0\0\0" "size" "\0\0\0\0" "\x04\0\0\0" "\x02\0\0\0"
        "\x01\0\0\0" "\x01\0\0\0" "0" "\x01\0\0\0" "\x03\0\0\0" "A/B"
        "\x01\0\0\0" "\x01\0\0\0" "1" "\x01\0\0\0" "\x00\0\0\0";
    const char* ids[] = {"A/B", ""};
    HibeList list = HibeListOfStrings(2, ids, NULL);
    CHECK(list.p != NULL && list.n == (int)sizeof want - 1 && memcmp(list.p, want, sizeof want - 1) == 0);
    HibeListFree(&list);
    CHECK(list.p == NULL && list.n == 0);

    static const char bytes[] = {0, (char)0xff};
    const void* values[HIBE_LIST_MAX_VALUES + 1];
    int lens[HIBE_LIST_MAX_VALUES + 1];
    for (int i = 0; i <= HIBE_LIST_MAX_VALUES; ++i) values[i] = bytes, lens[i] = 2;
    const struct {
        int count, len0;
        const void* value0;
        int built;
    } cases[] = {
        {0, 0, bytes, 1},
        {HIBE_LIST_MAX_VALUES, 2, bytes, 1},
        {HIBE_LIST_MAX_VALUES + 1, 2, bytes, 0},
        {-1, 2, bytes, 0},
        {1, -1, bytes, 0},
        {1, 0, NULL, 1},
        {1, 2, NULL, 0},
        {1, HIBE_LIST_MAX_VALUE_LEN + 1, bytes, 0},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        values[0] = cases[i].value0;
        lens[0] = cases[i].len0;
        list = HibeListOfBytes(cases[i].count, values, lens);
        CHECK((list.p != NULL) == cases[i].built);
        HibeListFree(&list);
    }
    list = HibeListOfBytes(1, values, NULL);
    CHECK(list.p == NULL);
}

static const char* dataDir;

/* The bytes of a file read through ReadKey; the caller frees r0. */
static ReadKey_return readFile(const char* dir, const char* name) {
    char path[8192];
    if (snprintf(path, sizeof path, "%s/%s", dir, name) >= (int)sizeof path) abort();
    return hibe.readKey(ref(path));
}

/* Encrypts message for the receivers, each with the params at the same index. */
static EncryptHibeMsg_return encryptFor(const char* message, int count, const char* const* ids,
                                        const ReadKey_return* params) {
    const void* paramsValues[8];
    int paramsLens[8];
    for (int i = 0; i < count; ++i) {
        paramsValues[i] = params[i].r0;
        paramsLens[i] = (int)params[i].r1;
    }
    HibeList idList = HibeListOfStrings(count, ids, NULL);
    HibeList paramsList = HibeListOfBytes(count, paramsValues, paramsLens);
    EncryptHibeMsg_return map = hibe.encrypt((char*)message, (int)strlen(message), idList.p,
                                               idList.n, paramsList.p, paramsList.n, 0);
    HibeListFree(&idList);
    HibeListFree(&paramsList);
    return map;
}

/* Whether decrypting map as id with the key and params gives message. */
static int decryptsTo(const char* id, ReadKey_return params, ReadKey_return key,
                      EncryptHibeMsg_return map, const char* message) {
    DecryptHibeMsg_return plain = hibe.decrypt((char*)id, (int)strlen(id), params.r0,
                                                 (int)params.r1, key.r0, (int)key.r1, map.r0,
                                                 (int)map.r1, 0);
    int ok = plain.r0 != NULL && plain.r1 == (int64_t)strlen(message) &&
             memcmp(plain.r0, message, (size_t)plain.r1) == 0;
    free(plain.r0);
    return ok;
}

/* One host thread's work: an organisation of its own beside the shared one. */
static void* roadThread(void* arg) {
    const char* dir = (const char*)arg;
    char master[4096], params[4096], keyDir[4096];
    snprintf(master, sizeof master, "%s/own/own.masterKey", dir);
    snprintf(params, sizeof params, "%s/own/own.params", dir);
    snprintf(keyDir, sizeof keyDir, "%s/privateKeys", dir);

    CHECK(hibe.setup(2, ref("own"), ref(dir)) == 0);
    CHECK(hibe.keyGen(ref("T/x"), ref(dir), ref(master), ref(params)) == 0);

    /* A key of the shared organisation, made from its read-only files. */
    char sharedMaster[4096], sharedParams[4096];
    snprintf(sharedMaster, sizeof sharedMaster, "%s/org.masterKey", dataDir);
    snprintf(sharedParams, sizeof sharedParams, "%s/org.params", dataDir);
    CHECK(hibe.keyGen(ref("A/B"), ref(dir), ref(sharedMaster), ref(sharedParams)) == 0);

    ReadKey_return ownParams = hibe.readKey(ref(params));
    ReadKey_return orgParams = readFile(dataDir, "org.params");
    ReadKey_return ownKey = readFile(keyDir, "T#x.privateKey");
    ReadKey_return derivedKey = readFile(keyDir, "A#B.privateKey");
    ReadKey_return sharedKey = readFile(dataDir, "A#B#C.privateKey");
    CHECK(ownParams.r1 == 512 && orgParams.r1 == 576 && ownKey.r1 == 192);
    CHECK(derivedKey.r1 == 256 && sharedKey.r1 == 192);

    const char* ids[] = {"T/x", "A/B/C"};
    ReadKey_return paramsList[] = {ownParams, orgParams};
    char message[128];
    snprintf(message, sizeof message, "message of the thread working in %s", dir);
    EncryptHibeMsg_return map = encryptFor(message, 2, ids, paramsList);
    CHECK(map.r0 != NULL && map.r1 > 4 && ((char*)map.r0)[0] == '{');
    CHECK(decryptsTo("T/x", ownParams, ownKey, map, message));
    CHECK(decryptsTo("A/B/C", orgParams, sharedKey, map, message));
    CHECK(decryptsTo("A/B", orgParams, derivedKey, map, message));
    CHECK(!decryptsTo("T/x", ownParams, sharedKey, map, message));

    free(map.r0);
    free(ownParams.r0);
    free(orgParams.r0);
    free(ownKey.r0);
    free(derivedKey.r0);
    free(sharedKey.r0);
    return NULL;
}

/* The known-answer message map decrypts as each of its three holders. */
static void testKnownAnswers(void) {
    ReadKey_return params = readFile(dataDir, "org.params");
    ReadKey_return map = readFile(dataDir, "map-A#B#C.json");
    ReadKey_return plain = readFile(dataDir, "plaintext.txt");
    CHECK(params.r0 != NULL && map.r0 != NULL && plain.r0 != NULL);
    char message[256] = {0};
    memcpy(message, plain.r0, (size_t)plain.r1 < sizeof message - 1 ? (size_t)plain.r1 : 0);
    const char* holders[] = {"A", "A/B", "A/B/C"};
    const char* keys[] = {"A.privateKey", "A#B.privateKey", "A#B#C.privateKey"};
    EncryptHibeMsg_return asMap = {map.r0, map.r1};
    for (int i = 0; i < 3; ++i) {
        ReadKey_return key = readFile(dataDir, keys[i]);
        CHECK(decryptsTo(holders[i], params, key, asMap, message));
        free(key.r0);
    }
    free(params.r0);
    free(map.r0);
    free(plain.r0);
}

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        fprintf(stderr, "usage: %s path/to/libhibe.so scratch-directory data-directory [threads]\n",
                argv[0]);
        return 2;
    }
    const char* dir = argv[2];
    dataDir = argv[3];
    int threads = argc == 5 ? atoi(argv[4]) : 8;
    char cmd[4200];
    snprintf(cmd, sizeof cmd, "rm -rf '%s' && mkdir -p '%s'", dir, dir);
    if (system(cmd) != 0) return 1;
    char(*threadDirs)[4096] = calloc((size_t)threads, sizeof *threadDirs);
    pthread_t* ids = calloc((size_t)threads, sizeof *ids);
    if (threadDirs == NULL || ids == NULL) return 1;

    loadHibe(argv[1]);

    /* Calls made at once after loading wait for the start-up and then behave
       like any later call. */
    for (int i = 0; i < threads; ++i) {
        snprintf(threadDirs[i], sizeof threadDirs[i], "%s/thread%d", dir, i);
        if (pthread_create(&ids[i], NULL, roadThread, threadDirs[i]) != 0) return 1;
    }
    ReadKey_return first = hibe.readKey(ref(argv[0]));
    CHECK(first.r0 != NULL && first.r1 > 0);
    free(first.r0);
    for (int i = 0; i < threads; ++i) pthread_join(ids[i], NULL);
    free(ids);
    free(threadDirs);

    testReadKey(dir);
    testFailureResults();
    testHibeList();
    testKnownAnswers();

    printf("%d passed, %d failed\n", checks - failures, failures);
    return failures == 0 ? 0 : 1;
}
