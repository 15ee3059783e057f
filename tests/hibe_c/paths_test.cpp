#include "hibe_c/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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

// Clean written out element by element: the reference that the library's route
// through std::filesystem must match.
std::string referenceClean(std::string_view path) {
    if (path.empty()) return ".";
    const bool rooted = path.front() == '/';
    std::vector<std::string_view> kept;
    std::size_t dotdots = 0;  // leading ".." elements of kept, which nothing removes
    std::size_t pos = 0;
    while (pos < path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string_view::npos) end = path.size();
        std::string_view element = path.substr(pos, end - pos);
        pos = end + 1;
        if (element.empty() || element == ".") continue;
        if (element == "..") {
            if (kept.size() > dotdots) {
                kept.pop_back();
            } else if (!rooted) {
                kept.push_back(element);
                ++dotdots;
            }
            continue;
        }
        kept.push_back(element);
    }
    if (kept.empty()) return rooted ? "/" : ".";
    std::string out;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (rooted || i > 0) out.push_back('/');
        out.append(kept[i]);
    }
    return out;
}

// Every path of up to 8 bytes over "a", ".", "/" and the zero byte: all runs of
// separators, every mix of ".", ".." and "..." with names, leading, inner and
// trailing, rooted or not.
TEST(Clean, MatchesReferenceOnEveryShortPath) {
    constexpr char kAlphabet[] = {'a', '.', '/', '\0'};
    std::string path;
    std::size_t checked = 0;
    for (std::size_t length = 0; length <= 8; ++length) {
        std::vector<std::size_t> digit(length, 0);
        for (;;) {
            path.resize(length);
            for (std::size_t i = 0; i < length; ++i) path[i] = kAlphabet[digit[i]];
            ASSERT_EQ(hibe_c::Clean(path), referenceClean(path)) << "Clean(\"" << path << "\")";
            ++checked;
            std::size_t i = 0;
            while (i < length && ++digit[i] == std::size(kAlphabet)) digit[i++] = 0;
            if (i == length) break;
        }
    }
    EXPECT_EQ(checked, 87381u);  // 4^0 + 4^1 + ... + 4^8
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

// The split of the joined key file paths into the directory a call opens and
// the name it works on there.
TEST(ParentDirAndBaseName, Table) {
    const struct {
        const char* path;
        const char* dir;
        const char* name;
    } cases[] = {
        {"/tmp/keys/org/org.params", "/tmp/keys/org", "org.params"},
        {"keys/.masterKey", "keys", ".masterKey"},
        {"/tmp/...masterKey", "/tmp", "...masterKey"},
        {"/.params", "/", ".params"},
        {"..masterKey", ".", "..masterKey"},
        {"", ".", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hibe_c::ParentDir(c.path), c.dir) << c.path;
        EXPECT_EQ(hibe_c::BaseName(c.path), c.name) << c.path;
    }
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

// A link at the end of the path is something, whether or not its target
// exists; links of the directories before it are followed.
TEST_F(PathExistsTest, ALinkAtTheEndExistsWhereverItPoints) {
    fs::create_symlink(file_, dir_ / "good");
    fs::create_symlink(dir_ / "missing", dir_ / "dangling");
    fs::create_directory_symlink(dir_, dir_ / "again");
    EXPECT_EQ(hibe_c::pathExists((dir_ / "good").string()), true);
    EXPECT_EQ(hibe_c::pathExists((dir_ / "dangling").string()), true);
    EXPECT_EQ(hibe_c::pathExists((dir_ / "again" / "file").string()), true);
    EXPECT_EQ(hibe_c::pathExists((dir_ / "again" / "missing").string()), false);
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
