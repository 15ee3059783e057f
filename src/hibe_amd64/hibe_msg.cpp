#include "hibe_amd64/hibe_msg.h"

#include <algorithm>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "bn256/bn256.h"
#include "common/random.h"
#include "crypto/hash.h"
#include "crypto/sym.h"
#include "hibe_amd64/base64.h"
#include "hibe_amd64/hibeutils.h"
#include "hibe_amd64/refine.h"

namespace hibe_amd64 {
namespace {

constexpr std::string_view kPlaintextNil = "invalid parameters, plaintext is nil";
constexpr std::string_view kCtReserved = "invalid parameters, id: CT is reserved";
constexpr std::string_view kParamsListNil = "invalid parameters, paramsList is nil";
constexpr std::string_view kHibeParamsNil = "invalid parameters, hibeParams is nil";
constexpr std::string_view kPrvKeyNil = "invalid parameters, prvKey is nil";
constexpr std::string_view kHibeMsgMapNil = "invalid parameters, hibeMsgMap is nil";
constexpr std::string_view kNoPermission = "no permission";
constexpr std::string_view kUnmarshalFailed = "encryptGt.Unmarshal failed, please check it";

// The SM4 key is the first 16 bytes of the SM3 digest.
constexpr std::size_t kSm4KeyBytes = 16;

bool isSupportedSymKeyType(crypto::KeyType symKeyType) {
    return symKeyType == crypto::AES || symKeyType == crypto::SM4;
}

std::unexpected<common::Error> unsupportedSymKeyType(crypto::KeyType symKeyType) {
    return common::Fail("invalid parameters, unsupported symmetric encryption algorithm type : " +
                        std::to_string(symKeyType));
}

// The entry of the map that the holder of localId's key reads (see the header):
// the exact key, else the shallowest level-wise descendant (byte order among
// equal depths), else the first string-prefix match. The map iterates in byte
// order, so the first candidate of each kind seen is the one to keep.
const HibeMsgMap::value_type* chooseEntry(const HibeMsgMap& map, std::string_view localId) {
    const HibeMsgMap::value_type* descendant = nullptr;
    std::size_t descendantLevels = 0;
    const HibeMsgMap::value_type* prefixMatch = nullptr;
    for (const auto& entry : map) {
        const std::string& key = entry.first;
        if (key == kCtKey || !key.starts_with(localId)) continue;
        if (key.size() == localId.size()) return &entry;
        if (IsAncestor(localId, key)) {
            std::size_t levels = LevelCount(key);
            if (descendant == nullptr || levels < descendantLevels) {
                descendant = &entry;
                descendantLevels = levels;
            }
        } else if (prefixMatch == nullptr) {
            prefixMatch = &entry;
        }
    }
    return descendant != nullptr ? descendant : prefixMatch;
}

}  // namespace

common::Result<std::unique_ptr<crypto::SymmetricKey>> generateSymKeyFromGtBytes(
    common::ByteView gtBytes, crypto::KeyType symKeyType) {
    if (symKeyType == crypto::AES) {
        auto digest = hash::Get(crypto::HASH_TYPE_SHA256, gtBytes);
        if (!digest) return std::unexpected(digest.error());
        return sym::GenerateSymKey(crypto::AES, std::move(*digest));
    }
    if (symKeyType == crypto::SM4) {
        auto digest = hash::Get(crypto::HASH_TYPE_SM3, gtBytes);
        if (!digest) return std::unexpected(digest.error());
        digest->resize(kSm4KeyBytes);
        return sym::GenerateSymKey(crypto::SM4, std::move(*digest));
    }
    return unsupportedSymKeyType(symKeyType);
}

common::Result<HibeMsgMap> EncryptHibeMsg(common::ByteView plaintext,
                                          std::span<const std::string> receiverIds,
                                          std::span<hibe::Params* const> paramsList,
                                          crypto::KeyType symKeyType) {
    if (plaintext.empty()) return common::Fail(std::string(kPlaintextNil));
    if (receiverIds.empty()) return common::Fail(std::string(kReceiverIdsNil));
    for (const std::string& id : receiverIds) {
        if (auto valid = ValidateId(id); !valid) return std::unexpected(valid.error());
        if (id == kCtKey) return common::Fail(std::string(kCtReserved));
    }
    if (paramsList.empty() || std::ranges::find(paramsList, nullptr) != paramsList.end()) {
        return common::Fail(std::string(kParamsListNil));
    }
    if (paramsList.size() != receiverIds.size()) {
        return common::Fail(std::string(kListsDoNotMatch));
    }
    if (!isSupportedSymKeyType(symKeyType)) return unsupportedSymKeyType(symKeyType);

    common::RandomSource& rand = common::SystemRandom();

    // The message element gt = e(P1, P2) for random P1 in G1 and P2 in G2; its
    // scalars are non-zero, so gt is never the identity.
    auto p1 = bn256::RandomG1(rand);
    if (!p1) return std::unexpected(p1.error());
    auto p2 = bn256::RandomG2(rand);
    if (!p2) return std::unexpected(p2.error());
    bn256::GT gt = bn256::Pair(p1->element, p2->element);
    common::Bytes gtBytes = gt.Marshal();

    auto key = generateSymKeyFromGtBytes(gtBytes, symKeyType);
    if (!key) return std::unexpected(key.error());
    auto symCiphertext = (*key)->Encrypt(plaintext);
    if (!symCiphertext) return std::unexpected(symCiphertext.error());

    auto refined = refineIdsAndParams(receiverIds, paramsList);
    if (!refined) return std::unexpected(refined.error());
    std::vector<HibeId> vectors = idStrList2HibeIds(refined->ids);

    HibeMsgMap map;
    map.emplace(kCtKey, Base64Encode(*symCiphertext));
    for (std::size_t i = 0; i < refined->ids.size(); ++i) {
        hibe::Params& params = *refined->params[i];
        // A receiver with more levels than its parameters fails here, before
        // anything is drawn, with the scheme's depth error.
        auto ciphertext = hibe::Encrypt(rand, params, vectors[i], gt);
        if (!ciphertext) return std::unexpected(ciphertext.error());
        // Refined identity strings are distinct and none is "CT".
        map.insert_or_assign(refined->ids[i], Base64Encode(ciphertext->Marshal()));
    }
    return map;
}

common::Result<common::Bytes> DecryptHibeMsg(std::string_view localId,
                                             const hibe::Params* hibeParams,
                                             const hibe::PrivateKey* prvKey,
                                             const HibeMsgMap* hibeMsgMap,
                                             crypto::KeyType symKeyType) {
    if (auto valid = ValidateId(localId); !valid) return std::unexpected(valid.error());
    if (hibeParams == nullptr) return common::Fail(std::string(kHibeParamsNil));
    if (prvKey == nullptr) return common::Fail(std::string(kPrvKeyNil));
    if (hibeMsgMap == nullptr) return common::Fail(std::string(kHibeMsgMapNil));
    if (!isSupportedSymKeyType(symKeyType)) return unsupportedSymKeyType(symKeyType);

    const HibeMsgMap::value_type* entry = chooseEntry(*hibeMsgMap, localId);
    if (entry == nullptr) return common::Fail(std::string(kNoPermission));

    // The key of the matched identity: prvKey itself, or derived from it one
    // level at a time from the level below localId down to the entry's depth.
    std::optional<hibe::PrivateKey> derived;
    const hibe::PrivateKey* key = prvKey;
    if (entry->first != localId) {
        std::size_t n = LevelCount(localId);
        HibeId vector = IdStr2HibeId(entry->first).hibeId;
        for (std::size_t i = n + 1; i <= vector.size(); ++i) {
            HibeId prefix(vector.begin(), vector.begin() + static_cast<std::ptrdiff_t>(i));
            auto child = hibe::KeyGenFromParent(common::SystemRandom(), *hibeParams, *key, prefix);
            if (!child) return std::unexpected(child.error());
            derived = std::move(*child);
            key = &*derived;
        }
    }

    auto encryptedGt = Base64Decode(entry->second);
    if (!encryptedGt) return std::unexpected(encryptedGt.error());
    hibe::Ciphertext ciphertext;
    if (!ciphertext.Unmarshal(*encryptedGt).second) {
        return common::Fail(std::string(kUnmarshalFailed));
    }
    bn256::GT gt = hibe::Decrypt(*key, ciphertext);
    common::Bytes gtBytes = gt.Marshal();

    auto symKey = generateSymKeyFromGtBytes(gtBytes, symKeyType);
    if (!symKey) return std::unexpected(symKey.error());

    // A map without "CT" gives zero bytes, which the symmetric decryption rejects.
    auto ct = hibeMsgMap->find(std::string(kCtKey));
    auto symCiphertext = Base64Decode(ct == hibeMsgMap->end() ? std::string_view{} : ct->second);
    if (!symCiphertext) return std::unexpected(symCiphertext.error());
    return (*symKey)->Decrypt(*symCiphertext);
}

}  // namespace hibe_amd64
