/*
 * Faults injected into a host's file operations, loaded by LD_PRELOAD: the
 * ways a disk or a crash meets libhibe.so while it writes key files. The
 * environment variable HIBE_FAULT, read at every call, names the faults,
 * separated by commas:
 *
 *   dirsync-eio        fsync of a directory fails with EIO (files flush normally)
 *   kill-after-link    the process is killed (SIGKILL) right after a link or
 *                      linkat that succeeded
 *   kill-after-master-link  the same, only after a link to a name ending in
 *                      ".masterKey"
 *   kill-after-rename  the same, right after a rename or renameat
 *   no-tmpfile         open or openat with O_TMPFILE fails with EOPNOTSUPP, as
 *                      on file systems without unnamed files
 *   link-eperm         link and linkat fail with EPERM once the source is
 *                      found, as on file systems without hard links
 *   link-emlink        the same with EMLINK, as for a file with too many links
 *   take-master-name   just before a link or linkat to a name ending in
 *                      ".masterKey", another program creates a file there
 *                      holding "taken by another program" (the race between
 *                      a free-name check and the link)
 *   stray-write        just before a descriptor below 3 is moved away
 *                      (F_DUPFD_CLOEXEC), the word "stray" is written through
 *                      it, as another thread writing to a closed standard
 *                      stream would
 *
 * Without HIBE_FAULT every call goes straight on to the C library.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#define SHIM_EXPORT __attribute__((visibility("default")))

/* Whether name is one of the faults that HIBE_FAULT lists. */
static int fault(const char* name) {
    const char* faults = getenv("HIBE_FAULT");
    if (faults == NULL) return 0;
    const size_t n = strlen(name);
    for (const char* p = faults; (p = strstr(p, name)) != NULL; p += n) {
        if ((p == faults || p[-1] == ',') && (p[n] == '\0' || p[n] == ',')) return 1;
    }
    return 0;
}

/* The next definition of a function: the C library's, or a sanitizer's
   interceptor in front of it. */
static void* next(const char* name) {
    void* f = dlsym(RTLD_NEXT, name);
    if (f == NULL) abort();
    return f;
}

static int killedAfter(int rc, const char* name) {
    if (rc == 0 && fault(name)) kill(getpid(), SIGKILL);
    return rc;
}

SHIM_EXPORT int fsync(int fd) {
    static int (*real)(int);
    if (real == NULL) *(void**)&real = next("fsync");
    struct stat st;
    if (fault("dirsync-eio") && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EIO;
        return -1;
    }
    return real(fd);
}

/* What another program puts at a master key's name under take-master-name. */
static const char kTakenBy[] = "taken by another program";

static int isMasterKeyName(const char* name) {
    static const char suffix[] = ".masterKey";
    const size_t n = strlen(name), k = strlen(suffix);
    return n >= k && strcmp(name + n - k, suffix) == 0;
}

static void takeMasterName(int dir, const char* to) {
    if (!fault("take-master-name") || !isMasterKeyName(to)) return;
    const int fd = openat(dir, to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return;
    ssize_t ignored = write(fd, kTakenBy, strlen(kTakenBy));
    (void)ignored;
    close(fd);
}

/* Under link-eperm or link-emlink: -1 with errno set, after the source has
   been looked up as the link would (a missing source still fails with
   ENOENT); 0 where no such fault is asked for. */
static int hardLinkFault(int fromDir, const char* from, int flags) {
    const int err = fault("link-eperm") ? EPERM : fault("link-emlink") ? EMLINK : 0;
    if (err == 0) return 0;
    struct stat st;
    if (fstatat(fromDir, from, &st, (flags & AT_SYMLINK_FOLLOW) ? 0 : AT_SYMLINK_NOFOLLOW) == 0) {
        errno = err;
    }
    return -1;
}

SHIM_EXPORT int link(const char* from, const char* to) {
    static int (*real)(const char*, const char*);
    if (real == NULL) *(void**)&real = next("link");
    takeMasterName(AT_FDCWD, to);
    if (hardLinkFault(AT_FDCWD, from, 0) != 0) return -1;
    const int rc = killedAfter(real(from, to), "kill-after-link");
    return isMasterKeyName(to) ? killedAfter(rc, "kill-after-master-link") : rc;
}

SHIM_EXPORT int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) {
    static int (*real)(int, const char*, int, const char*, int);
    if (real == NULL) *(void**)&real = next("linkat");
    takeMasterName(toDir, to);
    if (hardLinkFault(fromDir, from, flags) != 0) return -1;
    const int rc = killedAfter(real(fromDir, from, toDir, to, flags), "kill-after-link");
    return isMasterKeyName(to) ? killedAfter(rc, "kill-after-master-link") : rc;
}

SHIM_EXPORT int rename(const char* from, const char* to) {
    static int (*real)(const char*, const char*);
    if (real == NULL) *(void**)&real = next("rename");
    return killedAfter(real(from, to), "kill-after-rename");
}

SHIM_EXPORT int renameat(int fromDir, const char* from, int toDir, const char* to) {
    static int (*real)(int, const char*, int, const char*);
    if (real == NULL) *(void**)&real = next("renameat");
    return killedAfter(real(fromDir, from, toDir, to), "kill-after-rename");
}

/* The mode argument of an open that creates a file. */
#define CREATION_MODE(flags, last, mode)                                   \
    do {                                                                   \
        if (((flags) & O_CREAT) != 0 || ((flags) & O_TMPFILE) == O_TMPFILE) { \
            va_list args;                                                  \
            va_start(args, last);                                          \
            mode = va_arg(args, mode_t);                                   \
            va_end(args);                                                  \
        }                                                                  \
    } while (0)

static int noTmpfile(int flags) {
    if ((flags & O_TMPFILE) == O_TMPFILE && fault("no-tmpfile")) {
        errno = EOPNOTSUPP;
        return 1;
    }
    return 0;
}

SHIM_EXPORT int open(const char* path, int flags, ...) {
    static int (*real)(const char*, int, ...);
    if (real == NULL) *(void**)&real = next("open");
    mode_t mode = 0;
    CREATION_MODE(flags, flags, mode);
    if (noTmpfile(flags)) return -1;
    return real(path, flags, mode);
}

SHIM_EXPORT int openat(int dir, const char* path, int flags, ...) {
    static int (*real)(int, const char*, int, ...);
    if (real == NULL) *(void**)&real = next("openat");
    mode_t mode = 0;
    CREATION_MODE(flags, flags, mode);
    if (noTmpfile(flags)) return -1;
    return real(dir, path, flags, mode);
}

SHIM_EXPORT int fcntl(int fd, int cmd, ...) {
    static int (*real)(int, int, ...);
    if (real == NULL) *(void**)&real = next("fcntl");
    va_list args;
    va_start(args, cmd);
    void* arg = va_arg(args, void*);  /* an int or a pointer: passed on as it came */
    va_end(args);
    if (cmd == F_DUPFD_CLOEXEC && fd >= 0 && fd <= 2 && fault("stray-write")) {
        ssize_t ignored = write(fd, "stray", 5);
        (void)ignored;
    }
    return real(fd, cmd, arg);
}
