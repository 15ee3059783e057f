/*
 * Faults of the disk and deaths at the worst moments, injected by fault_shim.so
 * (loaded by LD_PRELOAD) into children of this host, each with its own
 * HIBE_FAULT (see fault_shim.c):
 *
 * - The directory flush fails with EIO once the files are in place, hard links
 *   fail (EPERM, as on file systems without them; EMLINK), or another program
 *   takes the master key's name between the setup's check and its link: the
 *   call returns 1, and every name holds what it held before, old params byte
 *   for byte (only the name that the other program took holds its file); the
 *   same call succeeds once the disk works.
 * - The process dies right after a key file is linked, the master key linked,
 *   or the params renamed, with unnamed temporary files and with named ones:
 *   the organisation is absent (a new setup succeeds and leaves no temporary
 *   file: no copy of a master key) or complete and consistent, with at most a
 *   second name of its own master key or of the old params beside it, which
 *   the refused setups that follow leave as they are; the private key is
 *   absent (a new call succeeds) or whole.
 * - With standard output closed, a write through descriptor 1 reaches a
 *   temporary file before the library moves it away: the call returns 1, or 0
 *   with whole files.
 *
 *   fault_test path/to/libhibe.so scratch-directory
 */
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>

#include "host_expect.h"
#include "host_lib.h"

/* The organisation from which the key generations make keys. */
static char srcMaster[4096], srcParams[4096];

enum { kDepth = 3, kParamsSize = 384 + 64 * kDepth, kMasterSize = 64, kKeySize = 192 + 64 };
enum { kKilled = -1, kAny = -2 };

typedef enum { kSetup, kKeyGen } Call;

/* What lies at the call's files before it: for a setup, nothing at all, an
   empty organisation directory, params without their master key, or a
   complete organisation; for a key generation, no private key directory or an
   empty one. */
typedef enum { kNothing, kEmptyDir, kOldParams, kComplete } Before;

typedef struct {
    const char* faults;
    int closeStdout;
    Call call;
    Before before;
    int result; /* 0, 1, kKilled, or kAny of 0 and 1 */
} Case;

static const Case cases[] = {
    {"dirsync-eio", 0, kSetup, kNothing, 1},
    {"dirsync-eio", 0, kSetup, kEmptyDir, 1},
    {"dirsync-eio", 0, kSetup, kOldParams, 1},
    {"dirsync-eio,no-tmpfile", 0, kSetup, kEmptyDir, 1},
    {"dirsync-eio,no-tmpfile", 0, kSetup, kOldParams, 1},
    {"link-eperm", 0, kSetup, kEmptyDir, 1},
    {"link-eperm", 0, kSetup, kOldParams, 1},
    {"link-eperm,no-tmpfile", 0, kSetup, kOldParams, 1},
    {"link-eperm", 0, kSetup, kComplete, 1},
    {"link-emlink", 0, kSetup, kOldParams, 1},
    {"link-emlink", 0, kSetup, kComplete, 1},
    {"take-master-name", 0, kSetup, kEmptyDir, 1},
    {"take-master-name", 0, kSetup, kOldParams, 1},
    {"take-master-name,no-tmpfile", 0, kSetup, kOldParams, 1},
    {"kill-after-link", 0, kSetup, kNothing, kKilled},
    {"kill-after-link,no-tmpfile", 0, kSetup, kNothing, kKilled},
    {"kill-after-link", 0, kSetup, kOldParams, kKilled},
    {"kill-after-link,no-tmpfile", 0, kSetup, kOldParams, kKilled},
    {"kill-after-master-link", 0, kSetup, kOldParams, kKilled},
    {"kill-after-master-link,no-tmpfile", 0, kSetup, kOldParams, kKilled},
    {"kill-after-rename", 0, kSetup, kNothing, kKilled},
    {"kill-after-rename", 0, kSetup, kOldParams, kKilled},
    {"kill-after-rename,no-tmpfile", 0, kSetup, kOldParams, kKilled},
    {"stray-write", 1, kSetup, kNothing, kAny},
    {"stray-write,no-tmpfile", 1, kSetup, kOldParams, kAny},
    {"dirsync-eio", 0, kKeyGen, kNothing, 1},
    {"dirsync-eio", 0, kKeyGen, kEmptyDir, 1},
    {"link-eperm", 0, kKeyGen, kEmptyDir, 1},
    {"link-emlink,no-tmpfile", 0, kKeyGen, kEmptyDir, 1},
    {"kill-after-link", 0, kKeyGen, kEmptyDir, kKilled},
    {"kill-after-link,no-tmpfile", 0, kKeyGen, kEmptyDir, kKilled},
    {"stray-write", 1, kKeyGen, kNothing, kAny},
};

