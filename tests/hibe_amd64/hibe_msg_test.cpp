#include "hibe_amd64/hibe_msg.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/random.h"
#include "hibe_amd64/base64.h"
#include "hibe_amd64/hibe_fast.h"
#include "hibe_amd64/hibeutils.h"

namespace hibe_amd64 {
namespace {

const std::string kFormatTail = ", format error, only like : \"A/B/C\" can be used";
const std::string kAuthFailed = "cipher: message authentication failed";

common::Bytes bytesOf(std::string_view text) {
    auto view = common::AsBytes(text);
    return common::Bytes(view.begin(), view.end());
}

// One pointer per record, for the parameter list arguments.
std::vector<hibe::Params*> pointersTo(std::vector<hibe::Params>& records) {
    std::vector<hibe::Params*> pointers;
    for (hibe::Params& record : records) pointers.push_back(&record);
    return pointers;
}

std::set<std::string> keysOf(const HibeMsgMap& map) {
    std::set<std::string> keys;
    for (const auto& [key, value] : map) keys.insert(key);
    return keys;
}

// One hierarchy of depth 4 (and a second one, for mismatched parameters) with
// the keys its tests ask for.
class HibeMsgTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        auto setup = hibe_fast::Setup(common::SystemRandom(), 4);
        ASSERT_TRUE(setup);
        org_.emplace(std::move(*setup));
        auto other = hibe_fast::Setup(common::SystemRandom(), 4);
        ASSERT_TRUE(other);
        other_.emplace(std::move(*other));
    }
    static void TearDownTestSuite() {
        org_.reset();
        other_.reset();
    }

    static const hibe::Params& params() { return org_->params; }

    static hibe::PrivateKey keyOf(std::string_view id) {
        auto key = hibe_fast::KeyGenFromMaster(common::SystemRandom(), org_->params,
                                               org_->masterKey,
                                               hibe_fast::IdStr2HibeId(id).value().hibeId);
        EXPECT_TRUE(key);
        return std::move(*key);
    }

    // Encrypts for ids, every receiver in this hierarchy (fresh record copies).
    static common::Result<HibeMsgMap> encrypt(std::string_view plaintext,
                                              const std::vector<std::string>& ids,
                                              crypto::KeyType type = crypto::AES) {
        std::vector<hibe::Params> records(ids.size(), org_->params);
        return hibe_fast::EncryptHibeMsg(common::AsBytes(plaintext), ids, pointersTo(records),
                                         type);
    }

    static common::Result<common::Bytes> decrypt(std::string_view localId,
                                                 const hibe::PrivateKey& key,
                                                 const HibeMsgMap& map,
                                                 crypto::KeyType type = crypto::AES) {
        return hibe_fast::DecryptHibeMsg(localId, &org_->params, &key, &map, type);
    }

    static std::optional<hibe::SetupResult> org_;
    static std::optional<hibe::SetupResult> other_;
};
std::optional<hibe::SetupResult> HibeMsgTest::org_;
std::optional<hibe::SetupResult> HibeMsgTest::other_;

