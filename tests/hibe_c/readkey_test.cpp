#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "hibe_c/hibe_c.h"

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

}  // namespace
