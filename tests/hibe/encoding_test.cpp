#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "hibe/scheme.h"
#include "test_support.h"

namespace {

using hibe_test::Enc;

// A slot that no G1 decoder accepts: (1, 1) is not on y² = x³ + 3.
common::Bytes OffCurveSlot() {
    common::Bytes slot(64, 0);
    slot[31] = 1;
    slot[63] = 1;
    return slot;
}

// The 32-byte big-endian field prime p.
common::Bytes Modulus() {
    const char* hex = "30644e72e131a029b85045b68181585d97816a916871ca8d3c208c16d87cfd47";
    common::Bytes p(32);
    for (int i = 0; i < 32; ++i) {
        p[i] = static_cast<std::uint8_t>(std::stoi(std::string(hex + 2 * i, 2), nullptr, 16));
    }
    return p;
}

void Overwrite(common::Bytes& encoded, std::size_t offset, const common::Bytes& with) {
    std::copy(with.begin(), with.end(), encoded.begin() + static_cast<std::ptrdiff_t>(offset));
}

class EncodingTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto setup = hibe::Setup(rand, 3);
        ASSERT_TRUE(setup);
        params = std::move(setup->params);
        master = std::move(setup->masterKey);
        auto key = hibe::KeyGenFromMaster(rand, params, master, {mpz_class(11)});
        ASSERT_TRUE(key);
        key1 = std::move(*key);
        auto ct = hibe::Encrypt(rand, params, {mpz_class(11)}, hibe_test::GTOne());
        ASSERT_TRUE(ct);
        ciphertext = std::move(*ct);
    }

    common::RandomSource& rand = common::SystemRandom();
    hibe::Params params;
    hibe::MasterKey master;
    hibe::PrivateKey key1;  // depth 1 of 3: two B entries
    hibe::Ciphertext ciphertext;
};

TEST_F(EncodingTest, SizesFollowTheListLengths) {
    for (std::int64_t l : {0, 1, 3}) {
        auto setup = hibe::Setup(rand, l);
        ASSERT_TRUE(setup);
        EXPECT_EQ(setup->params.Marshal().size(), 384u + 64u * static_cast<std::size_t>(l));
        hibe::HibeId v;
        for (std::int64_t k = 0; k <= l; ++k) {
            auto key = hibe::KeyGenFromMaster(rand, setup->params, setup->masterKey, v);
            ASSERT_TRUE(key);
            EXPECT_EQ(key->Marshal().size(), 192u + 64u * static_cast<std::size_t>(l - k));
            auto ct = hibe::Encrypt(rand, setup->params, v, hibe_test::GTOne());
            ASSERT_TRUE(ct);
            EXPECT_EQ(ct->Marshal().size(), 576u);
            v.push_back(mpz_class(k + 1));
        }
    }
}

TEST_F(EncodingTest, SlotsHoldTheElementEncodingsInFieldOrder) {
    common::Bytes p = params.Marshal();
    auto slot = [&](const common::Bytes& b, std::size_t index, std::size_t len) {
        return common::Bytes(b.begin() + 64 * index, b.begin() + 64 * (index + len));
    };
    EXPECT_EQ(slot(p, 0, 2), Enc(params.G));
    EXPECT_EQ(slot(p, 2, 2), Enc(params.G1));
    EXPECT_EQ(slot(p, 4, 1), Enc(params.G2));
    EXPECT_EQ(slot(p, 5, 1), Enc(params.G3));
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(slot(p, 6 + i, 1), Enc(params.H[i]));

    common::Bytes k = key1.Marshal();
    EXPECT_EQ(slot(k, 0, 1), Enc(key1.A0));
    EXPECT_EQ(slot(k, 1, 2), Enc(key1.A1));
    EXPECT_EQ(slot(k, 3, 1), Enc(key1.B[0]));
    EXPECT_EQ(slot(k, 4, 1), Enc(key1.B[1]));

    common::Bytes c = ciphertext.Marshal();
    EXPECT_EQ(slot(c, 0, 6), Enc(ciphertext.A));
    EXPECT_EQ(slot(c, 6, 2), Enc(ciphertext.B));
    EXPECT_EQ(slot(c, 8, 1), Enc(ciphertext.C));
}

