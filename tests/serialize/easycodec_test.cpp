#include "serialize/easycodec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serialize/easycodec_writer.h"

namespace {

using easycodec_test::Bytes;
using easycodec_test::EasyCodecWriter;
using easycodec_test::PutHeader;
using easycodec_test::PutItem;
using easycodec_test::PutRaw;
using easycodec_test::PutU32;
using serialize::EasyCodecItem;
using serialize::EasyKeyType;
using serialize::EasyValueType;

constexpr std::int32_t kUser = serialize::EasyKeyType_USER;
constexpr std::int32_t kSystem = serialize::EasyKeyType_SYSTEM;
constexpr std::int32_t kInt32 = serialize::EasyValueType_INT32;
constexpr std::int32_t kString = serialize::EasyValueType_STRING;
constexpr std::int32_t kBytes = serialize::EasyValueType_BYTES;

EasyCodecItem Item(std::int32_t keyType, std::string key, std::int32_t valueType,
                   serialize::EasyValue value) {
    return {static_cast<EasyKeyType>(keyType), std::move(key), static_cast<EasyValueType>(valueType),
            std::move(value)};
}

Bytes LE(std::int32_t v) {
    Bytes b;
    PutU32(b, static_cast<std::uint32_t>(v));
    return b;
}

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

// A stream starting with the header (or not), then count, then the given body.
Bytes Stream(bool header, std::uint32_t count, const Bytes& body) {
    Bytes out;
    if (header) PutHeader(out);
    PutU32(out, count);
    PutRaw(out, body);
    return out;
}

std::string Key(int i) {
    std::string key = std::to_string(i);
    key.insert(key.begin(), 'k');
    return key;
}

// Runs of simple items (USER, key "k<i>", INT32 i) for count tests.
Bytes Int32Items(int n) {
    Bytes body;
    for (int i = 0; i < n; ++i) PutItem(body, kUser, Key(i), kInt32, 4, Str(LE(i)));
    return body;
}

struct DecodeCase {
    const char* name;
    Bytes input;
    std::vector<EasyCodecItem> want;
};

std::vector<DecodeCase> DecodeCases() {
    std::vector<DecodeCase> cases;
    auto add = [&](const char* name, Bytes input, std::vector<EasyCodecItem> want) {
        cases.push_back({name, std::move(input), std::move(want)});
    };
    const EasyCodecItem emptyText = Item(kUser, "", kString, std::string());
    Bytes emptyTextItem;
    PutItem(emptyTextItem, kUser, "", kString, 0, "");
    Bytes good;
    PutItem(good, kUser, "a", kString, 2, "hi");
    const EasyCodecItem goodItem = Item(kUser, "a", kString, std::string("hi"));

    // The 20-byte threshold.
    add("TwentyBytesWithCompleteItem", Stream(false, 1, emptyTextItem), {});
    {
        Bytes b = Stream(false, 0, Bytes(17, 0));
        add("TwentyOneBytesCountZero", b, {});
    }
    {
        Bytes b = Stream(false, 1, emptyTextItem);
        b.push_back(0x55);  // trailing byte, never read
        add("TwentyOneBytesOneItem", b, {emptyText});
    }
    add("EmptyInput", {}, {});

    // Header checks.
    add("HeaderOneItem", Stream(true, 1, good), {goodItem});
    for (std::size_t pos : {4u, 5u, 6u, 7u}) {
        Bytes b = Stream(true, 1, good);
        b[pos] ^= 0x01;
        add("HeaderVersionOneByteOff", b, {});
    }
    for (std::size_t pos : {8u, 11u, 15u}) {
        Bytes b = Stream(true, 1, good);
        b[pos] = 0xFE;
        add("HeaderReservedOneByteOff", b, {});
    }
    {
        Bytes b = Stream(true, 0, {});
        b.push_back(0);
        add("HeaderCountZero", b, {});
    }
    {
        // Header and count fit, the item does not.
        Bytes b = Stream(true, 1, {});
        b.push_back(0);
        add("HeaderCountOneNoRoom", b, {});
    }

    // Count limits.
    {
        std::vector<EasyCodecItem> want;
        for (int i = 0; i < 128; ++i) want.push_back(Item(kUser, Key(i), kInt32, i));
        add("Count128", Stream(true, 128, Int32Items(128)), want);
        add("Count128Headerless", Stream(false, 128, Int32Items(128)), want);
    }
    add("Count129", Stream(true, 129, Int32Items(129)), {});
    add("CountTopBitSet", Stream(true, 0x80000001u, Int32Items(2)), {});
    add("CountTopBitSetHeaderless", Stream(false, 0x80000000u, Int32Items(2)), {});
    {
        // Fewer items than counted: those present stand; bytes after the last
        // counted item are not read.
        Bytes body = Int32Items(3);
        add("CountBelowItemsIgnoresRest", Stream(true, 2, body),
            {Item(kUser, "k0", kInt32, 0), Item(kUser, "k1", kInt32, 1)});
    }

    // Key length limits.
    {
        std::string key(64, 'K');
        Bytes body;
        PutItem(body, kUser, key, kString, 1, "v");
        add("KeyLength64", Stream(true, 1, body), {Item(kUser, key, kString, std::string("v"))});
    }
    for (std::uint32_t keyLen : {65u, 0x80000000u, 0xFFFFFFFFu}) {
        Bytes body = good;
        PutU32(body, kUser);
        PutU32(body, keyLen);
        PutRaw(body, std::string(80, 'K'));
        add("KeyLengthOutOfRangeStops", Stream(true, 2, body), {goodItem});
    }

    // Value length limits, for every value type.
    {
        std::string big(1048576, 'x');
        Bytes body;
        PutItem(body, kUser, "big", kBytes, 1048576, big);
        add("ValueLength1048576", Stream(true, 1, body),
            {Item(kUser, "big", kBytes, Bytes(big.begin(), big.end()))});
    }
    for (std::int32_t type : {kInt32, kString, kBytes, 7}) {
        Bytes body = good;
        PutItem(body, kUser, "big", type, 1048577, std::string(1048577, 'x'));
        add("ValueLength1048577Stops", Stream(true, 2, body), {goodItem});
    }
    for (std::int32_t type : {kString, kBytes}) {
        Bytes body = good;
        PutItem(body, kUser, "neg", type, 0xFFFFFFFFu, "abcd");
        add("NegativeValueLengthStops", Stream(true, 2, body), {goodItem});
    }

    // INT32 takes 4 bytes whatever its length says; unknown types take none.
    for (std::uint32_t len : {0u, 4u, 1000u, 1048576u, 0xFFFFFFFFu}) {
        Bytes body;
        PutItem(body, kUser, "n", kInt32, len, "\xFF\xFF\xFF\xFF");
        PutRaw(body, good);
        add("Int32IgnoresLength", Stream(true, 2, body), {Item(kUser, "n", kInt32, -1), goodItem});
    }
    {
        Bytes body;
        PutItem(body, kUser, "n", kInt32, 4, Str(LE(-2147483647 - 1)));
        add("Int32Minimum", Stream(false, 1, body), {Item(kUser, "n", kInt32, -2147483647 - 1)});
    }
    for (std::uint32_t len : {0u, 5u, 0xFFFFFFFFu}) {
        Bytes body;
        PutItem(body, kUser, "t", 7, len, "");
        PutRaw(body, good);
        add("UnknownValueTypeTakesNoBytes", Stream(true, 2, body),
            {Item(kUser, "t", 7, std::monostate{}), goodItem});
    }

    // Types are kept as read.
    {
        Bytes body;
        PutItem(body, -5, "odd", kString, 1, "z");
        PutItem(body, kSystem, "sys", kBytes, 0, "");
        add("TypesKeptAsRead", Stream(true, 2, body),
            {Item(-5, "odd", kString, std::string("z")), Item(kSystem, "sys", kBytes, Bytes{})});
    }
    {
        // Equal keys are all kept, in stream order.
        Bytes body;
        PutItem(body, kUser, "size", kInt32, 4, Str(LE(1)));
        PutItem(body, kUser, "size", kInt32, 4, Str(LE(2)));
        add("EqualKeysAllKept", Stream(true, 2, body),
            {Item(kUser, "size", kInt32, 1), Item(kUser, "size", kInt32, 2)});
    }
    {
        // Keys and values are bytes, zero bytes included.
        Bytes body;
        PutItem(body, kUser, std::string("a\0b", 3), kString, 3, std::string("\0\xFF\0", 3));
        add("ZeroBytesInKeyAndValue", Stream(true, 1, body),
            {Item(kUser, std::string("a\0b", 3), kString, std::string("\0\xFF\0", 3))});
    }
    return cases;
}

TEST(EasyUnmarshal, DecodeTable) {
    for (const DecodeCase& c : DecodeCases()) {
        // An exact-size heap copy lets the sanitizer see any read past the end.
        Bytes input = c.input;
        EXPECT_EQ(serialize::EasyUnmarshal(input), c.want) << c.name;
    }
}

TEST(EasyUnmarshal, StreamEndingInsideAnItemDropsIt) {
    // Three items of each value type; every cut inside item k keeps items 0..k-1.
    Bytes body;
    std::vector<std::size_t> ends;  // stream length at which each item is complete
    const std::size_t headerLen = 20;
    PutItem(body, kUser, "first", kInt32, 0, Str(LE(7)));
    ends.push_back(headerLen + body.size());
    PutItem(body, kUser, "second", kString, 5, "hello");
    ends.push_back(headerLen + body.size());
    PutItem(body, kUser, "third", kBytes, 3, "\x01\x02\x03");
    ends.push_back(headerLen + body.size());
    const Bytes full = Stream(true, 3, body);
    ASSERT_EQ(full.size(), ends.back());
    const std::vector<EasyCodecItem> all = {
        Item(kUser, "first", kInt32, 7),
        Item(kUser, "second", kString, std::string("hello")),
        Item(kUser, "third", kBytes, Bytes{1, 2, 3}),
    };

    for (std::size_t len = serialize::MIN_LEN + 1; len <= full.size(); ++len) {
        Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(len));
        std::size_t complete = 0;
        while (complete < ends.size() && ends[complete] <= len) ++complete;
        std::vector<EasyCodecItem> want(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(complete));
        EXPECT_EQ(serialize::EasyUnmarshal(cut), want) << "length " << len;
    }
}

