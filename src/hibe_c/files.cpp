#include "hibe_c/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>

#include "common/random.h"
#include "common/wipe.h"
#include "hibe_c/paths.h"

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

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether name in the directory dirFd is, without following a link, the file
// open at fd.
bool namesFile(int dirFd, const std::string& name, int fd) {
    struct stat opened, named;
    return ::fstat(fd, &opened) == 0 &&
           ::fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           sameFile(opened, named);
}

// Flushes the directory that holds path, so that names created in it survive a
// power loss.
common::Status syncParentDir(std::string_view path) {
    const std::string dir = ParentDir(path);
    int fd = OpenOwn(dir, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return errnoError("open", dir);
    const bool ok = ::fsync(fd) == 0;
    closeKeepingErrno(fd);
    if (!ok) return errnoError("sync", dir);
    return {};
}

// The name under which the process reaches an open file through /proc; linkat
// follows it to give an unnamed file a name.
std::string procPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// The temporary names of the library: "." + the final name (its stem) + "." +
// six letters or digits + the marker. The marker is the library's own, and the
// stem says whose the temporary is, so that the clean-up of a setup can take
// its own temporaries and nobody else's file. A final name so long that the
// whole would not fit a file name of the directory contributes its first bytes
// only: the stem of a final name is always the same in one directory.
constexpr std::string_view kTempMarker = ".hibe-tmp";
constexpr std::size_t kTempRandomChars = 6;
constexpr std::size_t kTempExtraChars = 2 + kTempRandomChars + kTempMarker.size();
constexpr std::string_view kTempAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

std::string_view tempStem(std::string_view finalName, std::size_t nameMax) {
    const std::size_t room = nameMax > kTempExtraChars ? nameMax - kTempExtraChars : 0;
    return finalName.substr(0, room);
}

// A new temporary name for stem, its random letters and digits drawn from the
// library's random source.
common::Result<std::string> newTempName(std::string_view stem) {
    std::array<std::uint8_t, kTempRandomChars> drawn;
    if (auto filled = common::SystemRandom().Fill(drawn); !filled) {
        return std::unexpected(filled.error());
    }
    std::string name = ".";
    name.append(stem).append(".");
    for (std::uint8_t b : drawn) name += kTempAlphabet[b % kTempAlphabet.size()];
    name.append(kTempMarker);
    return name;
}

bool isTempNameOf(std::string_view name, std::string_view stem) {
    if (name.size() != stem.size() + kTempExtraChars || !name.starts_with(".") ||
        name.substr(1, stem.size()) != stem || name[1 + stem.size()] != '.' ||
        !name.ends_with(kTempMarker)) {
        return false;
    }
    return name.substr(2 + stem.size(), kTempRandomChars).find_first_not_of(kTempAlphabet) ==
           std::string_view::npos;
}

// A new name may be taken already (by chance, or by a cleaner racing the lock
// below): then another is drawn, this many times at most.
constexpr int kNameAttempts = 16;

// A new temporary file in dirFd under a temporary name of stem, created
// exclusively and locked through its own open file (see files.h). A cleaner
// that opened the name first holds the lock and removes the name (the lock
// fails here), or has removed it already (the lock succeeds on a file without a
// name): either way another name is tried. Where the file system has no flock
// the file stays unlocked, and no cleaner can take it either.
common::Result<int> createNamedTemporary(int dirFd, const std::string& dirPath,
                                         std::string_view stem, std::string& temp,
                                         bool& exposed) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        auto name = newTempName(stem);
        if (!name) return std::unexpected(name.error());
        temp = std::move(*name);
        int fd = ::openat(dirFd, temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) {
            return std::unexpected(errnoError("create a temporary file in", dirPath).error());
        }
        exposed = fd <= STDERR_FILENO;
        fd = OwnDescriptor(fd);
        if (fd < 0) {
            const int savedErrno = errno;
            ::unlinkat(dirFd, temp.c_str(), 0);
            errno = savedErrno;
            return std::unexpected(errnoError("create a temporary file in", dirPath).error());
        }
        const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (!locked && errno != EWOULDBLOCK) return fd;
        struct stat st;
        if (locked && ::fstat(fd, &st) == 0 && st.st_nlink > 0) return fd;
        ::close(fd);
    }
    errno = EEXIST;
    return std::unexpected(errnoError("create a temporary file in", dirPath).error());
}

