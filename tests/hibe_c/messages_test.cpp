#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "hibe_c/hibe_c.h"
#include "hibe_c/json_map.h"
#include "hibe_c_testing.h"
#include "serialize/easycodec_writer.h"

namespace {

using common::Bytes;
using easycodec_test::BytesList;
using easycodec_test::EasyCodecWriter;
using easycodec_test::StringList;
using hibe_c_testing::captureStdout;
using hibe_c_testing::readFile;

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }
std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }
std::string data(const std::string& name) { return readFile(std::string(HIBE_TEST_DATA) + "/" + name); }

// The organisation of the known-answer files: params of depth 3 and the keys of
// A, A/B and A/B/C.
class MessagesTest : public ::testing::Test {
protected:
    const Bytes params_ = bytes(data("org.params"));

    // EncryptHibeMsg's result and what it printed.
    std::pair<std::string, std::string> encrypt(const std::string& plaintext, const Bytes& ids,
                                                const Bytes& params, std::int64_t keyType = 0) {
        std::string result;
        std::string out = captureStdout(
            [&] { result = text(hibe_c::EncryptHibeMsg(bytes(plaintext), ids, params, keyType)); });
        return {result, out};
    }

    std::optional<std::string> decrypt(const std::string& id, const std::string& keyFile,
                                       const std::string& map) {
        auto plain = hibe_c::DecryptHibeMsg(bytes(id), params_, bytes(data(keyFile)), bytes(map), 0);
        if (!plain) return std::nullopt;
        return text(*plain);
    }

    Bytes paramsList(std::size_t n) const { return BytesList(std::vector<Bytes>(n, params_)); }
};

TEST_F(MessagesTest, KnownAnswerMapDecryptsAtEveryLevel) {
    const std::string map = data("map-A#B#C.json");
    const std::string plaintext = data("plaintext.txt");
    EXPECT_EQ(decrypt("A/B/C", "A#B#C.privateKey", map), plaintext);
    EXPECT_EQ(decrypt("A/B", "A#B.privateKey", map), plaintext);
    EXPECT_EQ(decrypt("A", "A.privateKey", map), plaintext);
}

TEST_F(MessagesTest, KeyMadeFromKnownMasterKeyDecryptsKnownMap) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("hibe_c_known_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::string params = std::string(HIBE_TEST_DATA) + "/org.params";
    std::string master = std::string(HIBE_TEST_DATA) + "/org.masterKey";
    ASSERT_EQ(hibe_c::KeyGenFromMaster("A/B", dir.string(), master, params), 0);
    auto key = readFile((dir / "privateKeys/A#B.privateKey").string());
    auto plain = hibe_c::DecryptHibeMsg(bytes("A/B"), params_, bytes(key),
                                        bytes(data("map-A#B#C.json")), 0);
    std::filesystem::remove_all(dir);
    ASSERT_TRUE(plain);
    EXPECT_EQ(text(*plain), data("plaintext.txt"));
}

TEST_F(MessagesTest, RoundTripThroughJsonWithMembersInByteOrder) {
    auto [map, out] = encrypt("hello", StringList({"a/b", "A/B"}), paramsList(2), /*keyType=*/1);
    EXPECT_EQ(out, "");
    ASSERT_EQ(map.rfind("{\"A/B\":\"", 0), 0u) << map;
    const auto aB = map.find("\"A/B\""), ct = map.find("\"CT\""), ab = map.find("\"a/b\"");
    EXPECT_LT(aB, ct);
    EXPECT_LT(ct, ab);
    EXPECT_EQ(map.find(' '), std::string::npos);
    // keyType 1 still gives an AES map, which the AES decryption reads.
    EXPECT_EQ(decrypt("A", "A.privateKey", map), "hello");
}

TEST_F(MessagesTest, EncryptionFailuresPrintTheirTextAndReturnNull) {
    const Bytes noSize = EasyCodecWriter().AddString("0", "A").Encode();
    const Bytes stringSize = EasyCodecWriter().AddString("size", "1").AddString("0", "A").Encode();
    const Bytes twoIdsSizeThree =
        EasyCodecWriter().AddInt32("size", 3).AddString("0", "A").AddString("1", "B").Encode();
    const Bytes twoParamsSizeThree = EasyCodecWriter()
                                         .AddInt32("size", 3)
                                         .AddBytes("0", params_)
                                         .AddBytes("1", params_)
                                         .Encode();
    const struct {
        const char* what;
        std::string plaintext;
        Bytes ids, params;
        std::string printed;
    } cases[] = {
        {"no size item", "m", noSize, paramsList(1), "invalid parameters, receiverIds is nil"},
        {"size of type STRING", "m", stringSize, paramsList(1), "invalid parameters, receiverIds is nil"},
        {"not a blob", "m", bytes("not the key-value format at all"), paramsList(1),
         "invalid parameters, receiverIds is nil"},
        {"size 0", "m", StringList({}), paramsList(1), "invalid parameters, receiverIds is nil"},
        {"params entry missing", "m", twoIdsSizeThree, twoParamsSizeThree, "failed to unmarshal params"},
        {"params entry not decodable", "m", StringList({"A"}), BytesList({bytes("short")}),
         "failed to unmarshal params"},
        {"receiver entry missing", "m", twoIdsSizeThree, paramsList(3), "invalid parameters, id is nil"},
        {"empty plaintext", "", StringList({"A"}), paramsList(1), "invalid parameters, plaintext is nil"},
        {"lengths differ", "m", StringList({"A", "B"}), paramsList(1),
         "invalid parameters, receiverIds and paramsList do not match, place check them"},
    };
    for (const auto& c : cases) {
        auto [map, out] = encrypt(c.plaintext, c.ids, c.params);
        EXPECT_EQ(map, "null") << c.what;
        EXPECT_EQ(out, c.printed) << c.what;
    }
}

