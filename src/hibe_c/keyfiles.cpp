// HibeSetup and KeyGenFromMaster: the organisation's params and master key files
// and the private key files.
//
// Every key file appears whole or not at all (see files.h): the master key and
// private key files are linked into place, which fails when the name exists, and
// the params file is renamed over its name. Each call works in the one
// directory that it opens after creating it, whatever the host does to its
// working directory or the path meanwhile. A call that returns 1 leaves every
// name as it was: absent stays absent, so that the same call can succeed later,
// and params that a setup found stay byte for byte. A call that returns 0 has
// its files whole, in place and flushed. No call truncates or writes through a
// file that it did not create; the only such files that a setup removes are
// its own temporaries that setups which died left, and params without their
// master key, which it replaces.
//
// The master key and private key encodings, and the bytes read from a master
// key file, are wiped on every way out; the decoded keys wipe themselves.
#include <string>

#include "common/random.h"
#include "common/wipe.h"
#include "hibe_amd64/hibe_fast.h"
#include "hibe_c/files.h"
#include "hibe_c/hibe_c.h"
#include "hibe_c/paths.h"
#include "hibe_c/stdout_writer.h"

namespace hibe_c {
namespace {

constexpr std::int64_t kOk = 0;
constexpr std::int64_t kFailed = 1;

constexpr std::string_view kPrivateKeyDir = "privateKeys";

// Fails when something is at path (a dangling link too), and when that cannot
// be told.
bool isFree(std::string_view path) {
    auto exists = pathExists(path);
    return exists && !*exists;
}

// The levels joined with "#", then ".privateKey": the identity string with every
// "/" replaced by "#".
std::string privateKeyFileName(const std::vector<std::string>& levels) {
    std::string name;
    for (std::size_t i = 0; i < levels.size(); ++i) {
        if (i > 0) name += '#';
        name += levels[i];
    }
    return name + ".privateKey";
}

// The line "[<orgId> <what>] storage file path: <path>\n" that names a written file.
std::string storageLine(std::string_view orgId, std::string_view what, std::string_view path) {
    std::string line = "[";
    line.append(orgId).append(" ").append(what).append("] storage file path: ");
    line.append(path).append("\n");
    return line;
}

// A temporary file in dir for the final name, holding all of content, flushed.
common::Result<StagedFile> stage(const Directory& dir, const std::string& name,
                                 Placement placement, common::ByteView content) {
    auto file = StagedFile::Create(dir, name, placement);
    if (!file) return file;
    if (auto written = file->Write(content); !written) return std::unexpected(written.error());
    return file;
}

}  // namespace

std::int64_t HibeSetup(std::int64_t depth, std::string_view orgId, std::string_view keyOutPath) {
    // The hierarchy is drawn before any file is looked at.
    auto setup = hibe_fast::Setup(common::SystemRandom(), depth);
    if (!setup) return kFailed;

    const std::string orgDir = Join({keyOutPath, orgId});
    const std::string masterPath = Join({orgDir, std::string(orgId) + ".masterKey"});
    const std::string paramsPath = Join({orgDir, std::string(orgId) + ".params"});
    if (!MakeDirAll(orgDir)) return kFailed;

    // Both files lie in one directory (their names differ only in their
    // suffix), opened once: everything from here on goes through it.
    auto dir = Directory::Open(ParentDir(masterPath));
    if (!dir) return kFailed;
    const std::string masterName = BaseName(masterPath);
    const std::string paramsName = BaseName(paramsPath);

    // Setups are serialised by an exclusive lock on that directory, which the
    // kernel drops when its holder dies (see Directory::Lock). A setup that
    // finds it held, by a setup of this organisation or of another whose files
    // lie in the same directory, in this process or another, fails at once and
    // changes nothing: of concurrent setups of one organisation exactly one wins.
    if (!dir->Lock()) return kFailed;
    // Any entry at the master key's name, a dangling link included, means that
    // the organisation exists or that the name is taken.
    if (!dir->IsFree(masterName)) return kFailed;
    // The setup goes on to write: no copy of a master key stays on disk from a
    // setup of this organisation that died.
    dir->RemoveStaleTemporaries({paramsName, masterName});

    // Both files are written whole into temporary files before either takes its
    // name. A failure up to here leaves nothing but the directories.
    auto params = stage(*dir, paramsName, Placement::kReplace, setup->params.Marshal());
    if (!params) return kFailed;
    common::Bytes masterBytes = setup->masterKey.Key.Marshal();
    common::WipeOnExit wipeMasterBytes([&] { common::Wipe(masterBytes); });
    auto master = stage(*dir, masterName, Placement::kExclusive, masterBytes);
    if (!master) return kFailed;

    // The params go in first, keeping the ones they replace until the end; the
    // master key last: linking it completes the organisation. A crash at any
    // moment leaves an absent organisation (old params, or new ones, without a
    // master key) or a complete one, never params of one setup with a master key
    // of another, and the params name always holds old or new params whole. A
    // failure, of the link or of the flush, puts the old params back.
    if (!dir->Commit({&*params, &*master})) return kFailed;

    // The files are in place: a line that cannot be written changes nothing.
    WriteStdout(storageLine(orgId, "params", paramsPath));
    WriteStdout(storageLine(orgId, "masterKey", masterPath));
    return kOk;
}

std::int64_t KeyGenFromMaster(std::string_view id, std::string_view keyOutPath,
                              std::string_view masterKeyFilePath,
                              std::string_view paramsFilePath) {
    auto paramsBytes = ReadKey(paramsFilePath);
    if (!paramsBytes) return kFailed;
    hibe::Params params;
    if (!params.Unmarshal(*paramsBytes).second) return kFailed;
    // Params holding an identity element are refused, as encryption refuses them:
    // with G or G1 (or G2) the identity, any master key at infinity would pass
    // the check below.
    if (hibe::HoldsIdentityElement(params)) return kFailed;

    // Only the first 64 bytes of the master key file are its encoding.
    auto masterBytes = ReadKey(masterKeyFilePath);
    if (!masterBytes) return kFailed;
    hibe::MasterKey master;
    if (!master.Key.Unmarshal(*masterBytes)) return kFailed;
    // A master key at infinity, or of other params, would make a key that
    // decrypts nothing and blocks the identity; it is refused before anything is
    // written.
    if (!master.Key.p || master.Key.p->IsInfinity()) return kFailed;
    if (!hibe::MasterKeyMatches(params, master)) return kFailed;

    // The identity is hashed without validation.
    auto hashed = hibe_fast::IdStr2HibeId(id);
    if (!hashed) return kFailed;
    const hibe_amd64::IdLevels& identity = *hashed;
    const std::string keyDir = Join({keyOutPath, kPrivateKeyDir});
    const std::string keyPath =
        Join({keyOutPath, kPrivateKeyDir, privateKeyFileName(identity.levels)});
    if (!isFree(keyPath)) return kFailed;

    auto key = hibe_fast::KeyGenFromMaster(common::SystemRandom(), params, master,
                                           identity.hibeId);
    if (!key) return kFailed;
    if (!MakeDirAll(keyDir)) return kFailed;

    // Linked into place whole, in the directory opened once; a key file that
    // appeared meanwhile stays as it is.
    auto dir = Directory::Open(ParentDir(keyPath));
    if (!dir) return kFailed;
    common::Bytes keyBytes = key->Marshal();
    common::WipeOnExit wipeKeyBytes([&] { common::Wipe(keyBytes); });
    auto keyFile = stage(*dir, BaseName(keyPath), Placement::kExclusive, keyBytes);
    if (!keyFile || !dir->Commit({&*keyFile})) return kFailed;
    return kOk;
}

}  // namespace hibe_c
