/*
 * A small host of libhibe.so that walks the whole road through the real shared
 * object, loaded with dlopen as a real host does: sets up an organisation of
 * depth 3, derives the keys of A, A/B and A/B/C, encrypts a message for A/B/C and
 * a second receiver, and decrypts it with each key.
 *
 *   hibe_demo path/to/libhibe.so work-directory
 */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "hibe/hibe.h"
#include "hibe/hibe_list.h"

typedef int64_t (*HibeSetupFn)(int64_t, StringRef, StringRef);
typedef int64_t (*KeyGenFromMasterFn)(StringRef, StringRef, StringRef, StringRef);
typedef ReadKey_return (*ReadKeyFn)(StringRef);
typedef EncryptHibeMsg_return (*EncryptHibeMsgFn)(char*, int, char*, int, char*, int, int64_t);
typedef DecryptHibeMsg_return (*DecryptHibeMsgFn)(char*, int, char*, int, char*, int, char*, int,
                                                  int64_t);

static StringRef ref(const char* s) {
    StringRef r = {s, (int64_t)strlen(s)};
    return r;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s path/to/libhibe.so work-directory\n", argv[0]);
        return 2;
    }
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (lib == NULL) {
        fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
        return 1;
    }
    HibeSetupFn hibeSetup = (HibeSetupFn)dlsym(lib, "HibeSetup");
    KeyGenFromMasterFn keyGen = (KeyGenFromMasterFn)dlsym(lib, "KeyGenFromMaster");
    ReadKeyFn readKey = (ReadKeyFn)dlsym(lib, "ReadKey");
    EncryptHibeMsgFn encrypt = (EncryptHibeMsgFn)dlsym(lib, "EncryptHibeMsg");
    DecryptHibeMsgFn decrypt = (DecryptHibeMsgFn)dlsym(lib, "DecryptHibeMsg");
    if (!hibeSetup || !keyGen || !readKey || !encrypt || !decrypt) {
        fprintf(stderr, "missing symbols in %s\n", argv[1]);
        return 1;
    }
    printf("loaded %s\n", argv[1]);
    const char* work = argv[2];
    char params[4096], master[4096], path[4096];
    snprintf(params, sizeof params, "%s/org/org.params", work);
    snprintf(master, sizeof master, "%s/org/org.masterKey", work);

    printf("\n1. HibeSetup(depth 3, org):\n");
    fflush(stdout);
    int64_t status = hibeSetup(3, ref("org"), ref(work));
    printf("   status %lld\n", (long long)status);
    if (status != 0) return 1;

    printf("\n2. KeyGenFromMaster:\n");
    const char* ids[] = {"A", "A/B", "A/B/C", "X"};
    for (int i = 0; i < 4; ++i) {
        status = keyGen(ref(ids[i]), ref(work), ref(master), ref(params));
        printf("   %-6s status %lld\n", ids[i], (long long)status);
        if (status != 0) return 1;
    }

    ReadKey_return p = readKey(ref(params));
    printf("\n3. ReadKey(%s): %lld bytes\n", params, (long long)p.r1);
    if (p.r0 == NULL) return 1;

    const char* message = "Hierarchical identities, one message map.";
    printf("\n4. EncryptHibeMsg(\"%s\") for A/B/C and X:\n", message);
    const char* receivers[] = {"A/B/C", "X"};
    const void* paramsValues[] = {p.r0, p.r0};
    int paramsLens[] = {(int)p.r1, (int)p.r1};
    HibeList idList = HibeListOfStrings(2, receivers, NULL);
    HibeList paramsList = HibeListOfBytes(2, paramsValues, paramsLens);
    EncryptHibeMsg_return map = encrypt((char*)message, (int)strlen(message), idList.p, idList.n,
                                        paramsList.p, paramsList.n, 0);
    if (map.r1 == 4 && memcmp(map.r0, "null", 4) == 0) {
        printf("\n   failed\n");
        return 1;
    }
    printf("   message map of %lld bytes: %.120s...\n", (long long)map.r1, (char*)map.r0);

    printf("\n5. DecryptHibeMsg with each key:\n");
    int failures = 0;
    const char* keyFiles[] = {"A", "A#B", "A#B#C", "X"};
    for (int i = 0; i < 4; ++i) {
        snprintf(path, sizeof path, "%s/privateKeys/%s.privateKey", work, keyFiles[i]);
        ReadKey_return key = readKey(ref(path));
        if (key.r0 == NULL) return 1;
        DecryptHibeMsg_return plain = decrypt((char*)ids[i], (int)strlen(ids[i]), p.r0, (int)p.r1,
                                              key.r0, (int)key.r1, map.r0, (int)map.r1, 0);
        if (plain.r0 == NULL) {
            printf("   as %-6s failed\n", ids[i]);
            ++failures;
        } else {
            printf("   as %-6s \"%.*s\"\n", ids[i], (int)plain.r1, (char*)plain.r0);
            if (plain.r1 != (int64_t)strlen(message) || memcmp(plain.r0, message, plain.r1) != 0)
                ++failures;
        }
        free(plain.r0);
        free(key.r0);
    }

    free(map.r0);
    free(p.r0);
    HibeListFree(&idList);
    HibeListFree(&paramsList);
    printf("%s\n", failures == 0 ? "\nall decryptions returned the message" : "\nsome failed");
    return failures == 0 ? 0 : 1;
}
