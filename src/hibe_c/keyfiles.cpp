// HibeSetup and KeyGenFromMaster: the organisation's params and master key files
// and the private key files.
//
// Every key file appears whole or not at all (see files.h): the master key and
// private key files are linked into place, which fails when the name exists, and
// the params file is renamed over its name. A failed or concurrent call never
// leaves a partial key file that would block the organisation or the identity,
// and never deletes, truncates or writes through a file that it did not create.
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
    if (!isFree(masterPath)) return kFailed;
    if (!MakeDirAll(orgDir)) return kFailed;

    // Both files are written whole into temporary files before either takes its
    // name. A failure up to here leaves nothing but the directories.
    const std::string paramsPath = Join({orgDir, std::string(orgId) + ".params"});
    auto params = stage(paramsPath, Placement::kReplace, setup->params.Marshal());
    if (!params) return kFailed;
    common::Bytes masterBytes = setup->masterKey.Key.Marshal();
    common::WipeOnExit wipeMasterBytes([&] { common::Wipe(masterBytes); });
    auto master = stage(masterPath, Placement::kExclusive, masterBytes);
    if (!master) return kFailed;

    // Linking the master key claims the organisation: of concurrent setups only
    // one links, and the others fail here without having touched the winner's
    // params. Only then are the params renamed into place. A crash between these
    // two steps leaves the new master key beside no params, or beside the params
    // of an earlier setup, with the new params whole in their temporary file: the
    // one window left. It cannot be closed further: only the call that holds the
    // organisation may replace its params, so the claim comes first, and as both
    // files are written and flushed before it, the window spans nothing but the
    // two directory operations.
    if (!master->Place()) return kFailed;
    if (!params->Place()) {
        master->Unplace();  // the organisation stays as it was: absent
        return kFailed;
    }
    // The names of both files differ only in their suffix: one directory holds them.
    if (!SyncParentDir(masterPath)) return kFailed;

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
    if (!SyncParentDir(keyPath)) return kFailed;
    return kOk;
}

}  // namespace hibe_c
