// Writes the seed corpora of the fuzz targets, valid inputs made by the library
// itself (and the known-answer files), into fuzz/corpus/<target>/.
//
//   fuzz_make_corpus path/to/fuzz/corpus path/to/tests/data
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bn256/bn256.h"
#include "common/random.h"
#include "crypto/aes.h"
#include "crypto/sm4.h"
#include "fuzz_util.h"
#include "hibe/hibe.h"
#include "hibe_amd64/hibe_fast.h"
#include "hibe_c/hibe_c.h"
#include "hibe_c/startup.h"
#include "serialize/easycodec_writer.h"

namespace {

namespace fs = std::filesystem;
using common::Bytes;

fs::path corpusDir;
fs::path dataDir;

Bytes bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

Bytes readData(const std::string& name) {
    std::ifstream in(dataDir / name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void write(const std::string& target, const std::vector<Bytes>& seeds) {
    const fs::path dir = corpusDir / target;
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (std::size_t i = 0; i < seeds.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "seed-%02zu", i);
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(seeds[i].data()), static_cast<std::streamsize>(seeds[i].size()));
    }
}

Bytes fixedKey(std::size_t n) {
    Bytes key(n);
    for (std::size_t i = 0; i < n; ++i) key[i] = static_cast<std::uint8_t>(0x11 * (i + 1));
    return key;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s corpus-dir test-data-dir\n", argv[0]);
        return 2;
    }
    corpusDir = argv[1];
    dataDir = argv[2];
    hibe_c::RunStartup();
    common::RandomSource& rand = common::SystemRandom();

    const Bytes params = readData("org.params");
    const Bytes keyA = readData("A.privateKey");
    const Bytes keyABC = readData("A#B#C.privateKey");
    const Bytes map = readData("map-A#B#C.json");
    const Bytes idsABC = easycodec_test::StringList({"A/B/C"});
    const Bytes idsTwo = easycodec_test::StringList({"A/B", "X"});
    const Bytes paramsOne = easycodec_test::BytesList({params});

    {
        Bytes headerless = easycodec_test::EasyCodecWriter().AddInt32("size", 1).AddString("0", "A").Encode(false);
        Bytes odd = easycodec_test::EasyCodecWriter()
                        .AddInt32("size", 2, easycodec_test::kKeySystem)
                        .AddString("size", "2")
                        .AddBytes("0", bytes("\x00\xff"))
                        .Encode();
        write("kv_codec", {idsABC, idsTwo, paramsOne, headerless, odd, Bytes(21, 0), {}});
    }

    write("json_map", {map, bytes("{}"), bytes("null"), bytes("[]"), bytes(" {\"a\":\"b\",\"a\":1} "),
                       bytes("{\"x\\u003c\\\"\\u0001\\ufffd\":\"v\",\"CT\":\"\\ud83d\\ude00\\ud800\"}"),
                       bytes("{\"\\u2028\":[1,{\"n\":null}],\"k\":1e999}")});

    const auto g1 = bn256::RandomG1(rand);
    const auto g2 = bn256::RandomG2(rand);
    const bn256::GT gt = bn256::Pair(g1->element, g2->element);
    {
        bn256::G1 gen1;
        gen1.ScalarBaseMult(1);
        bn256::G2 gen2;
        gen2.ScalarBaseMult(1);
        write("group", {gen1.Marshal(), gen2.Marshal(), bn256::Pair(gen1, gen2).Marshal(), g1->element.Marshal(),
                        g2->element.Marshal(), gt.Marshal(), Bytes(64, 0), Bytes(128, 0), Bytes(384, 0)});
    }

    hibe::Params decoded;
    decoded.Unmarshal(params);
    const auto ciphertext = hibe::Encrypt(rand, decoded, hibe_fast::IdStr2HibeId("A/B/C").hibeId, gt);
    write("records", {params, keyA, keyABC, readData("A#B.privateKey"), ciphertext->Marshal(), Bytes(384, 0),
                      Bytes(192, 0), Bytes(576, 0)});

    {
        const aes::AESKey aesKey(fixedKey(32));
        const sm4::SM4Key sm4Key(fixedKey(16));
        crypto::EncOpts rawGcm;
        rawGcm.BlockMode = "GCM";
        rawGcm.EncodingType = "NO PADDING";
        crypto::EncOpts cbc = rawGcm;
        cbc.BlockMode = "CBC";
        cbc.EncodingType = "PKCS5";
        crypto::EncOpts derCbc = cbc;
        derCbc.EnableASN1 = true;
        const Bytes message = bytes("a message of a few blocks, sealed under fixed keys");
        write("sym", {*aesKey.Encrypt(message), *aesKey.Encrypt(bytes("")), *aesKey.EncryptWithOpts(message, rawGcm),
                      *aesKey.EncryptWithOpts(message, cbc), *aesKey.EncryptWithOpts(message, derCbc),
                      *sm4Key.Encrypt(message), {}});
    }

    auto decryptInput = [&](std::string_view id, const Bytes& key, const Bytes& msgMap) {
        Bytes in;
        fuzz::PutField(in, common::AsBytes(id));
        fuzz::PutField(in, params);
        fuzz::PutField(in, key);
        in.insert(in.end(), msgMap.begin(), msgMap.end());
        return in;
    };
    write("decrypt_msg", {decryptInput("A/B/C", keyABC, map), decryptInput("A", keyA, map),
                          decryptInput("A/B", keyA, map), decryptInput("A/B/C", keyABC, bytes("{}")), {}});

    auto encryptInput = [](std::uint8_t n, std::string_view plaintext, const Bytes& ids) {
        Bytes in = {n};
        fuzz::PutField(in, common::AsBytes(plaintext));
        in.insert(in.end(), ids.begin(), ids.end());
        return in;
    };
    write("encrypt_msg", {encryptInput(1, "hello", idsABC), encryptInput(2, "two receivers", idsTwo),
                          encryptInput(1, "", idsABC), encryptInput(0, "no params", idsABC),
                          encryptInput(1, "reserved", easycodec_test::StringList({"CT"})),
                          encryptInput(3, "bad ids", easycodec_test::StringList({"A//B", "", "C"}))});

    {
        std::vector<Bytes> pairs;
        const std::uint64_t edges[][4] = {
            {0, 0, 0, 0},
            {1, 0, 0, 0},
            {0x3c208c16d87cfd46, 0x97816a916871ca8d, 0xb85045b68181585d, 0x30644e72e131a029},  // p - 1
            {0xd35d438dc58f0d9d, 0x0a78eb28f5c70b3d, 0x666ea36f7879462c, 0x0e0a77c19a07df2f},  // R mod p
            {~0ull, ~0ull, ~0ull, 0x30644e72e131a028},
        };
        for (const auto& a : edges) {
            for (const auto& b : edges) {
                Bytes pair(64);
                std::memcpy(pair.data(), a, 32);
                std::memcpy(pair.data() + 32, b, 32);
                pairs.push_back(pair);
            }
        }
        write("field", pairs);
    }
    std::printf("corpus written to %s\n", corpusDir.c_str());
    return 0;
}
