// Shared helpers of the hibe_c tests: a scratch directory and standard output
// captured at file descriptor 1.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

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
