// HibeSetup and KeyGenFromMaster: the organisation's params and master key files
// and the private key files.
//
// Key files are created exclusively and removed again when a call fails after
// creating them, so a failed or concurrent call never leaves a partial master key
// or private key file that would count as existing and block the organisation or
// the identity for good.
#include <string>

#include "common/random.h"
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

}  // namespace

std::int64_t HibeSetup(std::int64_t depth, std::string_view orgId, std::string_view keyOutPath) {
    // The hierarchy is drawn before any file is looked at.
    auto setup = hibe_fast::Setup(common::SystemRandom(), depth);
    if (!setup) return kFailed;

    const std::string orgDir = Join({keyOutPath, orgId});
    const std::string masterPath = Join({orgDir, std::string(orgId) + ".masterKey"});
    if (!isFree(masterPath)) return kFailed;
    if (!MakeDirAll(orgDir)) return kFailed;

    // The master key file is claimed before the params file is written, so two
    // setups of one organisation cannot both pass; it is filled last.
    auto masterFile = NewFile::Create(masterPath);
    if (!masterFile) return kFailed;

    const std::string paramsPath = Join({orgDir, std::string(orgId) + ".params"});
    if (!WriteWholeFile(paramsPath, setup->params.Marshal())) return kFailed;
    WriteStdout(storageLine(orgId, "params", paramsPath));

    if (!masterFile->WriteAndClose(setup->masterKey.Key.Marshal())) return kFailed;
    masterFile->Keep();
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

    // Only the first 64 bytes of the master key file are its encoding.
    auto masterBytes = ReadKey(masterKeyFilePath);
    if (!masterBytes) return kFailed;
    hibe::MasterKey master;
    if (!master.Key.Unmarshal(*masterBytes)) return kFailed;
    // A master key of other params (or at infinity) would make a key that
    // decrypts nothing and blocks the identity; it is refused before anything is
    // written.
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

    auto keyFile = NewFile::Create(keyPath);
    if (!keyFile) return kFailed;
    if (!keyFile->WriteAndClose(key->Marshal())) return kFailed;
    keyFile->Keep();
    return kOk;
}

}  // namespace hibe_c
