#include "hibe_c/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/wipe.h"

namespace hibe_c {
namespace {

common::Status errnoError(std::string_view what, std::string_view path) {
    return common::Fail(std::string(what) + " " + std::string(path) + ": " + std::strerror(errno));
}

bool hasZeroByte(std::string_view path) { return path.find('\0') != std::string_view::npos; }

// Closes fd, keeping errno as it was.
void closeKeepingErrno(int fd) {
    const int savedErrno = errno;
    ::close(fd);
    errno = savedErrno;
}

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

// Whether the file open at fd holds exactly content, read back from its start.
// The bytes read back may be a key: they are wiped, and compared in time that
// does not depend on where they differ.
bool holdsExactly(int fd, common::ByteView content) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_size != static_cast<off_t>(content.size())) return false;
    common::Bytes back(content.size());
    common::WipeOnExit wipeBack([&] { common::Wipe(back); });
    std::size_t done = 0;
    while (done < back.size()) {
        ssize_t n = ::pread(fd, back.data() + done, back.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    std::uint8_t differ = 0;
    for (std::size_t i = 0; i < back.size(); ++i) {
        differ = static_cast<std::uint8_t>(differ | (back[i] ^ content[i]));
    }
    return differ == 0;
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

// The temporary names that StagedFile makes: "." + six letters or digits +
// ".tmp", the template of mkostemps.
constexpr std::string_view kTempPrefix = ".";
constexpr std::string_view kTempSuffix = ".tmp";
constexpr std::size_t kTempRandomChars = 6;

bool isTemporaryName(std::string_view name) {
    if (name.size() != kTempPrefix.size() + kTempRandomChars + kTempSuffix.size() ||
        !name.starts_with(kTempPrefix) || !name.ends_with(kTempSuffix)) {
        return false;
    }
    for (char c : name.substr(kTempPrefix.size(), kTempRandomChars)) {
        const bool letterOrDigit =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!letterOrDigit) return false;
    }
    return true;
}

// A named temporary file may lose its name to a cleaner between mkostemps and
// the lock: then another name is tried, this many times at most.
constexpr int kNameAttempts = 16;

// A new temporary file dir/.XXXXXX.tmp, locked through its own open file (see
// files.h). A cleaner that opened the name first holds the lock and removes the
// name (the lock fails here), or has removed it already (the lock succeeds on a
// file without a name): either way another name is tried. Where the file system
// has no flock the file stays unlocked, and no cleaner can take it either.
common::Result<int> createNamedTemporary(const std::string& dir, std::string& temp,
                                         bool& exposed) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        temp = dir + "/" + std::string(kTempPrefix) + std::string(kTempRandomChars, 'X') +
               std::string(kTempSuffix);
        int fd = ::mkostemps(temp.data(), static_cast<int>(kTempSuffix.size()), O_CLOEXEC);
        if (fd < 0) return std::unexpected(errnoError("create a temporary file in", dir).error());
        exposed = fd <= STDERR_FILENO;
        fd = OwnDescriptor(fd);
        if (fd < 0) {
            const int savedErrno = errno;
            ::unlink(temp.c_str());
            errno = savedErrno;
            return std::unexpected(errnoError("create a temporary file in", dir).error());
        }
        const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (!locked && errno != EWOULDBLOCK) return fd;
        struct stat st;
        if (locked && ::fstat(fd, &st) == 0 && st.st_nlink > 0) return fd;
        ::close(fd);
    }
    errno = EEXIST;
    return std::unexpected(errnoError("create a temporary file in", dir).error());
}

}  // namespace

int OwnDescriptor(int fd) noexcept {
    if (fd < 0 || fd > STDERR_FILENO) return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    closeKeepingErrno(fd);
    return moved;
}

