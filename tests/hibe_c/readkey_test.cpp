#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "hibe_c/hibe_c.h"
#include "hibe_c_testing.h"

namespace {

namespace fs = std::filesystem;

class ReadKeyTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("hibe_readkey_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string write(const std::string& name, const std::string& content) {
        std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    fs::path dir_;
};

TEST_F(ReadKeyTest, ReturnsEveryByteOfTheFile) {
    std::string content("a\0b\xff", 4);
    auto got = hibe_c::ReadKey(write("k", content));
    ASSERT_TRUE(got);
    EXPECT_EQ(std::string(got->begin(), got->end()), content);
}

TEST_F(ReadKeyTest, EmptyFileGivesEmptyBytes) {
    auto got = hibe_c::ReadKey(write("empty", ""));
    ASSERT_TRUE(got);
    EXPECT_TRUE(got->empty());
}

TEST_F(ReadKeyTest, ReadsPastReportedSize) {
    // Files under /proc report size 0 but hold bytes.
    auto got = hibe_c::ReadKey("/proc/self/status");
    ASSERT_TRUE(got);
    EXPECT_FALSE(got->empty());
}

TEST_F(ReadKeyTest, PathsThatNameNoReadableFile) {
    std::string existing = write("k", "x");
    const std::string cases[] = {
        "",
        (dir_ / "missing").string(),
        dir_.string(),
        existing + std::string("\0x", 2),
    };
    for (const auto& path : cases) {
        EXPECT_FALSE(hibe_c::ReadKey(path)) << path;
    }
}

// How a read in a limited child ended (hibe_c_testing::inLimitedChild).
enum { kRefused = 1, kRead = 2, kWrongContent = 3 };
constexpr std::size_t kHeadroom = std::size_t{256} << 20;

const char* outcome(int result) {
    switch (result) {
    case kRefused: return "refused";
    case kRead: return "read";
    case kWrongContent: return "read other bytes";
    case hibe_c_testing::kOutOfMemory: return "ran out of memory";
    case -1: return "hung";
    default: return "failed";
    }
}

// Only regular files are read, and anything else fails at once: a FIFO without
// a writer (whose open would wait for one), a device that never ends, a socket
// and a directory. Each is read in a child process with an alarm set, so that a
// read that blocks fails the test instead of hanging it, and with little memory,
// so that a read without end fails it instead of exhausting the machine's.
TEST_F(ReadKeyTest, SpecialFilesFailAtOnce) {
    const std::string fifo = (dir_ / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string socketPath = (dir_ / "socket").string();
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);

    for (const std::string& path : {fifo, std::string("/dev/zero"), socketPath, dir_.string()}) {
        const int result = hibe_c_testing::inLimitedChild(
            kHeadroom, [] {}, [&] { return hibe_c::ReadKey(path) ? kRead : kRefused; });
        EXPECT_EQ(result, kRefused) << path << ": " << outcome(result);
    }
    ::close(listener);
}

// No result is larger than 2147483647 bytes, the largest count the other
// functions take, and a read never takes much more memory than its result.
// Sparse files just above that size and of 2.5 GiB (no disk blocks) fail before
// anything is read; /proc/self/pagemap, which reports size 0 and has no end
// within any result, fails once no larger block can be had. Each in a child
// with 256 MiB to spare.
TEST_F(ReadKeyTest, FilesLargerThanAnyResultFailWithLittleMemory) {
    struct Case {
        std::string path;
        off_t sparseSize;  // 0: an existing file
    };
    const Case cases[] = {
        {(dir_ / "2GiB").string(), off_t{2147483648}},
        {(dir_ / "2.5GiB").string(), off_t{2684354560}},
        {"/proc/self/pagemap", 0},
    };
    for (const Case& c : cases) {
        if (c.sparseSize != 0) {
            const int fd = ::open(c.path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
            ASSERT_GE(fd, 0) << c.path;
            ASSERT_EQ(::ftruncate(fd, c.sparseSize), 0) << c.path;
            ::close(fd);
        }
#ifdef HIBE_TEST_SANITIZED
        // Only an address-space limit makes the growing block fail.
        if (c.sparseSize == 0) continue;
#endif
        const int result = hibe_c_testing::inLimitedChild(
            kHeadroom, [] {}, [&] { return hibe_c::ReadKey(c.path) ? kRead : kRefused; });
        EXPECT_EQ(result, kRefused) << c.path << ": " << outcome(result);
    }
}

// A file that grows while it is read (another process appending) gives the bytes
// it held when it was opened, and the read ends. The appender adds 256 KiB each
// time it learns that the file has been read (inotify), so a reader that went on
// to the end of the file would read for as long as its memory lasts.
TEST_F(ReadKeyTest, GrowingFileGivesTheBytesItHeldWhenOpened) {
    const std::string path = (dir_ / "growing").string();
    std::string initial(std::size_t{16} << 20, '\0');
    for (std::size_t i = 0; i < initial.size(); ++i) initial[i] = static_cast<char>(i % 251);
    write("growing", initial);

    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t appender = ::fork();
    if (appender == 0) {
        ::alarm(60);
        const int watch = ::inotify_init1(IN_CLOEXEC);
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
        if (watch < 0 || fd < 0 || ::inotify_add_watch(watch, path.c_str(), IN_ACCESS) < 0)
            ::_exit(1);
        if (::write(ready[1], "r", 1) != 1) ::_exit(1);
        const std::string more(256 * 1024, 'x');
        alignas(inotify_event) char events[4096];
        while (::read(watch, events, sizeof events) > 0) {
            if (::write(fd, more.data(), more.size()) != static_cast<ssize_t>(more.size()))
                ::_exit(1);
        }
        ::_exit(1);
    }
    ASSERT_GT(appender, 0);
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1) << "the appender did not start";
    ::close(ready[0]);

    const int result = hibe_c_testing::inLimitedChild(kHeadroom, [] {}, [&] {
        const auto got = hibe_c::ReadKey(path);
        if (!got) return int{kRefused};
        return std::string(got->begin(), got->end()) == initial ? int{kRead} : int{kWrongContent};
    });
    // The appender saw the read (within 5 s): the file did grow under the reader.
    for (int i = 0; i < 100 && fs::file_size(path) == initial.size(); ++i) ::usleep(50000);
    EXPECT_GT(fs::file_size(path), initial.size()) << "the appender did not see the read";
    ::kill(appender, SIGKILL);
    ::waitpid(appender, nullptr, 0);
    EXPECT_EQ(result, kRead) << outcome(result);
}

}  // namespace
