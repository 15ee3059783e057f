// Decryption of a message map made by an independent implementation.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

#include "hibe_amd64/hibe_fast.h"

namespace hibe_amd64 {
namespace {

common::Bytes readFile(const std::string& name) {
    std::ifstream in(std::string(HIBE_TEST_DATA) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    return common::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(HibeMsgKnownAnswerTest, DecryptsMapForABCAtEveryLevel) {
    common::Bytes mapJson = readFile("map-A#B#C.json");
    nlohmann::json json = nlohmann::json::parse(mapJson.begin(), mapJson.end());
    HibeMsgMap map;
    for (const auto& [key, value] : json.items()) map[key] = value.get<std::string>();
    ASSERT_EQ(map.size(), 2u);

    hibe::Params params;
    ASSERT_TRUE(params.Unmarshal(readFile("org.params")).second);
    const common::Bytes plaintext = readFile("plaintext.txt");

    const std::pair<const char*, const char*> holders[] = {
        {"A/B/C", "A#B#C.privateKey"},  // the receiver itself
        {"A/B", "A#B.privateKey"},      // one derivation
        {"A", "A.privateKey"},          // two derivations
    };
    for (const auto& [id, file] : holders) {
        hibe::PrivateKey key;
        ASSERT_TRUE(key.Unmarshal(readFile(file)).second) << file;
        auto got = hibe_fast::DecryptHibeMsg(id, &params, &key, &map, crypto::AES);
        ASSERT_TRUE(got) << id << ": " << got.error().Message();
        EXPECT_EQ(*got, plaintext) << id;
    }
}

}  // namespace
}  // namespace hibe_amd64
