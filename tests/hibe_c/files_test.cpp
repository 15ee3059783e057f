#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
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
enum class AtName { kNothing, kFile, kLinkToFile, kDanglingLink, kDirectory, kFifo };

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

// The directory of a scratch test, opened.
hibe_c::Directory openDir(const fs::path& dir) {
    auto opened = hibe_c::Directory::Open(dir.string());
    EXPECT_TRUE(opened) << dir;
    return std::move(*opened);
}

// The setup lock: a second taker fails at once; a child forked while the lock
// is held keeps it until it exits, and meanwhile a taker still fails at once
// rather than waiting for the child; the lock is free once the child is gone.
TEST_F(FilesTest, DirectoryLockFailsAtOnceWhileHeldAndOutlivesNoHolder) {
    auto lock = std::make_optional(openDir(dir_));
    ASSERT_TRUE(lock->Lock());
    EXPECT_FALSE(openDir(dir_).Lock());

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
    EXPECT_FALSE(openDir(dir_).Lock()) << "the child holds the lock";
    ::close(toChild[1]);
    ::waitpid(pid, nullptr, 0);
    ::close(fromChild[0]);
    EXPECT_TRUE(openDir(dir_).Lock());
}

// Binds a Unix domain socket at path (the socket itself is closed again).
void makeSocket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, path.c_str(), path.size());
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
}

// Only a name that nothing has is free: a dangling link, a directory, a FIFO
// and a socket take it, and so does a name that cannot be asked about.
TEST_F(FilesTest, IsFreeOnlyWhereNothingHasTheName) {
    std::ofstream(path("file")) << "x";
    fs::create_symlink(path("missing"), path("dangling"));
    fs::create_symlink(path("file"), path("link"));
    fs::create_directory(path("dir"));
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    makeSocket(path("socket"));
    const auto dir = openDir(dir_);
    EXPECT_TRUE(dir.IsFree("missing"));
    const std::vector<std::string> taken = {"file", "dangling", "link", "dir", "fifo", "socket",
                                            "", std::string("missing\0x", 9), "file/below",
                                            std::string(300, 'n')};
    for (const auto& name : taken) {
        EXPECT_FALSE(dir.IsFree(name)) << name;
    }
}

// The temporary names of final names (as StagedFile makes them, see files.h)
// for the final names x.params and x.masterKey, and a final name so long that
// its temporaries carry its first 238 bytes.
const std::string kLongName = std::string(250, 'L') + ".params";
std::string tempName(const std::string& finalName, const std::string& chars) {
    std::string name = ".";
    return name.append(finalName, 0, 255 - 17).append(".").append(chars).append(".hibe-tmp");
}

