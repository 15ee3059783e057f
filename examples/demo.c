/*
 * A small host of libhibe.so: loads the library with dlopen, as a real host does,
 * and reads a key file back through ReadKey.
 *
 *   hibe_demo path/to/libhibe.so [work-directory]
 */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "hibe/hibe.h"

typedef ReadKey_return (*ReadKeyFn)(StringRef);

static StringRef ref(const char* s) {
    StringRef r = {s, (int64_t)strlen(s)};
    return r;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s path/to/libhibe.so [work-directory]\n", argv[0]);
        return 2;
    }
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (lib == NULL) {
        fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
        return 1;
    }
    ReadKeyFn readKey = (ReadKeyFn)dlsym(lib, "ReadKey");
    if (readKey == NULL) {
        fprintf(stderr, "ReadKey not found: %s\n", dlerror());
        return 1;
    }
    printf("loaded %s\n", argv[1]);

    const char* file = "/etc/hostname";
    ReadKey_return r = readKey(ref(file));
    if (r.r0 == NULL) {
        printf("ReadKey(%s): failed\n", file);
    } else {
        printf("ReadKey(%s): %lld bytes\n", file, (long long)r.r1);
        free(r.r0);
    }
    return 0;
}
