#include "hibe_amd64/hibe_msg.h"

#include <algorithm>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "bn256/bn256.h"
#include "common/random.h"
#include "common/wipe.h"
#include "crypto/der.h"
#include "crypto/hash.h"
#include "crypto/sym.h"
#include "hibe_amd64/base64.h"
#include "hibe_amd64/hibeutils.h"
#include "hibe_amd64/refine.h"
#include "hibe_amd64/utf8.h"

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

// Sizes of the symmetric ciphertexts: the AES-GCM nonce and tag, the SM4 IV
// and block.
constexpr std::size_t kGcmNonceBytes = 12;
constexpr std::size_t kGcmTagBytes = 16;
constexpr std::size_t kSm4BlockBytes = 16;

std::string notUtf8Error(std::string_view id) {
    std::string text = "invalid parameters, id: ";
    text.append(id);
    text.append(" is not valid UTF-8");
    return text;
}

std::string identityElementError(std::string_view id) {
    std::string text = "invalid parameters, params of id: ";
    text.append(id);
    text.append(" hold an identity element");
    return text;
}

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

// The error that deriving, from key (the key of an identity of localLevels
// levels), the key of a map entry deeper than params meets first: the steps
// run for localLevels + 1, localLevels + 2, … levels, and each refuses a depth
// beyond the params before it checks that its parent is one level up.
std::string_view derivationDepthError(std::size_t localLevels, const hibe::Params& params,
                                      const hibe::PrivateKey& key) {
    const std::size_t l = params.H.size();
    const std::size_t firstStep = localLevels + 1;
    if (firstStep <= l && key.B.size() != l - firstStep + 1) return hibe::kNotChild;
    return hibe::kParentKeyTooDeep;
}

}  // namespace

std::size_t SymCiphertextLength(std::size_t plaintextLength, crypto::KeyType symKeyType) {
    if (symKeyType == crypto::SM4) {
        return kSm4BlockBytes + (plaintextLength / kSm4BlockBytes + 1) * kSm4BlockBytes;
    }
    // SEQUENCE { OCTET STRING nonce, OCTET STRING ciphertext, OCTET STRING tag }
    return aes::MarshalledLength(kGcmNonceBytes, plaintextLength, kGcmTagBytes);
}

HibeMsgMap ToHibeMsgMap(const SealedMessage& sealed) {
    HibeMsgMap map;
    map.emplace(kCtKey, Base64Encode(sealed.symCiphertext));
    for (const auto& [id, ciphertext] : sealed.receivers) {
        map.insert_or_assign(id, Base64Encode(ciphertext));
    }
    return map;
}

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

