#include "hibe/scheme.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "bn256/constants.h"
#include "test_support.h"

namespace {

using hibe_test::Enc;
using hibe_test::RecordingRandom;

constexpr std::int64_t kDepth = 3;

// One hierarchy of depth 3, a three-level identity vector with 256-bit levels,
// and a sibling vector that shares the first two levels.
class SchemeTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto setup = hibe::Setup(rand, kDepth);
        ASSERT_TRUE(setup);
        params = std::move(setup->params);
        master = std::move(setup->masterKey);
        RecordingRandom levels(99);
        for (int i = 0; i < kDepth; ++i) id.push_back(hibe_test::Level(levels));
        sibling = {id[0], id[1], hibe_test::Level(levels)};
    }

    static hibe::HibeId Prefix(const hibe::HibeId& v, std::size_t k) {
        return hibe::HibeId(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k));
    }

    hibe::PrivateKey MasterKeyFor(const hibe::HibeId& v) {
        auto key = hibe::KeyGenFromMaster(rand, params, master, v);
        EXPECT_TRUE(key);
        return key ? std::move(*key) : hibe::PrivateKey{};
    }

    hibe::Ciphertext EncryptTo(const hibe::HibeId& v, const bn256::GT& m) {
        auto ct = hibe::Encrypt(rand, params, v, m);
        EXPECT_TRUE(ct);
        return ct ? std::move(*ct) : hibe::Ciphertext{};
    }

    // Messages: the GT identity, the pairing of the generators, a random element.
    std::vector<bn256::GT> Messages() {
        bn256::G1 g1;
        g1.ScalarBaseMult(1);
        bn256::G2 g2;
        g2.ScalarBaseMult(1);
        auto r1 = bn256::RandomG1(rand);
        auto r2 = bn256::RandomG2(rand);
        EXPECT_TRUE(r1 && r2);
        return {hibe_test::GTOne(), bn256::Pair(g1, g2), bn256::Pair(r1->element, r2->element)};
    }

    common::RandomSource& rand = common::SystemRandom();
    hibe::Params params;
    hibe::MasterKey master;
    hibe::HibeId id;
    hibe::HibeId sibling;
};

TEST_F(SchemeTest, MasterKeyDecryptsEveryMessageAtEveryDepth) {
    for (std::size_t k = 0; k <= kDepth; ++k) {
        hibe::HibeId v = Prefix(id, k);
        hibe::PrivateKey key = MasterKeyFor(v);
        EXPECT_EQ(key.DepthLeft(), kDepth - static_cast<std::int64_t>(k));
        for (const bn256::GT& m : Messages()) {
            hibe::Ciphertext ct = EncryptTo(v, m);
            EXPECT_EQ(Enc(hibe::Decrypt(key, ct)), Enc(m)) << "depth " << k;
        }
    }
}

TEST_F(SchemeTest, KeyDerivedLevelByLevelDecryptsAndDiffersFromMasterMadeKey) {
    hibe::PrivateKey key = MasterKeyFor(Prefix(id, 1));
    for (std::size_t k = 2; k <= kDepth; ++k) {
        hibe::HibeId v = Prefix(id, k);
        auto child = hibe::KeyGenFromParent(rand, params, key, v);
        ASSERT_TRUE(child) << child.error().Message();
        key = std::move(*child);
        EXPECT_EQ(key.DepthLeft(), kDepth - static_cast<std::int64_t>(k));
        EXPECT_NE(key.Marshal(), MasterKeyFor(v).Marshal());
        for (const bn256::GT& m : Messages()) {
            hibe::Ciphertext ct = EncryptTo(v, m);
            EXPECT_EQ(Enc(hibe::Decrypt(key, ct)), Enc(m)) << "depth " << k;
        }
    }
}

TEST_F(SchemeTest, KeyOfAnotherIdentityYieldsAnotherElement) {
    bn256::GT m = Messages()[2];
    hibe::Ciphertext forLeaf = EncryptTo(id, m);
    hibe::Ciphertext forMiddle = EncryptTo(Prefix(id, 2), m);
    struct Case {
        const char* name;
        hibe::PrivateKey key;
        const hibe::Ciphertext* ct;
    };
    auto parent = MasterKeyFor(Prefix(id, 2));
    Case cases[] = {
        {"ancestor", parent, &forLeaf},
        {"descendant", MasterKeyFor(id), &forMiddle},
        {"sibling", MasterKeyFor(sibling), &forLeaf},
        {"root", MasterKeyFor({}), &forLeaf},
    };
    for (const Case& c : cases) {
        EXPECT_NE(Enc(hibe::Decrypt(c.key, *c.ct)), Enc(m)) << c.name;
    }

    // Derived from the key of another identity than its first levels: no error,
    // and the key decrypts nothing.
    hibe::HibeId stranger = {id[1], id[0], id[2]};
    auto foreign = hibe::KeyGenFromParent(rand, params, parent, stranger);
    ASSERT_TRUE(foreign);
    EXPECT_NE(Enc(hibe::Decrypt(*foreign, EncryptTo(stranger, m))), Enc(m));
}

