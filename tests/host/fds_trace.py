"""Runs fds_test under strace and fails on every descriptor below 3 that the
library made and did not move away at once.

fds_test closes descriptors 0, 1 and 2 with close_range(0, 2, 0) before it
loads the library, and then makes all five calls. Every system call of every
thread is traced with its stack (strace -k), when it succeeded. A descriptor
that the library opens and closes again is never visible from inside the host;
the trace sees it. From the host's close_range on, each call that made 0, 1 or
2 fails the test, except:

- the library's own move (OwnDescriptor): the very next calls of that thread
  (leaving out the sanitizer runtime's own, below) are fcntl(fd,
  F_DUPFD_CLOEXEC, 3), which gives a number above 2, and close(fd), so that
  nothing is read or written through the low number. open(2)
  always hands out the lowest free number, so this is the least a library can
  do; the library checks what a key file took through it meanwhile;
- the dynamic loader mapping an object for the host's own dlopen, with no frame
  of the library in its stack (the loader opens each object on the lowest free
  number, and closes it before any code of the object runs);
- in the sanitizer builds, the sanitizer runtime's own work (its innermost
  frame outside the C library is a function of the runtime's namespaces, not an
  interceptor passing a call on): UndefinedBehaviorSanitizer probes memory
  through a pipe, which no optimised build has.

LeakSanitizer stops the process with ptrace at exit, which a traced process
cannot: the leak check is left to the other tests.

    fds_trace.py path/to/strace path/to/fds_test path/to/libhibe.so scratch-directory
"""
import os
import re
import shutil
import subprocess
import sys

# The calls that make descriptors: the result, or an array argument (whose
# result is 0), or with fcntl only these commands (the others give flags).
MAKE_RESULT = {
    "open", "openat", "openat2", "creat", "open_by_handle_at", "socket", "accept",
    "accept4", "dup", "dup2", "dup3", "eventfd", "eventfd2", "epoll_create",
    "epoll_create1", "memfd_create", "memfd_secret", "signalfd", "signalfd4",
    "timerfd_create", "inotify_init", "inotify_init1", "pidfd_open", "pidfd_getfd",
    "userfaultfd", "perf_event_open", "io_uring_setup", "fanotify_init", "open_tree",
    "fsopen", "fspick", "fsmount",
}
MAKE_ARRAY = {"pipe", "pipe2", "socketpair"}
FCNTL_DUP = re.compile(r"^(\d+), F_DUPFD(?:_CLOEXEC)?, (\d+)$")

LINE = re.compile(r"^(\d+)\s+(.*)$")
CALL = re.compile(r"^(\w+)\((.*)\)\s+=\s+(-?\d+)")
MARKER = ("close_range", "0, 2, 0", 0)


class Call:
    def __init__(self, pid, text):
        self.pid, self.text, self.frames = pid, text, []
        match = CALL.match(text)
        # A line that is no call (a signal delivered) still comes between calls.
        self.name, self.args, self.result = match.groups() if match else (None, "", "")
        self.result = int(self.result) if match else None

    def made(self):
        """The descriptors this call made."""
        if self.name in MAKE_RESULT:
            return [self.result]
        if self.name in MAKE_ARRAY:
            array = re.search(r"\[(\d+), (\d+)\]", self.args)
            return [int(n) for n in array.groups()] if array else []
        if self.name == "fcntl" and FCNTL_DUP.match(self.args):
            return [self.result]
        return []


def calls(trace):
    """The traced calls in the order strace ended them, with their stacks."""
    recorded = []
    for line in trace:
        line = line.rstrip("\n")
        if line.startswith(" > ") and recorded:
            recorded[-1].frames.append(line[3:])
            continue
        match = LINE.match(line)
        if match:
            recorded.append(Call(int(match.group(1)), match.group(2)))
    return recorded


def moved_at_once(fd, after):
    """Whether the next two calls of the thread move fd above 2 and close it."""
    if len(after) < 2:
        return False
    moved, closed = after[0], after[1]
    dup = FCNTL_DUP.match(moved.args) if moved.name == "fcntl" else None
    return (dup is not None and int(dup.group(1)) == fd and int(dup.group(2)) == 3 and
            moved.result > 2 and closed.name == "close" and closed.args == str(fd))


def loader_of_host_dlopen(call, library):
    """Whether a call is the loader mapping an object for the host's dlopen."""
    if any(library in frame for frame in call.frames):
        return False
    return any(re.search(r"\(dlopen\+", frame) for frame in call.frames)


# A frame of the C library or the loader, and one of a sanitizer runtime's own.
SYSTEM_FRAME = re.compile(r"/(?:libc\.so|ld-linux)[^(]*\(")
SANITIZER_OWN = re.compile(r"/lib(?:asan|ubsan|tsan|lsan)\.so[^(]*\(__(?:sanitizer|asan|ubsan|tsan|lsan)::")


def sanitizer_own(call):
    """Whether a call is the sanitizer runtime's own work."""
    inner = next((frame for frame in call.frames if not SYSTEM_FRAME.search(frame)), "")
    return SANITIZER_OWN.search(inner) is not None


def main():
    if len(sys.argv) != 5:
        print(__doc__, file=sys.stderr)
        return 2
    strace, host, library_path, scratch = sys.argv[1:]
    library = os.path.basename(os.path.realpath(library_path))
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    trace_path = os.path.join(scratch, "trace")
    command = [strace, "-f", "-qq", "-k", "-o", trace_path, "-e", "status=successful",
               host, library_path, os.path.join(scratch, "keys")]
    env = dict(os.environ)
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
    run = subprocess.run(command, env=env, timeout=600)
    if run.returncode != 0:
        print(f"the host failed with exit status {run.returncode}", file=sys.stderr)
        return 1
    with open(trace_path) as trace:
        recorded = calls(trace)
    marker = next((i for i, c in enumerate(recorded)
                   if (c.name, c.args, c.result) == MARKER), None)
    if marker is None:
        print("no close_range(0, 2, 0) of the host in the trace", file=sys.stderr)
        return 1
    offenders = []
    for i in range(marker + 1, len(recorded)):
        call = recorded[i]
        for fd in call.made():
            if fd > 2 or loader_of_host_dlopen(call, library) or sanitizer_own(call):
                continue
            # The sanitizer runtime's own calls (ThreadSanitizer maps shadow
            # memory inside its open interceptor) touch no descriptor.
            after = [c for c in recorded[i + 1:]
                     if c.pid == call.pid and not sanitizer_own(c)][:2]
            if not moved_at_once(fd, after):
                offenders.append(call)
    for call in offenders:
        print(f"on a standard stream's number: {call.pid} {call.text}", file=sys.stderr)
        for frame in call.frames[:16]:
            print("    " + frame, file=sys.stderr)
    print(f"{len(recorded) - marker - 1} calls after the streams were closed, "
          f"{len(offenders)} left a descriptor on 0, 1 or 2", file=sys.stderr)
    return 1 if offenders else 0


if __name__ == "__main__":
    sys.exit(main())
