// Writes the seed corpora of the fuzz targets: valid inputs made by the library
// itself or taken from tests/data, and the edge cases around them.
//
//   fuzz_make_corpus <corpus directory> <tests/data directory>
//
// Writes <corpus directory>/<target>/<name> for every seed, each target's
// directory emptied first. Every run writes the same bytes: the symmetric ciphertexts take
// their IVs from a counting source, and no seed draws from the system.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "bn256/bn256.h"
#include "bn256/gfp.h"
#include "crypto/aes.h"
#include "crypto/sm4.h"
#include "fuzz_support.h"
#include "hibe/scheme.h"
#include "hibe_amd64/base64.h"
#include "hibe_c/json_map.h"
#include "hibe_c/startup.h"
#include "serialize/easycodec.h"
#include "serialize/easycodec_writer.h"

namespace {

namespace fs = std::filesystem;
using common::Bytes;
using easycodec_test::BytesList;
using easycodec_test::EasyCodecWriter;
using easycodec_test::PutItem;
using easycodec_test::PutU32;
using easycodec_test::StringList;

fs::path dataDir;
fs::path corpusDir;
int written = 0;

Bytes ReadData(const std::string& name) {
    std::ifstream in(dataDir / name, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", (dataDir / name).c_str());
        std::exit(1);
    }
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes B(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

void Write(const std::string& target, const std::string& name, const Bytes& content) {
    static std::set<std::string> emptied;
    const fs::path dir = corpusDir / target;
    if (emptied.insert(target).second) fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", (dir / name).c_str());
        std::exit(1);
    }
    ++written;
}

// Bytes 1, 2, 3, ... for IVs and nonces, so that the seeds do not change from run
// to run.
class CountingRandom final : public common::RandomSource {
public:
    common::Status Fill(std::span<std::uint8_t> out) override {
        for (auto& b : out) b = ++next_;
        return {};
    }

private:
    std::uint8_t next_ = 0;
};

Bytes CountingKey(std::size_t length) {
    Bytes key(length);
    for (std::size_t i = 0; i < length; ++i) key[i] = static_cast<std::uint8_t>(i);
    return key;
}

// The 576-byte HIBE ciphertext of one entry of the known map.
Bytes MapEntry(const std::string& id) {
    const Bytes json = ReadData("map-A#B#C.json");
    const auto map = hibe_c::ReadJsonMap(common::AsText(json));
    if (!map || !map->contains(id)) std::exit(1);
    auto decoded = hibe_amd64::Base64Decode(map->at(id));
    if (!decoded) std::exit(1);
    return *decoded;
}

void Easycodec() {
    const std::string t = "kv_codec";
    Write(t, "empty", {});
    Write(t, "min-len-zeros", Bytes(serialize::MIN_LEN, 0));
    Write(t, "headerless-count-zero", Bytes(serialize::MIN_LEN + 1, 0));
    Write(t, "ids-list", StringList({"A/B/C", "A/B", "A"}));
    Write(t, "ids-list-headerless",
          EasyCodecWriter().AddInt32("size", 2).AddString("0", "A/B").AddString("1", "C").Encode(false));
    Write(t, "params-list", BytesList({ReadData("org.params")}));
    Write(t, "mixed-types", EasyCodecWriter()
                                .AddInt32("size", 3, easycodec_test::kKeySystem)
                                .AddInt32("size", 3)
                                .AddString("0", "text")
                                .AddBytes("1", B(std::string_view("\x00\x01\x02", 3)))
                                .AddString("1", "later duplicate")
                                .AddInt32("2", -1)
                                .Encode());
    {
        // Unknown value type (no value bytes), an INT32 whose length field lies,
        // a key of the largest length; headerless.
        Bytes blob;
        PutU32(blob, 4);
        PutItem(blob, 1, "size", 0, 4, std::string_view("\x02\x00\x00\x00", 4));
        PutItem(blob, 1, "0", 7, 1000, "");
        PutItem(blob, 1, "1", 0, 99, std::string_view("\x05\x00\x00\x00", 4));
        PutItem(blob, 1, std::string(serialize::MAX_KEY_LEN, 'k'), 1, 1, "v");
        Write(t, "odd-items", blob);
    }
    {
        // Limits: a key one byte too long, a negative key length, a value length
        // above 2^20, a count of 128 items with one present, and 129.
        Bytes tooLong;
        PutU32(tooLong, 2);
        PutItem(tooLong, 1, "size", 0, 4, std::string_view("\x01\x00\x00\x00", 4));
        PutItem(tooLong, 1, std::string(serialize::MAX_KEY_LEN + 1, 'k'), 1, 1, "v");
        Write(t, "key-too-long", tooLong);

        Bytes negative;
        for (std::uint32_t field : {1u, 1u, 0xFFFFFFFFu, 1u, 1u, 0u}) PutU32(negative, field);
        Write(t, "negative-key-length", negative);

        Bytes huge;
        PutU32(huge, 1);
        PutItem(huge, 1, "0", 2, serialize::MAX_VALUE_LEN + 1, "abc");
        Write(t, "value-too-long", huge);

        Bytes many;
        PutU32(many, serialize::MAX_KEY_COUNT);
        PutItem(many, 1, "size", 0, 4, std::string_view("\xFF\xFF\xFF\x7F", 4));
        Write(t, "count-128-size-max", many);
        many[0] = static_cast<std::uint8_t>(serialize::MAX_KEY_COUNT + 1);
        Write(t, "count-129", many);
    }
    Bytes truncated = BytesList({ReadData("org.params")});
    truncated.resize(truncated.size() / 2);
    Write(t, "params-list-truncated", truncated);
    Bytes badHeader = StringList({"A"});
    badHeader[4] = 'x';
    Write(t, "bad-version", badHeader);
}

void JsonMap() {
    const std::string t = "json_map";
    Write(t, "empty", {});
    Write(t, "null", B("null"));
    Write(t, "empty-object", B("{}"));
    Write(t, "known-map", ReadData("map-A#B#C.json"));
    Write(t, "whitespace-duplicates", B(" \t\n{ \"a\" : \"1\" , \"a\":\"2\", \"b\":\"x\" }\r\n"));
    Write(t, "non-string-values",
          B("{\"n\":-12.5e+3,\"t\":true,\"f\":false,\"z\":null,\"o\":{\"a\":[1,{\"b\":\"c\"}]},\"s\":\"v\"}"));
    Write(t, "escapes", B("{\"\\u0041\\n\\t\\\"\\\\\\/\\b\\f\\r\":\"\\ud83d\\ude00 \\ud800 \\udc00x\\u2028\"}"));
    Write(t, "raw-utf8-and-invalid", B("{\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\":\"\xFF\xC0\xAF\xED\xA0\x80\xE2\x82\"}"));
    Write(t, "top-level-array", B("[{\"a\":\"b\"}]"));
    Write(t, "unterminated", B("{\"a\":\"b\""));
    Write(t, "bom", B("\xEF\xBB\xBF{}"));
    Write(t, "deep-nesting", Cat({B("{\"a\":"), Bytes(200, '['), Bytes(200, ']'), B("}")}));
    {
        // Every byte value in a key and a value, through the writer.
        std::string all;
        for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
        Write(t, "all-bytes-written", B(hibe_c::WriteJsonMap(hibe_c::HibeMsgMap{{all, all}, {"CT", ""}})));
    }
    Write(t, "big-numbers", B("{\"a\":1e999999,\"b\":-0,\"c\":123456789012345678901234567890}"));
}

void Groups() {
    const std::string t = "group";
    bn256::G1 g1;
    g1.ScalarBaseMult(1);
    bn256::G2 g2;
    g2.ScalarBaseMult(1);
    bn256::G1 g1k;
    g1k.ScalarBaseMult(mpz_class("123456789123456789123456789"));
    bn256::G2 g2k;
    g2k.ScalarBaseMult(mpz_class("987654321987654321987654321"));
    const Bytes gt = bn256::Pair(g1k, g2k).Marshal();

    Write(t, "empty", {});
    Write(t, "zeros-64", Bytes(64, 0));
    Write(t, "zeros-128", Bytes(128, 0));
    Write(t, "zeros-384", Bytes(384, 0));
    Bytes gtOne(384, 0);
    gtOne.back() = 1;
    Write(t, "gt-one", gtOne);
    Write(t, "g1-generator", g1.Marshal());
    Write(t, "g2-generator", g2.Marshal());
    Write(t, "g1-g2-gt", Cat({g1k.Marshal(), g2k.Marshal(), gt}));
    Write(t, "gt-pairing", gt);
    Write(t, "all-ff", Bytes(384, 0xFF));

    // The modulus itself as a coordinate, and p − 1 (accepted, and off the curve
    // with y = 1).
    Bytes p(32);
    for (int w = 0; w < 4; ++w) {
        for (int j = 0; j < 8; ++j) p[8 * w + j] = static_cast<std::uint8_t>(bn256::p2[3 - w] >> (56 - 8 * j));
    }
    Bytes pMinus1 = p;
    pMinus1.back() -= 1;
    Bytes one(32, 0);
    one.back() = 1;
    Write(t, "x-equals-p", Cat({p, one}));
    Write(t, "off-curve", Cat({pMinus1, one}));
    Write(t, "g2-off-twist", Cat({one, one, one, one}));
}

void Records() {
    const std::string t = "records";
    const Bytes params = ReadData("org.params");
    Write(t, "empty", {});
    Write(t, "params-depth-3", params);
    Write(t, "params-depth-1", Bytes(params.begin(), params.begin() + 448));
    Write(t, "key-depth-3", ReadData("A#B#C.privateKey"));
    Write(t, "key-depth-2", ReadData("A#B.privateKey"));
    Write(t, "key-depth-1", ReadData("A.privateKey"));
    Write(t, "ciphertext", MapEntry("A/B/C"));
    Write(t, "zeros-192", Bytes(192, 0));
    Write(t, "zeros-384", Bytes(384, 0));
    Write(t, "zeros-576", Bytes(576, 0));
    Bytes badEntry = params;
    for (std::size_t i = params.size() - 64; i < params.size(); ++i) badEntry[i] = 0xFF;
    Write(t, "params-last-entry-bad", badEntry);
    Bytes badFixed = params;
    badFixed[200] ^= 1;
    Write(t, "params-g1-bad", badFixed);
    Write(t, "not-whole-slots", Bytes(params.begin(), params.begin() + 575));
}

void Sym() {
    const std::string t = "sym";
    const crypto::EncOpts gcmRaw{"NO PADDING", "GCM", true, 0, {}, false};
    const crypto::EncOpts cbcDer{"PKCS5", "CBC", false, 0, {}, true};
    const crypto::EncOpts cbcRaw{"PKCS5", "CBC", false, 0, {}, false};
    CountingRandom rand;
    Write(t, "empty", {});
    Write(t, "zeros-16", Bytes(16, 0));
    for (std::size_t length : {16, 32}) {
        const aes::AESKey key(CountingKey(length), rand);
        const std::string k = "aes" + std::to_string(length * 8) + "-";
        for (const std::string plain : {"", "hello", "sixteen byte msg", "a message of thirty-three bytes.."}) {
            if (length == 16 && plain.size() != 5) continue;
            const std::string n = k + std::to_string(plain.size()) + "-";
            Write(t, n + "gcm-der", *key.Encrypt(B(plain)));
            Write(t, n + "gcm-raw", *key.EncryptWithOpts(B(plain), gcmRaw));
            Write(t, n + "cbc-der", *key.EncryptWithOpts(B(plain), cbcDer));
            if (plain.size() == 5 || plain.size() == 16) {
                Write(t, n + "cbc-raw", *key.EncryptWithOpts(B(plain), cbcRaw));
            }
        }
    }
    const sm4::SM4Key sm4Key(CountingKey(16), rand);
    Write(t, "sm4-5", *sm4Key.Encrypt(B("hello")));
    Write(t, "sm4-16", *sm4Key.Encrypt(B("sixteen byte msg")));
    // A DER envelope with a fourth element and trailing bytes.
    Bytes der = *aes::AESKey(CountingKey(32), rand).Encrypt(B("hello"));
    der[1] += 2;
    der.insert(der.end(), {0x04, 0x00, 0xAA});
    Write(t, "der-extra-element", der);
}

void DecryptMsg() {
    const std::string t = "decrypt_msg";
    const Bytes params = ReadData("org.params");
    const Bytes map = ReadData("map-A#B#C.json");
    const auto seed = [&](const std::string& id, const Bytes& p, const Bytes& key, const Bytes& m) {
        Bytes out;
        fuzz::Prefixed(out, B(id));
        fuzz::Prefixed(out, p);
        fuzz::Prefixed(out, key);
        out.insert(out.end(), m.begin(), m.end());
        return out;
    };
    Write(t, "empty", {});
    Write(t, "A-B-C-own-entry", seed("A/B/C", params, ReadData("A#B#C.privateKey"), map));
    Write(t, "A-B-derives", seed("A/B", params, ReadData("A#B.privateKey"), map));
    Write(t, "A-derives-twice", seed("A", params, ReadData("A.privateKey"), map));
    Write(t, "no-permission", seed("X", params, ReadData("A.privateKey"), map));
    Write(t, "map-null", seed("A/B/C", params, ReadData("A#B#C.privateKey"), B("null")));
    Write(t, "map-empty-object", seed("A/B/C", params, ReadData("A#B#C.privateKey"), B("{}")));
    Write(t, "key-of-ancestor", seed("A/B", params, ReadData("A.privateKey"), map));
    Write(t, "wrong-key", seed("A/B/C", params, ReadData("A#B.privateKey"), map));
    Write(t, "zero-records", seed("A/B/C", Bytes(384, 0), Bytes(192, 0), map));
    std::string badCt(common::AsText(map));
    badCt.replace(badCt.find("\"CT\":\"") + 6, 4, "!!!!");
    Write(t, "bad-base64-ct", seed("A/B/C", params, ReadData("A#B#C.privateKey"), B(badCt)));
}

void EncryptMsg() {
    const std::string t = "encrypt_msg";
    const auto seed = [](std::uint8_t mode, const std::string& plain, const Bytes& ids, const Bytes& params) {
        Bytes out{mode};
        fuzz::Prefixed(out, B(plain));
        fuzz::Prefixed(out, ids);
        out.insert(out.end(), params.begin(), params.end());
        return out;
    };
    const Bytes params = ReadData("org.params");
    Write(t, "empty", {});
    Write(t, "one-receiver", seed(0, "hello", StringList({"A/B/C"}), {}));
    Write(t, "three-levels", seed(0, "a longer message for every level", StringList({"A/B/C", "A/B", "A"}), {}));
    Write(t, "siblings", seed(0, "hi", StringList({"A/B/C", "A/B/D", "A/E", "F"}), {}));
    Write(t, "reserved-ct", seed(0, "hi", StringList({"A/B", "CT"}), {}));
    Write(t, "too-deep", seed(0, "hi", StringList({"A/B/C/D"}), {}));
    Write(t, "empty-id", seed(0, "hi", StringList({""}), {}));
    Write(t, "empty-plaintext", seed(0, "", StringList({"A"}), {}));
    Write(t, "odd-ids", seed(0, "hi", StringList({"/A", "A//B", "A/", "\xFF\xFE", "A/B/C"}), {}));
    Write(t, "non-utf8-id", seed(0, "hello", StringList({"A/B/\xD8"}), {}));
    Write(t, "size-beyond-items",
          seed(0, "hi", EasyCodecWriter().AddInt32("size", 5).AddString("0", "A").Encode(), {}));
    Write(t, "own-params", seed(1, "hello", StringList({"A/B"}), BytesList({params})));
    Write(t, "own-params-two", seed(1, "hello", StringList({"A/B", "Z"}), BytesList({params, params})));
    Write(t, "own-params-mismatch", seed(1, "hello", StringList({"A/B", "A"}), BytesList({params})));
    Write(t, "own-params-bad", seed(1, "hello", StringList({"A"}), BytesList({Bytes(params.begin(), params.begin() + 500)})));
}

void Gfp() {
    const std::string t = "field";
    const auto limbs = [](const std::uint64_t (&l)[4]) {
        Bytes out;
        for (std::uint64_t limb : l) {
            for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(limb >> (8 * i)));
        }
        return out;
    };
    const std::uint64_t zero[4] = {0, 0, 0, 0};
    const std::uint64_t one[4] = {1, 0, 0, 0};
    const std::uint64_t p[4] = {bn256::p2[0], bn256::p2[1], bn256::p2[2], bn256::p2[3]};
    const std::uint64_t pMinus1[4] = {bn256::p2[0] - 1, bn256::p2[1], bn256::p2[2], bn256::p2[3]};
    const std::uint64_t ones[4] = {~0ull, ~0ull, ~0ull, ~0ull};
    const std::uint64_t mixed[4] = {0x0123456789abcdef, 0xfedcba9876543210, 0x0f1e2d3c4b5a6978,
                                    0x1122334455667788};
    Write(t, "empty", {});
    Write(t, "zero-zero", limbs(zero));
    Write(t, "one-one", Cat({limbs(one), limbs(one)}));
    Write(t, "pminus1-pminus1", Cat({limbs(pMinus1), limbs(pMinus1)}));
    Write(t, "p-one", Cat({limbs(p), limbs(one)}));
    Write(t, "all-ones", Cat({limbs(ones), limbs(ones)}));
    Write(t, "r2-r3", Cat({limbs(bn256::r2.limbs), limbs(bn256::r3.limbs)}));
    Write(t, "mixed-rn1", Cat({limbs(mixed), limbs(bn256::rN1.limbs)}));
    const bn256::gfP montOne = bn256::newGFp(1);  // R mod p
    Write(t, "r-r", Cat({limbs(montOne.limbs), limbs(montOne.limbs)}));
    Write(t, "pminus1-r", Cat({limbs(pMinus1), limbs(montOne.limbs)}));
    // The first 32 bytes big-endian p and p − 1, for the decoder.
    Bytes bigEndianP(32);
    for (int w = 0; w < 4; ++w) {
        for (int j = 0; j < 8; ++j) {
            bigEndianP[8 * w + j] = static_cast<std::uint8_t>(bn256::p2[3 - w] >> (56 - 8 * j));
        }
    }
    Write(t, "be-p", Cat({bigEndianP, limbs(one)}));
    bigEndianP.back() -= 1;
    Write(t, "be-pminus1", Cat({bigEndianP, limbs(mixed)}));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <corpus directory> <tests/data directory>\n", argv[0]);
        return 2;
    }
    corpusDir = argv[1];
    dataDir = argv[2];
    hibe_c::RunStartup();
    Easycodec();
    JsonMap();
    Groups();
    Records();
    Sym();
    DecryptMsg();
    EncryptMsg();
    Gfp();
    std::printf("%d seeds written under %s\n", written, corpusDir.c_str());
    return 0;
}
