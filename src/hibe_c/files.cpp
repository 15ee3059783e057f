#include "hibe_c/files.h"

#include <fcntl.h>
#include <stdlib.h>
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

// The directory that holds path: everything before its last "/", the root for
// "/name", and "." for a name without any "/".
std::string parentDir(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return ".";
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

// The name under which the process reaches an open file through /proc; linkat
// follows it to give an unnamed file a name.
std::string procPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

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
        if (::mkdir(prefix.c_str(), 0777) == 0) {
            if (auto synced = SyncParentDir(prefix); !synced) return synced;
            continue;
        }
        if (errno == EEXIST && isDirectory(prefix)) continue;
        if (errno == EEXIST) errno = ENOTDIR;
        return errnoError("mkdir", prefix);
    }
    return {};
}

common::Result<StagedFile> StagedFile::Create(std::string_view finalPath, Placement placement) {
    if (finalPath.empty() || hasZeroByte(finalPath)) {
        errno = EINVAL;
        return std::unexpected(errnoError("create", finalPath).error());
    }
    std::string path(finalPath);
    const std::string dir = parentDir(path);
    // An unnamed file leaves nothing behind when the process dies before it is
    // linked. Renaming needs a name, so only linked files are unnamed, and only
    // where /proc lets linkat reach them.
    if (placement == Placement::kExclusive) {
        int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0) {
            struct stat st;
            if (::stat(procPath(fd).c_str(), &st) == 0) {
                return StagedFile(std::move(path), placement, fd, "");
            }
            ::close(fd);
        }
    }
    std::string temp = dir + "/.XXXXXX.tmp";
    int fd = ::mkostemps(temp.data(), 4, O_CLOEXEC);
    if (fd < 0) return std::unexpected(errnoError("create a temporary file in", dir).error());
    return StagedFile(std::move(path), placement, fd, std::move(temp));
}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : finalPath_(std::move(other.finalPath_)), placement_(other.placement_), fd_(other.fd_),
      tempPath_(std::move(other.tempPath_)), placed_(other.placed_) {
    other.fd_ = -1;
    other.tempPath_.clear();  // the moved-from value owns nothing any more
}

StagedFile::~StagedFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
}

common::Status StagedFile::Write(common::ByteView content) {
    if (!writeAll(fd_, content) || ::fsync(fd_) != 0) return errnoError("write", finalPath_);
    return {};
}

common::Status StagedFile::Place() {
    int rc;
    if (placement_ == Placement::kReplace) {
        rc = ::rename(tempPath_.c_str(), finalPath_.c_str());
    } else if (tempPath_.empty()) {
        rc = ::linkat(AT_FDCWD, procPath(fd_).c_str(), AT_FDCWD, finalPath_.c_str(),
                      AT_SYMLINK_FOLLOW);
    } else {
        rc = ::link(tempPath_.c_str(), finalPath_.c_str());
    }
    if (rc != 0) return errnoError("place", finalPath_);
    placed_ = true;
    // After a rename the temporary name is gone; after a link it is a second
    // name of the placed file.
    if (placement_ == Placement::kExclusive && !tempPath_.empty()) ::unlink(tempPath_.c_str());
    tempPath_.clear();
    return {};
}

void StagedFile::Unplace() noexcept {
    if (!placed_) return;
    struct stat mine, there;
    if (::fstat(fd_, &mine) == 0 && ::lstat(finalPath_.c_str(), &there) == 0 &&
        mine.st_dev == there.st_dev && mine.st_ino == there.st_ino) {
        ::unlink(finalPath_.c_str());
    }
    placed_ = false;
}

common::Status SyncParentDir(std::string_view path) {
    const std::string dir = parentDir(path);
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errnoError("open", dir);
    const bool ok = ::fsync(fd) == 0;
    const int savedErrno = errno;
    ::close(fd);
    errno = savedErrno;
    if (!ok) return errnoError("sync", dir);
    return {};
}

void WriteStdout(std::string_view text) {
    writeAll(STDOUT_FILENO, common::AsBytes(text));
}

}  // namespace hibe_c