TEST_F(SchemeTest, CiphertextHasTheSameSizeAtEveryDepth) {
    for (std::size_t k = 0; k <= kDepth; ++k) {
        EXPECT_EQ(EncryptTo(Prefix(id, k), hibe_test::GTOne()).Marshal().size(), 576u);
    }
}

TEST_F(SchemeTest, FirstEncryptFillsPairingCacheAndLaterOnesReuseIt) {
    EXPECT_FALSE(params.Pairing);
    EncryptTo(id, hibe_test::GTOne());
    ASSERT_TRUE(params.Pairing);
    EXPECT_EQ(Enc(*params.Pairing), Enc(bn256::Pair(params.G2, params.G1)));

    // A planted cache value of 1 makes A = 1^s · M = M: the cache is read, not
    // recomputed.
    params.Pairing = hibe_test::GTOne();
    bn256::GT m = Messages()[2];
    EXPECT_EQ(Enc(EncryptTo(id, m).A), Enc(m));
    EXPECT_EQ(Enc(*params.Pairing), Enc(hibe_test::GTOne()));
}

// Setup draws one G2 element (G), one scalar (alpha), then G2, G3, H[0..l-1].
TEST(SetupTest, DrawsG2ElementThenScalarThenG1Elements) {
    for (std::int64_t l : {0, 1, 3}) {
        RecordingRandom rand(7);
        auto setup = hibe::Setup(rand, l);
        ASSERT_TRUE(setup);
        const hibe::Params& p = setup->params;
        ASSERT_EQ(rand.draws().size(), static_cast<std::size_t>(4 + l));
        ASSERT_EQ(p.H.size(), static_cast<std::size_t>(l));
        EXPECT_FALSE(p.Pairing);

        bn256::G2 g, g1;
        g.ScalarBaseMult(rand.scalar(0));
        g1.ScalarMult(g, rand.scalar(1));
        EXPECT_EQ(Enc(p.G), Enc(g));
        EXPECT_EQ(Enc(p.G1), Enc(g1));
        bn256::G1 e;
        EXPECT_EQ(Enc(p.G2), Enc(e.ScalarBaseMult(rand.scalar(2))));
        EXPECT_EQ(Enc(p.G3), Enc(e.ScalarBaseMult(rand.scalar(3))));
        for (std::size_t i = 0; i < p.H.size(); ++i) {
            EXPECT_EQ(Enc(p.H[i]), Enc(e.ScalarBaseMult(rand.scalar(4 + i))));
        }
        EXPECT_EQ(Enc(setup->masterKey.Key), Enc(e.ScalarMult(p.G2, rand.scalar(1))));
    }
}

TEST(SetupTest, DepthZeroGivesEmptyHAndOnlyTheRootKey) {
    auto setup = hibe::Setup(common::SystemRandom(), 0);
    ASSERT_TRUE(setup);
    EXPECT_TRUE(setup->params.H.empty());
    auto root = hibe::KeyGenFromMaster(common::SystemRandom(), setup->params,
                                       setup->masterKey, {});
    ASSERT_TRUE(root);
    EXPECT_TRUE(root->B.empty());
    auto one = hibe::KeyGenFromMaster(common::SystemRandom(), setup->params, setup->masterKey,
                                      {mpz_class(1)});
    ASSERT_FALSE(one);
    EXPECT_EQ(one.error().Message(), "Cannot generate key at greater than maximum depth.");
}