TEST_F(HibeMsgTest, SymKeyIsDigestOfGtBytes) {
    // SHA-256("abc") and the first half of SM3("abc"), published digests.
    auto aes = generateSymKeyFromGtBytes(common::AsBytes("abc"), crypto::AES);
    ASSERT_TRUE(aes);
    EXPECT_EQ((*aes)->Type(), crypto::AES);
    EXPECT_EQ((*aes)->String(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    auto sm4 = generateSymKeyFromGtBytes(common::AsBytes("abc"), crypto::SM4);
    ASSERT_TRUE(sm4);
    EXPECT_EQ((*sm4)->Type(), crypto::SM4);
    EXPECT_EQ((*sm4)->String(), "66c7f0f462eeedd9d1f2d46bdc10e4e2");

    for (crypto::KeyType type : {crypto::KeyType{2}, crypto::KeyType{-1}, crypto::ECC_Ed25519}) {
        auto bad = generateSymKeyFromGtBytes(common::AsBytes("abc"), type);
        ASSERT_FALSE(bad);
        EXPECT_EQ(bad.error().Message(),
                  "invalid parameters, unsupported symmetric encryption algorithm type : " +
                      std::to_string(type));
    }
}

TEST_F(HibeMsgTest, OneReceiverRoundTripsWithAesAndSm4) {
    const std::string plaintext = "sixteen byte msg";
    for (crypto::KeyType type : {crypto::AES, crypto::SM4}) {
        auto map = encrypt(plaintext, {"A/B"}, type);
        ASSERT_TRUE(map) << map.error().Message();
        EXPECT_EQ(keysOf(*map), (std::set<std::string>{"A/B", "CT"}));
        auto entry = Base64Decode(map->at("A/B"));
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->size(), 576u);
        auto ct = Base64Decode(map->at("CT"));
        ASSERT_TRUE(ct);
        if (type == crypto::AES) {
            // DER SEQUENCE of a 12-byte nonce, the ciphertext and a 16-byte tag.
            EXPECT_EQ((*ct)[0], 0x30);
            EXPECT_EQ(ct->size(), 2 + 14 + 18 + 18 + plaintext.size() - 16);
        } else {
            // IV and the CBC encryption of the padded text (a whole extra block).
            EXPECT_EQ(ct->size(), 16 + 32u);
        }

        auto got = decrypt("A/B", keyOf("A/B"), *map, type);
        ASSERT_TRUE(got) << got.error().Message();
        EXPECT_EQ(*got, bytesOf(plaintext));
    }
}

TEST_F(HibeMsgTest, AncestorDerivesKeysDownToTheReceiver) {
    for (crypto::KeyType type : {crypto::AES, crypto::SM4}) {
        auto map = encrypt("to A/B/C", {"A/B/C"}, type);
        ASSERT_TRUE(map);
        for (std::string_view holder : {"A", "A/B", "A/B/C"}) {
            auto got = decrypt(holder, keyOf(holder), *map, type);
            ASSERT_TRUE(got) << holder << ": " << got.error().Message();
            EXPECT_EQ(*got, bytesOf("to A/B/C"));
        }
    }
}

TEST_F(HibeMsgTest, ReceiverCoveredByDescendantReadsThroughIt) {
    auto map = encrypt("to A/B and A", {"A/B", "A"});
    ASSERT_TRUE(map);
    EXPECT_EQ(keysOf(*map), (std::set<std::string>{"A/B", "CT"}));
    for (std::string_view holder : {"A", "A/B"}) {
        auto got = decrypt(holder, keyOf(holder), *map);
        ASSERT_TRUE(got) << holder << ": " << got.error().Message();
        EXPECT_EQ(*got, bytesOf("to A/B and A"));
    }
}

TEST_F(HibeMsgTest, EncryptChecksInOrder) {
    constexpr std::size_t kNullRecord = ~std::size_t{0};  // a list of one null record
    struct Case {
        std::string plaintext;
        std::vector<std::string> ids;
        std::size_t paramsCount;
        crypto::KeyType type;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"", {}, 0, 2, "invalid parameters, plaintext is nil"},
        {"", {"A"}, 1, crypto::AES, "invalid parameters, plaintext is nil"},
        {"m", {}, 0, 2, "invalid parameters, receiverIds is nil"},
        {"m", {"A", "A//B"}, 0, 2, "invalid parameters, id: A//B" + kFormatTail},
        {"m", {"A", ""}, 0, 2, "invalid parameters, id is nil"},
        {"m", {"CT"}, 0, 2, "invalid parameters, id: CT is reserved"},
        {"m", {"A B", "CT"}, 0, 2, "invalid parameters, id: A B" + kFormatTail},
        {"m", {"CT", "A B"}, 0, 2, "invalid parameters, id: CT is reserved"},
        {"m", {"A\xff"}, 0, 2, "invalid parameters, id: A\xff is not valid UTF-8"},
        // Both would become the key "A\ufffd" of the JSON form.
        {"m", {"A\xef\xbf\xbd", "A\xff"}, 0, 2, "invalid parameters, id: A\xff is not valid UTF-8"},
        {"m", {"A/\xc0\xaf"}, 0, 2, "invalid parameters, id: A/\xc0\xaf is not valid UTF-8"},
        {"m", {"\xed\xa0\x80"}, 0, 2, "invalid parameters, id: \xed\xa0\x80 is not valid UTF-8"},
        {"m", {"A\xe4\xb8", "A B"}, 0, 2, "invalid parameters, id: A\xe4\xb8 is not valid UTF-8"},
        {"m", {"A\xff B"}, 0, 2, "invalid parameters, id: A\xff B" + kFormatTail},
        {"m", {"A"}, 0, 2, "invalid parameters, paramsList is nil"},
        {"m", {"A"}, kNullRecord, 2, "invalid parameters, paramsList is nil"},
        {"m", {"A", "B"}, 1, 2,
         "invalid parameters, receiverIds and paramsList do not match, place check them"},
        {"m", {"A"}, 1, 2,
         "invalid parameters, unsupported symmetric encryption algorithm type : 2"},
        {"m", {"A"}, 1, -1,
         "invalid parameters, unsupported symmetric encryption algorithm type : -1"},
        {"m", {"A/B/C/D/E"}, 1, crypto::AES,
         "Cannot encrypt to identity at greater than maximum depth of the params"},
        // Refused before the refinement, which would have named A/B.
        {"m", {"A/B/C/D/E", "A/B"}, 2, crypto::AES,
         "Cannot encrypt to identity at greater than maximum depth of the params"},
    };
    for (const Case& c : cases) {
        std::size_t count = c.paramsCount == kNullRecord ? 0 : c.paramsCount;
        std::vector<hibe::Params> records(count, params());
        std::vector<hibe::Params*> list = pointersTo(records);
        if (c.paramsCount == kNullRecord) list.push_back(nullptr);
        auto got = EncryptHibeMsg(common::AsBytes(c.plaintext), c.ids, list, c.type);
        ASSERT_FALSE(got) << c.error;
        EXPECT_EQ(got.error().Message(), c.error);
    }
}