// Decoding then encoding gives back the input; the decoded parameters start
// without a pairing cache even when the receiver had one.
TEST_F(EncodingTest, DecodeThenEncodeReturnsTheInput) {
    ASSERT_TRUE(hibe::Encrypt(rand, params, {}, hibe_test::GTOne()));
    ASSERT_TRUE(params.Pairing);
    common::Bytes p = params.Marshal();
    EXPECT_EQ(params.Marshal(), p) << "encoding twice, after normalisation";
    hibe::Params decoded;
    decoded.Pairing = hibe_test::GTOne();
    auto [pp, pok] = decoded.Unmarshal(p);
    ASSERT_TRUE(pok);
    EXPECT_EQ(pp, &decoded);
    EXPECT_FALSE(decoded.Pairing);
    EXPECT_EQ(decoded.H.size(), 3u);
    EXPECT_EQ(decoded.Marshal(), p);

    common::Bytes k = key1.Marshal();
    hibe::PrivateKey dk;
    auto [kp, kok] = dk.Unmarshal(k);
    ASSERT_TRUE(kok);
    EXPECT_EQ(kp, &dk);
    EXPECT_EQ(dk.DepthLeft(), 2);
    EXPECT_EQ(dk.Marshal(), k);

    common::Bytes c = ciphertext.Marshal();
    hibe::Ciphertext dc;
    auto [cp, cok] = dc.Unmarshal(c);
    ASSERT_TRUE(cok);
    EXPECT_EQ(cp, &dc);
    EXPECT_EQ(dc.Marshal(), c);

    // The decoded records still work together.
    EXPECT_EQ(Enc(hibe::Decrypt(dk, dc)), Enc(hibe_test::GTOne()));
}

// The keys wipe what they overwrite and hold; assignment still carries the value
// over, whatever the receiver held before (another depth included).
TEST_F(EncodingTest, KeyAssignmentsCarryTheValueAndWipeLeavesZeros) {
    auto deeper = hibe::KeyGenFromMaster(rand, params, master, {mpz_class(11), mpz_class(12)});
    ASSERT_TRUE(deeper);
    const common::Bytes k = key1.Marshal();

    hibe::PrivateKey copied = *deeper;
    copied = key1;
    EXPECT_EQ(copied.Marshal(), k);
    hibe::PrivateKey moved = *deeper;
    moved = std::move(copied);
    EXPECT_EQ(moved.Marshal(), k);
    hibe::PrivateKey self = key1;
    self = std::move(self);
    EXPECT_EQ(self.Marshal(), k);

    moved.Wipe();
    for (const bn256::G1* g : {&moved.A0, &moved.B[0], &moved.B[1]}) {
        EXPECT_TRUE(g->p->x.IsZero() && g->p->y.IsZero() && g->p->z.IsZero());
    }
    EXPECT_TRUE(moved.A1.p->x.x.IsZero() && moved.A1.p->y.y.IsZero());
}

TEST_F(EncodingTest, MinimalLengthsDecodeToEmptyLists) {
    common::Bytes p = params.Marshal();
    p.resize(384);
    hibe::Params dp;
    auto [pp, pok] = dp.Unmarshal(p);
    ASSERT_TRUE(pok);
    EXPECT_TRUE(dp.H.empty());
    EXPECT_EQ(dp.Marshal(), p);

    common::Bytes k = key1.Marshal();
    k.resize(192);
    hibe::PrivateKey dk;
    auto [kp, kok] = dk.Unmarshal(k);
    ASSERT_TRUE(kok);
    EXPECT_EQ(dk.DepthLeft(), 0);
}

// A length that is not whole slots, or too short, is rejected with no record and
// leaves the receiver untouched.
TEST_F(EncodingTest, WrongLengthsAreRejected) {
    common::Bytes p = params.Marshal();
    p.resize(1024, 0);
    for (std::size_t n : {0u, 63u, 320u, 383u, 385u, 447u, 449u}) {
        hibe::Params receiver;
        receiver.Pairing = hibe_test::GTOne();
        auto [got, ok] = receiver.Unmarshal(common::ByteView(p).first(n));
        EXPECT_FALSE(ok) << n;
        EXPECT_EQ(got, nullptr) << n;
        EXPECT_TRUE(receiver.Pairing) << n;
    }
    common::Bytes k = key1.Marshal();
    k.resize(1024, 0);
    for (std::size_t n : {0u, 64u, 128u, 191u, 193u, 255u, 257u}) {
        hibe::PrivateKey receiver;
        auto [got, ok] = receiver.Unmarshal(common::ByteView(k).first(n));
        EXPECT_FALSE(ok) << n;
        EXPECT_EQ(got, nullptr) << n;
    }
    common::Bytes c = ciphertext.Marshal();
    c.resize(1024, 0);
    for (std::size_t n : {0u, 384u, 512u, 575u, 577u, 640u}) {
        hibe::Ciphertext receiver;
        auto [got, ok] = receiver.Unmarshal(common::ByteView(c).first(n));
        EXPECT_FALSE(ok) << n;
        EXPECT_EQ(got, nullptr) << n;
    }
}

