// Shared helpers of the hibe_c tests: a scratch directory, its names, standard
// output captured at file descriptor 1, and whether a sanitizer runs.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
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