TEST(EasyUnmarshal, LengthsClaimingMoreThanTheInputStop) {
    // Count 128 and lengths at their limits over a short input: nothing is read
    // past the end, and nothing but the complete item comes out.
    Bytes body;
    PutItem(body, kUser, "a", kString, 2, "hi");
    PutU32(body, kUser);
    PutU32(body, 64);
    PutRaw(body, "short key");
    Bytes input = Stream(false, 128, body);
    EXPECT_EQ(serialize::EasyUnmarshal(input),
              std::vector<EasyCodecItem>{Item(kUser, "a", kString, std::string("hi"))});

    Bytes value;
    PutItem(value, kUser, "v", kBytes, 1048576, "only a few bytes");
    input = Stream(true, 1, value);
    EXPECT_TRUE(serialize::EasyUnmarshal(input).empty());
}

TEST(EasyUnmarshal, WriterOutputDecodes) {
    Bytes blob = EasyCodecWriter()
                     .AddInt32("size", 2)
                     .AddString("0", "A/B")
                     .AddBytes("1", Bytes{0, 0xFF})
                     .AddInt32("sys", -3, kSystem)
                     .Encode();
    std::vector<EasyCodecItem> want = {
        Item(kUser, "size", kInt32, 2),
        Item(kUser, "0", kString, std::string("A/B")),
        Item(kUser, "1", kBytes, Bytes{0, 0xFF}),
        Item(kSystem, "sys", kInt32, -3),
    };
    EXPECT_EQ(serialize::EasyUnmarshal(blob), want);
    EXPECT_EQ(serialize::EasyUnmarshal(EasyCodecWriter()
                                           .AddInt32("size", 2)
                                           .AddString("0", "A/B")
                                           .AddBytes("1", Bytes{0, 0xFF})
                                           .AddInt32("sys", -3, kSystem)
                                           .Encode(false)),
              want);
    EXPECT_EQ(serialize::NewEasyCodecWithBytes(blob).items, want);
}