// Each element of a receiver's params zeroed in its encoding: the all-zero
// encoding decodes to the identity, which would carry the message key in the
// clear. Receivers are checked in list order.
TEST_F(HibeMsgTest, EncryptRefusesParamsHoldingAnIdentityElement) {
    const struct {
        const char* name;
        std::size_t slot, slots;
    } cases[] = {{"G", 0, 2}, {"G1", 2, 2}, {"G2", 4, 1}, {"G3", 5, 1}, {"H[0]", 6, 1}, {"H[3]", 9, 1}};
    const common::Bytes encoding = params().Marshal();
    for (const auto& c : cases) {
        common::Bytes zeroed = encoding;
        auto window = hibe::geIndex(zeroed, c.slot, c.slots);
        std::fill(window.begin(), window.end(), 0);
        std::vector<hibe::Params> records(2, params());
        ASSERT_TRUE(records[1].Unmarshal(zeroed).second) << c.name;
        std::vector<std::string> ids = {"A", "B/C"};
        auto got = EncryptHibeMsg(common::AsBytes("m"), ids, pointersTo(records), crypto::AES);
        ASSERT_FALSE(got) << c.name;
        EXPECT_EQ(got.error().Message(), "invalid parameters, params of id: B/C hold an identity element")
            << c.name;
    }
}

// The length of the symmetric ciphertext is known before encrypting: every
// length where a DER length field grows, and the SM4 block boundaries.
TEST_F(HibeMsgTest, SymCiphertextLengthMatchesTheCipher) {
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 300; ++n) lengths.push_back(n);
    for (std::size_t n = 65'440; n <= 65'540; ++n) lengths.push_back(n);
    for (std::size_t n : {(1u << 24) - 38, (1u << 24) - 37, (1u << 24) - 36, (1u << 24) - 1, 1u << 24}) {
        lengths.push_back(n);
    }
    const common::Bytes gtBytes(384, 7);
    for (crypto::KeyType type : {crypto::AES, crypto::SM4}) {
        auto key = generateSymKeyFromGtBytes(gtBytes, type);
        ASSERT_TRUE(key);
        for (std::size_t n : lengths) {
            if (type == crypto::SM4 && n > 300) break;
            auto sealed = (*key)->Encrypt(common::Bytes(n, 0x5A));
            ASSERT_TRUE(sealed);
            EXPECT_EQ(SymCiphertextLength(n, type), sealed->size()) << type << " " << n;
        }
    }
}

