// After each exported function returns, no 16-byte piece of a secret is left
// anywhere in the memory of the process that called it.
//
// Each case runs one call in a child host (memscan_child, which loads the
// library with dlopen) and, while the child waits, reads every readable mapping
// of it through /proc/PID/mem. The secrets are looked for as their encodings
// and as the Montgomery limbs that the field code keeps in memory:
//   - the master key (64-byte encoding; x and y in Montgomery form);
//   - the first element A0 of a private key that the call read or made;
//   - the message key: the GT element (384-byte encoding and Montgomery
//     limbs) and the AES key derived from it.
// The parent computes them from the files and the message map through the
// library's own static libraries. The child never holds these bytes itself:
// the library reads the key files, and the message key lives only inside the
// call. For DecryptHibeMsg the host passes the private key's bytes, so only the
// message key is looked for there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "bn256/bn256.h"
#include "common/bytes.h"
#include "crypto/hash.h"
#include "hibe/scheme.h"
#include "hibe_amd64/base64.h"
#include "hibe_c/json_map.h"
#include "hibe_c/startup.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kPiece = 16;

// The library under test; HIBE_MEMSCAN_LIBRARY names another build of it, to
// see that the scan finds what a library without the wiping leaves behind.
std::string library() {
    const char* other = std::getenv("HIBE_MEMSCAN_LIBRARY");
    return other != nullptr ? other : HIBE_LIBRARY;
}

std::string dataFile(const std::string& name) { return std::string(HIBE_TEST_DATA) + "/" + name; }

common::Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    return common::Bytes(std::istreambuf_iterator<char>(in), {});
}

template <typename T>
common::Bytes rawBytes(const T& value) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
    return common::Bytes(p, p + sizeof value);
}

// The secrets of one case: name -> bytes, every 16-byte piece of which must be
// absent from the child.
using Secrets = std::vector<std::pair<std::string, common::Bytes>>;

// A G1 secret: its encoding, and x and y in Montgomery form.
void addG1(Secrets& secrets, const std::string& name, common::ByteView encoding) {
    bn256::G1 point;
    ASSERT_TRUE(point.Unmarshal(encoding.first(64))) << name;
    secrets.emplace_back(name + " encoding", common::Bytes(encoding.begin(), encoding.begin() + 64));
    secrets.emplace_back(name + " x (Montgomery)", rawBytes(point.p->x));
    secrets.emplace_back(name + " y (Montgomery)", rawBytes(point.p->y));
}

void addMasterKey(Secrets& secrets, const std::string& path) {
    addG1(secrets, "master key", readFile(path));
}

void addPrivateKeyA0(Secrets& secrets, const std::string& path) {
    addG1(secrets, "private key A0", readFile(path));
}

// The message key of a map: the GT element that its entry for id carries,
// recovered with the private key of id, and the AES key made from it.
void addMessageKey(Secrets& secrets, const std::string& mapText, const std::string& id,
                   const std::string& keyPath) {
    auto map = hibe_c::ReadJsonMap(mapText);
    ASSERT_TRUE(map && map->contains(id)) << mapText;
    auto encrypted = hibe_amd64::Base64Decode(map->at(id));
    ASSERT_TRUE(encrypted);
    hibe::Ciphertext ciphertext;
    ASSERT_TRUE(ciphertext.Unmarshal(*encrypted).second);
    hibe::PrivateKey key;
    ASSERT_TRUE(key.Unmarshal(readFile(keyPath)).second);
    const bn256::GT gt = hibe::Decrypt(key, ciphertext);
    const common::Bytes gtBytes = gt.Marshal();
    auto aesKey = hash::Get(crypto::HASH_TYPE_SHA256, gtBytes);
    ASSERT_TRUE(aesKey);
    secrets.emplace_back("message key GT encoding", gtBytes);
    secrets.emplace_back("message key GT (Montgomery)", rawBytes(*gt.p));
    secrets.emplace_back("message key AES key", *aesKey);
}

// Every 16-byte piece of the secrets, at every offset, keyed by its first 8
// bytes for a quick first test.
class Pieces {
public:
    explicit Pieces(const Secrets& secrets) {
        for (const auto& [name, bytes] : secrets) {
            for (std::size_t i = 0; i + kPiece <= bytes.size(); ++i) {
                std::uint64_t head;
                std::memcpy(&head, bytes.data() + i, sizeof head);
                byHead_.emplace(head, Piece{&name, common::Bytes(bytes.begin() + i,
                                                                 bytes.begin() + i + kPiece)});
            }
        }
    }