static int64_t call(Call c, const char* root) {
    if (c == kSetup) return hibe.setup(kDepth, ref("org"), ref(root));
    return hibe.keyGen(ref("A/B"), ref(root), ref(srcMaster), ref(srcParams));
}

/* Makes the call in a child with the faults (and descriptor 1 closed when
   asked); its result, kKilled when SIGKILL ended it, or 99 for other ends. */
static int inChild(const Case* c, const char* root) {
    pid_t pid = fork();
    if (pid < 0) abort();
    if (pid == 0) {
        if (c->closeStdout) close(1);
        setenv("HIBE_FAULT", c->faults, 1);
        _exit((int)call(c->call, root));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) return kKilled;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

/* The names in dir, each followed by "/", in the order of a sorted listing
   ("" for a missing or empty directory). */
static void listing(const char* dir, char* out, size_t size) {
    struct dirent** entries = NULL;
    int n = scandir(dir, &entries, NULL, alphasort);
    out[0] = '\0';
    for (int i = 0; i < n; ++i) {
        const char* name = entries[i]->d_name;
        if (strcmp(name, ".") != 0 && strcmp(name, "..") != 0) {
            strncat(out, name, size - strlen(out) - 2);
            strcat(out, "/");
        }
        free(entries[i]);
    }
    free(entries);
}

/* Whether the organisation directory holds its two files and nothing else. */
static int onlyKeyFiles(const char* orgDir) {
    char names[8192];
    listing(orgDir, names, sizeof names);
    return strcmp(names, "org.masterKey/org.params/") == 0;
}

static long fileSize(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 ? (long)st.st_size : -1;
}

/* The whole content of a file (NULL when missing); the caller frees it. */
static char* slurp(const char* path, size_t* len) {
    ReadKey_return r = hibe.readKey(ref(path));
    *len = r.r1 < 0 ? 0 : (size_t)r.r1;
    return (char*)r.r0;
}

static void runCase(const Case* c, const char* root, const char* where) {
    char orgDir[4096], keyDir[4096], master[4096], params[4096], key[4096];
    joinPath(orgDir, root, "org");
    joinPath(keyDir, root, "privateKeys");
    joinPath(master, orgDir, "org.masterKey");
    joinPath(params, orgDir, "org.params");
    joinPath(key, keyDir, "A#B.privateKey");
    const char* dir = c->call == kSetup ? orgDir : keyDir;

    if (c->before == kOldParams || c->before == kComplete) {
        EXPECT(hibe.setup(2, ref("org"), ref(root)) == 0, where);
        if (c->before == kOldParams) unlink(master);
    } else if (c->before == kEmptyDir) {
        char cmd[4200];
        snprintf(cmd, sizeof cmd, "mkdir -p '%s'", dir);
        EXPECT(system(cmd) == 0, where);
    }
    size_t oldLen = 0;
    char* oldParams = c->before == kOldParams ? slurp(params, &oldLen) : NULL;
    /* The name that another program takes, when it does, is compared apart. */
    const int taken = strstr(c->faults, "take-master-name") != NULL;
    const char* const takenName[] = {taken ? "org.masterKey" : NULL, NULL};
    static char before[16384], after[16384];
    dirSnapshot(dir, takenName, before, sizeof before);

    const int result = inChild(c, root);
    EXPECT(result == c->result || (c->result == kAny && (result == 0 || result == 1)), where);
    dirSnapshot(dir, takenName, after, sizeof after);

    if (c->call == kSetup) {
        if (result == 1) {
            EXPECT(strcmp(before, after) == 0, where);
            if (taken) {
                size_t len = 0;
                char* there = slurp(master, &len);
                EXPECT(there != NULL && len == strlen("taken by another program") &&
                           memcmp(there, "taken by another program", len) == 0,
                       where);
                free(there);
                unlink(master); /* the other program gives the name up again */
            }
        } else if (result == 0) {
            EXPECT(fileSize(params) == kParamsSize && fileSize(master) == kMasterSize, where);
        }
        if (!exists(master)) {
            size_t len = 0;
            char* now = slurp(params, &len);
            EXPECT(now == NULL || len == kParamsSize ||
                       (oldParams != NULL && len == oldLen && memcmp(now, oldParams, len) == 0),
                   where);
            free(now);
            EXPECT(hibe.setup(kDepth, ref("org"), ref(root)) == 0, where);
            EXPECT(onlyKeyFiles(orgDir), where);
        } else {
            /* Complete: what a dead setup left beside it is only a second name
               of what it keeps, and a new setup is refused and changes nothing. */
            EXPECT(onlyNamesOfKeptFiles(orgDir, master, oldParams, oldLen), where);
            dirSnapshot(orgDir, NULL, before, sizeof before);
            EXPECT(hibe.setup(kDepth, ref("org"), ref(root)) == 1, where);
            dirSnapshot(orgDir, NULL, after, sizeof after);
            EXPECT(strcmp(before, after) == 0, where);
        }
        EXPECT(orgIsConsistent(root, "org", "A/B"), where);
    } else {
        if (result == 1) {
            EXPECT(!exists(key) && strcmp(before, after) == 0, where);
        } else if (result == 0) {
            EXPECT(fileSize(key) == kKeySize, where);
        }
        if (!exists(key)) EXPECT(call(kKeyGen, root) == 0, where);
        EXPECT(fileSize(key) == kKeySize && keyDecrypts(srcParams, key, "A/B"), where);
    }
    free(oldParams);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s path/to/libhibe.so scratch-directory\n", argv[0]);
        return 2;
    }
    const char* scratch = argv[2];
    char cmd[4200], srcRoot[4096], root[4096], name[64], where[256];
    snprintf(cmd, sizeof cmd, "rm -rf '%s' && mkdir -p '%s'", scratch, scratch);
    if (system(cmd) != 0) return 1;
    if (getenv("LD_PRELOAD") == NULL || strstr(getenv("LD_PRELOAD"), "fault_shim") == NULL) {
        fprintf(stderr, "fault_shim is not preloaded\n");
        return 1;
    }

    loadHibe(argv[1]);
    silenceStdout();
    joinPath(srcRoot, scratch, "src");
    if (hibe.setup(kDepth, ref("src"), ref(srcRoot)) != 0) return 1;
    joinPath(srcMaster, srcRoot, "src/src.masterKey");
    joinPath(srcParams, srcRoot, "src/src.params");

    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case* c = &cases[i];
        snprintf(name, sizeof name, "case%zu", i);
        snprintf(where, sizeof where, "case %zu (%s %s, %s%s)", i,
                 c->call == kSetup ? "setup" : "key generation",
                 c->before == kNothing ? "into nothing"
                                       : c->before == kEmptyDir ? "into an empty directory"
                                                                : "over old params",
                 c->faults, c->closeStdout ? ", standard output closed" : "");
        runCase(c, joinPath(root, scratch, name), where);
    }
    fprintf(stderr, "%zu cases, %d failures\n", sizeof cases / sizeof cases[0], failures);
    return failures == 0 ? 0 : 1;
}