// The map form of a sealed message holds "CT" and every receiver in base64;
// a non-canonical last symbol of "CT" (leftover bits set) still decrypts, and a
// bad byte is still refused with its offset.
TEST_F(HibeMsgTest, NonCanonicalCtDecryptsAndBadByteIsRefused) {
    // 10 bytes of plaintext: 46 bytes of DER, a text ending in "==".
    auto map = encrypt("ten bytes!", {"A/B"});
    ASSERT_TRUE(map);
    std::string& ct = map->at("CT");
    ASSERT_TRUE(ct.ends_with("=="));
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    char& last = ct[ct.size() - 3];
    ASSERT_EQ(alphabet.find(last) & 0x0F, 0u);
    last = alphabet[alphabet.find(last) | 0x05];
    auto got = decrypt("A/B", keyOf("A/B"), *map);
    ASSERT_TRUE(got) << got.error().Message();
    EXPECT_EQ(*got, bytesOf("ten bytes!"));

    ct[10] = '*';
    auto bad = decrypt("A/B", keyOf("A/B"), *map);
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().Message(), "illegal base64 data at input byte 10");
}

TEST_F(HibeMsgTest, EncryptRejectsRelatedReceiversOfDifferentHierarchies) {
    std::vector<std::string> ids = {"A", "A/B"};
    std::vector<hibe::Params> records = {params(), other_->params};
    auto got = EncryptHibeMsg(common::AsBytes("m"), ids, pointersTo(records), crypto::AES);
    ASSERT_FALSE(got);
    EXPECT_EQ(got.error().Message(),
              "ID [A/B] is matched, but Params are different, please check it");
}

TEST_F(HibeMsgTest, UnrelatedReceiversOfTwoHierarchiesEachDecrypt) {
    // Each record's pairing cache belongs to its own hierarchy.
    std::vector<std::string> ids = {"A", "B", "C"};
    std::vector<hibe::Params> records = {params(), other_->params, params()};
    auto map = EncryptHibeMsg(common::AsBytes("two orgs"), ids, pointersTo(records), crypto::AES);
    ASSERT_TRUE(map) << map.error().Message();
    auto otherKey = hibe_fast::KeyGenFromMaster(common::SystemRandom(), other_->params,
                                                other_->masterKey,
                                                IdStr2HibeId("B").value().hibeId);
    ASSERT_TRUE(otherKey);
    auto b = hibe_fast::DecryptHibeMsg("B", &other_->params, &*otherKey, &*map, crypto::AES);
    ASSERT_TRUE(b) << b.error().Message();
    EXPECT_EQ(*b, bytesOf("two orgs"));
    for (std::string_view holder : {"A", "C"}) {
        auto got = decrypt(holder, keyOf(holder), *map);
        ASSERT_TRUE(got) << holder << ": " << got.error().Message();
        EXPECT_EQ(*got, bytesOf("two orgs"));
    }
}

