/*
 * The host's standard streams and signals stay the host's. Each case runs in a
 * child of this host, which loaded the library before it forked:
 *
 * - Closed streams: the child closes {1}, {0,1} or {0,1,2}, as daemons do, and
 *   sets up an organisation and makes a key. The files have exactly their
 *   sizes (no status line has gone into one) and decrypt.
 * - A broken pipe: the child's standard output is a pipe whose reader has gone,
 *   as when the host's log collector has exited. The setup returns 0 and the
 *   child lives on with its signal mask, SIGPIPE disposition and the output's
 *   flags as they were: SIGPIPE at its default action (with the output blocking
 *   or not), or a handler of the host's that is never called; or SIGPIPE
 *   blocked, where the SIGPIPEs that the host had pending before the call (for
 *   its thread, for the process, or both) are still pending after it, and none
 *   is left when it had none. Once the host unblocks SIGPIPE, its handler runs
 *   exactly once for each signal that the host had pending: the call took its
 *   own signal off, and none of the host's.
 * - A non-blocking output (Node.js makes its stdout pipe non-blocking): a
 *   reader drains the pipe slowly while the child makes several hundred setups;
 *   every status line arrives whole and in order, and the output is still
 *   non-blocking afterwards.
 *
 *   streams_test path/to/libhibe.so scratch-directory
 */
#define _GNU_SOURCE /* F_SETPIPE_SZ */
#include <errno.h>
#include <pthread.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <time.h>

#include "host_expect.h"
#include "host_lib.h"

enum { kDepth = 3, kParamsSize = 384 + 64 * kDepth, kMasterSize = 64, kKeySize = 192 };

static long fileSize(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 ? (long)st.st_size : -1;
}