// Removes name from dirFd if it is a temporary that a dead call left: a regular
// file of the process's user (looked at without opening it: a FIFO is never
// opened, so a writer blocked in open on it stays blocked), that nobody holds
// locked. It is opened only to take the lock; the lock is taken before the name
// is checked again, so a call that creates a file under the name after this
// check finds it locked or without a name.
void removeIfStale(int dirFd, const char* name) {
    struct stat named;
    if (::fstatat(dirFd, name, &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(named.st_mode) ||
        named.st_uid != ::geteuid()) {
        return;
    }
    const int fd =
        OwnDescriptor(::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd < 0) return;
    struct stat opened, again;
    if (::fstat(fd, &opened) == 0 && sameFile(opened, named) &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::fstatat(dirFd, name, &again, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(again, opened)) {
        ::unlinkat(dirFd, name, 0);
    }
    ::close(fd);
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
            if (auto synced = syncParentDir(prefix); !synced) return synced;
            continue;
        }
        if (errno == EEXIST && isDirectory(prefix)) continue;
        if (errno == EEXIST) errno = ENOTDIR;
        return errnoError("mkdir", prefix);
    }
    return {};
}

common::Result<Directory> Directory::Open(std::string_view path) {
    std::string dir(path);
    if (hasZeroByte(dir)) {
        errno = EINVAL;
        return std::unexpected(errnoError("open", dir).error());
    }
    const int fd = OpenOwn(dir, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return std::unexpected(errnoError("open", dir).error());
    // The file system's limit on a name, which the temporary names respect.
    const long limit = ::fpathconf(fd, _PC_NAME_MAX);
    const std::size_t nameMax =
        limit > 0 && limit < NAME_MAX ? static_cast<std::size_t>(limit) : NAME_MAX;
    return Directory(fd, std::move(dir), nameMax);
}

Directory::Directory(Directory&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)), nameMax_(other.nameMax_),
      locked_(other.locked_) {
    other.fd_ = -1;
    other.locked_ = false;
}

Directory::~Directory() {
    if (fd_ >= 0) ::close(fd_);
}

common::Status Directory::Lock() {
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) return errnoError("lock", path_);
    locked_ = true;
    return {};
}

