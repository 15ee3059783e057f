/*
 * Files of others in the directory of an organisation stay as they are,
 * whatever a setup there does: it succeeds, it is refused because the
 * organisation is complete, or it fails while writing (after its clean-up has
 * run). The organisation is "org", and also "" and "..", whose files lie in
 * the key directory itself or in its parent, beside whatever else is there.
 * Planted in that directory before each setup:
 *
 * - a user's ".backup.tmp", and a temporary of another organisation in the
 *   library's own form;
 * - ".Ab12Cd.tmp", which another process holds open and writes before and
 *   after the setup, and then renames: the rename succeeds and the file is
 *   whole;
 * - FIFOs, one of an old temporary-like name and one in the library's own
 *   form for the master key, each with a writer blocked in open: both writers
 *   are still blocked after the setup;
 * - symbolic links, a socket, a directory, a device and a file of another
 *   user, under names of the library's temporary form (the device and the
 *   other user's file where the process may make them).
 *
 * Every one of them is byte for byte, and entry for entry, what it was. A
 * temporary in the library's form of the organisation's own master key, left
 * by a setup that died, goes with a setup that writes and stays with one that
 * is refused.
 *
 *   foreign_test path/to/libhibe.so scratch-directory
 */
#include <errno.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>

#include "host_expect.h"
#include "host_lib.h"

/* A child still running by then is stuck (a writer that nobody released, a
   setup that hangs): the alarm ends it, and the test. */
enum { kTimeLimitSeconds = 120 };

typedef enum { kSucceeds, kRefused, kFailsWhileWriting } Outcome;

static const char* const kOutcomes[] = {"succeeds", "is refused", "fails while writing"};

static void sleepMillis(long ms) {
    struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&t, NULL);
}

/* Waits until the process pid sits in an open system call (its writer end of a
   FIFO waiting for a reader), as /proc/pid/syscall shows; where that cannot be
   read, gives it a moment. */
static void awaitBlockedInOpen(pid_t pid) {
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/syscall", (int)pid);
    for (int i = 0; i < 5000; ++i) {
        FILE* f = fopen(path, "r");
        long nr = -1;
        if (f == NULL) break;
        const int got = fscanf(f, "%ld", &nr);
        fclose(f);
        if (got == 1 && (nr == 2 || nr == 257)) return; /* open, openat */
        sleepMillis(1);
    }
    sleepMillis(100);
}

/* A child that opens the FIFO at path for writing, which blocks until a
   reader opens it; then it writes and ends. */
static pid_t blockedWriter(const char* path) {
    const pid_t pid = fork();
    if (pid < 0) abort();
    if (pid == 0) {
        alarm(kTimeLimitSeconds);
        const int fd = open(path, O_WRONLY | O_CLOEXEC);
        if (fd >= 0) {
            ssize_t ignored = write(fd, "x", 1);
            (void)ignored;
        }
        _exit(0);
    }
    awaitBlockedInOpen(pid);
    return pid;
}

static int stillRunning(pid_t pid) {
    sleepMillis(20); /* a writer that was released has time to end */
    return waitpid(pid, NULL, WNOHANG) == 0;
}

static void endChild(pid_t pid) {
    kill(pid, SIGKILL);
    waitpid(pid, NULL, 0);
}

/* A child that creates dir/.Ab12Cd.tmp, writes the first half, and holds it
   open until told to go on (a byte on *go); then writes the second half and
   renames the file to dir/written: exit status 0 when all of it worked. */
static const char kFirstHalf[] = "written before the setup, ";
static const char kSecondHalf[] = "and after it";

