/*
 * Shared by the C hosts: loads libhibe.so with dlopen, resolves the five
 * functions, and checks key files the way a host uses them, by decrypting a
 * message. Every function is static inline, so a host uses only what it needs.
 */
#ifndef HIBE_TESTS_HOST_LIB_H
#define HIBE_TESTS_HOST_LIB_H

#include <ctype.h>
#include <dirent.h>
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

/* Whether name is a temporary of the library for a final name of at most 238
   bytes: ".<final name>.<six letters or digits>.hibe-tmp". */
static inline int isTemporaryOf(const char* name, const char* finalName) {
    static const char marker[] = ".hibe-tmp";
    const size_t len = strlen(name), finalLen = strlen(finalName), markerLen = strlen(marker);
    if (len != finalLen + 8 + markerLen || name[0] != '.' ||
        strncmp(name + 1, finalName, finalLen) != 0 || name[1 + finalLen] != '.' ||
        strcmp(name + len - markerLen, marker) != 0) {
        return 0;
    }
    for (size_t i = 2 + finalLen; i < 8 + finalLen; ++i) {
        if (!isalnum((unsigned char)name[i])) return 0;
    }
    return 1;
}

/* A description of everything in dir, in name order, into out (size bytes):
   one line an entry, "name -> target" for a link, else the name, the kind
   (mode bits), the owner, and for a regular file its size and a hash of its
   content. The names in except (a NULL-ended list; NULL for none) are left out.
   Empty for a missing directory. */
static inline void dirSnapshot(const char* dir, const char* const* except, char* out,
                               size_t size) {
    struct dirent** entries = NULL;
    const int n = scandir(dir, &entries, NULL, alphasort);
    out[0] = '\0';
    for (int i = 0; i < n; ++i) {
        const char* name = entries[i]->d_name;
        int skip = strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
        for (const char* const* e = except; e != NULL && *e != NULL && !skip; ++e) {
            skip = strcmp(name, *e) == 0;
        }
        char path[4096], line[4096 + 600];
        struct stat st;
        if (!skip && snprintf(path, sizeof path, "%s/%s", dir, name) < (int)sizeof path &&
            lstat(path, &st) == 0) {
            if (S_ISLNK(st.st_mode)) {
                char target[4096];
                const ssize_t t = readlink(path, target, sizeof target - 1);
                target[t < 0 ? 0 : t] = '\0';
                snprintf(line, sizeof line, "%s -> %s\n", name, target);
            } else if (S_ISREG(st.st_mode)) {
                unsigned long long hash = 14695981039346656037ull; /* FNV-1a */
                const int fd = open(path, O_RDONLY | O_CLOEXEC);
                unsigned char buf[4096];
                for (ssize_t got; fd >= 0 && (got = read(fd, buf, sizeof buf)) > 0;) {
                    for (ssize_t j = 0; j < got; ++j) hash = (hash ^ buf[j]) * 1099511628211ull;
                }
                if (fd >= 0) close(fd);
                snprintf(line, sizeof line, "%s mode %o uid %u size %lld hash %llx\n", name,
                         (unsigned)st.st_mode, (unsigned)st.st_uid, (long long)st.st_size, hash);
            } else {
                snprintf(line, sizeof line, "%s mode %o uid %u\n", name, (unsigned)st.st_mode,
                         (unsigned)st.st_uid);
            }
            strncat(out, line, size - strlen(out) - 1);
        }
        free(entries[i]);
    }
    free(entries);
}

/* Whether every temporary name (one beginning with ".") beside a complete
   organisation's files in orgDir is a second name of its master key file, or
   holds the old params (oldLen bytes; NULL when there were none) that a dead
   setup replaced: what a setup that died after completing the organisation
   may leave, and never a copy of another master key. */
static inline int onlyNamesOfKeptFiles(const char* orgDir, const char* master,
                                       const char* oldParams, size_t oldLen) {
    struct stat key, st;
    if (stat(master, &key) != 0) return 0;
    DIR* d = opendir(orgDir);
    if (d == NULL) return 0;
    int ok = 1;
    char path[4096];
    for (struct dirent* e; (e = readdir(d)) != NULL;) {
        if (e->d_name[0] != '.' || strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) {
            continue;
        }
        joinPath(path, orgDir, e->d_name);
        if (lstat(path, &st) == 0 && st.st_dev == key.st_dev && st.st_ino == key.st_ino) continue;
        ReadKey_return kept = hibe.readKey(ref(path));
        const int oldOne = kept.r0 != NULL && oldParams != NULL && kept.r1 == (int64_t)oldLen &&
                           memcmp(kept.r0, oldParams, oldLen) == 0;
        free(kept.r0);
        if (!oldOne) {
            fprintf(stderr, "%s is neither the master key nor the old params\n", path);
            ok = 0;
        }
    }
    closedir(d);
    return ok;
}

#endif