// Temporaries of the final names given that nobody holds (a call that died
// left them) are removed, and only while the directory is locked; nothing else
// is removed or opened: a live temporary of another call, a name of another
// shape or of another final name, and, under a name of the exact form, a link,
// a directory, a FIFO, a socket, and a file of another user.
TEST_F(FilesTest, RemoveStaleTemporariesTakesOnlyUnheldTemporariesOfTheNamesGiven) {
    const std::vector<std::string> stale = {
        tempName("x.params", "Ab12Cd"),
        tempName("x.masterKey", "zzzzzz"),
        tempName(kLongName, "09AZaz"),
    };
    const std::vector<std::string> kept = {
        "x.params",
        tempName("x.masterKey", "Held99"),  // locked by a live call
        ".Ab12Cd.tmp",
        ".backup.tmp",
        tempName("y.params", "Ab12Cd"),
        tempName("x.params", "Ab12C"),
        tempName("x.params", "Ab12Cde"),
        tempName("x.params", "Ab-2Cd"),
        tempName("x.params", "Ab12Cd").substr(1),
        tempName("x.params", "Ab12Cd") + "x",
        ".x.params.Ab12Cd.tmp",
        ".x.params.Ab12Cd",
        tempName("x.masterKe", "Ab12Cd"),
        tempName(kLongName.substr(0, 237), "Ab12Cd"),
    };
    for (const auto& name : stale) std::ofstream(path(name)) << "a dead setup's key";
    for (const auto& name : kept) std::ofstream(path(name)) << "someone's file";
    const int held = ::open(path(tempName("x.masterKey", "Held99")).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const std::string link = tempName("x.params", "Link00"), sub = tempName("x.params", "Dir000"),
                      fifo = tempName("x.masterKey", "Fifo00"),
                      socket = tempName("x.masterKey", "Sock00"),
                      foreign = tempName("x.params", "Other0");
    fs::create_symlink(path("x.params"), path(link));
    fs::create_directory(path(sub));
    ASSERT_EQ(::mkfifo(path(fifo).c_str(), 0600), 0);
    makeSocket(path(socket));
    // Only the superuser can make a file of another user.
    std::ofstream(path(foreign)) << "another user's file";
    if (::chown(path(foreign).c_str(), 65534, 65534) != 0) fs::remove(path(foreign));
    auto dir = openDir(dir_);
    auto live = hibe_c::StagedFile::Create(dir, "x.params", hibe_c::Placement::kReplace);
    ASSERT_TRUE(live && live->Write(common::AsBytes("live")));
    const std::vector<std::string> before = names(dir_);

    dir.RemoveStaleTemporaries({"x.params", "x.masterKey", kLongName});
    EXPECT_EQ(names(dir_), before) << "nothing is removed without the lock";
    ASSERT_TRUE(dir.Lock());
    dir.RemoveStaleTemporaries({"x.params", "x.masterKey", kLongName});
    std::vector<std::string> expected = before;
    std::erase_if(expected, [&](const std::string& n) {
        return std::find(stale.begin(), stale.end(), n) != stale.end();
    });
    EXPECT_EQ(names(dir_), expected);
    for (const auto& name : stale) {
        EXPECT_FALSE(fs::exists(fs::symlink_status(path(name)))) << name;
    }
    for (const auto& name : kept) EXPECT_EQ(content(path(name)), "someone's file") << name;
    EXPECT_EQ(fs::read_symlink(path(link)), path("x.params"));
    EXPECT_TRUE(fs::is_fifo(path(fifo)));
    EXPECT_TRUE(fs::is_socket(path(socket)));
    EXPECT_TRUE(dir.Commit({&*live}));
    EXPECT_EQ(content(path("x.params")), "live");
    ::close(held);
}

class StagedFileTest : public FilesTest {
protected:
    // Prepares what the name "key" holds; a link points at "target".
    void plant(AtName what, const std::string& name = "key") {
        if (what == AtName::kFile) std::ofstream(path(name)) << "old";
        if (what == AtName::kLinkToFile) std::ofstream(path("target")) << "target";
        if (what == AtName::kLinkToFile || what == AtName::kDanglingLink) {
            fs::create_symlink(path("target"), path(name));
        }
        if (what == AtName::kDirectory) fs::create_directory(path(name));
        if (what == AtName::kFifo) {
            ASSERT_EQ(::mkfifo(path(name).c_str(), 0600), 0);
        }
    }

    // Whether name holds what plant put there, as it was.
    void expectPlanted(AtName what, const std::string& name, const std::string& where) {
        const auto st = fs::symlink_status(path(name));
        switch (what) {
            case AtName::kNothing: EXPECT_FALSE(fs::exists(st)) << where; break;
            case AtName::kFile: EXPECT_EQ(content(path(name)), "old") << where; break;
            case AtName::kLinkToFile:
            case AtName::kDanglingLink:
                EXPECT_EQ(fs::read_symlink(path(name)), path("target")) << where;
                break;
            case AtName::kDirectory: EXPECT_TRUE(fs::is_directory(st)) << where; break;
            case AtName::kFifo: EXPECT_TRUE(fs::is_fifo(st)) << where; break;
        }
    }

    // Stages content for "key" and commits it unless told not to; the result of
    // the commit.
    bool stageAndPlace(hibe_c::Placement placement, const std::string& text, bool place = true,
                       const std::string& name = "key") {
        auto dir = openDir(dir_);
        auto file = hibe_c::StagedFile::Create(dir, name, placement);
        EXPECT_TRUE(file);
        if (!file) return false;
        EXPECT_TRUE(file->Write(common::AsBytes(text)));
        return place && dir.Commit({&*file}).has_value();
    }
};

TEST_F(StagedFileTest, LeavesNothingUnlessPlaced) {
    for (auto placement : {hibe_c::Placement::kExclusive, hibe_c::Placement::kReplace}) {
        stageAndPlace(placement, "bytes", false);
        EXPECT_TRUE(fs::is_empty(dir_)) << "no temporary file is left behind";
    }
}

// The final name, as long as a name may be (255 bytes) or as short as one, is
// reached whole; no temporary name is left.
TEST_F(StagedFileTest, PlacedFileIsWholeWithMode0600AndNoTemporaryName) {
    for (const std::string& name : std::vector<std::string>{"key", "k", std::string(255, 'k')}) {
        for (auto placement : {hibe_c::Placement::kExclusive, hibe_c::Placement::kReplace}) {
            fs::remove_all(dir_);
            fs::create_directories(dir_);
            ASSERT_TRUE(stageAndPlace(placement, "bytes", true, name)) << name.size();
            EXPECT_EQ(content(path(name)), "bytes");
            EXPECT_EQ(names(dir_), std::vector<std::string>{name});
            struct stat st;
            ASSERT_EQ(::lstat(path(name).c_str(), &st), 0);
            EXPECT_TRUE(S_ISREG(st.st_mode));
            EXPECT_EQ(st.st_mode & 0077, 0u);
        }
    }
}

// A named temporary says whose it is: "." + the final name (its first 238
// bytes when longer) + "." + six letters or digits + ".hibe-tmp".
TEST_F(StagedFileTest, TemporaryNameCarriesTheFinalName) {
    const std::vector<std::string> finalNames = {"org.params", ".params", std::string(238, 'p'),
                                                 std::string(239, 'p'), std::string(255, 'p')};
    for (const auto& name : finalNames) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        auto dir = openDir(dir_);
        auto file = hibe_c::StagedFile::Create(dir, name, hibe_c::Placement::kReplace);
        ASSERT_TRUE(file) << name.size();
        const std::vector<std::string> all = names(dir_);
        ASSERT_EQ(all.size(), 1u);
        const std::string stem = std::string(".").append(name, 0, 238).append(".");
        const std::string& temp = all[0];
        EXPECT_LE(temp.size(), 255u);
        ASSERT_EQ(temp.size(), stem.size() + 6 + 9) << temp;
        EXPECT_EQ(temp.substr(0, stem.size()), stem);
        const std::string chars = temp.substr(stem.size(), 6);
        EXPECT_TRUE(std::all_of(chars.begin(), chars.end(), [](unsigned char c) {
            return std::isalnum(c) != 0;
        })) << temp;
        EXPECT_EQ(temp.substr(stem.size() + 6), ".hibe-tmp");
    }
}