static pid_t heldWriter(const char* dir, int* go) {
    int toChild[2], ready[2];
    if (pipe(toChild) != 0 || pipe(ready) != 0) abort();
    const pid_t pid = fork();
    if (pid < 0) abort();
    if (pid == 0) {
        alarm(kTimeLimitSeconds);
        char path[4096], renamed[4096], c;
        joinPath(path, dir, ".Ab12Cd.tmp");
        joinPath(renamed, dir, "written");
        const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        const ssize_t first = (ssize_t)strlen(kFirstHalf), second = (ssize_t)strlen(kSecondHalf);
        int ok = fd >= 0 && write(fd, kFirstHalf, (size_t)first) == first;
        ok = write(ready[1], "r", 1) == 1 && ok;
        ok = read(toChild[0], &c, 1) == 1 && ok;
        ok = ok && write(fd, kSecondHalf, (size_t)second) == second;
        ok = ok && close(fd) == 0 && rename(path, renamed) == 0;
        _exit(ok ? 0 : 1);
    }
    char c;
    close(toChild[0]);
    close(ready[1]);
    if (read(ready[0], &c, 1) != 1) abort();
    close(ready[0]);
    *go = toChild[1];
    return pid;
}

static void writeText(const char* path, const char* text) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) abort();
    ssize_t ignored = write(fd, text, strlen(text));
    (void)ignored;
    close(fd);
}

/* A Unix domain socket bound at dir/name, made by a child that works in dir
   (a socket's path is limited to 107 bytes). */