// A source that refuses its n-th draw makes every operation fail with that very
// error and no record, after exactly n draws.
TEST_F(SchemeTest, FailingSourceFailsEachOperationWithItsOwnError) {
    for (std::size_t n = 1; n <= 4 + kDepth; ++n) {
        RecordingRandom failing(3, n);
        auto got = hibe::Setup(failing, kDepth);
        ASSERT_FALSE(got) << "Setup, draw " << n;
        EXPECT_TRUE(got.error().SameAs(failing.error()));
        EXPECT_EQ(failing.calls(), n);
    }

    hibe::PrivateKey parent = MasterKeyFor(Prefix(id, 2));
    {
        RecordingRandom failing(3, 1);
        auto got = hibe::KeyGenFromMaster(failing, params, master, id);
        ASSERT_FALSE(got);
        EXPECT_TRUE(got.error().SameAs(failing.error()));
    }
    {
        RecordingRandom failing(3, 1);
        auto got = hibe::KeyGenFromParent(failing, params, parent, id);
        ASSERT_FALSE(got);
        EXPECT_TRUE(got.error().SameAs(failing.error()));
    }
    {
        RecordingRandom failing(3, 1);
        auto got = hibe::Encrypt(failing, params, id, hibe_test::GTOne());
        ASSERT_FALSE(got);
        EXPECT_TRUE(got.error().SameAs(failing.error()));
        EXPECT_FALSE(params.Pairing) << "an empty cache stays empty";
    }
    {
        params.Pairing = hibe_test::GTOne();
        RecordingRandom failing(3, 1);
        auto got = hibe::Encrypt(failing, params, id, hibe_test::GTOne());
        ASSERT_FALSE(got);
        ASSERT_TRUE(params.Pairing);
        EXPECT_EQ(Enc(*params.Pairing), Enc(hibe_test::GTOne())) << "a filled cache is kept";
    }
}

// Each rejection comes before the first draw: the source is never called, and
// Encrypt leaves the cache empty.
TEST_F(SchemeTest, DepthErrorsComeInOrderBeforeAnyDraw) {
    hibe::HibeId tooDeep = id;
    tooDeep.push_back(mpz_class(5));
    hibe::PrivateKey leaf = MasterKeyFor(id);          // DepthLeft 0
    hibe::PrivateKey middle = MasterKeyFor(Prefix(id, 2));  // DepthLeft 1

    struct Case {
        const char* name;
        std::function<common::Status(common::RandomSource&)> call;
        std::string message;
    };
    auto status = [](auto result) -> common::Status {
        if (!result) return common::Fail(result.error());
        return {};
    };
    Case cases[] = {
        {"Setup negative depth", [&](auto& r) { return status(hibe::Setup(r, -1)); },
         "Cannot set up params with negative maximum depth"},
        {"FromMaster too deep",
         [&](auto& r) { return status(hibe::KeyGenFromMaster(r, params, master, tooDeep)); },
         "Cannot generate key at greater than maximum depth."},
        // Too deep and not a child at once: the depth is checked first.
        {"FromParent too deep",
         [&](auto& r) { return status(hibe::KeyGenFromParent(r, params, middle, tooDeep)); },
         "Cannot generate key at greater than maximum depth"},
        {"FromParent too deep from fitting parent",
         [&](auto& r) { return status(hibe::KeyGenFromParent(r, params, leaf, tooDeep)); },
         "Cannot generate key at greater than maximum depth"},
        {"FromParent not the child",
         [&](auto& r) { return status(hibe::KeyGenFromParent(r, params, leaf, id)); },
         "Trying to generate key at depth that is not the child of the provided parent"},
        {"FromParent parent two levels up",
         [&](auto& r) {
             return status(hibe::KeyGenFromParent(r, params, MasterKeyFor(Prefix(id, 1)), id));
         },
         "Trying to generate key at depth that is not the child of the provided parent"},
        {"FromParent empty id",
         [&](auto& r) { return status(hibe::KeyGenFromParent(r, params, middle, {})); },
         "Cannot generate child key for an empty identity"},
        {"Encrypt too deep",
         [&](auto& r) { return status(hibe::Encrypt(r, params, tooDeep, hibe_test::GTOne())); },
         "Cannot encrypt to identity at greater than maximum depth of the params"},
    };
    for (const Case& c : cases) {
        RecordingRandom never(1, 1);
        common::Status got = c.call(never);
        ASSERT_FALSE(got) << c.name;
        EXPECT_EQ(got.error().Message(), c.message) << c.name;
        EXPECT_EQ(never.calls(), 0u) << c.name;
    }
    EXPECT_FALSE(params.Pairing);
}

TEST_F(SchemeTest, KeyAtMaximumDepthHasEmptyB) {
    EXPECT_TRUE(MasterKeyFor(id).B.empty());
    auto child = hibe::KeyGenFromParent(rand, params, MasterKeyFor(Prefix(id, 2)), id);
    ASSERT_TRUE(child);
    EXPECT_TRUE(child->B.empty());
}

}  // namespace