TEST(EasyUnmarshal, HeaderConstants) {
    EXPECT_EQ(Str(Bytes(serialize::ecMagicNum.begin(), serialize::ecMagicNum.end())), "vtkv");
    EXPECT_EQ(Str(Bytes(serialize::ecVersion.begin(), serialize::ecVersion.end())), "v1.0");
    EXPECT_EQ(Bytes(serialize::ecReserved.begin(), serialize::ecReserved.end()), Bytes(8, 0xFF));
}

TEST(BinaryUint32Unmarshal, ReadsLittleEndianAndStopsAtEnd) {
    const Bytes data = {0x01, 0x02, 0x03, 0x84, 0xAA, 0xBB};
    serialize::ByteStream in(data);
    std::array<std::uint8_t, 4> bs{};
    EXPECT_EQ(serialize::binaryUint32Unmarshal(in, bs), 0x84030201u);
    EXPECT_EQ(bs, (std::array<std::uint8_t, 4>{0x01, 0x02, 0x03, 0x84}));
    EXPECT_EQ(serialize::binaryUint32Unmarshal(in, bs), std::nullopt);
    EXPECT_EQ(in.Remaining(), 2u);
}

class EasyCodecLookup : public ::testing::Test {
protected:
    static serialize::EasyCodec Codec(const EasyCodecWriter& w) {
        return serialize::NewEasyCodecWithBytes(w.Encode());
    }
};

