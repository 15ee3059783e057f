#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "common/wipe.h"
#include "hibe_c/files.h"
#include "hibe_c/hibe_c.h"

namespace hibe_c {

std::optional<common::Bytes> ReadKey(std::string_view keyfile) {
    // A path is never cut short at a zero byte: such a path names no file.
    if (keyfile.empty() || keyfile.find('\0') != std::string_view::npos) return std::nullopt;
    const std::string path(keyfile);
    // Only a regular file is read. Opening does not wait (a FIFO without a
    // writer would block the open for ever), and the kind of file is checked
    // before any byte is read: a FIFO, a device such as /dev/zero (which never
    // ends) and a directory fail here at once; a socket already fails to open.
    int fd = OpenOwn(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }

    // Read until end of file, whatever size the file system reports. The file
    // may be a key: the block and every buffer left behind by growth are wiped.
    // The block lives on the heap, which keeps the stack that a call uses, and
    // with it the stack that the exported functions scrub, small.
    common::Bytes content;
    common::Bytes chunk(65536);
    common::WipeOnExit wipeChunk([&] { common::Wipe(chunk); });
    for (;;) {
        ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            common::Wipe(content);
            return std::nullopt;
        }
        if (got == 0) break;
        common::AppendWiped(content, common::ByteView(chunk.data(), static_cast<std::size_t>(got)));
    }
    ::close(fd);
    return content;
}

}  // namespace hibe_c
