#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "hibe_c/files.h"

namespace {

namespace fs = std::filesystem;

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

TEST_F(FilesTest, WriteWholeFileCreatesWithMode0600AndTruncates) {
    const std::string p = path("f");
    ASSERT_TRUE(hibe_c::WriteWholeFile(p, common::AsBytes("longer content")));
    ASSERT_TRUE(hibe_c::WriteWholeFile(p, common::AsBytes("short")));
    EXPECT_EQ(content(p), "short");
    struct stat st;
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u);
}

TEST_F(FilesTest, NewFileIsExclusiveAndRemovedUnlessKept) {
    const std::string p = path("key");
    {
        auto file = hibe_c::NewFile::Create(p);
        ASSERT_TRUE(file);
        EXPECT_FALSE(hibe_c::NewFile::Create(p)) << "a second creation must fail";
    }
    EXPECT_FALSE(fs::exists(p)) << "an unkept file is removed";

    auto file = hibe_c::NewFile::Create(p);
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->WriteAndClose(common::AsBytes("bytes")));
    file->Keep();
    EXPECT_EQ(content(p), "bytes");
    EXPECT_FALSE(hibe_c::NewFile::Create(p));
    EXPECT_EQ(content(p), "bytes") << "a failed creation leaves the existing file alone";
}

}  // namespace