TEST_F(MessagesTest, ConsecutiveFailuresPrintTheirTextsBackToBack) {
    std::string out = captureStdout([&] {
        hibe_c::EncryptHibeMsg({}, StringList({"A"}), paramsList(1), 0);
        hibe_c::EncryptHibeMsg(bytes("m"), StringList({}), paramsList(1), 0);
    });
    EXPECT_EQ(out, "invalid parameters, plaintext is nilinvalid parameters, receiverIds is nil");
}

// Receiver ids are written escaped and read back unchanged; an id that is not
// valid UTF-8 is refused (see RefusedReceiversPrintTheirTextAndReturnNull).
TEST_F(MessagesTest, ReceiverKeyIsEscapedAndReadBackUnchanged) {
    const std::string id = "x<\"\x01\xe2\x80\xa8";
    auto [map, out] = encrypt("m", StringList({id}), paramsList(1));
    ASSERT_EQ(out, "");
    EXPECT_NE(map.find("\"x\\u003c\\\"\\u0001\\u2028\""), std::string::npos) << map;
    auto read = hibe_c::ReadJsonMap(map);
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->count(id));
}

// Refused receivers and params: the text is printed, the result is "null".
TEST_F(MessagesTest, RefusedReceiversPrintTheirTextAndReturnNull) {
    Bytes zeroedG2 = params_;
    std::fill(zeroedG2.begin() + 4 * 64, zeroedG2.begin() + 5 * 64, 0);
    const struct {
        const char* what;
        std::vector<std::string> ids;
        Bytes params;
        std::string printed;
    } cases[] = {
        {"id not UTF-8", {"A\xff"}, paramsList(1), "invalid parameters, id: A\xff is not valid UTF-8"},
        {"ids that would share one key", {"A\xef\xbf\xbd", "A\xff"}, paramsList(2),
         "invalid parameters, id: A\xff is not valid UTF-8"},
        {"params with G2 the identity", {"A", "B"}, BytesList({params_, zeroedG2}),
         "invalid parameters, params of id: B hold an identity element"},
        {"id deeper than its params", {"A/B/C/D"}, paramsList(1),
         "Cannot encrypt to identity at greater than maximum depth of the params"},
    };
    for (const auto& c : cases) {
        auto [map, out] = encrypt("m", StringList(c.ids), c.params);
        EXPECT_EQ(map, "null") << c.what;
        EXPECT_EQ(out, c.printed) << c.what;
    }
}

TEST_F(MessagesTest, DecryptionFailsOnMapsThatGiveNoEntry) {
    auto [map, out] = encrypt("m", StringList({"A/B/C"}), paramsList(1));
    ASSERT_EQ(out, "");
    const std::string ctNumber = "{\"A/B/C\":\"x\",\"CT\":5}";
    for (const std::string bad : {"null", "[]", "", "not json", "{}", ctNumber.c_str()}) {
        EXPECT_EQ(decrypt("A/B/C", "A#B#C.privateKey", bad), std::nullopt) << bad;
    }
    EXPECT_EQ(decrypt("A/B/C", "A#B#C.privateKey", map), "m");
}

TEST_F(MessagesTest, DecryptionRejectsUndecodableParamsAndKeys) {
    const std::string map = data("map-A#B#C.json");
    const Bytes key = bytes(data("A.privateKey"));
    Bytes badLastB = key;
    badLastB.back() ^= 1;  // the last B entry is now off the curve
    EXPECT_FALSE(hibe_c::DecryptHibeMsg(bytes("A"), params_, Bytes(key.begin(), key.end() - 1),
                                        bytes(map), 0));
    EXPECT_FALSE(hibe_c::DecryptHibeMsg(bytes("A"), params_, badLastB, bytes(map), 0));
    EXPECT_FALSE(hibe_c::DecryptHibeMsg(bytes("A"), Bytes(params_.begin(), params_.end() - 64 + 1),
                                        key, bytes(map), 0));
}

}  // namespace
