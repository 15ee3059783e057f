#include "hibe_c/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace hibe_c {
namespace {

common::Status errnoError(std::string_view what, std::string_view path) {
    return common::Fail(std::string(what) + " " + std::string(path) + ": " + std::strerror(errno));
}

bool hasZeroByte(std::string_view path) { return path.find('\0') != std::string_view::npos; }

// Writes all of content to fd, continuing after partial writes and EINTR.
bool writeAll(int fd, common::ByteView content) {
    std::size_t done = 0;
    while (done < content.size()) {
        ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

common::Status MakeDirAll(std::string_view path) {
    if (path.empty() || hasZeroByte(path)) {
        errno = ENOENT;
        return errnoError("mkdir", path);
    }
    const std::string full(path);
    if (isDirectory(full)) return {};
    // Create each prefix that ends before a separator, then the whole path.
    for (std::size_t pos = 1; pos <= full.size(); ++pos) {
        if (pos < full.size() && full[pos] != '/') continue;
        if (full[pos - 1] == '/') continue;
        const std::string prefix = full.substr(0, pos);
        if (::mkdir(prefix.c_str(), 0777) == 0) continue;
        if (errno == EEXIST && isDirectory(prefix)) continue;
        if (errno == EEXIST) errno = ENOTDIR;
        return errnoError("mkdir", prefix);
    }
    return {};
}

common::Status WriteWholeFile(std::string_view path, common::ByteView content) {
    if (hasZeroByte(path)) {
        errno = EINVAL;
        return errnoError("open", path);
    }
    const std::string full(path);
    int fd = ::open(full.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return errnoError("open", path);
    bool ok = writeAll(fd, content);
    int savedErrno = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        ::unlink(full.c_str());
        errno = savedErrno;
        return errnoError("write", path);
    }
    return {};
}

common::Result<NewFile> NewFile::Create(std::string_view path) {
    if (path.empty() || hasZeroByte(path)) {
        errno = EINVAL;
        return std::unexpected(errnoError("create", path).error());
    }
    std::string full(path);
    int fd = ::open(full.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return std::unexpected(errnoError("create", path).error());
    return NewFile(std::move(full), fd);
}

NewFile::NewFile(NewFile&& other) noexcept
    : path_(std::move(other.path_)), fd_(other.fd_), keep_(other.keep_) {
    other.fd_ = -1;
    other.keep_ = true;  // the moved-from value owns nothing any more
}

NewFile::~NewFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!keep_) ::unlink(path_.c_str());
}

common::Status NewFile::WriteAndClose(common::ByteView content) {
    bool ok = writeAll(fd_, content);
    int savedErrno = errno;
    if (::close(fd_) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    fd_ = -1;
    if (!ok) {
        errno = savedErrno;
        return errnoError("write", path_);
    }
    return {};
}

void WriteStdout(std::string_view text) {
    writeAll(STDOUT_FILENO, common::AsBytes(text));
}

}  // namespace hibe_c