static void makeSocket(const char* dir, const char* name) {
    const pid_t pid = fork();
    if (pid < 0) abort();
    if (pid == 0) {
        struct sockaddr_un addr = {.sun_family = AF_UNIX};
        if (strlen(name) >= sizeof addr.sun_path) _exit(2);
        memcpy(addr.sun_path, name, strlen(name) + 1);
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        _exit(chdir(dir) == 0 && fd >= 0 &&
                      bind(fd, (const struct sockaddr*)&addr, sizeof addr) == 0
                  ? 0
                  : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) abort();
}

/* name in the library's temporary form for finalName, with the six letters or
   digits given. */
static char* tempName(char* out, const char* finalName, const char* chars) {
    snprintf(out, 4096, ".%s.%s.hibe-tmp", finalName, chars);
    return out;
}

/* The setup of the case: directly, or in a child whose files may not grow
   beyond 100 bytes (the params do not fit), which fails after its clean-up. */
static int64_t runSetup(Outcome outcome, const char* org, const char* root) {
    if (outcome != kFailsWhileWriting) return hibe.setup(2, ref(org), ref(root));
    const pid_t pid = fork();
    if (pid < 0) abort();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl = {100, 100};
        if (setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(3);
        _exit((int)hibe.setup(2, ref(org), ref(root)));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

static void runCase(const char* caseDir, const char* org, Outcome outcome, const char* where) {
    char root[4096], orgDir[4096], masterName[300], paramsName[300], path[4096], name[4096];
    joinPath(root, caseDir, "keys");
    if (strcmp(org, "..") == 0) {
        snprintf(orgDir, sizeof orgDir, "%s", caseDir);
    } else if (org[0] == '\0') {
        snprintf(orgDir, sizeof orgDir, "%s", root);
    } else {
        joinPath(orgDir, root, org);
    }
    snprintf(masterName, sizeof masterName, "%s.masterKey", org);
    snprintf(paramsName, sizeof paramsName, "%s.params", org);
    char cmd[8300];
    snprintf(cmd, sizeof cmd, "mkdir -p '%s' '%s'", root, orgDir);
    if (system(cmd) != 0) abort();
    if (outcome == kRefused) EXPECT(hibe.setup(2, ref(org), ref(root)) == 0, where);

    char target[4096];
    writeText(joinPath(target, caseDir, "target"), "the target's bytes");
    writeText(joinPath(path, orgDir, ".backup.tmp"), "a user's backup");
    writeText(joinPath(path, orgDir, tempName(name, "other.masterKey", "Ab12Cd")),
              "another organisation's temporary");
    EXPECT(symlink(target, joinPath(path, orgDir, ".Link00.tmp")) == 0, where);
    EXPECT(symlink(target, joinPath(path, orgDir, tempName(name, paramsName, "Link00"))) == 0,
           where);
    EXPECT(symlink("/nonexistent", joinPath(path, orgDir, tempName(name, masterName, "Link01"))) ==
               0,
           where);
    makeSocket(orgDir, tempName(name, paramsName, "Sock00"));
    EXPECT(mkdir(joinPath(path, orgDir, tempName(name, masterName, "Dir000")), 0700) == 0, where);
    /* Where the process may: a device, and a file of another user. */
    if (mknod(joinPath(path, orgDir, tempName(name, masterName, "Dev000")), S_IFCHR | 0600,
              makedev(1, 3)) != 0 && errno != EPERM) {
        EXPECT(0, where);
    }
    writeText(joinPath(path, orgDir, tempName(name, paramsName, "Other0")), "another user's file");
    if (chown(path, 65534, 65534) != 0) unlink(path);

    char fifoOld[4096], fifoNew[4096];
    joinPath(fifoOld, orgDir, ".Fifo00.tmp");
    joinPath(fifoNew, orgDir, tempName(name, masterName, "Fifo00"));
    if (mkfifo(fifoOld, 0600) != 0 || mkfifo(fifoNew, 0600) != 0) abort();
    const pid_t writers[] = {blockedWriter(fifoOld), blockedWriter(fifoNew)};
    int go = -1;
    const pid_t held = heldWriter(orgDir, &go);

    /* A dead setup's temporary of this organisation's master key. */
    char dead[4096];
    writeText(joinPath(dead, orgDir, tempName(name, masterName, "Dead00")),
              "a dead setup's master key");

    static char before[16384], after[16384];
    const char* const own[] = {masterName, paramsName, dead + strlen(orgDir) + 1, NULL};
    dirSnapshot(orgDir, own, before, sizeof before);
    const int64_t result = runSetup(outcome, org, root);
    dirSnapshot(orgDir, own, after, sizeof after);

    EXPECT(result == (outcome == kSucceeds ? 0 : 1), where);
    EXPECT(strcmp(before, after) == 0, where);
    if (strcmp(before, after) != 0) fprintf(stderr, "before:\n%safter:\n%s", before, after);
    EXPECT(exists(dead) == (outcome == kRefused), where);
    for (int i = 0; i < 2; ++i) {
        EXPECT(stillRunning(writers[i]), where);
        endChild(writers[i]);
    }

    if (write(go, "g", 1) != 1) abort();
    close(go);
    int status = 0;
    waitpid(held, &status, 0);
    EXPECT(WIFEXITED(status) && WEXITSTATUS(status) == 0, where);
    size_t want = strlen(kFirstHalf) + strlen(kSecondHalf);
    ReadKey_return written = hibe.readKey(ref(joinPath(path, orgDir, "written")));
    EXPECT(written.r0 != NULL && written.r1 == (int64_t)want &&
               memcmp(written.r0, kFirstHalf, strlen(kFirstHalf)) == 0 &&
               memcmp((char*)written.r0 + strlen(kFirstHalf), kSecondHalf,
                      strlen(kSecondHalf)) == 0,
           where);
    free(written.r0);

    if (outcome != kFailsWhileWriting) EXPECT(orgIsConsistent(root, org, "A"), where);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s path/to/libhibe.so scratch-directory\n", argv[0]);
        return 2;
    }
    alarm(kTimeLimitSeconds * 4);
    const char* scratch = argv[2];
    char cmd[4200], caseDir[4096], where[128];
    snprintf(cmd, sizeof cmd, "rm -rf '%s' && mkdir -p '%s'", scratch, scratch);
    if (system(cmd) != 0) return 1;
    loadHibe(argv[1]);
    silenceStdout();

    static const char* const orgs[] = {"org", "", ".."};
    int n = 0;
    for (size_t o = 0; o < sizeof orgs / sizeof orgs[0]; ++o) {
        for (Outcome outcome = kSucceeds; outcome <= kFailsWhileWriting; ++outcome) {
            snprintf(caseDir, sizeof caseDir, "%s/case%d", scratch, n++);
            snprintf(where, sizeof where, "orgId \"%s\", the setup %s", orgs[o],
                     kOutcomes[outcome]);
            runCase(caseDir, orgs[o], outcome, where);
        }
    }
    fprintf(stderr, "%d cases, %d failures\n", n, failures);
    return failures == 0 ? 0 : 1;
}
