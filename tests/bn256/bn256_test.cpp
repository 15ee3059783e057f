#include "bn256/bn256.h"

#include <gtest/gtest.h>
#include <gmpxx.h>

#include <fstream>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "bn256/constants.h"

namespace bn256 {
namespace {

using common::Bytes;

// A reproducible random source for tests.
class TestRandom final : public common::RandomSource {
public:
    explicit TestRandom(std::uint64_t seed) : engine_(seed) {}
    common::Status Fill(std::span<std::uint8_t> out) override {
        for (auto& b : out) b = static_cast<std::uint8_t>(engine_());
        return {};
    }

private:
    std::mt19937_64 engine_;
};

// Yields `zeros` all-zero draws of 32 bytes first, then the bytes 0x01, 0x02, ...
class ZerosFirstRandom final : public common::RandomSource {
public:
    explicit ZerosFirstRandom(int zeros) : zeros_(zeros) {}
    common::Status Fill(std::span<std::uint8_t> out) override {
        ++calls;
        for (std::size_t i = 0; i < out.size(); ++i) out[i] = zeros_ > 0 ? 0 : static_cast<std::uint8_t>(i + 1);
        --zeros_;
        return {};
    }
    int calls = 0;

private:
    int zeros_;
};

class FailingRandom final : public common::RandomSource {
public:
    common::Status Fill(std::span<std::uint8_t>) override { return common::Fail("source broke"); }
};

Bytes fromHex(const std::string& hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// The 32-byte big-endian form of v.
Bytes be32(const mpz_class& v) {
    Bytes out(32, 0);
    std::size_t count = 0;
    std::uint8_t buf[64];
    mpz_export(buf, &count, 1, 1, 1, 0, v.get_mpz_t());
    std::copy(buf, buf + count, out.end() - static_cast<std::ptrdiff_t>(count));
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

mpz_class fromBytes(const Bytes& b, std::size_t offset) {
    mpz_class v;
    mpz_import(v.get_mpz_t(), 32, 1, 1, 1, 0, b.data() + offset);
    return v;
}

G1 g1Base() {
    G1 e;
    e.ScalarBaseMult(1);
    return e;
}

G2 g2Base() {
    G2 e;
    e.ScalarBaseMult(1);
    return e;
}

Bytes gtOne() {
    Bytes out(384, 0);
    out[383] = 1;
    return out;
}

const mpz_class kTwoTo256Minus1 = (mpz_class(1) << 256) - 1;

class Groups : public ::testing::Test {
protected:
    TestRandom rand{2024};
    gmp_randclass rng{gmp_randinit_default};
    void SetUp() override { rng.seed(5); }
    mpz_class scalar() { return rng.get_z_range(Order); }
};

// ---- known answers ----

TEST_F(Groups, GeneratorEncodings) {
    Bytes want1(64, 0);
    want1[31] = 1;
    want1[63] = 2;
    EXPECT_EQ(g1Base().Marshal(), want1);

    const Bytes want2 = concat({
        be32(mpz_class("11559732032986387107991004021392285783925812861821192530917403151452391805634")),
        be32(mpz_class("10857046999023057135944570762232829481370756359578518086990519993285655852781")),
        be32(mpz_class("4082367875863433681332203403145435568316851327593401208105741076214120093531")),
        be32(mpz_class("8495653923123431417604973247489272438418190587263600148770280649306958101930")),
    });
    EXPECT_EQ(g2Base().Marshal(), want2);
}

TEST_F(Groups, PairingOfGeneratorsMatchesKnownEncoding) {
    std::ifstream file(std::string(HIBE_TEST_DATA) + "/pair-g1-g2.hex");
    ASSERT_TRUE(file) << "missing pair-g1-g2.hex";
    std::stringstream text;
    text << file.rdbuf();
    std::string hex = text.str();
    while (!hex.empty() && (hex.back() == '\n' || hex.back() == '\r' || hex.back() == ' ')) hex.pop_back();
    const Bytes want = fromHex(hex);
    ASSERT_EQ(want.size(), 384u);

    const Bytes got = Pair(g1Base(), g2Base()).Marshal();
    EXPECT_EQ(fromBytes(got, 0),
              mpz_class("7484542354754424633621663080190936924481536615300815203692506276894207018007"));
    EXPECT_EQ(fromBytes(got, 352),
              mpz_class("8493334370784016972005089913588211327688223499729897951716206968320726508021"));
    EXPECT_EQ(got, want);
}

// ---- group laws ----

TEST_F(Groups, PairingIsBilinearAndIdentityPairsToOne) {
    const GT base = Pair(g1Base(), g2Base());
    const mpz_class a = scalar(), b = scalar();
    G1 pa;
    pa.ScalarBaseMult(a);
    G2 qb;
    qb.ScalarBaseMult(b);
    GT want;
    want.ScalarMult(base, a * b);
    EXPECT_EQ(Pair(pa, qb).Marshal(), want.Marshal());

    // e(P1 + P2, Q) = e(P1, Q) + e(P2, Q) in additive notation.
    G1 pb, sum;
    pb.ScalarBaseMult(b);
    sum.Add(pa, pb);
    GT right;
    right.Add(Pair(pa, qb), Pair(pb, qb));
    EXPECT_EQ(Pair(sum, qb).Marshal(), right.Marshal());

    G1 inf1;
    inf1.ScalarBaseMult(0);
    G2 inf2;
    inf2.ScalarBaseMult(Order);
    EXPECT_EQ(Pair(inf1, qb).Marshal(), gtOne());
    EXPECT_EQ(Pair(pa, inf2).Marshal(), gtOne());
}

TEST_F(Groups, OrderTimesElementIsIdentity) {
    G1 p1;
    p1.ScalarBaseMult(scalar());
    G1 r1;
    r1.ScalarMult(p1, Order);
    EXPECT_EQ(r1.Marshal(), Bytes(64, 0));

    G2 p2;
    p2.ScalarBaseMult(scalar());
    G2 r2;
    r2.ScalarMult(p2, Order);
    EXPECT_EQ(r2.Marshal(), Bytes(128, 0));

    GT t = Pair(p1, p2);
    GT rt;
    rt.ScalarMult(t, Order);
    EXPECT_EQ(rt.Marshal(), gtOne());

    GT inv, prod;
    inv.Neg(t);
    prod.Add(t, inv);
    EXPECT_EQ(prod.Marshal(), gtOne());
}

TEST_F(Groups, OperationsAcceptReceiverAliasingOperand) {
    const mpz_class k = scalar();
    G1 a;
    a.ScalarBaseMult(scalar());
    {
        G1 want, e;
        want.ScalarMult(a, 2);
        e.Set(a);
        e.Add(e, e);
        EXPECT_EQ(e.Marshal(), want.Marshal());
        want.ScalarMult(a, k);
        e.Set(a);
        e.ScalarMult(e, k);
        EXPECT_EQ(e.Marshal(), want.Marshal());
        G1 b;
        b.ScalarBaseMult(7);
        want.Add(a, b);
        e.Set(a);
        e.Add(e, b);
        EXPECT_EQ(e.Marshal(), want.Marshal());
        e.Set(b);
        e.Add(a, e);
        EXPECT_EQ(e.Marshal(), want.Marshal());
    }
    G2 q;
    q.ScalarBaseMult(scalar());
    {
        G2 want, e;
        want.ScalarMult(q, 2);
        e.ScalarMult(q, 1);
        e.Add(e, e);
        EXPECT_EQ(e.Marshal(), want.Marshal());
        want.ScalarMult(q, k);
        e.ScalarMult(q, 1);
        e.ScalarMult(e, k);
        EXPECT_EQ(e.Marshal(), want.Marshal());
    }
    const GT t = Pair(a, q);
    {
        GT want, e;
        want.ScalarMult(t, 2);
        e = t;
        e.Add(e, e);
        EXPECT_EQ(e.Marshal(), want.Marshal());
        want.ScalarMult(t, k);
        e = t;
        e.ScalarMult(e, k);
        EXPECT_EQ(e.Marshal(), want.Marshal());
        want.Neg(t);
        e = t;
        e.Neg(e);
        EXPECT_EQ(e.Marshal(), want.Marshal());
    }
}

// The GT power equals the plain square-and-multiply of gfP12::Exp for every
// element, members of GT or not, zero included.
TEST_F(Groups, GTScalarMultIsExactPowerOfAnyElement) {
    GT member = Pair(g1Base(), g2Base());
    GT arbitrary, zero;
    Bytes m;
    for (int i = 0; i < 12; ++i) {
        const Bytes c = be32(mpz_class(1000003) * (i + 1));
        m.insert(m.end(), c.begin(), c.end());
    }
    ASSERT_TRUE(arbitrary.Unmarshal(m));
    ASSERT_TRUE(zero.Unmarshal(Bytes(384, 0)));
    std::vector<mpz_class> scalars = {0, 1, 2, 3, 7, 8, 15, 16, 17, 31, 0x9f, 0x1001, Order - 1, Order,
                                      kTwoTo256Minus1};
    for (int i = 0; i < 5; ++i) scalars.push_back(scalar());
    for (const GT* a : {&member, &arbitrary, &zero}) {
        for (const mpz_class& k : scalars) {
            gfP12 want;
            want.Exp(*a->p, k);
            GT e;
            e.ScalarMult(*a, k);
            EXPECT_TRUE(*e.p == want) << k.get_str();
        }
    }
}

// The Frobenius route gives the value of gfP12::Exp on GT: pairing outputs,
// their products and inverses, and one; for edge scalars, scalars beyond Order,
// random ones, and with the result aliasing the operand.
TEST_F(Groups, ExpInGTMatchesExpOnGT) {
    const GT base = Pair(g1Base(), g2Base());
    G1 a;
    G2 b;
    a.ScalarBaseMult(scalar());
    b.ScalarBaseMult(scalar());
    GT random = Pair(a, b), product, inverse, one;
    product.Add(base, random);
    inverse.Neg(random);
    one.p.emplace().SetOne();
    std::vector<mpz_class> scalars = {0, 1, 2, 15, 16, 17, Order - 1, Order, Order + 1, 3 * Order + 2,
                                      kTwoTo256Minus1};
    for (int i = 0; i < 4; ++i) scalars.push_back(scalar());
    const GT* const elements[] = {&base, &random, &product, &inverse, &one};
    for (const GT* e : elements) {
        for (const mpz_class& k : scalars) {
            SCOPED_TRACE(k.get_str());
            gfP12 want, got, self = *e->p;
            want.Exp(*e->p, k);
            expInGT(got, *e->p, k);
            expInGT(self, self, k);
            EXPECT_TRUE(got == want);
            EXPECT_TRUE(self == want);
        }
    }
}

// Outside GT the two routes part: on an arbitrary GF(p^12) element the Frobenius
// route is not the power, which is why a decoded element keeps the plain route.
TEST_F(Groups, PowerRoutesDifferOutsideGT) {
    Bytes m;
    for (int i = 0; i < 12; ++i) {
        const Bytes c = be32(mpz_class(7919) * (i + 3));
        m.insert(m.end(), c.begin(), c.end());
    }
    GT decoded;
    ASSERT_TRUE(decoded.Unmarshal(m));
    const mpz_class k = scalar();
    gfP12 plain, fast;
    plain.Exp(*decoded.p, k);
    expInGT(fast, *decoded.p, k);
    EXPECT_FALSE(fast == plain);
    GT e;
    e.ScalarMult(decoded, k);
    EXPECT_TRUE(*e.p == plain);
}

// What is known to be in GT: pairing outputs, the identity, and what Add, Neg
// and ScalarMult make of known elements only; decoded elements are not.
TEST_F(Groups, MembershipInGTIsKnownOnlyThroughOperations) {
    const GT paired = Pair(g1Base(), g2Base());
    GT decoded;
    ASSERT_TRUE(decoded.Unmarshal(paired.Marshal()));
    GT unset, sum, mixed, neg, negDecoded, power, powerDecoded;
    sum.Add(paired, paired);
    mixed.Add(paired, decoded);
    neg.Neg(paired);
    negDecoded.Neg(decoded);
    power.ScalarMult(paired, 5);
    powerDecoded.ScalarMult(decoded, 5);
    GT redecoded = paired;
    ASSERT_TRUE(redecoded.Unmarshal(paired.Marshal()));
    const struct {
        const char* name;
        const GT& e;
        bool known;
    } cases[] = {
        {"pairing", paired, true},          {"decoded", decoded, false},
        {"unset", unset, true},             {"sum of known", sum, true},
        {"sum with decoded", mixed, false}, {"negation", neg, true},
        {"negated decoded", negDecoded, false}, {"power", power, true},
        {"power of decoded", powerDecoded, false}, {"decoded over known", redecoded, false},
    };
    for (const auto& c : cases) EXPECT_EQ(knownInGT(c.e), c.known) << c.name;
    // Both routes give the same bytes for a member of GT.
    EXPECT_EQ(power.Marshal(), powerDecoded.Marshal());
}

// G2 multiplication through ψ encodes exactly as the reference double-and-add,
// for generated and decoded operands and every kind of scalar.
TEST_F(Groups, G2ScalarMultMatchesReferenceMul) {
    G2 decoded;
    ASSERT_TRUE(decoded.Unmarshal(G2().ScalarBaseMult(scalar()).Marshal()));
    G2 generated;
    generated.ScalarBaseMult(scalar());
    std::vector<mpz_class> scalars = {0, 1, 2, Order - 1, Order, Order + 1, kTwoTo256Minus1};
    for (int i = 0; i < 4; ++i) scalars.push_back(scalar());
    const G2* const operands[] = {&decoded, &generated};
    for (const G2* a : operands) {
        for (const mpz_class& k : scalars) {
            SCOPED_TRACE(k.get_str());
            G2 fast, reference, base, referenceBase;
            fast.ScalarMult(*a, k);
            reference.p.emplace().Mul(*a->p, k);
            EXPECT_EQ(fast.Marshal(), reference.Marshal());
            base.ScalarBaseMult(k);
            referenceBase.p.emplace().Mul(twistGen, k);
            EXPECT_EQ(base.Marshal(), referenceBase.Marshal());
        }
    }
}

TEST_F(Groups, IdentityDigestScalarsReduceModOrder) {
    mpz_class reduced;
    mpz_mod(reduced.get_mpz_t(), kTwoTo256Minus1.get_mpz_t(), Order.get_mpz_t());
    G1 a, b;
    a.ScalarBaseMult(kTwoTo256Minus1);
    b.ScalarBaseMult(reduced);
    EXPECT_EQ(a.Marshal(), b.Marshal());
}

// ---- random elements ----

TEST_F(Groups, RandomElementsAreTheirScalarTimesGenerator) {
    auto r1 = RandomG1(rand);
    ASSERT_TRUE(r1);
    G1 want1;
    want1.ScalarBaseMult(r1->k.ToMpz());
    EXPECT_EQ(r1->element.Marshal(), want1.Marshal());
    EXPECT_GT(r1->k.ToMpz(), 0);
    EXPECT_LT(r1->k.ToMpz(), Order);

    auto r2 = RandomG2(rand);
    ASSERT_TRUE(r2);
    G2 want2;
    want2.ScalarBaseMult(r2->k.ToMpz());
    EXPECT_EQ(r2->element.Marshal(), want2.Marshal());
}

TEST_F(Groups, RandomKRedrawsZero) {
    ZerosFirstRandom source(2);
    auto k = randomK(source);
    ASSERT_TRUE(k);
    EXPECT_EQ(source.calls, 3);
    // 32 bytes 0x01 .. 0x20 with the two top bits cleared.
    Bytes want(32);
    for (int i = 0; i < 32; ++i) want[i] = static_cast<std::uint8_t>(i + 1);
    EXPECT_EQ(k->ToMpz(), fromBytes(want, 0));
}

TEST_F(Groups, RandomSourceErrorIsReturnedUnchanged) {
    FailingRandom source;
    auto r1 = RandomG1(source);
    ASSERT_FALSE(r1);
    EXPECT_EQ(r1.error().Message(), "source broke");
    auto r2 = RandomG2(source);
    ASSERT_FALSE(r2);
    EXPECT_EQ(r2.error().Message(), "source broke");
}

// ---- encodings ----

TEST_F(Groups, MarshalOfUnsetElementsGivesIdentity) {
    G1 a;
    EXPECT_EQ(a.Marshal(), Bytes(64, 0));
    ASSERT_TRUE(a.p);
    EXPECT_TRUE(a.p->IsInfinity());
    G2 b;
    EXPECT_EQ(b.Marshal(), Bytes(128, 0));
    ASSERT_TRUE(b.p);
    EXPECT_TRUE(b.p->IsInfinity());
    GT c;
    EXPECT_EQ(c.Marshal(), gtOne());
    ASSERT_TRUE(c.p);
    EXPECT_TRUE(c.p->IsOne());
}

TEST_F(Groups, MarshalNormalisesJacobianPointInPlace) {
    G1 a;
    a.ScalarBaseMult(scalar());
    ASSERT_FALSE(a.p->z == newGFp(1));
    curvePoint affine = *a.p;
    affine.MakeAffine();
    G1 b;
    b.p = affine;
    const Bytes bytes = a.Marshal();
    EXPECT_EQ(bytes, b.Marshal());
    EXPECT_EQ(a.p->z, newGFp(1));
    EXPECT_EQ(a.Marshal(), bytes);

    G2 q;
    q.ScalarBaseMult(scalar());
    ASSERT_FALSE(q.p->z.IsOne());
    const Bytes qb = q.Marshal();
    EXPECT_TRUE(q.p->z.IsOne());
    EXPECT_EQ(q.Marshal(), qb);
}

TEST_F(Groups, StringForms) {
    G1 a = g1Base();
    const std::string zeros(63, '0');
    EXPECT_EQ(a.String(), std::string("bn256.G1(").append(zeros).append("1, ").append(zeros).append("2)"));
    G2 q = g2Base();
    EXPECT_EQ(q.String().substr(0, 10), "bn256.G2((");
    GT t;
    EXPECT_EQ(t.String().substr(0, 9), "bn256.GT(");
}

// Every accepted encoding decodes and re-encodes to the same bytes.
TEST_F(Groups, DecodeThenEncodeReturnsInput) {
    std::vector<Bytes> g1s = {Bytes(64, 0), g1Base().Marshal()};
    std::vector<Bytes> g2s = {Bytes(128, 0), g2Base().Marshal()};
    std::vector<Bytes> gts = {Bytes(384, 0), gtOne(), Pair(g1Base(), g2Base()).Marshal()};
    for (int i = 0; i < 3; ++i) {
        auto r1 = RandomG1(rand);
        auto r2 = RandomG2(rand);
        ASSERT_TRUE(r1 && r2);
        g1s.push_back(r1->element.Marshal());
        g2s.push_back(r2->element.Marshal());
        gts.push_back(Pair(r1->element, r2->element).Marshal());
    }
    // Any twelve coordinates below p are a GT encoding.
    Bytes arbitrary;
    for (int i = 0; i < 12; ++i) {
        const Bytes c = be32(P - 1 - i);
        arbitrary.insert(arbitrary.end(), c.begin(), c.end());
    }
    gts.push_back(arbitrary);

    // Each encoding decodes whole and is written back byte for byte.
    auto roundTrip = [](auto fresh, const std::vector<Bytes>& encodings) {
        for (const Bytes& m : encodings) {
            auto element = fresh;
            auto rest = element.Unmarshal(m);
            ASSERT_TRUE(rest) << rest.error().Message();
            EXPECT_TRUE(rest->empty());
            EXPECT_EQ(element.Marshal(), m);
        }
    };
    roundTrip(G1{}, g1s);
    roundTrip(G2{}, g2s);
    roundTrip(GT{}, gts);
}

TEST_F(Groups, DecodedValuesAreNormalised) {
    G1 a;
    ASSERT_TRUE(a.Unmarshal(g1Base().Marshal()));
    EXPECT_EQ(a.p->z, newGFp(1));
    EXPECT_EQ(a.p->t, newGFp(1));
    ASSERT_TRUE(a.Unmarshal(Bytes(64, 0)));
    EXPECT_TRUE(a.p->x.IsZero());
    EXPECT_EQ(a.p->y, newGFp(1));
    EXPECT_TRUE(a.p->z.IsZero() && a.p->t.IsZero());

    G2 q;
    ASSERT_TRUE(q.Unmarshal(Bytes(128, 0)));
    EXPECT_TRUE(q.p->x.IsZero() && q.p->y.IsOne() && q.p->z.IsZero() && q.p->t.IsZero());

    GT t;
    ASSERT_TRUE(t.Unmarshal(Bytes(384, 0)));
    EXPECT_TRUE(t.p->IsZero());  // the zero field value, not the identity
}

TEST_F(Groups, DecodersReturnTheRest) {
    Bytes m = g1Base().Marshal();
    m.push_back(0xab);
    G1 a;
    auto rest = a.Unmarshal(m);
    ASSERT_TRUE(rest);
    ASSERT_EQ(rest->size(), 1u);
    EXPECT_EQ((*rest)[0], 0xab);

    Bytes m2 = concat({g2Base().Marshal(), Bytes{1, 2}});
    G2 q;
    auto rest2 = q.Unmarshal(m2);
    ASSERT_TRUE(rest2);
    EXPECT_EQ(rest2->size(), 2u);

    Bytes m3 = concat({gtOne(), Bytes{9, 9, 9}});
    GT t;
    auto rest3 = t.Unmarshal(m3);
    ASSERT_TRUE(rest3);
    EXPECT_EQ(rest3->size(), 3u);
}

struct DecodeCase {
    const char* name;
    Bytes input;
    std::string_view error;
};

const Bytes kOne = be32(1);
const Bytes kTwo = be32(2);
const Bytes kZero = be32(0);

Bytes pBytes() { return be32(P); }
Bytes maxBytes() { return be32(kTwoTo256Minus1); }

// The encoding of a point of the twist outside G2 (defined at the end of the file).
Bytes twistPointOutsideG2();

TEST_F(Groups, G1DecoderErrorsInCheckOrder) {
    const DecodeCase cases[] = {
        {"empty", {}, kNotEnoughData},
        {"63 bytes", Bytes(63, 0), kNotEnoughData},
        {"x equals p", concat({pBytes(), kTwo}), kCoordinateEqualsModulus},
        {"x above p", concat({maxBytes(), kTwo}), kCoordinateExceedsModulus},
        {"x reported before y", concat({maxBytes(), pBytes()}), kCoordinateExceedsModulus},
        {"y equals p", concat({kOne, pBytes()}), kCoordinateEqualsModulus},
        {"y above p", concat({kOne, be32(P + 1)}), kCoordinateExceedsModulus},
        {"x = 0, y = 1", concat({kZero, kOne}), kMalformedPoint},
        {"off curve", concat({kOne, be32(3)}), kMalformedPoint},
    };
    // A failed decode leaves the receiver as it was: unset, or holding its point.
    G1 held;
    held.ScalarBaseMult(5);
    const Bytes before = held.Marshal();
    for (const DecodeCase& c : cases) {
        G1 e;
        auto rest = e.Unmarshal(c.input);
        ASSERT_FALSE(rest) << c.name;
        EXPECT_EQ(rest.error().Message(), c.error) << c.name;
        EXPECT_FALSE(e.p) << c.name;
        EXPECT_FALSE(held.Unmarshal(c.input)) << c.name;
        EXPECT_EQ(held.Marshal(), before) << c.name;
    }
}

TEST_F(Groups, G2DecoderErrorsInCheckOrder) {
    const Bytes gen = g2Base().Marshal();
    auto withCoordinate = [&](int index, const Bytes& c, Bytes m) {
        std::copy(c.begin(), c.end(), m.begin() + 32 * index);
        return m;
    };
    Bytes offTwist = gen;
    offTwist[127] ^= 1;
    const DecodeCase cases[] = {
        {"127 bytes", Bytes(127, 0), kNotEnoughData},
        {"x.i equals p", withCoordinate(0, pBytes(), gen), kCoordinateEqualsModulus},
        {"x.1 above p", withCoordinate(1, maxBytes(), gen), kCoordinateExceedsModulus},
        {"y.i equals p", withCoordinate(2, pBytes(), gen), kCoordinateEqualsModulus},
        {"y.1 above p", withCoordinate(3, maxBytes(), gen), kCoordinateExceedsModulus},
        {"earlier coordinate first", withCoordinate(0, pBytes(), withCoordinate(3, maxBytes(), gen)),
         kCoordinateEqualsModulus},
        {"x = 0, y = 1", concat({kZero, kZero, kZero, kOne}), kMalformedPoint},
        {"off twist", offTwist, kMalformedPoint},
        {"on twist, outside G2", twistPointOutsideG2(), kMalformedPoint},
    };
    G2 held = g2Base();
    for (const DecodeCase& c : cases) {
        G2 e;
        auto rest = e.Unmarshal(c.input);
        ASSERT_FALSE(rest) << c.name;
        EXPECT_EQ(rest.error().Message(), c.error) << c.name;
        EXPECT_FALSE(e.p) << c.name;
        EXPECT_FALSE(held.Unmarshal(c.input)) << c.name;
        EXPECT_EQ(held.Marshal(), gen) << c.name;
    }
}

TEST_F(Groups, GTDecoderErrorsInCheckOrder) {
    const Bytes one = gtOne();
    auto withCoefficient = [&](int index, const Bytes& c) {
        Bytes m = one;
        std::copy(c.begin(), c.end(), m.begin() + 32 * index);
        return m;
    };
    Bytes both = withCoefficient(11, pBytes());
    const Bytes max = maxBytes();
    std::copy(max.begin(), max.end(), both.begin() + 32 * 4);
    const DecodeCase cases[] = {
        {"383 bytes", Bytes(383, 0), kNotEnoughData},
        {"x.x.x equals p", withCoefficient(0, pBytes()), kCoordinateEqualsModulus},
        {"y.z.y equals p", withCoefficient(11, pBytes()), kCoordinateEqualsModulus},
        {"x.z.x above p", withCoefficient(4, maxBytes()), kCoordinateExceedsModulus},
        {"earlier coefficient first", both, kCoordinateExceedsModulus},
    };
    GT held = Pair(g1Base(), g2Base());
    const Bytes before = held.Marshal();
    for (const DecodeCase& c : cases) {
        GT e;
        auto rest = e.Unmarshal(c.input);
        ASSERT_FALSE(rest) << c.name;
        EXPECT_EQ(rest.error().Message(), c.error) << c.name;
        EXPECT_FALSE(e.p) << c.name;
        EXPECT_FALSE(held.Unmarshal(c.input)) << c.name;
        EXPECT_EQ(held.Marshal(), before) << c.name;
    }
}

// x = i + c for the first c ≥ 1 where x³ + 3/xi is a square in GF(p²); its square
// root by the exponentiation method for p ≡ 3 mod 4, on plain integers.
Bytes twistPointOutsideG2() {
    struct Fp2 {
        mpz_class x, y;  // x·i + y
    };
    auto md = [](const mpz_class& a) {
        mpz_class r;
        mpz_mod(r.get_mpz_t(), a.get_mpz_t(), P.get_mpz_t());
        return r;
    };
    auto mul = [&](const Fp2& a, const Fp2& b) {
        return Fp2{md(a.x * b.y + a.y * b.x), md(a.y * b.y - a.x * b.x)};
    };
    auto pow = [&](const Fp2& a, const mpz_class& e) {
        Fp2 r{0, 1};
        for (std::size_t i = mpz_sizeinbase(e.get_mpz_t(), 2) + 1; i-- > 0;) {
            r = mul(r, r);
            if (mpz_tstbit(e.get_mpz_t(), i)) r = mul(r, a);
        }
        return r;
    };
    auto eq = [](const Fp2& a, const Fp2& b) { return a.x == b.x && a.y == b.y; };
    const Fp2 b{mpz_class("266929791119991161246907387137283842545076965332900288569378510910307636690"),
                mpz_class("19485874751759354771024239261021720505790618469301721065564631296452457478373")};
    const Fp2 minusOne{0, P - 1};
    for (long c = 1;; ++c) {
        const Fp2 x{1, c};
        const Fp2 x3 = mul(mul(x, x), x);
        const Fp2 a{md(x3.x + b.x), md(x3.y + b.y)};
        const Fp2 a1 = pow(a, (P - 3) / 4);
        const Fp2 alpha = mul(a1, mul(a1, a));
        if (eq(mul(pow(alpha, P), alpha), minusOne)) continue;
        const Fp2 x0 = mul(a1, a);
        const Fp2 y = eq(alpha, minusOne) ? mul(Fp2{1, 0}, x0)
                                          : mul(pow(Fp2{alpha.x, md(alpha.y + 1)}, (P - 1) / 2), x0);
        if (!eq(mul(y, y), a)) continue;
        return concat({be32(x.x), be32(x.y), be32(y.x), be32(y.y)});
    }
}

}  // namespace
}  // namespace bn256
