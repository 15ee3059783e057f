#include "hibe_c/stdout_writer.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <optional>

#include "hibe_c/files.h"

namespace hibe_c {
namespace {

// Waits until descriptor 1 can take more bytes, or has an error or a hang-up,
// which the next write then reports; false, with errno set, when it cannot wait.
bool awaitWritable() {
    pollfd out{STDOUT_FILENO, POLLOUT, 0};
    for (;;) {
        const int ready = ::poll(&out, 1, -1);
        if (ready > 0 && (out.revents & POLLNVAL) != 0) {
            errno = EBADF;
            return false;
        }
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
}

// Writes all of text to descriptor 1, continuing after partial writes and EINTR;
// false, with errno set, when a write fails. A descriptor that is non-blocking
// (a holder of the same open file set O_NONBLOCK: Node.js does on its output
// pipe) fails a write into a full pipe with EAGAIN: then this waits with poll
// until it can take more and goes on, as a write to a blocking descriptor
// waits, rather than dropping the line. The host's file status flags are
// never changed: other holders of that open file rely on them.
bool writeWhole(std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
        if (n >= 0) {
            text.remove_prefix(static_cast<std::size_t>(n));
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!awaitWritable()) return false;
        } else if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

// The line of /proc/thread-self/status that holds the calling thread's own
// pending set, as a hexadecimal mask (signal n at bit n - 1). The process's
// pending set is on the line "ShdPnd:" after it.
constexpr std::string_view kThreadPendingKey = "SigPnd:";

// Whether the mask after kThreadPendingKey on line has SIGPIPE; absent when the
// line holds no such mask.
std::optional<bool> maskHasSigpipe(std::string_view line) {
    std::string_view mask = line.substr(kThreadPendingKey.size());
    while (!mask.empty() && (mask.front() == '\t' || mask.front() == ' ')) mask.remove_prefix(1);
    std::uint64_t bits = 0;
    const auto [end, ec] = std::from_chars(mask.data(), mask.data() + mask.size(), bits, 16);
    if (ec != std::errc{} || end != mask.data() + mask.size()) return std::nullopt;
    return ((bits >> (SIGPIPE - 1)) & 1) != 0;
}

// Whether SIGPIPE is pending for the calling thread itself, not counting the
// process's pending set; absent when that cannot be read. Reads the thread's
// status file through a descriptor of the library's own, a fixed buffer at a
// time, keeping only the start of each line (the lines before it, the list of
// groups among them, may be long).
std::optional<bool> sigpipePendingForThread() {
    const int fd = OpenOwn("/proc/thread-self/status", O_RDONLY);
    if (fd < 0) return std::nullopt;
    std::optional<bool> found;
    char chunk[256];
    char line[64];  // the start of the current line; the line is longer when full
    std::size_t lineLength = 0;
    bool lineCut = false;
    for (bool seen = false; !seen;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t i = 0; i < n; ++i) {
            if (chunk[i] != '\n') {
                lineCut |= lineLength == sizeof line;
                if (!lineCut) line[lineLength++] = chunk[i];
                continue;
            }
            const std::string_view complete(line, lineLength);
            const bool cut = lineCut;
            lineLength = 0;
            lineCut = false;
            if (complete.starts_with(kThreadPendingKey)) {
                if (!cut) found = maskHasSigpipe(complete);
                seen = true;
                break;
            }
        }
    }
    ::close(fd);
    return found;
}

}  // namespace

// A write to a pipe whose reader has gone fails with EPIPE and raises SIGPIPE,
// whose default action ends the process: a host whose output goes to a log
// collector that has exited would die of a status line. So the write is made
// with SIGPIPE blocked on the calling thread alone (pthread_sigmask; no other
// thread's mask, and no disposition, is touched), and the SIGPIPE that this
// write raised is then taken off the thread with a zero-timeout sigtimedwait,
// before the thread's mask is restored. Client libraries write to their hosts'
// sockets the same way.
//
// Exactly the write's own signal is taken, never one of the host's. The kernel
// sends the SIGPIPE of a write to the writing thread (thread-directed); it is
// not queued again when a SIGPIPE is already pending for that thread, and
// sigtimedwait takes a signal pending for the thread before one pending for the
// process. So the write's signal is taken exactly when the thread's own pending
// set had no SIGPIPE before the write, whatever the process's set holds; then
// what sigtimedwait takes is the write's. The two sets are told apart thus:
// sigpending gives their union, and only when it shows a SIGPIPE is the
// thread's own set read from /proc/thread-self/status (SigPnd is the thread's,
// ShdPnd the process's). When that cannot be read, nothing is taken. A SIGPIPE
// that another thread directs at this one while it writes merges with the
// write's own and is taken with it; no library can tell those apart.
void WriteStdout(std::string_view text) {
    sigset_t pipeOnly, saved, pending;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    if (::pthread_sigmask(SIG_BLOCK, &pipeOnly, &saved) != 0) return;
    bool threadHadOne = false;
    if (::sigpending(&pending) != 0 || sigismember(&pending, SIGPIPE) == 1) {
        threadHadOne = sigpipePendingForThread().value_or(true);
    }
    if (!writeWhole(text) && errno == EPIPE && !threadHadOne) {
        const struct timespec noWait{};
        while (::sigtimedwait(&pipeOnly, nullptr, &noWait) < 0 && errno == EINTR) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

}  // namespace hibe_c
