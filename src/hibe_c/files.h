// File-system operations of the key files.
//
// A key file appears whole or not at all: it is written into a temporary file of
// its own in the final directory, flushed, and then given its final name in one
// atomic step. Nothing is ever written through an existing name.
//
// The library is a guest in its host's process. Every descriptor it opens is
// kept off the numbers 0, 1 and 2 (OwnDescriptor).
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "common/bytes.h"
#include "common/error.h"

namespace hibe_c {

// Keeps a descriptor that the library has just opened off the standard streams.
// A host may have closed descriptor 0, 1 or 2 (a daemon does), and open(2) hands
// out the lowest free number: the library's status lines, and any write of the
// host's own to its standard output, would then land in a key file, and a read
// of its standard input would read one. A descriptor below 3 is duplicated to
// the lowest free number above 2 (F_DUPFD_CLOEXEC) and the low number closed
// again at once, before anything is written or read through it; descriptors of
// 3 and more are returned as they are. It touches nothing but that descriptor
// and the one it makes, and only in the call that opened it. -1 (with errno set)
// for -1, and when no number above 2 is free, which closes fd.
int OwnDescriptor(int fd) noexcept;

// open(2) of path with flags (close-on-exec added) and mode, through
// OwnDescriptor. -1 with errno set on failure.
int OpenOwn(const std::string& path, int flags, mode_t mode = 0) noexcept;

// Creates the directory path and its missing parents, each with mode 0777
// (subject to the file-creation mask), and flushes the parent of each directory
// it creates. An existing directory is used as it is; an existing path element
// that is not a directory, the empty path and a path holding a zero byte fail.
common::Status MakeDirAll(std::string_view path);

// How a staged file takes its final name.
enum class Placement {
    // link: fails when the name exists, a dangling symbolic link included, so
    // the name is created exclusively.
    kExclusive,
    // rename: replaces a file or a symbolic link at the name as a whole, never
    // writing through it.
    kReplace,
};

// A key file being written. Create opens a temporary file in the directory of
// the final path (an unnamed one where the file system has them, otherwise one
// created exclusively under a name ".XXXXXX.tmp", X a letter or digit, which no
// key file name is), mode 0600 subject to the file-creation mask. Write fills
// and flushes it; Place gives it the final name. Until it is placed, the
// temporary file is removed when the value goes away, on every failure path.
//
// A named temporary file is locked (flock, exclusive) through its own open file
// for as long as it lives: DirectoryLock::RemoveStaleTemporaries takes only
// temporaries that nobody holds, which a call that died has left.
class StagedFile {
public:
    static common::Result<StagedFile> Create(std::string_view finalPath, Placement placement);

    StagedFile(StagedFile&& other) noexcept;
    StagedFile& operator=(StagedFile&&) = delete;
    ~StagedFile();

    // Writes the whole content and flushes it to stable storage.
    common::Status Write(common::ByteView content);

    // Puts the written file in place under the final path in one atomic step.
    // The directory is not flushed here: the caller flushes it once for every
    // file placed in it.
    common::Status Place();

    // Takes the placed file away again, if the final name still names it: the
    // way back for a call that fails after placing a file it created.
    void Unplace() noexcept;

private:
    StagedFile(std::string finalPath, Placement placement, int fd, std::string tempPath,
               bool exposed)
        : finalPath_(std::move(finalPath)), placement_(placement), fd_(fd),
          tempPath_(std::move(tempPath)), exposed_(exposed) {}

    std::string finalPath_;
    Placement placement_;
    int fd_ = -1;
    std::string tempPath_;  // empty for an unnamed file, and once the name is gone
    bool exposed_ = false;  // opened on a standard stream's number, then moved
    bool placed_ = false;
};

// Flushes the directory that holds path, so that names created, linked or
// renamed in it survive a power loss.
common::Status SyncParentDir(std::string_view path);

// An exclusive lock on the directory that holds a path: flock(2) on the
// directory itself, through an open file of its own. No file is created for it.
// The kernel drops the lock when the last descriptor of that open file closes:
// when the value goes away, when the process dies, and, in a child forked while
// the lock was held, only when the child exits or executes another program
// (the descriptor is close-on-exec). TryTake never waits: a lock held elsewhere,
// by another call, another process or such a child, fails it at once, so no
// holder can make a caller hang.
class DirectoryLock {
public:
    static common::Result<DirectoryLock> TryTake(std::string_view path);

    DirectoryLock(DirectoryLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    DirectoryLock& operator=(DirectoryLock&&) = delete;
    ~DirectoryLock();

    // Removes the temporary files that calls which died left in the directory:
    // every regular file named ".XXXXXX.tmp" (X a letter or digit) that belongs
    // to the process's user and on which no one holds a lock (see StagedFile).
    // A temporary of a live call, in this process or another, is locked and
    // stays.
    void RemoveStaleTemporaries() noexcept;

    // Flushes the directory.
    common::Status Sync();

private:
    explicit DirectoryLock(int fd) : fd_(fd) {}
    int fd_ = -1;
};

}  // namespace hibe_c