bool Directory::IsFree(std::string_view name) const {
    if (name.empty() || hasZeroByte(name)) return false;
    struct stat st;
    return ::fstatat(fd_, std::string(name).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 &&
           errno == ENOENT;
}

void Directory::RemoveStaleTemporaries(
    std::initializer_list<std::string_view> finalNames) noexcept {
    if (!locked_) return;
    // A descriptor of its own for reading the entries: closedir closes only it.
    const int listFd = OwnDescriptor(::openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (listFd < 0) return;
    DIR* entries = ::fdopendir(listFd);
    if (entries == nullptr) {
        ::close(listFd);
        return;
    }
    while (const dirent* entry = ::readdir(entries)) {
        for (std::string_view finalName : finalNames) {
            if (isTempNameOf(entry->d_name, tempStem(finalName, nameMax_))) {
                removeIfStale(fd_, entry->d_name);
                break;
            }
        }
    }
    ::closedir(entries);
}

common::Status Directory::Commit(std::initializer_list<StagedFile*> inOrder) {
    const auto undo = [&](std::size_t placed) {
        while (placed > 0) inOrder.begin()[--placed]->Unplace();
    };
    for (std::size_t i = 0; i < inOrder.size(); ++i) {
        if (auto placed = inOrder.begin()[i]->Place(); !placed) {
            undo(i);
            return placed;
        }
    }
    if (auto synced = sync(); !synced) {
        // The names are not known to be on disk. The undo puts back what they
        // held; it is flushed too, which may fail as well: what a power loss on
        // a failing disk keeps of the directory is beyond any call. Every file
        // was flushed before it took a name, so a name that it keeps names
        // whole content.
        undo(inOrder.size());
        (void)sync();
        return synced;
    }
    // A power loss may bring a backup name back: it is a temporary, which the
    // clean-up of the next setup that writes here removes.
    for (StagedFile* file : inOrder) file->Settle();
    return {};
}

common::Status Directory::sync() {
    if (::fsync(fd_) != 0) return errnoError("sync", path_);
    return {};
}

common::Result<StagedFile> StagedFile::Create(const Directory& dir, std::string_view name,
                                              Placement placement) {
    if (name.empty() || hasZeroByte(name) || name.find('/') != std::string_view::npos) {
        errno = EINVAL;
        return std::unexpected(errnoError("create", name).error());
    }
    // An unnamed file leaves nothing behind when the process dies before it is
    // linked. Renaming needs a name, so only linked files are unnamed, and only
    // where /proc lets linkat reach them. Opened for reading too, so that a file
    // that was exposed on a standard stream's number can be read back.
    if (placement == Placement::kExclusive) {
        int fd = ::openat(dir.Descriptor(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        const bool exposed = fd >= 0 && fd <= STDERR_FILENO;
        fd = OwnDescriptor(fd);
        if (fd >= 0) {
            struct stat st;
            if (::stat(procPath(fd).c_str(), &st) == 0) {
                return StagedFile(dir, std::string(name), placement, fd, "", exposed);
            }
            ::close(fd);
        }
    }
    std::string temp;
    bool exposed = false;
    auto fd = createNamedTemporary(dir.Descriptor(), dir.Path(), tempStem(name, dir.NameMax()),
                                   temp, exposed);
    if (!fd) return std::unexpected(fd.error());
    return StagedFile(dir, std::string(name), placement, *fd, std::move(temp), exposed);
}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : dirFd_(other.dirFd_), dirPath_(std::move(other.dirPath_)), nameMax_(other.nameMax_),
      name_(std::move(other.name_)), placement_(other.placement_), fd_(other.fd_),
      tempName_(std::move(other.tempName_)), backupName_(std::move(other.backupName_)),
      backupDev_(other.backupDev_), backupIno_(other.backupIno_), exposed_(other.exposed_),
      placed_(other.placed_) {
    // The moved-from value owns nothing any more.
    other.fd_ = -1;
    other.tempName_.clear();
    other.backupName_.clear();
}

StagedFile::~StagedFile() {
    // The name goes while the lock is held (it goes with the descriptor), so no
    // cleaner can have taken it, nor another call have made a file of that name.
    if (!tempName_.empty()) ::unlinkat(dirFd_, tempName_.c_str(), 0);
    dropBackup();
    if (fd_ >= 0) ::close(fd_);
}

common::Error StagedFile::error(std::string_view what) const {
    return errnoError(what, dirPath_ + "/" + name_).error();
}

common::Status StagedFile::Write(common::ByteView content) {
    if (!writeAll(fd_, content) || ::fsync(fd_) != 0) return std::unexpected(error("write"));
    // Until it was moved, a file opened on a standard stream's number took every
    // write made through that number: another thread's status line, or the
    // host's own output. It must hold exactly the content, or it is not placed.
    if (exposed_ && !holdsExactly(fd_, content)) {
        errno = EIO;
        return std::unexpected(error("write"));
    }
    return {};
}

// A hard link of whatever is at the final name (flags 0: a symbolic link is
// linked itself, never followed) under a temporary name of the final name.
common::Status StagedFile::backUp() {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        auto backup = newTempName(tempStem(name_, nameMax_));
        if (!backup) return std::unexpected(backup.error());
        if (::linkat(dirFd_, name_.c_str(), dirFd_, backup->c_str(), 0) != 0) {
            if (errno == EEXIST) continue;
            if (errno == ENOENT) return {};  // nothing is replaced
            return std::unexpected(error("keep what is at"));
        }
        struct stat st;
        if (::fstatat(dirFd_, backup->c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            const common::Error failed = error("keep what is at");
            ::unlinkat(dirFd_, backup->c_str(), 0);
            return std::unexpected(failed);
        }
        backupName_ = std::move(*backup);
        backupDev_ = st.st_dev;
        backupIno_ = st.st_ino;
        return {};
    }
    errno = EEXIST;
    return std::unexpected(error("keep what is at"));
}

void StagedFile::dropBackup() noexcept {
    if (backupName_.empty()) return;
    struct stat st;
    if (::fstatat(dirFd_, backupName_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        st.st_dev == backupDev_ && st.st_ino == backupIno_) {
        ::unlinkat(dirFd_, backupName_.c_str(), 0);
    }
    backupName_.clear();
}

common::Status StagedFile::Place() {
    int rc;
    if (placement_ == Placement::kReplace) {
        if (auto kept = backUp(); !kept) return kept;
        rc = ::renameat(dirFd_, tempName_.c_str(), dirFd_, name_.c_str());
    } else if (tempName_.empty()) {
        rc = ::linkat(AT_FDCWD, procPath(fd_).c_str(), dirFd_, name_.c_str(), AT_SYMLINK_FOLLOW);
    } else {
        rc = ::linkat(dirFd_, tempName_.c_str(), dirFd_, name_.c_str(), 0);
    }
    if (rc != 0) {
        const common::Error failed = error("place");
        dropBackup();
        return std::unexpected(failed);
    }
    placed_ = true;
    // After a rename the temporary name is gone; after a link it is a second
    // name of the placed file.
    if (placement_ == Placement::kExclusive && !tempName_.empty()) {
        ::unlinkat(dirFd_, tempName_.c_str(), 0);
    }
    tempName_.clear();
    return {};
}

void StagedFile::Unplace() noexcept {
    if (!placed_) return;
    placed_ = false;
    // Another program may have put something else at the name since: it stays.
    if (!namesFile(dirFd_, name_, fd_)) {
        dropBackup();
        return;
    }
    if (backupName_.empty()) {
        ::unlinkat(dirFd_, name_.c_str(), 0);
        return;
    }
    // One rename puts the replaced entry back: the name never stands empty.
    if (::renameat(dirFd_, backupName_.c_str(), dirFd_, name_.c_str()) == 0) {
        backupName_.clear();
        return;
    }
    dropBackup();
}

void StagedFile::Settle() noexcept { dropBackup(); }

}  // namespace hibe_c
