/*
 * The child of memscan_test: a host that loads libhibe.so with dlopen, makes
 * one call of the case named on its command line, reports the result on file
 * descriptor 3 (closed after it) and then waits, blocked on a read of file
 * descriptor 4, until the parent has scanned its memory and closes the other
 * end.
 *
 *   memscan_child libhibe.so case arguments...
 *
 *   setup   DIR                      HibeSetup(2, "org", DIR)
 *   keygen  DIR MASTER PARAMS        KeyGenFromMaster("A/B", DIR, MASTER, PARAMS)
 *   readkey FILE                     ReadKey(FILE); the result is wiped and freed
 *   encrypt PARAMS                   EncryptHibeMsg("memory scan", "A/B", PARAMS)
 *   decrypt ID PARAMS KEY MAP        DecryptHibeMsg(ID, PARAMS, KEY, MAP)
 *
 * Before the call the child paints 256 KiB of stack below its frame with 0xA5;
 * after it, it counts the stale bytes there: those that the call wrote and left
 * other than zero. The report is the status (the r1 of a buffer result) and
 * that count on one line, then the JSON map for encrypt. The child reads only public files itself, except KEY,
 * which a host passes to DecryptHibeMsg as bytes.
 */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "hibe/hibe.h"
#include "hibe/hibe_list.h"

enum { kReport = 3, kWait = 4 };

static StringRef ref(const char* s) {
    StringRef r = {s, (int64_t)strlen(s)};
    return r;
}

/* The five exported functions, looked up once. */
enum { kSetup, kKeyGen, kReadKey, kEncrypt, kDecrypt, kFunctions };
static const char* const kNames[kFunctions] = {"HibeSetup", "KeyGenFromMaster", "ReadKey",
                                               "EncryptHibeMsg", "DecryptHibeMsg"};
static void* fn[kFunctions];

/* The whole file, from malloc; *n its length. */
static char* slurp(const char* path, int* n) {
    FILE* f = fopen(path, "rb");
    if (f == NULL) {
        fprintf(stderr, "cannot read %s\n", path);
        exit(2);
    }
    size_t cap = 1 << 16, len = 0;
    char* p = malloc(cap);
    size_t got;
    while (p != NULL && (got = fread(p + len, 1, cap - len, f)) > 0) {
        len += got;
        if (len == cap) p = realloc(p, cap *= 2);
    }
    fclose(f);
    if (p == NULL) exit(2);
    *n = (int)len;
    return p;
}

static void writeAll(int fd, const void* p, size_t n) {
    const char* c = p;
    while (n > 0) {
        ssize_t w = write(fd, c, n);
        if (w <= 0) exit(2);
        c += w;
        n -= (size_t)w;
    }
}

enum { kPainted = 256 * 1024, kPaint = 0xA5 };
static uintptr_t paintedAt; /* the painted area, read after its frame is gone */

/* Paints the stack below the caller's frame, where the next call's frames go. */
__attribute__((noinline)) static void paintStack(void) {
    unsigned char area[kPainted];
    memset(area, kPaint, sizeof area);
    __asm__ volatile("" : : "r"(area) : "memory");
    paintedAt = (uintptr_t)area;
}

/* The painted bytes that are now neither paint nor zero. The top 4 KiB are not
   counted: this function's own frame lies there, and the entry point's frame,
   above the stack that it scrubs. */
__attribute__((noinline)) static size_t staleStackBytes(void) {
    const volatile unsigned char* painted = (const volatile unsigned char*)paintedAt;
    size_t stale = 0;
    for (size_t i = 0; i < kPainted - 4096; ++i) {
        const unsigned char b = painted[i];
        stale += b != kPaint && b != 0;
    }
    return stale;
}

static void report(int64_t status, size_t stale, const void* payload, size_t n) {
    char line[64];
    int len = snprintf(line, sizeof line, "%lld %zu\n", (long long)status, stale);
    writeAll(kReport, line, (size_t)len);
    if (n > 0) writeAll(kReport, payload, n);
}

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    void* lib = dlopen(argv[1], RTLD_NOW);
    if (lib == NULL) {
        fprintf(stderr, "%s\n", dlerror());
        return 2;
    }
    for (int i = 0; i < kFunctions; ++i) {
        if ((fn[i] = dlsym(lib, kNames[i])) == NULL) {
            fprintf(stderr, "missing symbol %s\n", kNames[i]);
            return 2;
        }
    }
    const char* name = argv[2];
    char** arg = argv + 3;
    const int args = argc - 3;

    if (strcmp(name, "setup") == 0 && args == 1) {
        int64_t (*hibeSetup)(int64_t, StringRef, StringRef) = fn[kSetup];
        paintStack();
        const int64_t status = hibeSetup(2, ref("org"), ref(arg[0]));
        report(status, staleStackBytes(), NULL, 0);
    } else if (strcmp(name, "keygen") == 0 && args == 3) {
        int64_t (*keyGen)(StringRef, StringRef, StringRef, StringRef) = fn[kKeyGen];
        paintStack();
        const int64_t status = keyGen(ref("A/B"), ref(arg[0]), ref(arg[1]), ref(arg[2]));
        report(status, staleStackBytes(), NULL, 0);
    } else if (strcmp(name, "readkey") == 0 && args == 1) {
        ReadKey_return (*readKey)(StringRef) = fn[kReadKey];
        paintStack();
        ReadKey_return r = readKey(ref(arg[0]));
        const size_t stale = staleStackBytes();
        if (r.r0 != NULL) explicit_bzero(r.r0, (size_t)r.r1);
        free(r.r0);
        report(r.r1, stale, NULL, 0);
    } else if (strcmp(name, "encrypt") == 0 && args == 1) {
        EncryptHibeMsg_return (*encrypt)(char*, int, char*, int, char*, int, int64_t) =
            fn[kEncrypt];
        int paramsLen;
        char* params = slurp(arg[0], &paramsLen);
        const char* ids[] = {"A/B"};
        const void* values[] = {params};
        HibeList idList = HibeListOfStrings(1, ids, NULL);
        HibeList paramsList = HibeListOfBytes(1, values, &paramsLen);
        char message[] = "memory scan";
        paintStack();
        EncryptHibeMsg_return map = encrypt(message, (int)strlen(message), idList.p, idList.n,
                                            paramsList.p, paramsList.n, 0);
        report(map.r1, staleStackBytes(), map.r0, (size_t)map.r1);
        free(map.r0);
        HibeListFree(&idList);
        HibeListFree(&paramsList);
        free(params);
    } else if (strcmp(name, "decrypt") == 0 && args == 4) {
        DecryptHibeMsg_return (*decrypt)(char*, int, char*, int, char*, int, char*, int,
                                         int64_t) = fn[kDecrypt];
        int paramsLen, keyLen, mapLen;
        char* params = slurp(arg[1], &paramsLen);
        char* key = slurp(arg[2], &keyLen);
        char* map = slurp(arg[3], &mapLen);
        paintStack();
        DecryptHibeMsg_return plain = decrypt(arg[0], (int)strlen(arg[0]), params, paramsLen, key,
                                              keyLen, map, mapLen, 0);
        report(plain.r1, staleStackBytes(), NULL, 0);
        free(plain.r0);
        free(params);
        free(key);
        free(map);
    } else {
        fprintf(stderr, "unknown case %s\n", name);
        return 2;
    }
    close(kReport);

    char c;
    while (read(kWait, &c, 1) > 0) {
    }
    return 0;
}