TEST_F(EasyCodecLookup, TypedGettersReturnValues) {
    auto codec = Codec(EasyCodecWriter()
                           .AddInt32("size", -1)
                           .AddString("0", "A/B")
                           .AddBytes("1", Bytes{1, 2})
                           .AddBytes("empty", Bytes{}));
    EXPECT_EQ(codec.GetInt32("size"), -1);
    EXPECT_EQ(codec.GetString("0"), "A/B");
    EXPECT_EQ(codec.GetBytes("1"), (Bytes{1, 2}));
    EXPECT_EQ(codec.GetBytes("empty"), Bytes{});
}

TEST_F(EasyCodecLookup, FailuresCarryTheirMessages) {
    auto codec = Codec(EasyCodecWriter().AddInt32("n", 5).AddString("s", "t").AddBytes("b", Bytes{1}));
    struct Case {
        std::string got;
        std::string want;
    };
    const Case cases[] = {
        {codec.GetItem("missing", serialize::EasyKeyType_USER).error().Message(),
         "not found key with keyType"},
        {codec.GetItem("n", serialize::EasyKeyType_SYSTEM).error().Message(),
         "not found key with keyType"},
        {codec.GetInt32("missing").error().Message(), "not found key or value type not int32"},
        {codec.GetInt32("s").error().Message(), "not found key or value type not int32"},
        {codec.GetString("missing").error().Message(), "not found key or value type not string"},
        {codec.GetString("b").error().Message(), "not found key or value type not string"},
        {codec.GetBytes("missing").error().Message(), "not found key or value type not bytes"},
        {codec.GetBytes("s").error().Message(), "not found key or value type not bytes"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
    // The callers' fallbacks.
    EXPECT_EQ(codec.GetInt32("s").value_or(0), 0);
    EXPECT_EQ(codec.GetString("n").value_or(""), "");
}

TEST_F(EasyCodecLookup, OnlyTheFirstUserItemWithTheKeyCounts) {
    auto twoSizes = Codec(EasyCodecWriter().AddInt32("size", 1).AddInt32("size", 2));
    EXPECT_EQ(twoSizes.GetInt32("size"), 1);

    auto stringFirst = Codec(EasyCodecWriter().AddString("size", "3").AddInt32("size", 3));
    ASSERT_FALSE(stringFirst.GetInt32("size"));
    EXPECT_EQ(stringFirst.GetInt32("size").error().Message(), "not found key or value type not int32");
}

TEST_F(EasyCodecLookup, SystemItemsOnlyThroughGetItem) {
    auto codec = Codec(EasyCodecWriter().AddInt32("size", 9, kSystem));
    EXPECT_FALSE(codec.GetInt32("size"));
    auto item = codec.GetItem("size", serialize::EasyKeyType_SYSTEM);
    ASSERT_TRUE(item);
    EXPECT_EQ(**item, Item(kSystem, "size", kInt32, 9));

    // A SYSTEM item before a USER one does not hide it.
    auto both = Codec(EasyCodecWriter().AddInt32("size", 9, kSystem).AddInt32("size", 4));
    EXPECT_EQ(both.GetInt32("size"), 4);
}

TEST_F(EasyCodecLookup, KeysCompareByteForByte) {
    auto codec = Codec(EasyCodecWriter().AddString(std::string("a\0b", 3), "zero").AddString("a", "plain"));
    EXPECT_EQ(codec.GetString("a"), "plain");
    EXPECT_EQ(codec.GetString(std::string("a\0b", 3)), "zero");
    EXPECT_FALSE(codec.GetString("A"));
    EXPECT_FALSE(codec.GetString(std::string("a\0", 2)));
}

}  // namespace
