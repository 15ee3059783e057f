#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <thread>
#include <vector>

#include "bn256/bn256.h"
#include "hibe/scheme.h"
#include "hibe_c/files.h"
#include "hibe_c/hibe_c.h"
#include "hibe_c_testing.h"

namespace {

using hibe_c_testing::captureStdout;
using hibe_c_testing::readFile;
using hibe_c_testing::writeFile;
namespace fs = std::filesystem;

class HibeSetupTest : public hibe_c_testing::ScratchDir {
protected:
    std::int64_t setup(std::int64_t depth, const std::string& org, std::string* out = nullptr) {
        std::int64_t status = 0;
        std::string printed = captureStdout([&] { status = hibe_c::HibeSetup(depth, org, root()); });
        if (out) *out = printed;
        return status;
    }
};

TEST_F(HibeSetupTest, WritesParamsThenMasterKeyAndNamesEachFile) {
    std::string out;
    ASSERT_EQ(setup(3, "org", &out), 0);
    const std::string params = path("org/org.params"), master = path("org/org.masterKey");
    EXPECT_EQ(readFile(params).size(), 576u);
    EXPECT_EQ(readFile(master).size(), 64u);
    EXPECT_EQ(out, "[org params] storage file path: " + params + "\n" +
                       "[org masterKey] storage file path: " + master + "\n");
    struct stat st;
    ASSERT_EQ(::stat(master.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u);
}

TEST_F(HibeSetupTest, SecondSetupFailsSilentlyAndChangesNothing) {
    ASSERT_EQ(setup(3, "org"), 0);
    const std::string params = readFile(path("org/org.params"));
    const std::string master = readFile(path("org/org.masterKey"));
    std::string out;
    EXPECT_EQ(setup(3, "org", &out), 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(readFile(path("org/org.params")), params);
    EXPECT_EQ(readFile(path("org/org.masterKey")), master);
}

TEST_F(HibeSetupTest, ParamsFileWithoutMasterKeyIsReplaced) {
    ASSERT_EQ(setup(2, "org"), 0);
    fs::remove(path("org/org.masterKey"));
    const std::string old = readFile(path("org/org.params"));
    ASSERT_EQ(setup(2, "org"), 0);
    EXPECT_NE(readFile(path("org/org.params")), old);
}

TEST_F(HibeSetupTest, DepthZeroGivesParamsNoIdentityCanUse) {
    ASSERT_EQ(setup(0, "org"), 0);
    EXPECT_EQ(readFile(path("org/org.params")).size(), 384u);
    EXPECT_EQ(hibe_c::KeyGenFromMaster("A", root(), path("org/org.masterKey"),
                                       path("org/org.params")),
              1);
}

TEST_F(HibeSetupTest, NegativeDepthCreatesNothing) {
    EXPECT_EQ(setup(-1, "org"), 1);
    EXPECT_FALSE(fs::exists(path("org")));
}

TEST_F(HibeSetupTest, EmptyOrgIdPutsFilesDirectlyInOutputPath) {
    std::string out;
    ASSERT_EQ(setup(1, "", &out), 0);
    EXPECT_TRUE(fs::exists(path(".params")));
    EXPECT_TRUE(fs::exists(path(".masterKey")));
    EXPECT_EQ(captureStdout([] { EXPECT_EQ(hibe_c::HibeSetup(1, "", ""), 1); }), "");
}

TEST_F(HibeSetupTest, PrintedPathsAreCleaned) {
    std::string out;
    std::int64_t status = 0;
    out = captureStdout([&] { status = hibe_c::HibeSetup(1, "org", root() + "//keys/"); });
    ASSERT_EQ(status, 0);
    EXPECT_EQ(out.substr(0, out.find('\n')),
              "[org params] storage file path: " + root() + "/keys/org/org.params");
}

TEST_F(HibeSetupTest, OrgIdWithSeparatorFailsAtTheParamsFile) {
    // The params file a/b/a/b.params lies in a/b/a, which the call does not create.
    EXPECT_EQ(setup(1, "a/b"), 1);
    EXPECT_TRUE(fs::is_directory(path("a/b")));
    EXPECT_FALSE(fs::exists(path("a/b/a")));
    EXPECT_TRUE(fs::is_empty(path("a/b"))) << "the claimed master key file is removed again";
}

// While another setup holds the organisation's directory (here the test holds
// its lock), a setup fails at once and changes nothing; afterwards it succeeds.
TEST_F(HibeSetupTest, SetupWhileAnotherHoldsTheOrganisationFailsAndChangesNothing) {
    fs::create_directories(path("org"));
    {
        auto lock = hibe_c::Directory::Open(path("org"));
        ASSERT_TRUE(lock && lock->Lock());
        std::string out;
        EXPECT_EQ(setup(2, "org", &out), 1);
        EXPECT_EQ(out, "");
        EXPECT_TRUE(fs::is_empty(path("org")));
    }
    EXPECT_EQ(setup(2, "org"), 0);
}

// Everything in a directory, by name: a regular file's content, a link's
// target, or the kind of entry.
std::map<std::string, std::string> snapshot(const std::string& dir) {
    std::map<std::string, std::string> all;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const auto st = entry.symlink_status();
        std::string& what = all[entry.path().filename()];
        if (fs::is_symlink(st)) {
            what = "link to " + fs::read_symlink(entry.path()).string();
        } else if (fs::is_regular_file(st)) {
            what = "file " + readFile(entry.path());
        } else {
            what = "kind " + std::to_string(static_cast<int>(st.type()));
        }
    }
    return all;
}

// A temporary name of the library for a final name (see files.h).
std::string tempName(const std::string& finalName, const std::string& chars) {
    std::string name = ".";
    return name.append(finalName, 0, 238).append(".").append(chars).append(".hibe-tmp");
}

// The temporary files of setups that died (one may hold a master key) are
// removed by the next setup of the organisation that goes on to write. A setup
// that finds the organisation complete changes nothing, those included.
TEST_F(HibeSetupTest, SetupRemovesTemporariesOfSetupsThatDied) {
    const std::vector<std::string> keyFiles = {"org.masterKey", "org.params"};
    fs::create_directories(path("org"));
    writeFile(path("org/" + tempName("org.masterKey", "Ab12Cd")), std::string(64, 'k'));
    writeFile(path("org/" + tempName("org.params", "Ab12Cd")), "old params");
    ASSERT_EQ(setup(2, "org"), 0);
    EXPECT_EQ(hibe_c_testing::names(path("org")), keyFiles);

    const std::string dead = tempName("org.masterKey", "xY34zW");
    writeFile(path("org/" + dead), std::string(64, 'k'));
    const auto complete = snapshot(path("org"));
    EXPECT_EQ(setup(2, "org"), 1);
    EXPECT_EQ(snapshot(path("org")), complete);

    fs::remove(path("org/org.masterKey"));
    ASSERT_EQ(setup(2, "org"), 0);
    EXPECT_EQ(hibe_c_testing::names(path("org")), keyFiles);
}

// A setup over an organisation whose master key's name is taken by something
// that is not a file (a link to a key on media that is not mounted, a
// directory, a FIFO) fails before it writes anything: the params stay byte for
// byte, and nothing else in the directory changes, a dead setup's temporary
// included.
TEST_F(HibeSetupTest, SetupOverATakenMasterKeyNameChangesNothing) {
    const struct {
        const char* what;
        std::function<void(const std::string&)> take;
    } cases[] = {
        {"dangling link",
         [&](const std::string& p) { fs::create_symlink(path("unmounted/key"), p); }},
        {"directory", [](const std::string& p) { fs::create_directory(p); }},
        {"FIFO", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
    };
    for (const auto& c : cases) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        ASSERT_EQ(setup(2, "org"), 0);
        fs::remove(path("org/org.masterKey"));
        c.take(path("org/org.masterKey"));
        writeFile(path("org/" + tempName("org.params", "Dead00")), "a dead setup's params");
        const auto before = snapshot(path("org"));
        std::string out;
        EXPECT_EQ(setup(3, "org", &out), 1) << c.what;
        EXPECT_EQ(out, "") << c.what;
        EXPECT_EQ(snapshot(path("org")), before) << c.what;
    }
}

// An organisation name as long as the master key's file name allows (255
// bytes) works, and its dead temporaries, which carry the first bytes of the
// final names, are removed.
TEST_F(HibeSetupTest, LongestOrganisationNameWorks) {
    const std::string org(255 - std::string(".masterKey").size(), 'o');
    fs::create_directories(path(org));
    writeFile(path(org + "/" + tempName(org + ".masterKey", "Ab12Cd")), std::string(64, 'k'));
    ASSERT_EQ(setup(2, org), 0);
    EXPECT_EQ(hibe_c_testing::names(path(org)),
              (std::vector<std::string>{org + ".masterKey", org + ".params"}));
    EXPECT_EQ(hibe_c::KeyGenFromMaster("A", root(), path(org + "/" + org + ".masterKey"),
                                       path(org + "/" + org + ".params")),
              0);
    EXPECT_EQ(setup(2, org + "o"), 1) << "a master key name of 256 bytes cannot exist";
}

// Whether the master key alpha·G2 belongs to the params: e(alpha·G2, G) = e(G2, alpha·G).
bool masterMatchesParams(const std::string& paramsPath, const std::string& masterPath) {
    hibe::Params params;
    hibe::MasterKey master;
    return params.Unmarshal(common::AsBytes(readFile(paramsPath))).second &&
           master.Key.Unmarshal(common::AsBytes(readFile(masterPath))) &&
           bn256::Pair(master.Key, params.G).Marshal() ==
               bn256::Pair(params.G2, params.G1).Marshal();
}

TEST_F(HibeSetupTest, ConcurrentSetupsOfOneOrganisationLeaveMatchingFiles) {
    constexpr int kThreads = 8;
    std::atomic<int> succeeded{0};
    captureStdout([&] {
        std::vector<std::thread> threads;
        for (int i = 0; i < kThreads; ++i) {
            threads.emplace_back([&] {
                if (hibe_c::HibeSetup(2, "org", root()) == 0) ++succeeded;
            });
        }
        for (auto& t : threads) t.join();
    });
    ASSERT_EQ(succeeded.load(), 1);
    EXPECT_TRUE(masterMatchesParams(path("org/org.params"), path("org/org.masterKey")));
}

// Runs fn in a child process whose files may not grow beyond limit bytes and
// returns its exit status.
int withFileSizeLimit(rlim_t limit, const std::function<int()>& fn) {
    pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);  // a write beyond the limit fails with EFBIG
        struct rlimit rl{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &rl);
        ::_exit(fn());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(HibeSetupTest, WriteFailingPartWayLeavesNoKeyFile) {
    const std::string org = root();
    // The params file (576 bytes) cannot be written in full; nothing is printed.
    EXPECT_EQ(withFileSizeLimit(100, [&] { return static_cast<int>(hibe_c::HibeSetup(3, "org", org)); }),
              1);
    EXPECT_FALSE(fs::exists(path("org/org.masterKey")));
    EXPECT_FALSE(fs::exists(path("org/org.params")));
    EXPECT_EQ(setup(3, "org"), 0) << "the organisation is not blocked by a leftover";
}

TEST_F(HibeSetupTest, OldParamsSurviveASetupThatFailsWhileWriting) {
    ASSERT_EQ(setup(3, "org"), 0);
    fs::remove(path("org/org.masterKey"));
    const std::string old = readFile(path("org/org.params"));
    const std::string org = root();
    EXPECT_EQ(withFileSizeLimit(100, [&] { return static_cast<int>(hibe_c::HibeSetup(3, "org", org)); }),
              1);
    EXPECT_EQ(readFile(path("org/org.params")), old);
    EXPECT_FALSE(fs::exists(path("org/org.masterKey")));
    EXPECT_EQ(std::distance(fs::directory_iterator(path("org")), {}), 1) << "no temporary file left";
}

// A symbolic link planted at a key file's path, its target present or absent, is
// never written through: the params link is replaced by the new file, and the
// master key and private key links make the call fail.
TEST_F(HibeSetupTest, PlantedLinksAreNeverWrittenThrough) {
    const struct {
        std::string link;
        bool targetPresent;
        std::int64_t status;
    } cases[] = {
        {"org/org.params", true, 0},
        {"org/org.params", false, 0},
        {"org/org.masterKey", true, 1},
        {"org/org.masterKey", false, 1},
        {"privateKeys/A.privateKey", true, 1},
        {"privateKeys/A.privateKey", false, 1},
    };
    for (const auto& c : cases) {
        const std::string what = c.link + (c.targetPresent ? ", target present" : ", no target");
        fs::remove_all(dir_);
        fs::create_directories(path("org"));
        fs::create_directories(path("privateKeys"));
        ASSERT_EQ(setup(3, "src"), 0);
        const std::string target = path("target");
        if (c.targetPresent) writeFile(target, "the target's bytes");
        fs::create_symlink(target, path(c.link));

        const bool keyGen = c.link.starts_with("privateKeys");
        const std::int64_t status =
            keyGen ? hibe_c::KeyGenFromMaster("A", root(), path("src/src.masterKey"),
                                              path("src/src.params"))
                   : setup(3, "org");
        EXPECT_EQ(status, c.status) << what;
        if (c.targetPresent) {
            EXPECT_EQ(readFile(target), "the target's bytes") << what;
        } else {
            EXPECT_FALSE(fs::exists(target)) << what;
        }
        EXPECT_EQ(fs::is_symlink(path(c.link)), c.status == 1) << what;
        if (c.status == 0) {
            EXPECT_TRUE(masterMatchesParams(path("org/org.params"), path("org/org.masterKey")))
                << what;
        }
    }
}

class KeyGenTest : public HibeSetupTest {
protected:
    void SetUp() override {
        HibeSetupTest::SetUp();
        ASSERT_EQ(setup(3, "org"), 0);
    }
    std::int64_t keyGen(const std::string& id, const std::string& org = "org") {
        return hibe_c::KeyGenFromMaster(id, root(), path(org + "/" + org + ".masterKey"),
                                        path(org + "/" + org + ".params"));
    }
};

TEST_F(KeyGenTest, KeyFileNamesAndSizes) {
    const struct {
        std::string id, file;
        std::size_t size;
    } cases[] = {
        {"A/B/C", "A#B#C.privateKey", 192},
        {"A", "A.privateKey", 320},
        {"", ".privateKey", 320},
        {"A//B", "A##B.privateKey", 192},
        {"with space/x", "with space#x.privateKey", 256},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(keyGen(c.id), 0) << c.id;
        EXPECT_EQ(readFile(path("privateKeys/" + c.file)).size(), c.size) << c.id;
    }
}

TEST_F(KeyGenTest, IdentityDeeperThanParamsWritesNothing) {
    EXPECT_EQ(keyGen("A/B/C/D"), 1);
    EXPECT_FALSE(fs::exists(path("privateKeys")));
}

TEST_F(KeyGenTest, SecondKeyGenerationFailsWhateverTheOrganisation) {
    ASSERT_EQ(keyGen("A/B"), 0);
    const std::string key = readFile(path("privateKeys/A#B.privateKey"));
    ASSERT_EQ(setup(3, "other"), 0);
    EXPECT_EQ(keyGen("A/B"), 1);
    EXPECT_EQ(keyGen("A/B", "other"), 1);
    EXPECT_EQ(readFile(path("privateKeys/A#B.privateKey")), key);
}

TEST_F(KeyGenTest, MasterKeyFileNeedsOnlyItsFirst64Bytes) {
    const std::string master = readFile(path("org/org.masterKey"));
    writeFile(path("long.masterKey"), master + "x");
    writeFile(path("short.masterKey"), master.substr(0, 63));
    EXPECT_EQ(hibe_c::KeyGenFromMaster("A", root(), path("long.masterKey"), path("org/org.params")), 0);
    EXPECT_EQ(hibe_c::KeyGenFromMaster("B", root(), path("short.masterKey"), path("org/org.params")), 1);
}

TEST_F(KeyGenTest, UnreadableOrMalformedInputFilesFail) {
    const std::string params = readFile(path("org/org.params"));
    writeFile(path("odd.params"), params.substr(0, 575));
    const std::string master = path("org/org.masterKey");
    EXPECT_EQ(hibe_c::KeyGenFromMaster("A", root(), master, path("odd.params")), 1);
    EXPECT_EQ(hibe_c::KeyGenFromMaster("A", root(), master, path("missing.params")), 1);
    EXPECT_EQ(hibe_c::KeyGenFromMaster("A", root(), path("missing"), path("org/org.params")), 1);
    EXPECT_FALSE(fs::exists(path("privateKeys")));
}

TEST_F(KeyGenTest, WriteFailingPartWayLeavesNoKeyFile) {
    EXPECT_EQ(withFileSizeLimit(100, [&] { return static_cast<int>(keyGen("A")); }), 1);
    EXPECT_FALSE(fs::exists(path("privateKeys/A.privateKey")));
    EXPECT_EQ(keyGen("A"), 0) << "the identity is not blocked by a leftover";
}

}  // namespace
