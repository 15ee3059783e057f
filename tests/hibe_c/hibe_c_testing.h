// Shared helpers of the hibe_c tests: a scratch directory, its names, standard
// output captured at file descriptor 1, and whether a sanitizer runs.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <string>
#include <vector>

// AddressSanitizer and ThreadSanitizer reserve terabytes of address space for
// their shadow memory, so an address-space limit cannot be set under them; the
// tests that need one skip it there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define HIBE_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define HIBE_TEST_SANITIZED 1
#endif
#endif

#ifdef HIBE_TEST_SANITIZED
// The sanitizer runtimes' allocation hooks (GCC installs no header for them).
extern "C" int __sanitizer_install_malloc_and_free_hooks(
    void (*mallocHook)(const volatile void*, std::size_t), void (*freeHook)(const volatile void*));
#endif

namespace hibe_c_testing {

namespace fs = std::filesystem;

class ScratchDir : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("hibe_c_" + std::to_string(::getpid()) + "_" + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& rel) const { return (dir_ / rel).string(); }
    std::string root() const { return dir_.string(); }

    fs::path dir_;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The names in a directory, sorted.
inline std::vector<std::string> names(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(dir)) out.push_back(entry.path().filename());
    std::sort(out.begin(), out.end());
    return out;
}

inline void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// The address space the process has mapped now, in bytes.
inline std::size_t mappedBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    statm >> pages;
    return pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// The exit code of a limited child (below) whose work ran out of memory.
inline constexpr int kOutOfMemory = 4;

#ifdef HIBE_TEST_SANITIZED
// Under the sanitizers, the most that one allocation of a limited child may take.
inline std::size_t gLargestAllocation = 0;
inline void exitOnLargeAllocation(const volatile void*, std::size_t size) {
    if (size > gLargestAllocation) ::_exit(kOutOfMemory);
}
inline void onFree(const volatile void*) {}
#endif

// Runs fn in a forked child whose address space may grow by headroom beyond what
// it has mapped once prepare has run, and which an alarm ends after 60 seconds:
// the exit code that fn returns, kOutOfMemory when the work ran out of memory,
// and -1 when a signal ended the child (the alarm: it hung). The sanitizers
// reserve terabytes of address space for their shadow memory, which rules out an
// address-space limit; under them the child ends with kOutOfMemory instead as
// soon as one allocation asks for more than headroom.
inline int inLimitedChild(std::size_t headroom, const std::function<void()>& prepare,
                          const std::function<int()>& fn) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(60);
        int result;
        try {
            prepare();
#ifdef HIBE_TEST_SANITIZED
            gLargestAllocation = headroom;
            if (__sanitizer_install_malloc_and_free_hooks(exitOnLargeAllocation, onFree) == 0) {
                ::_exit(2);
            }
#else
            const rlim_t limit = mappedBytes() + headroom;
            struct rlimit rl{limit, limit};
            if (::setrlimit(RLIMIT_AS, &rl) != 0) ::_exit(2);
#endif
            result = fn();
        } catch (const std::bad_alloc&) {
            result = kOutOfMemory;
        }
        ::_exit(result);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs fn with file descriptor 1 redirected to a temporary file and returns what
// was written there.
inline std::string captureStdout(const std::function<void()>& fn) {
    std::fflush(stdout);
    std::FILE* tmp = std::tmpfile();
    int saved = ::dup(1);
    ::dup2(::fileno(tmp), 1);
    fn();
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    std::string out;
    std::rewind(tmp);
    for (int c; (c = std::fgetc(tmp)) != EOF;) out.push_back(static_cast<char>(c));
    std::fclose(tmp);
    return out;
}

}  // namespace hibe_c_testing
