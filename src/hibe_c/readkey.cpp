#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "hibe_c/hibe_c.h"

namespace hibe_c {

std::optional<common::Bytes> ReadKey(std::string_view keyfile) {
    // A path is never cut short at a zero byte: such a path names no file.
    if (keyfile.empty() || keyfile.find('\0') != std::string_view::npos) return std::nullopt;
    const std::string path(keyfile);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;

    // Read until end of file, whatever size the file system reports.
    common::Bytes content;
    std::uint8_t chunk[65536];
    for (;;) {
        ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return std::nullopt;  // among others: the path names a directory
        }
        if (got == 0) break;
        content.insert(content.end(), chunk, chunk + got);
    }
    ::close(fd);
    return content;
}

}  // namespace hibe_c