TEST_F(HibeMsgTest, DecryptChecksInOrder) {
    hibe::PrivateKey key = keyOf("A/B");
    auto valid = encrypt("m", {"A/B"});
    ASSERT_TRUE(valid);
    HibeMsgMap empty;
    HibeMsgMap onlyCt = {{"CT", valid->at("CT")}};
    HibeMsgMap emptyEntry = {{"CT", valid->at("CT")}, {"A/B", ""}};
    HibeMsgMap badBase64 = {{"CT", valid->at("CT")}, {"A/B", "AAAA*AAA"}};
    HibeMsgMap badCt = {{"CT", "!"}, {"A/B", valid->at("A/B")}};
    const hibe::Params* p = &params();

    struct Case {
        std::string localId;
        const hibe::Params* params;
        const hibe::PrivateKey* key;
        const HibeMsgMap* map;
        crypto::KeyType type;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"", nullptr, nullptr, nullptr, 2, "invalid parameters, id is nil"},
        {"A/B/", nullptr, nullptr, nullptr, 2, "invalid parameters, id: A/B/" + kFormatTail},
        {"A/B", nullptr, nullptr, nullptr, 2, "invalid parameters, hibeParams is nil"},
        {"A/B", p, nullptr, nullptr, 2, "invalid parameters, prvKey is nil"},
        {"A/B", p, &key, nullptr, 2, "invalid parameters, hibeMsgMap is nil"},
        {"A/B", p, &key, &empty, 2,
         "invalid parameters, unsupported symmetric encryption algorithm type : 2"},
        {"A/B", p, &key, &empty, crypto::AES, "no permission"},
        {"A/C", p, &key, &*valid, crypto::AES, "no permission"},
        {"CT", p, &key, &onlyCt, crypto::AES, "no permission"},
        {"A/B", p, &key, &emptyEntry, crypto::AES, "encryptGt.Unmarshal failed, please check it"},
        {"A/B", p, &key, &badBase64, crypto::AES, "illegal base64 data at input byte 4"},
        {"A/B", p, &key, &badCt, crypto::AES, "illegal base64 data at input byte 0"},
    };
    for (const Case& c : cases) {
        auto got = DecryptHibeMsg(c.localId, c.params, c.key, c.map, c.type);
        ASSERT_FALSE(got) << c.error;
        EXPECT_EQ(got.error().Message(), c.error);
    }
}

TEST_F(HibeMsgTest, DecryptReportsDerivationDepthErrors) {
    auto map = encrypt("m", {"A/B/C/D"});
    ASSERT_TRUE(map);
    // The key of A/B/C handed in as the key of A: not the parent of A/B.
    auto wrongDepth = decrypt("A", keyOf("A/B/C"), *map);
    ASSERT_FALSE(wrongDepth);
    EXPECT_EQ(wrongDepth.error().Message(),
              "Trying to generate key at depth that is not the child of the provided parent");

    // An entry deeper than the hierarchy.
    HibeMsgMap tooDeep = {{"CT", map->at("CT")}, {"A/B/C/D/E", map->at("A/B/C/D")}};
    auto deep = decrypt("A", keyOf("A"), tooDeep);
    ASSERT_FALSE(deep);
    EXPECT_EQ(deep.error().Message(), "Cannot generate key at greater than maximum depth");

    // Entries deeper than the hierarchy are refused without hashing their
    // levels, with the error the first derivation step would give: with a key
    // of the wrong depth, that step's own check comes first; from a localId at
    // full depth, the step is already too deep.
    auto both = decrypt("A", keyOf("A/B/C"), tooDeep);
    ASSERT_FALSE(both);
    EXPECT_EQ(both.error().Message(),
              "Trying to generate key at depth that is not the child of the provided parent");
    HibeMsgMap belowFull = {{"CT", map->at("CT")}, {"A/B/C/D/E", map->at("A/B/C/D")}};
    auto full = decrypt("A/B/C/D", keyOf("A"), belowFull);
    ASSERT_FALSE(full);
    EXPECT_EQ(full.error().Message(), "Cannot generate key at greater than maximum depth");
}

TEST_F(HibeMsgTest, WrongKeyFailsInSymmetricDecryption) {
    auto map = encrypt("m", {"A/B"});
    ASSERT_TRUE(map);
    auto wrong = decrypt("A/B", keyOf("A/C"), *map);
    ASSERT_FALSE(wrong);
    EXPECT_EQ(wrong.error().Message(), kAuthFailed);

    // A map without "CT" hands the symmetric decryption zero bytes.
    HibeMsgMap noCt = {{"A/B", map->at("A/B")}};
    EXPECT_FALSE(decrypt("A/B", keyOf("A/B"), noCt));

    // The right key with the other algorithm gives another key.
    EXPECT_FALSE(decrypt("A/B", keyOf("A/B"), *map, crypto::SM4));
}