// Exclusive placement takes no name that exists, a dangling link included;
// replacement swaps the name as a whole, a link included, and refuses a
// directory. Neither ever writes through a link: its target keeps its bytes, or
// stays absent.
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
        {Placement::kExclusive, AtName::kDirectory, false, {"key"}},
        {Placement::kReplace, AtName::kNothing, true, {"key"}},
        {Placement::kReplace, AtName::kFile, true, {"key"}},
        {Placement::kReplace, AtName::kLinkToFile, true, {"key", "target"}},
        {Placement::kReplace, AtName::kDanglingLink, true, {"key"}},
        {Placement::kReplace, AtName::kDirectory, false, {"key"}},
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
        } else {
            expectPlanted(c.planted, "key", what);
        }
    }
}

// A commit whose later file cannot take its name puts back what the earlier
// file replaced: the same entry (the same inode), under the same name, and no
// other name is left. When every file is placed, the replaced entry is gone.
TEST_F(StagedFileTest, FailedCommitPutsBackWhatItReplaced) {
    using hibe_c::Placement;
    const AtName replaced[] = {AtName::kNothing, AtName::kFile, AtName::kLinkToFile,
                               AtName::kDanglingLink, AtName::kFifo};
    const AtName blocking[] = {AtName::kNothing, AtName::kFile, AtName::kDanglingLink,
                               AtName::kDirectory, AtName::kFifo};
    for (AtName old : replaced) {
        for (AtName block : blocking) {
            const std::string what = "replaced " + std::to_string(static_cast<int>(old)) +
                                     ", blocked by " + std::to_string(static_cast<int>(block));
            fs::remove_all(dir_);
            fs::create_directories(dir_);
            plant(old, "params");
            if (block != AtName::kDanglingLink || old != AtName::kLinkToFile) {
                plant(block, "master");
            } else {
                fs::create_symlink(path("elsewhere"), path("master"));
            }
            struct stat oldSt{};
            const bool hadOld = ::lstat(path("params").c_str(), &oldSt) == 0;
            const std::vector<std::string> before = names(dir_);

            bool committed = false;
            {
                auto dir = openDir(dir_);
                ASSERT_TRUE(dir.Lock());
                auto params = hibe_c::StagedFile::Create(dir, "params", Placement::kReplace);
                auto master = hibe_c::StagedFile::Create(dir, "master", Placement::kExclusive);
                ASSERT_TRUE(params && params->Write(common::AsBytes("new params"))) << what;
                ASSERT_TRUE(master && master->Write(common::AsBytes("new master"))) << what;
                committed = dir.Commit({&*params, &*master}).has_value();
            }
            EXPECT_EQ(committed, block == AtName::kNothing) << what;
            if (committed) {
                EXPECT_EQ(content(path("params")), "new params") << what;
                EXPECT_EQ(content(path("master")), "new master") << what;
                std::vector<std::string> expected = {"master", "params"};
                if (old == AtName::kLinkToFile) expected.push_back("target");
                EXPECT_EQ(names(dir_), expected) << what;
                continue;
            }
            EXPECT_EQ(names(dir_), before) << what;
            expectPlanted(old, "params", what);
            struct stat nowSt{};
            if (hadOld) {
                ASSERT_EQ(::lstat(path("params").c_str(), &nowSt), 0) << what;
                EXPECT_EQ(nowSt.st_ino, oldSt.st_ino) << what;
                EXPECT_EQ(nowSt.st_nlink, oldSt.st_nlink) << what;
            }
        }
    }
}

