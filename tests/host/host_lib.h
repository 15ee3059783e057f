/*
 * Shared by the C hosts: loads libhibe.so with dlopen, resolves the five
 * functions, and checks key files the way a host uses them, by decrypting a
 * message. Every function is static inline, so a host uses only what it needs.
 */
#ifndef HIBE_TESTS_HOST_LIB_H
#define HIBE_TESTS_HOST_LIB_H

#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "hibe/hibe.h"
#include "hibe/hibe_list.h"

typedef struct {
    int64_t (*setup)(int64_t, StringRef, StringRef);
    int64_t (*keyGen)(StringRef, StringRef, StringRef, StringRef);
    ReadKey_return (*readKey)(StringRef);
    EncryptHibeMsg_return (*encrypt)(char*, int, char*, int, char*, int, int64_t);
    DecryptHibeMsg_return (*decrypt)(char*, int, char*, int, char*, int, char*, int, int64_t);
} Hibe;

static Hibe hibe;

static inline void* resolveOrExit(void* lib, const char* name) {
    void* f = dlsym(lib, name);
    if (f == NULL) {
        fprintf(stderr, "missing symbol %s\n", name);
        exit(1);
    }
    return f;
}

/* Loads the library and resolves the five functions into hibe; exits on failure. */
static inline void loadHibe(const char* path) {
    void* lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (lib == NULL) {
        fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
        exit(1);
    }
    *(void**)&hibe.setup = resolveOrExit(lib, "HibeSetup");
    *(void**)&hibe.keyGen = resolveOrExit(lib, "KeyGenFromMaster");
    *(void**)&hibe.readKey = resolveOrExit(lib, "ReadKey");
    *(void**)&hibe.encrypt = resolveOrExit(lib, "EncryptHibeMsg");
    *(void**)&hibe.decrypt = resolveOrExit(lib, "DecryptHibeMsg");
}

static inline StringRef ref(const char* s) {
    StringRef r = {s, (int64_t)strlen(s)};
    return r;
}

/* dir/name into out (PATH_MAX bytes); aborts when it does not fit. */
static inline char* joinPath(char* out, const char* dir, const char* name) {
    if (snprintf(out, 4096, "%s/%s", dir, name) >= 4096) abort();
    return out;
}

static inline int exists(const char* path) {
    struct stat st;
    return lstat(path, &st) == 0;
}

/* Sends standard output, where the setup prints its lines, to /dev/null. */
static inline void silenceStdout(void) {
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 1);
    if (null > 1) close(null);
}

/* Whether the key file of id decrypts a message encrypted for id with the params
   file: then the key and the params belong together. */
static inline int keyDecrypts(const char* paramsPath, const char* keyPath, const char* id) {
    ReadKey_return params = hibe.readKey(ref(paramsPath));
    ReadKey_return key = hibe.readKey(ref(keyPath));
    int ok = 0;
    if (params.r0 != NULL && key.r0 != NULL) {
        const int idLen = (int)strlen(id);
        const void* paramsValue = params.r0;
        int paramsLen = (int)params.r1;
        HibeList ids = HibeListOfStrings(1, &id, NULL);
        HibeList paramsList = HibeListOfBytes(1, &paramsValue, &paramsLen);
        char message[] = "a message for the key holder";
        EncryptHibeMsg_return map = hibe.encrypt(message, (int)strlen(message), ids.p, ids.n,
                                                 paramsList.p, paramsList.n, 0);
        DecryptHibeMsg_return plain = hibe.decrypt((char*)id, idLen, params.r0,
                                                   (int)params.r1, key.r0, (int)key.r1, map.r0,
                                                   (int)map.r1, 0);
        ok = plain.r0 != NULL && plain.r1 == (int64_t)strlen(message) &&
             memcmp(plain.r0, message, strlen(message)) == 0;
        free(plain.r0);
        free(map.r0);
        HibeListFree(&ids);
        HibeListFree(&paramsList);
    }
    free(params.r0);
    free(key.r0);
    return ok;
}

/* Whether the master key file and the params file belong together: a key of id
   made from them (into root/privateKeys, unless one is there already) decrypts a
   message made with the params. */
static inline int keyFromMasterDecrypts(const char* root, const char* master, const char* params,
                                 const char* id) {
    char name[4096], keyPath[4096];
    snprintf(name, sizeof name, "privateKeys/%s.privateKey", id);
    for (char* c = name + strlen("privateKeys/"); *c != '\0'; ++c) {
        if (*c == '/') *c = '#';
    }
    joinPath(keyPath, root, name);
    if (!exists(keyPath) && hibe.keyGen(ref(id), ref(root), ref(master), ref(params)) != 0) {
        return 0;
    }
    return keyDecrypts(params, keyPath, id);
}

/* Whether the organisation org under root is complete and consistent. */
static inline int orgIsConsistent(const char* root, const char* org, const char* id) {
    char orgDir[4096], name[4096], master[4096], params[4096];
    joinPath(orgDir, root, org);
    snprintf(name, sizeof name, "%s.masterKey", org);
    joinPath(master, orgDir, name);
    snprintf(name, sizeof name, "%s.params", org);
    joinPath(params, orgDir, name);
    return keyFromMasterDecrypts(root, master, params, id);
}

#endif
