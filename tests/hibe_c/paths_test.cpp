#include "hibe_c/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

TEST(Clean, Table) {
    const struct {
        std::string_view in, want;
    } cases[] = {
        {"", "."},
        {".", "."},
        {"..", ".."},
        {"../..", "../.."},
        {"/", "/"},
        {"//", "/"},
        {"/..", "/"},
        {"/../a", "/a"},
        {"/a/../..", "/"},
        {"a/..", "."},
        {"a/../..", ".."},
        {"a/b/../../../c", "../c"},
        {"../a/..", ".."},
        {"a/./b/", "a/b"},
        {"./a", "a"},
        {"a//b///c", "a/b/c"},
        {"/tmp//keys/", "/tmp/keys"},
        {"a/b/..", "a"},
        {"a/.../b", "a/.../b"},
        {"..a/b..", "..a/b.."},
        {".hidden/./x", ".hidden/x"},
    };
    for (const auto& c : cases) EXPECT_EQ(hibe_c::Clean(c.in), c.want) << "Clean(\"" << c.in << "\")";
}

TEST(Join, Table) {
    EXPECT_EQ(hibe_c::Join({"/tmp//keys/", "org"}), "/tmp/keys/org");
    EXPECT_EQ(hibe_c::Join({"/tmp/keys/org", "org.params"}), "/tmp/keys/org/org.params");
    EXPECT_EQ(hibe_c::Join({"keys", "privateKeys", "A#B.privateKey"}), "keys/privateKeys/A#B.privateKey");
    // Empty elements are skipped; none left gives the empty path, not ".".
    EXPECT_EQ(hibe_c::Join({}), "");
    EXPECT_EQ(hibe_c::Join({"", ""}), "");
    EXPECT_EQ(hibe_c::Join({"", "org"}), "org");
    EXPECT_EQ(hibe_c::Join({"keys", ""}), "keys");
    EXPECT_EQ(hibe_c::Join({"keys", "", "x"}), "keys/x");
    EXPECT_EQ(hibe_c::Join({"/", ""}), "/");
    EXPECT_EQ(hibe_c::Join({".", ""}), ".");
    // Elements holding "/" and ".." are cleaned like any other path.
    EXPECT_EQ(hibe_c::Join({"keys", "a/b"}), "keys/a/b");
    EXPECT_EQ(hibe_c::Join({"/tmp/keys", ".."}), "/tmp");
    EXPECT_EQ(hibe_c::Join({"/tmp/keys/..", "...params"}), "/tmp/...params");
    EXPECT_EQ(hibe_c::Join({"keys", "../../x"}), "../x");
    EXPECT_EQ(hibe_c::Join({"/", ".."}), "/");
    EXPECT_EQ(hibe_c::Join({"a", "/b"}), "a/b");
}

class PathExistsTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("hibe_paths_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        file_ = (dir_ / "file").string();
        std::ofstream(file_) << "x";
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_;
    std::string file_;
};

TEST_F(PathExistsTest, FilesDirectoriesAndMissingPaths) {
    EXPECT_EQ(hibe_c::pathExists(file_), true);
    EXPECT_EQ(hibe_c::pathExists(dir_.string()), true);
    EXPECT_EQ(hibe_c::pathExists((dir_ / "missing").string()), false);
    EXPECT_EQ(hibe_c::pathExists((dir_ / "missing" / "deeper").string()), false);
}

TEST_F(PathExistsTest, FollowsSymbolicLinks) {
    fs::create_symlink(file_, dir_ / "good");
    fs::create_symlink(dir_ / "missing", dir_ / "dangling");
    EXPECT_EQ(hibe_c::pathExists((dir_ / "good").string()), true);
    EXPECT_EQ(hibe_c::pathExists((dir_ / "dangling").string()), false);
}

TEST_F(PathExistsTest, OtherFailuresAreErrors) {
    auto throughFile = hibe_c::pathExists(file_ + "/below");
    ASSERT_FALSE(throughFile);
    EXPECT_NE(throughFile.error().Message().find("Not a directory"), std::string::npos)
        << throughFile.error().Message();

    auto empty = hibe_c::pathExists("");
    ASSERT_FALSE(empty);
    EXPECT_EQ(empty.error().Message(), "invalid parameter, the file path cannot be empty");

    // The path up to the zero byte exists; the path as given names nothing.
    auto zero = hibe_c::pathExists(file_ + std::string("\0x", 2));
    EXPECT_FALSE(zero);
    auto zeroOnly = hibe_c::pathExists(std::string("\0", 1));
    EXPECT_FALSE(zeroOnly);
}

TEST_F(PathExistsTest, PermissionDeniedIsAnError) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not stop the superuser";
    fs::path locked = dir_ / "locked";
    fs::create_directories(locked / "inner");
    fs::permissions(locked, fs::perms::none);
    auto got = hibe_c::pathExists((locked / "inner").string());
    fs::permissions(locked, fs::perms::owner_all);
    EXPECT_FALSE(got);
}

}  // namespace