// Unplace takes away the file it placed, and nothing that another program put
// at the name since; a replacing file then leaves the name as the other
// program made it, and its backup of the old file goes.
TEST_F(StagedFileTest, UnplaceTakesAwayOnlyItsOwnFile) {
    {
        auto dir = openDir(dir_);
        auto mine = hibe_c::StagedFile::Create(dir, "key", hibe_c::Placement::kExclusive);
        ASSERT_TRUE(mine && mine->Write(common::AsBytes("mine")) && mine->Place());
        mine->Unplace();
        EXPECT_TRUE(fs::is_empty(dir_));
    }
    for (auto placement : {hibe_c::Placement::kExclusive, hibe_c::Placement::kReplace}) {
        if (placement == hibe_c::Placement::kReplace) std::ofstream(path("key")) << "old";
        auto dir = openDir(dir_);
        auto mine = hibe_c::StagedFile::Create(dir, "key", placement);
        ASSERT_TRUE(mine && mine->Write(common::AsBytes("mine")) && mine->Place());
        fs::remove(path("key"));
        std::ofstream(path("key")) << "someone else's";
        mine->Unplace();
        EXPECT_EQ(content(path("key")), "someone else's");
        EXPECT_EQ(names(dir_), std::vector<std::string>{"key"});
        fs::remove(path("key"));
    }
}

}  // namespace
