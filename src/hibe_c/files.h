// File-system operations of the key files.
//
// A key file appears whole or not at all: it is written into a temporary file of
// its own in the final directory, flushed, and then given its final name in one
// atomic step. Nothing is ever written through an existing name.
//
// A call works on one directory that it opens once (Directory): the lock, the
// free-name check, the temporaries, the links and renames, the flush and every
// undo go through that descriptor, never through a path. A host that changes its
// working directory, or renames a directory of the path, during the call cannot
// split the call's files across two directories or make it miss its own
// temporaries.
//
// The names a call may create in that directory, and the only ones it may
// remove:
// - its final names (Placement), created by link or rename; one that it placed
//   is taken back only by the undo of a failing Commit, and only while the name
//   still names the file it placed;
// - what was at a final name placed with kReplace: replaced as a whole when the
//   commit succeeds, and put back under that name when it fails;
// - temporary names of its own, ".<final name>.<six letters or digits>.hibe-tmp"
//   (the final name cut to a fixed prefix where the whole would not fit a
//   file name), removed before the call returns, except where the process dies;
// - temporary names of that exact form that a dead call left, removed by
//   Directory::RemoveStaleTemporaries (and nothing else it finds).
//
// The library is a guest in its host's process. Every descriptor it opens is
// kept off the numbers 0, 1 and 2 (OwnDescriptor).
#pragma once

#include <sys/types.h>

#include <initializer_list>
#include <span>
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

class StagedFile;

// A directory opened once (read-only, close-on-exec, through OwnDescriptor),
// through which a call does all its work on the key files in it. Names given to
// its functions are single entries of this directory, without "/".
class Directory {
public:
    // Opens the directory at path. The path is resolved here, once; the value
    // then names that directory whatever becomes of the path.
    static common::Result<Directory> Open(std::string_view path);

    Directory(Directory&& other) noexcept;
    Directory& operator=(Directory&&) = delete;
    ~Directory();

    // Takes an exclusive lock on the directory: flock(2) on its open file,
    // without waiting. No file is created for it. A lock held elsewhere, by
    // another call, another process or a child forked while it was held, fails
    // it at once, so no holder can make a caller hang. The kernel drops the lock
    // when the last descriptor of that open file closes: when the value goes
    // away, when the process dies, and, in a child forked while the lock was
    // held, only when the child exits or executes another program (the
    // descriptor is close-on-exec).
    common::Status Lock();

    // Whether nothing at all has the name: fstatat without following a link
    // fails with ENOENT. A dangling symbolic link, a directory, a FIFO and any
    // other entry take the name, and so does every other failure of the query.
    bool IsFree(std::string_view name) const;

    // Removes the temporaries that calls which died left for the final names
    // given: exactly the entries named in the temporary form of one of them
    // (see the top of this file) that are, without being opened, regular files
    // of the process's user, and that no one holds locked (see StagedFile).
    // Nothing else is opened, and nothing else is removed: no FIFO, link,
    // socket, device or directory, no file of another user, no name of another
    // form or of another final name. Only while the directory is locked by
    // this value (otherwise it does nothing), so that no setup of these names
    // is under way.
    void RemoveStaleTemporaries(std::initializer_list<std::string_view> finalNames) noexcept;

    // Puts the staged files of this directory in place, in the order given,
    // and flushes the directory once. Each file goes in with StagedFile::Place;
    // if one cannot, or the flush fails, the files already placed are taken
    // back in the reverse order (StagedFile::Unplace; after a failed flush the
    // undo is flushed too, whatever that gives) and the call fails: what the
    // names held before is what they hold again. After a successful flush the
    // backups of replaced files go (StagedFile::Settle).
    //
    // A process that dies at any moment leaves each name holding either what it
    // held before or its new file whole: the order of the files is what keeps
    // sets of files consistent (HibeSetup places the params before the master
    // key that completes them).
    common::Status Commit(std::initializer_list<StagedFile*> inOrder);

    // The descriptor, for the files staged in this directory.
    int Descriptor() const { return fd_; }
    // The path it was opened by, for messages.
    const std::string& Path() const { return path_; }
    // The longest entry name the directory's file system takes.
    std::size_t NameMax() const { return nameMax_; }

private:
    Directory(int fd, std::string path, std::size_t nameMax)
        : fd_(fd), path_(std::move(path)), nameMax_(nameMax) {}

    common::Status sync();

    int fd_ = -1;
    std::string path_;
    std::size_t nameMax_ = 0;
    bool locked_ = false;
};

// How a staged file takes its final name.
enum class Placement {
    // link: fails when the name exists, a dangling symbolic link included, so
    // the name is created exclusively.
    kExclusive,
    // rename: replaces whatever is at the name (a file, a symbolic link) as a
    // whole, never writing through it, and keeps the replaced entry under a
    // temporary name until the file is settled, so that it can be put back.
    kReplace,
};

// A key file being written into a Directory, which must outlive it. Create
// opens a temporary file there (an unnamed one where the file system has them
// and the file is to be linked, otherwise one created exclusively under a
// temporary name), mode 0600 subject to the file-creation mask. Write fills and
// flushes it. Place, Unplace and Settle are the steps of Directory::Commit.
// Until it is placed, the temporary file is removed when the value goes away,
// on every failure path.
//
// A named temporary file is locked (flock, exclusive) through its own open file
// for as long as it lives: Directory::RemoveStaleTemporaries takes only
// temporaries that nobody holds, which a call that died has left. This matters
// where two final names share the prefix that a long name is cut to.
class StagedFile {
public:
    static common::Result<StagedFile> Create(const Directory& dir, std::string_view name,
                                             Placement placement);

    StagedFile(StagedFile&& other) noexcept;
    StagedFile& operator=(StagedFile&&) = delete;
    ~StagedFile();

    // Writes the whole content and flushes it to stable storage.
    common::Status Write(common::ByteView content);

    // Puts the written file in place under its final name in one atomic step.
    // kReplace first gives what is at the name a second, temporary name (a hard
    // link that never follows a link): when that cannot be done for any reason
    // but the name being free (a directory there, a file system without hard
    // links), Place fails with nothing changed. The directory is not flushed.
    common::Status Place();

    // The way back for a Commit that fails after placing this file: if the final
    // name still names this file, it is taken away, and the entry it replaced,
    // if any, is renamed back under it. A name that no longer names this file
    // stays as it is (only the backup name goes).
    void Unplace() noexcept;

    // After the flush: the placement is final, and the backup name goes.
    void Settle() noexcept;

private:
    StagedFile(const Directory& dir, std::string name, Placement placement, int fd,
               std::string tempName, bool exposed)
        : dirFd_(dir.Descriptor()), dirPath_(dir.Path()), nameMax_(dir.NameMax()),
          name_(std::move(name)), placement_(placement), fd_(fd), tempName_(std::move(tempName)),
          exposed_(exposed) {}

    common::Status backUp();
    void dropBackup() noexcept;
    common::Error error(std::string_view what) const;

    int dirFd_ = -1;
    std::string dirPath_;
    std::size_t nameMax_ = 0;
    std::string name_;
    Placement placement_;
    int fd_ = -1;
    std::string tempName_;    // empty for an unnamed file, and once the name is gone
    std::string backupName_;  // what Place replaced, until Unplace or Settle
    dev_t backupDev_ = 0;
    ino_t backupIno_ = 0;
    bool exposed_ = false;    // opened on a standard stream's number, then moved
    bool placed_ = false;
};

}  // namespace hibe_c
