#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "hibe_c/files.h"
#include "hibe_c/hibe_c.h"

namespace hibe_c {
namespace {

// The most bytes a key read returns: the largest count that the other exported
// functions take (an int), so a host can pass any result on as it is.
constexpr std::size_t kMaxRead = 2147483647;

// The first block for a file that reports size 0: a file under /proc holds a
// few hundred bytes or a few KiB.
constexpr std::size_t kFirstBlock = 4096;

// Reads into [content.size(), content.capacity()) once, retrying on EINTR: the
// bytes read (0 at end of file), or -1 on an error.
ssize_t readMore(int fd, HeapBytes& content) {
    for (;;) {
        const ssize_t got = ::read(fd, content.data() + content.size(),
                                   content.capacity() - content.size());
        if (got >= 0) content.SetSize(content.size() + static_cast<std::size_t>(got));
        if (got >= 0 || errno != EINTR) return got;
    }
}

// A regular file of the given size: the block is allocated once, and at most
// size bytes are read, though the file may grow meanwhile (another process
// appending); a file that shrank gives what is left.
std::optional<HeapBytes> readSized(int fd, std::size_t size) {
    auto content = HeapBytes::Allocate(size);
    if (!content) return std::nullopt;
    while (content->size() < size) {
        const ssize_t got = readMore(fd, *content);
        if (got < 0) return std::nullopt;
        if (got == 0) break;
    }
    return content;
}

// A file that reports size 0, as those of /proc do, is read to its end: the
// block doubles as it fills (each old block wiped), up to kMaxRead + 1 bytes, so
// that a file without end (/proc/self/pagemap) fails once it passes kMaxRead,
// or earlier when no larger block can be had.
std::optional<HeapBytes> readToEnd(int fd) {
    auto content = HeapBytes::Allocate(kFirstBlock);
    if (!content) return std::nullopt;
    for (;;) {
        if (content->size() == content->capacity()) {
            if (content->size() > kMaxRead) return std::nullopt;
            const std::size_t grown = std::min(2 * content->capacity(), kMaxRead + 1);
            if (!content->Grow(grown)) return std::nullopt;
        }
        const ssize_t got = readMore(fd, *content);
        if (got < 0) return std::nullopt;
        if (got == 0) return content;
    }
}

// Closes a descriptor on every way out.
struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
};

}  // namespace

std::optional<HeapBytes> ReadKey(std::string_view keyfile) {
    // A path is never cut short at a zero byte: such a path names no file.
    if (keyfile.empty() || keyfile.find('\0') != std::string_view::npos) return std::nullopt;
    const std::string path(keyfile);
    // Only a regular file is read. Opening does not wait (a FIFO without a
    // writer would block the open for ever), and the kind of file is checked
    // before any byte is read: a FIFO, a device such as /dev/zero (which never
    // ends) and a directory fail here at once; a socket already fails to open.
    const int fd = OpenOwn(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    const Closer closer{fd};
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    // A file larger than any result fails before anything is read or allocated.
    if (static_cast<std::uintmax_t>(st.st_size) > kMaxRead) return std::nullopt;
    if (st.st_size == 0) return readToEnd(fd);
    return readSized(fd, static_cast<std::size_t>(st.st_size));
}

}  // namespace hibe_c
