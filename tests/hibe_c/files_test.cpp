#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include "hibe_c/files.h"
#include "hibe_c_testing.h"

namespace {

namespace fs = std::filesystem;
using hibe_c_testing::names;

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("hibe_files_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    static std::string content(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    fs::path dir_;
};

TEST_F(FilesTest, MakeDirAllCreatesParentsAndAcceptsExistingDirectories) {
    ASSERT_TRUE(hibe_c::MakeDirAll(path("a/b//c/")));
    EXPECT_TRUE(fs::is_directory(path("a/b/c")));
    EXPECT_TRUE(hibe_c::MakeDirAll(path("a/b")));
}

TEST_F(FilesTest, MakeDirAllRejectsFilesEmptyPathsAndZeroBytes) {
    std::ofstream(path("file")) << "x";
    EXPECT_FALSE(hibe_c::MakeDirAll(path("file")));
    EXPECT_FALSE(hibe_c::MakeDirAll(path("file/sub")));
    EXPECT_FALSE(hibe_c::MakeDirAll(""));
    EXPECT_FALSE(hibe_c::MakeDirAll(path("z") + std::string("\0y", 2)));
    EXPECT_FALSE(fs::exists(path("z")));
}

// What a name in the scratch directory holds before a file is placed there.
enum class AtName { kNothing, kFile, kLinkToFile, kDanglingLink };

// Runs fn in a forked child and returns its exit status (-1 when it died).
int inChild(const std::function<int()>& fn) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(fn());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Whether descriptor fd is open.
bool isOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

// With any of the standard streams closed, what the library opens lands above
// 2 and close-on-exec, and the closed numbers stay closed: nothing else is
// touched. Each set of closed streams is tried in a child.
TEST_F(FilesTest, OwnDescriptorsStayOffTheStandardStreams) {
    const std::string file = path("file");
    std::ofstream(file) << "x";
    const std::vector<std::vector<int>> closedSets = {{}, {1}, {0, 1}, {0, 1, 2}, {0, 2}};
    for (const auto& closed : closedSets) {
        const int result = inChild([&] {
            for (int fd : closed) ::close(fd);
            const int fds[] = {hibe_c::OpenOwn(file, O_RDONLY),
                               hibe_c::OpenOwn(dir_.string(), O_RDONLY),
                               hibe_c::OwnDescriptor(::open(file.c_str(), O_RDONLY | O_CLOEXEC))};
            for (int fd : fds) {
                if (fd <= 2) return 1;
                if ((::fcntl(fd, F_GETFD) & FD_CLOEXEC) == 0) return 2;
            }
            for (int fd = 0; fd <= 2; ++fd) {
                const bool wasClosed = std::find(closed.begin(), closed.end(), fd) != closed.end();
                if (isOpen(fd) == wasClosed) return 3;
            }
            return 0;
        });
        EXPECT_EQ(result, 0) << "closed streams: " << closed.size();
    }
}

// The setup lock: a second taker fails at once; a child forked while the lock
// is held keeps it until it exits, and meanwhile a taker still fails at once
// rather than waiting for the child; the lock is free once the child is gone.
TEST_F(FilesTest, DirectoryLockFailsAtOnceWhileHeldAndOutlivesNoHolder) {
    const std::string inDir = path("org.masterKey");
    auto lock = std::make_optional(hibe_c::DirectoryLock::TryTake(inDir));
    ASSERT_TRUE(*lock);
    EXPECT_FALSE(hibe_c::DirectoryLock::TryTake(inDir));

    int toChild[2], fromChild[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(fromChild), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        char c;
        ::close(toChild[1]);
        ::close(fromChild[0]);
        (void)!::write(fromChild[1], "r", 1);
        (void)!::read(toChild[0], &c, 1);  // holds the inherited lock until told to end
        ::_exit(0);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    char c;
    ASSERT_EQ(::read(fromChild[0], &c, 1), 1);
    lock.reset();
    EXPECT_FALSE(hibe_c::DirectoryLock::TryTake(inDir)) << "the child holds the lock";
    ::close(toChild[1]);
    ::waitpid(pid, nullptr, 0);
    ::close(fromChild[0]);
    EXPECT_TRUE(hibe_c::DirectoryLock::TryTake(inDir));
}

// Temporaries that nobody holds (a call that died left them) are removed; a
// live temporary of another call stays and can still be placed; a name of
// another shape, a link, a directory and a FIFO stay as they are.
TEST_F(FilesTest, RemoveStaleTemporariesTakesOnlyUnheldTemporaries) {
    std::ofstream(path(".Ab12Cd.tmp")) << "a dead setup's master key";
    std::ofstream(path(".zzzzzz.tmp")) << "";
    std::ofstream(path(".held1.tmp")) << "too short a name";
    std::ofstream(path("Ab12Cde.tmp")) << "no dot";
    std::ofstream(path(".Ab-2Cd.tmp")) << "not a letter or digit";
    std::ofstream(path("x.params")) << "a key file";
    std::ofstream(path(".Held99.tmp")) << "held by a live call";
    const int held = ::open(path(".Held99.tmp").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    fs::create_symlink(path("x.params"), path(".Link00.tmp"));
    fs::create_directory(path(".Dir000.tmp"));
    ASSERT_EQ(::mkfifo(path(".Fifo00.tmp").c_str(), 0600), 0);
    auto live = hibe_c::StagedFile::Create(path("live"), hibe_c::Placement::kReplace);
    ASSERT_TRUE(live && live->Write(common::AsBytes("live")));

    auto lock = hibe_c::DirectoryLock::TryTake(path("x.params"));
    ASSERT_TRUE(lock);
    lock->RemoveStaleTemporaries();
    std::vector<std::string> left = names(dir_);
    EXPECT_EQ(left.size(), 9u);
    for (const char* gone : {".Ab12Cd.tmp", ".zzzzzz.tmp"}) {
        EXPECT_FALSE(fs::exists(path(gone))) << gone;
    }
    for (const char* kept : {".held1.tmp", "Ab12Cde.tmp", ".Ab-2Cd.tmp", "x.params", ".Held99.tmp",
                             ".Link00.tmp", ".Dir000.tmp", ".Fifo00.tmp"}) {
        EXPECT_TRUE(fs::exists(fs::symlink_status(path(kept)))) << kept;
    }
    EXPECT_TRUE(live->Place());
    EXPECT_EQ(content(path("live")), "live");
    ::close(held);
}

class StagedFileTest : public FilesTest {
protected:
    // Prepares what the name "key" holds; a link points at "target".
    void plant(AtName what) {
        if (what == AtName::kFile) std::ofstream(path("key")) << "old";
        if (what == AtName::kLinkToFile) std::ofstream(path("target")) << "target";
        if (what == AtName::kLinkToFile || what == AtName::kDanglingLink) {
            fs::create_symlink(path("target"), path("key"));
        }
    }

    // Stages content for "key" and places it unless told not to; the result of Place.
    bool stageAndPlace(hibe_c::Placement placement, const std::string& text, bool place = true) {
        auto file = hibe_c::StagedFile::Create(path("key"), placement);
        EXPECT_TRUE(file);
        if (!file) return false;
        EXPECT_TRUE(file->Write(common::AsBytes(text)));
        return place && file->Place().has_value();
    }
};

TEST_F(StagedFileTest, LeavesNothingUnlessPlaced) {
    for (auto placement : {hibe_c::Placement::kExclusive, hibe_c::Placement::kReplace}) {
        stageAndPlace(placement, "bytes", false);
        EXPECT_TRUE(fs::is_empty(dir_)) << "no temporary file is left behind";
    }
}

TEST_F(StagedFileTest, PlacedFileIsWholeWithMode0600AndNoTemporaryName) {
    for (auto placement : {hibe_c::Placement::kExclusive, hibe_c::Placement::kReplace}) {
        fs::remove(path("key"));
        ASSERT_TRUE(stageAndPlace(placement, "bytes"));
        EXPECT_EQ(content(path("key")), "bytes");
        EXPECT_EQ(names(dir_), std::vector<std::string>{"key"});
        struct stat st;
        ASSERT_EQ(::lstat(path("key").c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_mode & 0077, 0u);
    }
}

// Exclusive placement takes no name that exists, a dangling link included;
// replacement swaps the name as a whole, a link included. Neither ever writes
// through a link: its target keeps its bytes, or stays absent.
TEST_F(StagedFileTest, PlacementNeverWritesThroughWhatIsAtTheName) {
    using hibe_c::Placement;
    const struct {
        Placement placement;
        AtName planted;
        bool placed;
        std::vector<std::string> names;
    } cases[] = {
        {Placement::kExclusive, AtName::kFile, false, {"key"}},
        {Placement::kExclusive, AtName::kLinkToFile, false, {"key", "target"}},
        {Placement::kExclusive, AtName::kDanglingLink, false, {"key"}},
        {Placement::kReplace, AtName::kNothing, true, {"key"}},
        {Placement::kReplace, AtName::kFile, true, {"key"}},
        {Placement::kReplace, AtName::kLinkToFile, true, {"key", "target"}},
        {Placement::kReplace, AtName::kDanglingLink, true, {"key"}},
    };
    for (const auto& c : cases) {
        const std::string what = "case " + std::to_string(&c - cases);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        plant(c.planted);
        EXPECT_EQ(stageAndPlace(c.placement, "new"), c.placed) << what;
        EXPECT_EQ(names(dir_), c.names) << what;
        if (c.planted == AtName::kLinkToFile) {
            EXPECT_EQ(content(path("target")), "target") << what;
        }
        if (c.placed) {
            EXPECT_FALSE(fs::is_symlink(path("key"))) << what;
            EXPECT_EQ(content(path("key")), "new") << what;
        } else if (c.planted == AtName::kFile) {
            EXPECT_EQ(content(path("key")), "old") << what;
        } else {
            EXPECT_EQ(fs::read_symlink(path("key")), path("target")) << what;
        }
    }
}

TEST_F(StagedFileTest, UnplaceTakesAwayOnlyItsOwnFile) {
    auto mine = hibe_c::StagedFile::Create(path("key"), hibe_c::Placement::kExclusive);
    ASSERT_TRUE(mine && mine->Write(common::AsBytes("mine")) && mine->Place());
    mine->Unplace();
    EXPECT_TRUE(fs::is_empty(dir_));

    auto again = hibe_c::StagedFile::Create(path("key"), hibe_c::Placement::kExclusive);
    ASSERT_TRUE(again && again->Write(common::AsBytes("mine")) && again->Place());
    fs::remove(path("key"));
    std::ofstream(path("key")) << "someone else's";
    again->Unplace();
    EXPECT_EQ(content(path("key")), "someone else's");
}

}  // namespace