// A fixed element that does not decode gives no record; a list entry that does
// not decode gives the receiver, holding the entries before it, and flag false.
TEST_F(EncodingTest, BadElementsAreRejected) {
    const common::Bytes p = params.Marshal();
    struct ParamsCase {
        const char* name;
        std::size_t offset;
        common::Bytes with;
        bool receiverBack;
        std::size_t entriesBefore;
    };
    common::Bytes atModulus = Modulus();
    ParamsCase cases[] = {
        {"G x equals p", 0, atModulus, false, 0},
        {"G1 y exceeds p", 128 + 64, common::Bytes(32, 0xff), false, 0},
        {"G2 off curve", 256, OffCurveSlot(), false, 0},
        {"G3 off curve", 320, OffCurveSlot(), false, 0},
        {"H[0] off curve", 384, OffCurveSlot(), true, 0},
        {"H[2] off curve", 384 + 128, OffCurveSlot(), true, 2},
        {"H[1] x equals p", 384 + 64, atModulus, true, 1},
    };
    for (const ParamsCase& c : cases) {
        common::Bytes bad = p;
        Overwrite(bad, c.offset, c.with);
        hibe::Params receiver;
        auto [got, ok] = receiver.Unmarshal(bad);
        EXPECT_FALSE(ok) << c.name;
        if (c.receiverBack) {
            EXPECT_EQ(got, &receiver) << c.name;
            ASSERT_EQ(receiver.H.size(), c.entriesBefore) << c.name;
            for (std::size_t i = 0; i < c.entriesBefore; ++i) {
                EXPECT_EQ(Enc(receiver.H[i]), Enc(params.H[i])) << c.name;
            }
            EXPECT_EQ(Enc(receiver.G3), Enc(params.G3)) << c.name;
        } else {
            EXPECT_EQ(got, nullptr) << c.name;
        }
    }

    const common::Bytes k = key1.Marshal();
    for (auto [offset, receiverBack] : {std::pair{0u, false}, {64u, false}, {192u + 64u, true}}) {
        common::Bytes bad = k;
        Overwrite(bad, offset, OffCurveSlot());
        hibe::PrivateKey receiver;
        auto [got, ok] = receiver.Unmarshal(bad);
        EXPECT_FALSE(ok) << offset;
        EXPECT_EQ(got, receiverBack ? &receiver : nullptr) << offset;
        if (receiverBack) {
            EXPECT_EQ(receiver.B.size(), 1u);
        }
    }

    const common::Bytes c = ciphertext.Marshal();
    for (std::size_t offset : {0u, 352u, 384u, 512u}) {
        common::Bytes bad = c;
        Overwrite(bad, offset, offset < 384 ? atModulus : OffCurveSlot());
        hibe::Ciphertext receiver;
        auto [got, ok] = receiver.Unmarshal(bad);
        EXPECT_FALSE(ok) << offset;
        EXPECT_EQ(got, nullptr) << offset;
    }
}

// All-zero element slots are the points at infinity (G1, G2) or the zero field
// value (GT, only range-checked); all are accepted and encode back to zeros.
TEST_F(EncodingTest, AllZeroSlotsAreAccepted) {
    common::Bytes p = params.Marshal();
    std::fill(p.begin(), p.begin() + 128, 0);
    std::fill(p.begin() + 384 + 64, p.begin() + 384 + 128, 0);  // H[1]
    hibe::Params dp;
    auto [pp, pok] = dp.Unmarshal(p);
    ASSERT_TRUE(pok);
    EXPECT_EQ(Enc(dp.G), common::Bytes(128, 0));
    EXPECT_EQ(dp.Marshal(), p);

    common::Bytes c = ciphertext.Marshal();
    std::fill(c.begin(), c.begin() + 384, 0);
    hibe::Ciphertext dc;
    auto [cp, cok] = dc.Unmarshal(c);
    ASSERT_TRUE(cok);
    EXPECT_EQ(dc.Marshal(), c);

    hibe::PrivateKey dk;
    auto [kp, kok] = dk.Unmarshal(common::Bytes(192 + 64, 0));
    ASSERT_TRUE(kok);
    EXPECT_EQ(dk.DepthLeft(), 1);
}

}  // namespace
