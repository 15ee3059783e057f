// HibeSetup and KeyGenFromMaster: the organisation's params and master key files
// and the private key files.
//
// Every key file appears whole or not at all (see files.h): the master key and
// private key files are linked into place, which fails when the name exists, and
// the params file is renamed over its name. A call that returns 1 leaves the
// organisation and the identity as they were: absent stays absent, so that the
// same call can succeed later. A call that returns 0 has its files whole, in
// place and flushed. No call truncates or writes through a file that it did not
// create; the only such files that a setup removes are temporaries of setups
// that died, and params without their master key, which it replaces.
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

// Fails when path exists, and when its existence cannot be told.
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

// A temporary file in the directory of path, holding all of content, flushed.
common::Result<StagedFile> stage(const std::string& path, Placement placement,
                                 common::ByteView content) {
    auto file = StagedFile::Create(path, placement);
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

    // Setups are serialised by an exclusive lock on the directory that holds
    // both files (their names differ only in their suffix), which the kernel
    // drops when its holder dies (see DirectoryLock). A setup that finds it held,
    // by a setup of this organisation or of another whose files lie in the same
    // directory, in this process or another, fails at once and changes nothing:
    // of concurrent setups of one organisation exactly one wins.
    auto lock = DirectoryLock::TryTake(masterPath);
    if (!lock) return kFailed;
    // No copy of a master key stays on disk from a setup that died.
    lock->RemoveStaleTemporaries();
    if (!isFree(masterPath)) return kFailed;

    // Both files are written whole into temporary files before either takes its
    // name. A failure up to here leaves nothing but the directories.
    auto params = stage(paramsPath, Placement::kReplace, setup->params.Marshal());
    if (!params) return kFailed;
    common::Bytes masterBytes = setup->masterKey.Key.Marshal();
    common::WipeOnExit wipeMasterBytes([&] { common::Wipe(masterBytes); });
    auto master = stage(masterPath, Placement::kExclusive, masterBytes);
    if (!master) return kFailed;

    // The params go in first, the master key last: linking the master key
    // completes the organisation. A process that dies before the link leaves at
    // most new params without a master key, which is an absent organisation
    // that the next setup replaces; after the link, a complete one.
    if (!params->Place()) return kFailed;
    if (!master->Place()) {
        params->Unplace();
        return kFailed;
    }
    if (!lock->Sync()) {
        // The names are not known to be on disk: both are taken away again, so
        // that the organisation is absent, as before the call and as the result
        // says, and a later setup can succeed. Params that these replaced are not
        // brought back: without their master key they belonged to no
        // organisation. The removal is flushed too, which may fail as well: what
        // a power loss on a failing disk keeps of the directory is beyond any
        // call. Both files were flushed before they took their names, so a name
        // that it keeps names whole content.
        master->Unplace();
        params->Unplace();
        (void)lock->Sync();
        return kFailed;
    }

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
    common::WipeOnExit wipeMasterBytes([&] { common::Wipe(*masterBytes); });
    hibe::MasterKey master;
    if (!master.Key.Unmarshal(*masterBytes)) return kFailed;
    // A master key at infinity, or of other params, would make a key that
    // decrypts nothing and blocks the identity; it is refused before anything is
    // written.
    if (!master.Key.p || master.Key.p->IsInfinity()) return kFailed;
    if (!hibe::MasterKeyMatches(params, master)) return kFailed;

    // The identity is hashed without validation.
    const hibe_amd64::IdLevels identity = hibe_fast::IdStr2HibeId(id);
    const std::string keyDir = Join({keyOutPath, kPrivateKeyDir});
    const std::string keyPath =
        Join({keyOutPath, kPrivateKeyDir, privateKeyFileName(identity.levels)});
    if (!isFree(keyPath)) return kFailed;

    auto key = hibe_fast::KeyGenFromMaster(common::SystemRandom(), params, master,
                                           identity.hibeId);
    if (!key) return kFailed;
    if (!MakeDirAll(keyDir)) return kFailed;

    // Linked into place whole; a key file that appeared meanwhile stays as it is.
    common::Bytes keyBytes = key->Marshal();
    common::WipeOnExit wipeKeyBytes([&] { common::Wipe(keyBytes); });
    auto keyFile = stage(keyPath, Placement::kExclusive, keyBytes);
    if (!keyFile || !keyFile->Place()) return kFailed;
    if (!SyncParentDir(keyPath)) {
        // The name is not known to be on disk: it is taken away again, so that the
        // identity stays free for a later call (see HibeSetup).
        keyFile->Unplace();
        (void)SyncParentDir(keyPath);
        return kFailed;
    }
    return kOk;
}

}  // namespace hibe_c