    // The names of the secrets with a piece at memory[i, i + 16).
    void find(const std::uint8_t* memory, std::size_t size, std::uint64_t address,
              std::vector<std::string>& found) const {
        for (std::size_t i = 0; i + kPiece <= size; ++i) {
            std::uint64_t head;
            std::memcpy(&head, memory + i, sizeof head);
            auto [first, last] = byHead_.equal_range(head);
            for (auto it = first; it != last; ++it) {
                if (std::memcmp(it->second.bytes.data(), memory + i, kPiece) == 0) {
                    std::ostringstream text;
                    text << *it->second.name << " at 0x" << std::hex << address + i;
                    found.push_back(text.str());
                }
            }
        }
    }

private:
    struct Piece {
        const std::string* name;
        common::Bytes bytes;
    };
    std::unordered_multimap<std::uint64_t, Piece> byHead_;
};

// Every readable mapping of process pid, searched for the pieces.
std::vector<std::string> scan(pid_t pid, const Secrets& secrets) {
    const Pieces pieces(secrets);
    std::vector<std::string> found;
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    const int mem = ::open(("/proc/" + std::to_string(pid) + "/mem").c_str(), O_RDONLY);
    EXPECT_GE(mem, 0) << std::strerror(errno);
    std::string line;
    std::size_t scanned = 0;
    while (std::getline(maps, line)) {
        std::uint64_t start = 0, end = 0;
        char perms[5] = {};
        if (std::sscanf(line.c_str(), "%lx-%lx %4s", &start, &end, perms) != 3) continue;
        if (perms[0] != 'r') continue;
        std::vector<std::uint8_t> memory(end - start);
        const ssize_t got = ::pread(mem, memory.data(), memory.size(), static_cast<off_t>(start));
        if (got <= 0) continue;  // [vvar] and the like cannot be read
        scanned += static_cast<std::size_t>(got);
        pieces.find(memory.data(), static_cast<std::size_t>(got), start, found);
    }
    ::close(mem);
    EXPECT_GT(scanned, 1u << 20) << "too little memory read to mean anything";
    return found;
}

// A child host running one call, with its report pipe and the pipe it waits on.
class Child {
public:
    explicit Child(const std::vector<std::string>& args) {
        int report[2], wait[2];
        if (::pipe2(report, O_CLOEXEC) != 0 || ::pipe2(wait, O_CLOEXEC) != 0) std::abort();
        pid_ = ::fork();
        if (pid_ == 0) {
            // Out of the way of 3 and 4 first, then into place (dup2 clears
            // close-on-exec).
            const int reportEnd = ::fcntl(report[1], F_DUPFD_CLOEXEC, 10);
            const int waitEnd = ::fcntl(wait[0], F_DUPFD_CLOEXEC, 10);
            if (::dup2(reportEnd, 3) < 0 || ::dup2(waitEnd, 4) < 0) ::_exit(3);
            std::vector<char*> argv;
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(3);
        }
        ::close(report[1]);
        ::close(wait[0]);
        report_ = report[0];
        release_ = wait[1];
    }

    // Everything the child reported: it has returned from its call when this returns.
    std::string report() {
        std::string text;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(report_, buffer, sizeof buffer)) > 0) text.append(buffer, n);
        ::close(report_);
        return text;
    }

    pid_t pid() const { return pid_; }

    // Lets the child exit; its exit status.
    int finish() {
        ::close(release_);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        return status;
    }

private:
    pid_t pid_;
    int report_;
    int release_;
};

struct Case {
    std::string name;
    // The child's case and arguments, given the case's own scratch directory
    // (which this may fill first).
    std::function<std::vector<std::string>(const std::string& dir)> call;
    std::int64_t status;  // the call's status or result length; -2: any length above 0
    // The secrets, known once the call has returned.
    std::function<void(Secrets&, const std::string& dir, const std::string& output)> secrets;
};

// The child's report: "status stale\n" and the call's output.
struct Report {
    std::int64_t status = -100;
    std::int64_t stale = -1;
    std::string output;
};

Report parse(const std::string& text) {
    Report r;
    const std::size_t eol = text.find('\n');
    if (eol == std::string::npos) return r;
    std::istringstream(text.substr(0, eol)) >> r.status >> r.stale;
    r.output = text.substr(eol + 1);
    return r;
}