/* Runs fn(root) in a child; its exit status, or 100 + the signal that ended it. */
static int inChild(int (*fn)(const char*, int), const char* root, int arg) {
    pid_t pid = fork();
    if (pid < 0) abort();
    if (pid == 0) _exit(fn(root, arg));
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

/* Closes the standard streams whose bits are set in closed, then sets up "org"
   and makes the key of A/B/C. */
static int withClosedStreams(const char* root, int closed) {
    for (int fd = 0; fd <= 2; ++fd) {
        if (closed & (1 << fd)) close(fd);
    }
    char master[4096], params[4096];
    joinPath(master, root, "org/org.masterKey");
    joinPath(params, root, "org/org.params");
    if (hibe.setup(kDepth, ref("org"), ref(root)) != 0) return 1;
    if (hibe.keyGen(ref("A/B/C"), ref(root), ref(master), ref(params)) != 0) return 2;
    return 0;
}

static void closedStreams(const char* scratch) {
    static const struct {
        int closed; /* bit fd set: fd closed */
        const char* name;
    } sets[] = {{1 << 1, "closed-1"}, {1 << 0 | 1 << 1, "closed-0-1"},
                {1 << 0 | 1 << 1 | 1 << 2, "closed-0-1-2"}};
    for (size_t i = 0; i < sizeof sets / sizeof sets[0]; ++i) {
        char root[4096], master[4096], params[4096], key[4096];
        joinPath(root, scratch, sets[i].name);
        joinPath(master, root, "org/org.masterKey");
        joinPath(params, root, "org/org.params");
        joinPath(key, root, "privateKeys/A#B#C.privateKey");
        EXPECT(inChild(withClosedStreams, root, sets[i].closed) == 0, sets[i].name);
        EXPECT(fileSize(params) == kParamsSize, sets[i].name);
        EXPECT(fileSize(master) == kMasterSize, sets[i].name);
        EXPECT(fileSize(key) == kKeySize, sets[i].name);
        EXPECT(keyDecrypts(params, key, "A/B/C"), sets[i].name);
    }
}

/* How the host treats SIGPIPE when its output pipe breaks: its disposition,
   whether it blocks SIGPIPE, which SIGPIPEs it has pending before the call,
   and whether its output is non-blocking. */
typedef struct {
    const char* name;
    int handler;         /* a handler of the host's, else the default action */
    int blocked;         /* SIGPIPE blocked */
    int raised;          /* pending for the thread by raise, with no handler */
    int threadPending;   /* pending for the thread by pthread_kill */
    int processPending;  /* pending for the process by kill */
    int nonblocking;     /* standard output O_NONBLOCK */
} PipeHost;

static const PipeHost pipeHosts[] = {
    {"pipe-default", 0, 0, 0, 0, 0, 0},
    {"pipe-handler", 1, 0, 0, 0, 0, 0},
    {"pipe-blocked", 0, 1, 0, 0, 0, 0},
    {"pipe-blocked-pending", 0, 1, 1, 0, 0, 0},
    {"pipe-blocked-thread-pending", 1, 1, 0, 1, 0, 0},
    {"pipe-blocked-process-pending", 1, 1, 0, 0, 1, 0},
    {"pipe-blocked-both-pending", 1, 1, 0, 1, 1, 0},
    {"pipe-default-nonblocking", 0, 0, 0, 0, 0, 1},
};

static volatile sig_atomic_t handled = 0;
static void onSigpipe(int sig) {
    (void)sig;
    ++handled;
}

/* Whether SIGPIPE is pending for the calling thread or the process. */
static int sigpipePending(void) {
    sigset_t pending;
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

/* Sets up "org" with standard output a pipe without a reader, the host set up
   as pipeHosts[which] says; 0 when the child's signal state and output flags
   after the call are exactly what they were before, and the host's handler
   then runs once for each SIGPIPE it had pending. */
static int withBrokenPipe(const char* root, int which) {
    const PipeHost* host = &pipeHosts[which];
    int fds[2];
    if (pipe(fds) != 0) return 10;
    close(fds[0]);
    if (dup2(fds[1], 1) != 1) return 11;
    close(fds[1]);
    if (host->nonblocking && fcntl(1, F_SETFL, fcntl(1, F_GETFL) | O_NONBLOCK) != 0) return 12;

    if (host->handler) {
        struct sigaction sa;
        memset(&sa, 0, sizeof sa);
        sa.sa_handler = onSigpipe;
        sigaction(SIGPIPE, &sa, NULL);
    }
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    if (host->blocked) sigprocmask(SIG_BLOCK, &pipeOnly, NULL);
    if (host->raised) raise(SIGPIPE);
    if (host->threadPending) pthread_kill(pthread_self(), SIGPIPE);
    if (host->processPending) kill(getpid(), SIGPIPE);
    sigset_t maskBefore, maskAfter;
    struct sigaction actionBefore, actionAfter;
    sigprocmask(SIG_BLOCK, NULL, &maskBefore);
    sigaction(SIGPIPE, NULL, &actionBefore);
    const int flagsBefore = fcntl(1, F_GETFL);

    if (hibe.setup(kDepth, ref("org"), ref(root)) != 0) return 1;

    sigprocmask(SIG_BLOCK, NULL, &maskAfter);
    sigaction(SIGPIPE, NULL, &actionAfter);
    for (int sig = 1; sig < NSIG; ++sig) {
        if (sigismember(&maskBefore, sig) != sigismember(&maskAfter, sig)) return 2;
    }
    if (actionBefore.sa_handler != actionAfter.sa_handler) return 3;
    if (handled) return 4;
    const int hostPending = host->raised + host->threadPending + host->processPending;
    if (sigpipePending() != (hostPending > 0)) return 5;
    if (fcntl(1, F_GETFL) != flagsBefore) return 6;
    if (host->handler && host->blocked) {
        sigprocmask(SIG_UNBLOCK, &pipeOnly, NULL);
        if (handled != hostPending) return 7;
    }
    return 0;
}

static void brokenPipe(const char* scratch) {
    for (size_t i = 0; i < sizeof pipeHosts / sizeof pipeHosts[0]; ++i) {
        char root[4096], where[128];
        joinPath(root, scratch, pipeHosts[i].name);
        const int status = inChild(withBrokenPipe, root, (int)i);
        snprintf(where, sizeof where, "%s (child status %d)", pipeHosts[i].name, status);
        EXPECT(status == 0, where);
        EXPECT(orgIsConsistent(root, "org", "A/B"), where);
    }
}

/* The setups of the non-blocking output and the pipe's capacity: the least
   Linux allows, one page, which the reader lets fill before it drains it, a
   few bytes at a time. */
enum { kSlowSetups = 300, kSlowPipeBytes = 4096, kSlowReadBytes = 64 };
enum { kSlowTimeLimitSeconds = 300 };
static const long kSlowReadMicros = 100, kSlowWaitMicros = 1000;

static void sleepMicros(long micros) {
    struct timespec t = {micros / 1000000, (micros % 1000000) * 1000};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

/* Writes the status lines of the setup of org under root, as the setup writes
   them, to out; their length. */
static size_t statusLines(char* out, size_t room, const char* root, const char* org) {
    return (size_t)snprintf(out, room,
                            "[%s params] storage file path: %s/%s/%s.params\n"
                            "[%s masterKey] storage file path: %s/%s/%s.masterKey\n",
                            org, root, org, org, org, root, org, org);
}

/* The child: standard output the write end out of a pipe, made non-blocking;
   kSlowSetups setups under root. 0 when all returned 0 and the output is still
   non-blocking. */
static int setupsToSlowReader(const char* root, int out) {
    alarm(kSlowTimeLimitSeconds);
    if (dup2(out, 1) != 1) return 10;
    close(out);
    if (fcntl(1, F_SETPIPE_SZ, kSlowPipeBytes) < 0) return 11;
    if (fcntl(1, F_SETFL, fcntl(1, F_GETFL) | O_NONBLOCK) != 0) return 12;
    for (int i = 0; i < kSlowSetups; ++i) {
        char org[32];
        snprintf(org, sizeof org, "org%d", i);
        if (hibe.setup(1, ref(org), ref(root)) != 0) return 1;
    }
    return (fcntl(1, F_GETFL) & O_NONBLOCK) ? 0 : 2;
}

/* How many bytes the pipe at in holds. */
static int heldIn(int in) {
    int held = 0;
    if (ioctl(in, FIONREAD, &held) != 0) _exit(2);
    return held;
}

/* Reads in until end of file, into the file at path. It waits until the pipe
   holds at least full bytes, so full that the next status line cannot go in
   (the writer meets EAGAIN), and then drains it a few bytes at a time until it
   is empty. */
static void drainSlowly(int in, int full, const char* path) {
    alarm(kSlowTimeLimitSeconds);
    FILE* file = fopen(path, "w");
    if (file == NULL) _exit(1);
    char chunk[kSlowReadBytes];
    for (;;) {
        struct pollfd hangUp = {in, POLLIN, 0};
        while (poll(&hangUp, 1, 0) < 0 && errno == EINTR) {
        }
        const int writerDone = (hangUp.revents & POLLHUP) != 0;
        if (heldIn(in) == 0 && writerDone) break;
        if (heldIn(in) < full && !writerDone) {
            sleepMicros(kSlowWaitMicros);
            continue;
        }
        while (heldIn(in) > 0) {
            ssize_t n = read(in, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) _exit(3);
            fwrite(chunk, 1, (size_t)n, file);
            sleepMicros(kSlowReadMicros);
        }
    }
    _exit(fclose(file) != 0);
}

static void nonblockingOutput(const char* scratch) {
    char root[4096], received[4096];
    joinPath(root, scratch, "nonblocking");
    joinPath(received, scratch, "nonblocking-output");
    const size_t room = 2 * strlen(root) + 256;
    char* expected = malloc(kSlowSetups * room);
    char* got = malloc(kSlowSetups * room + 1);
    if (expected == NULL || got == NULL) abort();
    size_t expectedLength = 0;
    for (int i = 0; i < kSlowSetups; ++i) {
        char org[32];
        snprintf(org, sizeof org, "org%d", i);
        expectedLength += statusLines(expected + expectedLength, room, root, org);
    }
    /* Both lines of the longest name are longer than any one line. */
    char org[32];
    snprintf(org, sizeof org, "org%d", kSlowSetups - 1);
    const int full = kSlowPipeBytes + 1 - (int)statusLines(got, room, root, org);

    int fds[2];
    if (pipe(fds) != 0) abort();
    pid_t reader = fork();
    if (reader < 0) abort();
    if (reader == 0) {
        close(fds[1]);
        drainSlowly(fds[0], full, received);
    }
    close(fds[0]);
    EXPECT(inChild(setupsToSlowReader, root, fds[1]) == 0, "nonblocking");
    close(fds[1]);
    int status = 0;
    waitpid(reader, &status, 0);
    EXPECT(WIFEXITED(status) && WEXITSTATUS(status) == 0, "nonblocking reader");

    FILE* file = fopen(received, "r");
    size_t gotLength = file != NULL ? fread(got, 1, kSlowSetups * room + 1, file) : 0;
    if (file != NULL) fclose(file);
    EXPECT(gotLength == expectedLength, "nonblocking: every byte of every line");
    EXPECT(gotLength == expectedLength && memcmp(got, expected, gotLength) == 0,
           "nonblocking: the lines as written");
    free(expected);
    free(got);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s path/to/libhibe.so scratch-directory\n", argv[0]);
        return 2;
    }
    const char* scratch = argv[2];
    char cmd[4200];
    snprintf(cmd, sizeof cmd, "rm -rf '%s' && mkdir -p '%s'", scratch, scratch);
    if (system(cmd) != 0) return 1;

    loadHibe(argv[1]);
    silenceStdout();
    closedStreams(scratch);
    brokenPipe(scratch);
    nonblockingOutput(scratch);
    fprintf(stderr, "%d failures\n", failures);
    return failures == 0 ? 0 : 1;
}