common::Result<SealedMessage> SealHibeMsg(common::ByteView plaintext, common::Bytes* owner,
                                          std::span<const std::string> receiverIds,
                                          std::span<hibe::Params* const> paramsList,
                                          crypto::KeyType symKeyType, const MapCheck& check) {
    if (plaintext.empty()) return common::Fail(std::string(kPlaintextNil));
    if (receiverIds.empty()) return common::Fail(std::string(kReceiverIdsNil));
    for (const std::string& id : receiverIds) {
        if (auto valid = ValidateId(id); !valid) return std::unexpected(valid.error());
        if (!IsValidUtf8(id)) return common::Fail(notUtf8Error(id));
        if (id == kCtKey) return common::Fail(std::string(kCtReserved));
    }
    if (paramsList.empty() || std::ranges::find(paramsList, nullptr) != paramsList.end()) {
        return common::Fail(std::string(kParamsListNil));
    }
    if (paramsList.size() != receiverIds.size()) {
        return common::Fail(std::string(kListsDoNotMatch));
    }
    if (!isSupportedSymKeyType(symKeyType)) return unsupportedSymKeyType(symKeyType);
    // Counting separators costs nothing; hashing the levels of an identity
    // deeper than its params would be work for nothing.
    for (std::size_t i = 0; i < receiverIds.size(); ++i) {
        if (LevelCount(receiverIds[i]) > paramsList[i]->H.size()) {
            return common::Fail(std::string(hibe::kEncryptTooDeep));
        }
        if (hibe::HoldsIdentityElement(*paramsList[i])) {
            return common::Fail(identityElementError(receiverIds[i]));
        }
    }
    auto refined = refineIdsAndParams(receiverIds, paramsList);
    if (!refined) return std::unexpected(refined.error());
    if (check) {
        const MapShape shape{Base64EncodedLength(SymCiphertextLength(plaintext.size(), symKeyType)),
                             refined->ids};
        if (auto admitted = check(shape); !admitted) return std::unexpected(admitted.error());
    }

    common::RandomSource& rand = common::SystemRandom();

    // The message element gt = e(P1, P2) for random P1 in G1 and P2 in G2; its
    // scalars are non-zero, so gt is never the identity.
    auto p1 = bn256::RandomG1(rand);
    if (!p1) return std::unexpected(p1.error());
    auto p2 = bn256::RandomG2(rand);
    if (!p2) {
        hibe::WipeElement(p1->element);
        return std::unexpected(p2.error());
    }
    bn256::GT gt = bn256::Pair(p1->element, p2->element);
    hibe::WipeElement(p1->element);
    hibe::WipeElement(p2->element);
    common::Bytes gtBytes = gt.Marshal();
    // gt and its encoding are the message key: wiped on every way out.
    common::WipeOnExit wipeMessageKey([&] {
        hibe::WipeElement(gt);
        common::Wipe(gtBytes);
    });

    auto key = generateSymKeyFromGtBytes(gtBytes, symKeyType);
    if (!key) return std::unexpected(key.error());
    SealedMessage sealed;
    {
        auto symCiphertext = (*key)->Encrypt(plaintext);
        if (!symCiphertext) return std::unexpected(symCiphertext.error());
        sealed.symCiphertext = std::move(*symCiphertext);
    }
    if (owner != nullptr) common::Bytes().swap(*owner);

    auto vectors = idStrList2HibeIds(refined->ids);
    if (!vectors) return std::unexpected(vectors.error());
    sealed.receivers.reserve(refined->ids.size());
    for (std::size_t i = 0; i < refined->ids.size(); ++i) {
        auto ciphertext = hibe::Encrypt(rand, *refined->params[i], (*vectors)[i], gt);
        if (!ciphertext) return std::unexpected(ciphertext.error());
        sealed.receivers.emplace_back(std::move(refined->ids[i]), ciphertext->Marshal());
    }
    return sealed;
}

common::Result<HibeMsgMap> EncryptHibeMsg(common::ByteView plaintext,
                                          std::span<const std::string> receiverIds,
                                          std::span<hibe::Params* const> paramsList,
                                          crypto::KeyType symKeyType) {
    auto sealed = SealHibeMsg(plaintext, nullptr, receiverIds, paramsList, symKeyType, nullptr);
    if (!sealed) return std::unexpected(sealed.error());
    return ToHibeMsgMap(*sealed);
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
        if (LevelCount(entry->first) > hibeParams->H.size()) {
            return common::Fail(std::string(derivationDepthError(n, *hibeParams, *prvKey)));
        }
        auto entryId = IdStr2HibeId(entry->first);
        if (!entryId) return std::unexpected(entryId.error());
        const HibeId& vector = entryId->hibeId;
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
    common::WipeOnExit wipeMessageKey([&] {
        hibe::WipeElement(gt);
        common::Wipe(gtBytes);
    });

    auto symKey = generateSymKeyFromGtBytes(gtBytes, symKeyType);
    if (!symKey) return std::unexpected(symKey.error());

    // A map without "CT" gives zero bytes, which the symmetric decryption rejects.
    auto ct = hibeMsgMap->find(std::string(kCtKey));
    auto symCiphertext = Base64Decode(ct == hibeMsgMap->end() ? std::string_view{} : ct->second);
    if (!symCiphertext) return std::unexpected(symCiphertext.error());
    return (*symKey)->Decrypt(*symCiphertext);
}

}  // namespace hibe_amd64
