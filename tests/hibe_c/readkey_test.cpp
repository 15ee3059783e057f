#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>
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

// Only regular files are read, and anything else fails at once: a FIFO without
// a writer (whose open would wait for one), a device that never ends, a socket
// and a directory. Each is read in a child process with an alarm set, so that a
// read that blocks fails the test instead of hanging it, and (outside the
// sanitizer builds) with its address space limited, so that a read without end
// fails it instead of exhausting the machine's memory.
TEST_F(ReadKeyTest, SpecialFilesFailAtOnce) {
    enum { kRefused, kRead, kOutOfMemory };
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
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::alarm(60);
#ifndef HIBE_TEST_SANITIZED
            const rlim_t limit = rlim_t{4} << 30;
            const struct rlimit rl{limit, limit};
            ::setrlimit(RLIMIT_AS, &rl);
#endif
            int result = kOutOfMemory;
            try {
                result = hibe_c::ReadKey(path) ? kRead : kRefused;
            } catch (const std::bad_alloc&) {
            }
            ::_exit(result);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kRefused)
            << path
            << (WIFSIGNALED(status)              ? ": blocked"
                : WEXITSTATUS(status) == kRead ? ": read"
                                                 : ": ran out of memory");
    }
    ::close(listener);
}

}  // namespace
