#include "hibe_c/stdout_writer.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace hibe_c {
namespace {

// Writes all of text to descriptor 1, continuing after partial writes and EINTR;
// false, with errno set, when a write fails.
bool writeWhole(std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
        if (n >= 0) {
            text.remove_prefix(static_cast<std::size_t>(n));
        } else if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

}  // namespace

// A write to a pipe whose reader has gone fails with EPIPE and raises SIGPIPE,
// whose default action ends the process: a host whose output goes to a log
// collector that has exited would die of a status line. So the write is made
// with SIGPIPE blocked on the calling thread alone (pthread_sigmask; no other
// thread's mask, and no disposition, is touched), and a SIGPIPE that this write
// raised is then taken off the thread with a zero-timeout sigtimedwait, before
// the thread's mask is restored. A SIGPIPE that was already pending before the
// write cannot be told apart from the write's own: it is left pending for the
// host, as it was. Client libraries write to their hosts' sockets the same way.
void WriteStdout(std::string_view text) {
    sigset_t pipeOnly, saved, pending;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    if (::pthread_sigmask(SIG_BLOCK, &pipeOnly, &saved) != 0) return;
    const bool pendingBefore = ::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    if (!writeWhole(text) && errno == EPIPE && !pendingBefore) {
        const struct timespec noWait{};
        while (::sigtimedwait(&pipeOnly, nullptr, &noWait) < 0 && errno == EINTR) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

}  // namespace hibe_c