TEST_F(HibeMsgTest, StringPrefixMatchInAnotherBranchFails) {
    auto map = encrypt("m", {"A/BC"});
    ASSERT_TRUE(map);
    auto got = decrypt("A/B", keyOf("A/B"), *map);
    ASSERT_FALSE(got);
    EXPECT_EQ(got.error().Message(), kAuthFailed);
}

TEST_F(HibeMsgTest, ChoosesReadableEntryAmongSeveralMatches) {
    // Both begin with the bytes of A/B; only the level-wise descendant A/B/C
    // can be read with the key of A/B.
    auto map = encrypt("for both", {"A/BC", "A/B/C"});
    ASSERT_TRUE(map);
    EXPECT_EQ(keysOf(*map), (std::set<std::string>{"A/B/C", "A/BC", "CT"}));
    auto got = decrypt("A/B", keyOf("A/B"), *map);
    ASSERT_TRUE(got) << got.error().Message();
    EXPECT_EQ(*got, bytesOf("for both"));

    // Unreadable decoys around the one readable entry A/B/C: a string prefix
    // that sorts first (A/B!), a deeper descendant (A/B/C/D) and one of the same
    // depth later in byte order (A/B/D). The fewest levels, then byte order, win.
    auto real = encrypt("real", {"A/B/C", "X"});
    ASSERT_TRUE(real);
    HibeMsgMap decoys = *real;
    decoys["A/B!"] = real->at("X");
    decoys["A/B/C/D"] = real->at("X");
    decoys["A/B/D"] = real->at("X");
    got = decrypt("A/B", keyOf("A/B"), decoys);
    ASSERT_TRUE(got) << got.error().Message();
    EXPECT_EQ(*got, bytesOf("real"));

    // The exact key wins over any descendant.
    auto exact = encrypt("exact", {"A/B", "X"});
    ASSERT_TRUE(exact);
    HibeMsgMap withChild = *exact;
    withChild["A/B/A"] = exact->at("X");
    got = decrypt("A/B", keyOf("A/B"), withChild);
    ASSERT_TRUE(got) << got.error().Message();
    EXPECT_EQ(*got, bytesOf("exact"));
}

TEST_F(HibeMsgTest, TwoEncryptionsOfOneMessageDiffer) {
    auto first = encrypt("same", {"A/B", "C"});
    auto second = encrypt("same", {"A/B", "C"});
    ASSERT_TRUE(first && second);
    for (const char* key : {"CT", "A/B", "C"}) EXPECT_NE(first->at(key), second->at(key)) << key;
    // Both receivers of one map carry the same message element.
    for (std::string_view holder : {"A/B", "C"}) {
        auto got = decrypt(holder, keyOf(holder), *second);
        ASSERT_TRUE(got);
        EXPECT_EQ(*got, bytesOf("same"));
    }
}

TEST_F(HibeMsgTest, EncryptLeavesParameterValuesUnchanged) {
    std::vector<std::string> ids = {"A/B", "A"};
    std::vector<hibe::Params> records(2, params());
    common::Bytes before = params().Marshal();
    auto map = EncryptHibeMsg(common::AsBytes("m"), ids, pointersTo(records), crypto::AES);
    ASSERT_TRUE(map);
    EXPECT_EQ(records[0].Marshal(), before);
    EXPECT_EQ(records[1].Marshal(), before);
    EXPECT_TRUE(records[0].Pairing.has_value());  // the receiver kept after refinement

    // Receivers sharing one record: one entry each, all readable.
    hibe::Params shared = params();
    std::vector<std::string> three = {"A", "B", "C"};
    std::vector<hibe::Params*> same(3, &shared);
    auto sharedMap = EncryptHibeMsg(common::AsBytes("shared"), three, same, crypto::AES);
    ASSERT_TRUE(sharedMap);
    EXPECT_EQ(shared.Marshal(), before);
    for (std::string_view holder : {"A", "B", "C"}) {
        auto got = decrypt(holder, keyOf(holder), *sharedMap);
        ASSERT_TRUE(got) << holder;
        EXPECT_EQ(*got, bytesOf("shared"));
    }
}

}  // namespace
}  // namespace hibe_amd64