TEST(MemoryScan, NoSecretLeftAfterAnyExportedCall) {
    hibe_c::RunStartup();  // the curve constants, for the parent's own decoding
    const std::string params = dataFile("org.params");
    const std::string master = dataFile("org.masterKey");
    const std::string keyAB = dataFile("A#B.privateKey");
    const std::string keyABC = dataFile("A#B#C.privateKey");
    const std::string knownMap = dataFile("map-A#B#C.json");
    const std::int64_t plaintextLength =
        static_cast<std::int64_t>(readFile(dataFile("plaintext.txt")).size());
    const auto readText = [](const std::string& path) {
        const common::Bytes b = readFile(path);
        return std::string(b.begin(), b.end());
    };

    const std::vector<Case> cases = {
        {"HibeSetup", [](const std::string& dir) { return std::vector<std::string>{"setup", dir}; },
         0,
         [](Secrets& s, const std::string& dir, const std::string&) {
             addMasterKey(s, dir + "/org/org.masterKey");
         }},
        {"KeyGenFromMaster",
         [&](const std::string& dir) {
             return std::vector<std::string>{"keygen", dir, master, params};
         },
         0,
         [&](Secrets& s, const std::string& dir, const std::string&) {
             addMasterKey(s, master);
             addPrivateKeyA0(s, dir + "/privateKeys/A#B.privateKey");
         }},
        // Refused after both files were read: the key file exists already.
        {"KeyGenFromMaster refused",
         [&](const std::string& dir) {
             fs::create_directories(dir + "/privateKeys");
             std::ofstream(dir + "/privateKeys/A#B.privateKey") << "taken";
             return std::vector<std::string>{"keygen", dir, master, params};
         },
         1, [&](Secrets& s, const std::string&, const std::string&) { addMasterKey(s, master); }},
        {"ReadKey", [&](const std::string&) { return std::vector<std::string>{"readkey", master}; },
         64, [&](Secrets& s, const std::string&, const std::string&) { addMasterKey(s, master); }},
        {"EncryptHibeMsg",
         [&](const std::string&) { return std::vector<std::string>{"encrypt", params}; }, -2,
         [&](Secrets& s, const std::string&, const std::string& map) {
             addMessageKey(s, map, "A/B", keyAB);
         }},
        // Derives the key of A/B/C from that of A/B on the way.
        {"DecryptHibeMsg",
         [&](const std::string&) {
             return std::vector<std::string>{"decrypt", "A/B", params, keyAB, knownMap};
         },
         plaintextLength,
         [&](Secrets& s, const std::string&, const std::string&) {
             addMessageKey(s, readText(knownMap), "A/B/C", keyABC);
         }},
        // Refused in the symmetric decryption, after the message key was made.
        {"DecryptHibeMsg refused",
         [&](const std::string& dir) {
             std::string map = readText(knownMap);
             const std::size_t ct = map.find("\"CT\":\"") + 6;
             map[ct] = map[ct] == 'A' ? 'B' : 'A';
             std::ofstream(dir + "/map.json") << map;
             return std::vector<std::string>{"decrypt", "A/B/C", params, keyABC, dir + "/map.json"};
         },
         -1,
         [&](Secrets& s, const std::string&, const std::string&) {
             addMessageKey(s, readText(knownMap), "A/B/C", keyABC);
         }},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string dir = std::string(MEMSCAN_SCRATCH) + "/" + c.name;
        for (char& ch : dir) ch = ch == ' ' ? '_' : ch;
        fs::remove_all(dir);
        fs::create_directories(dir);

        std::vector<std::string> args = {MEMSCAN_CHILD, library()};
        for (std::string& a : c.call(dir)) args.push_back(std::move(a));
        Child child(args);
        const Report report = parse(child.report());
        if (c.status == -2) {
            EXPECT_GT(report.status, 4);
        } else {
            EXPECT_EQ(report.status, c.status);
        }
        // The stack that the call used below its entry point was scrubbed
        // (a call deeper than the scrub would leave its lowest frames).
        EXPECT_EQ(report.stale, 0);

        Secrets secrets;
        c.secrets(secrets, dir, report.output);
        ASSERT_FALSE(secrets.empty());
        const std::vector<std::string> found = scan(child.pid(), secrets);
        EXPECT_TRUE(found.empty()) << found.size() << " pieces left, the first: " << found.front();
        const int exit = child.finish();
        EXPECT_TRUE(WIFEXITED(exit) && WEXITSTATUS(exit) == 0);
    }
}

}  // namespace