int OpenOwn(const std::string& path, int flags, mode_t mode) noexcept {
    return OwnDescriptor(::open(path.c_str(), flags | O_CLOEXEC, mode));
}

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
    // where /proc lets linkat reach them. Opened for reading too, so that a file
    // that was exposed on a standard stream's number can be read back.
    if (placement == Placement::kExclusive) {
        int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        const bool exposed = fd >= 0 && fd <= STDERR_FILENO;
        fd = OwnDescriptor(fd);
        if (fd >= 0) {
            struct stat st;
            if (::stat(procPath(fd).c_str(), &st) == 0) {
                return StagedFile(std::move(path), placement, fd, "", exposed);
            }
            ::close(fd);
        }
    }
    std::string temp;
    bool exposed = false;
    auto fd = createNamedTemporary(dir, temp, exposed);
    if (!fd) return std::unexpected(fd.error());
    return StagedFile(std::move(path), placement, *fd, std::move(temp), exposed);
}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : finalPath_(std::move(other.finalPath_)), placement_(other.placement_), fd_(other.fd_),
      tempPath_(std::move(other.tempPath_)), exposed_(other.exposed_), placed_(other.placed_) {
    other.fd_ = -1;
    other.tempPath_.clear();  // the moved-from value owns nothing any more
}

StagedFile::~StagedFile() {
    // The name goes while the lock is held (it goes with the descriptor), so no
    // cleaner can have taken it, nor another call have made a file of that name.
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
    if (fd_ >= 0) ::close(fd_);
}

common::Status StagedFile::Write(common::ByteView content) {
    if (!writeAll(fd_, content) || ::fsync(fd_) != 0) return errnoError("write", finalPath_);
    // Until it was moved, a file opened on a standard stream's number took every
    // write made through that number: another thread's status line, or the
    // host's own output. It must hold exactly the content, or it is not placed.
    if (exposed_ && !holdsExactly(fd_, content)) {
        errno = EIO;
        return errnoError("write", finalPath_);
    }
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
    int fd = OpenOwn(dir, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return errnoError("open", dir);
    const bool ok = ::fsync(fd) == 0;
    closeKeepingErrno(fd);
    if (!ok) return errnoError("sync", dir);
    return {};
}

common::Result<DirectoryLock> DirectoryLock::TryTake(std::string_view path) {
    const std::string dir = parentDir(path);
    if (hasZeroByte(dir)) {
        errno = EINVAL;
        return std::unexpected(errnoError("open", dir).error());
    }
    int fd = OpenOwn(dir, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return std::unexpected(errnoError("open", dir).error());
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        closeKeepingErrno(fd);
        return std::unexpected(errnoError("lock", dir).error());
    }
    return DirectoryLock(fd);
}

DirectoryLock::~DirectoryLock() {
    if (fd_ >= 0) ::close(fd_);
}

void DirectoryLock::RemoveStaleTemporaries() noexcept {
    // A descriptor of its own for reading the entries: the locked one keeps its
    // position, and closedir closes only this one.
    const int listFd = OwnDescriptor(::openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (listFd < 0) return;
    DIR* entries = ::fdopendir(listFd);
    if (entries == nullptr) {
        ::close(listFd);
        return;
    }
    while (const dirent* entry = ::readdir(entries)) {
        if (!isTemporaryName(entry->d_name)) continue;
        // Never follows a link, never waits for a writer of a FIFO.
        const int fd = OwnDescriptor(
            ::openat(listFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (fd < 0) continue;
        // The lock is taken before the name is checked again: a call that creates
        // the file after this check finds it locked or without a name.
        struct stat opened, named;
        if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
            opened.st_uid == ::geteuid() && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(listFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == opened.st_dev && named.st_ino == opened.st_ino) {
            ::unlinkat(listFd, entry->d_name, 0);
        }
        ::close(fd);
    }
    ::closedir(entries);
}

common::Status DirectoryLock::Sync() {
    if (::fsync(fd_) != 0) return errnoError("sync", "the locked directory");
    return {};
}

}  // namespace hibe_c
