// The operations of the scheme: setup, key generation from the master key and
// from a parent key, encryption and decryption of one GT element.
//
// Every scalar drawn here (alpha, r, t, s) is uniform in [0, Order), 0 included;
// random group elements come from RandomG1 and RandomG2, whose own scalars are
// never 0. Every check that can fail comes before the first draw, so a rejected
// call consumes no randomness and changes nothing.
#include "hibe/scheme.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "bn256/constants.h"

namespace hibe {
namespace {

constexpr std::string_view kNegativeDepth = "Cannot set up params with negative maximum depth";
constexpr std::string_view kSetupTooDeep =
    "Cannot set up params of a depth above 33554425: their encoding would exceed 2147483647 bytes";
constexpr std::string_view kMasterKeyTooDeep = "Cannot generate key at greater than maximum depth.";
constexpr std::string_view kEmptyChildId = "Cannot generate child key for an empty identity";

// The same draw as common::RandomBelow(rand, Order), constant time in the value:
// the exponent stays a fixed-width secret scalar, wiped when it goes out of scope,
// and every multiplication by it takes the constant-time route.
common::Result<bn256::Scalar> randomScalar(common::RandomSource& rand) {
    return bn256::RandomScalar(rand);
}

// Q(id) = G3 + id[0]·H[0] + … + id[k−1]·H[k−1], for k = len(id) ≤ len(H).
bn256::G1 identityPoint(const Params& params, const HibeId& id) {
    bn256::G1 q;
    q.Set(params.G3);
    bn256::G1 term;
    for (std::size_t i = 0; i < id.size(); ++i) {
        term.ScalarMult(params.H[i], id[i]);
        q.Add(q, term);
    }
    return q;
}

}  // namespace

std::int64_t PrivateKey::DepthLeft() const { return static_cast<std::int64_t>(B.size()); }

common::Result<SetupResult> Setup(common::RandomSource& rand, std::int64_t l) {
    if (l < 0) return common::Fail(std::string(kNegativeDepth));
    if (l > kMaxDepth) return common::Fail(std::string(kSetupTooDeep));

    SetupResult out;
    Params& params = out.params;

    auto g = bn256::RandomG2(rand);
    if (!g) return common::Fail(g.error());
    params.G = std::move(g->element);

    auto alpha = randomScalar(rand);
    if (!alpha) return common::Fail(alpha.error());
    // G1 = alpha·G
    params.G1.ScalarMult(params.G, *alpha);

    auto g2 = bn256::RandomG1(rand);
    if (!g2) return common::Fail(g2.error());
    params.G2 = std::move(g2->element);
    auto g3 = bn256::RandomG1(rand);
    if (!g3) return common::Fail(g3.error());
    params.G3 = std::move(g3->element);

    // The list grows with the draws rather than being sized up front, so an
    // absurd depth runs out of randomness or time, not into an allocation failure.
    for (std::int64_t i = 0; i < l; ++i) {
        auto h = bn256::RandomG1(rand);
        if (!h) return common::Fail(h.error());
        params.H.push_back(std::move(h->element));
    }

    // master key = alpha·G2
    out.masterKey.Key.ScalarMult(params.G2, *alpha);
    return out;
}

common::Result<PrivateKey> KeyGenFromMaster(common::RandomSource& rand, const Params& params,
                                            const MasterKey& master, const HibeId& id) {
    const std::size_t k = id.size();
    const std::size_t l = params.H.size();
    if (l < k) return common::Fail(std::string(kMasterKeyTooDeep));

    auto r = randomScalar(rand);
    if (!r) return common::Fail(r.error());

    PrivateKey key;
    // A0 = alpha·G2 + r·Q(id)
    bn256::G1 q = identityPoint(params, id);
    q.ScalarMult(q, *r);
    key.A0.Add(master.Key, q);
    // A1 = r·G
    key.A1.ScalarMult(params.G, *r);
    // B[j] = r·H[k + j]
    key.B.resize(l - k);
    for (std::size_t j = 0; j < l - k; ++j) key.B[j].ScalarMult(params.H[k + j], *r);
    return key;
}

common::Result<PrivateKey> KeyGenFromParent(common::RandomSource& rand, const Params& params,
                                            const PrivateKey& parent, const HibeId& id) {
    // The child has at least one level: its last level is folded in through the
    // parent's B[0] below.
    if (id.empty()) return common::Fail(std::string(kEmptyChildId));
    const std::size_t k = id.size();
    const std::size_t l = params.H.size();
    if (l < k) return common::Fail(std::string(kParentKeyTooDeep));
    if (parent.B.size() != l - k + 1) return common::Fail(std::string(kNotChild));

    auto t = randomScalar(rand);
    if (!t) return common::Fail(t.error());

    // With the parent's randomness r, the child's is r + t:
    //   A0 = parent.A0 + id[k−1]·(r·H[k−1]) + t·Q(id) = alpha·G2 + (r + t)·Q(id)
    //   A1 = parent.A1 + t·G                          = (r + t)·G
    //   B[j] = parent.B[j + 1] + t·H[k + j]           = (r + t)·H[k + j]
    PrivateKey key;
    bn256::G1 q = identityPoint(params, id);
    q.ScalarMult(q, *t);
    // id[k−1] is public but parent.B[0] = r·H[k−1] is secret: the constant-time
    // route keeps the point out of every branch and address (the digest is below
    // 2^256, so it fits a Scalar; the product depends on it modulo Order only).
    key.A0.ScalarMult(parent.B[0], bn256::Scalar(id[k - 1]));
    key.A0.Add(parent.A0, key.A0);
    key.A0.Add(key.A0, q);

    key.A1.ScalarMult(params.G, *t);
    key.A1.Add(parent.A1, key.A1);

    key.B.resize(l - k);
    for (std::size_t j = 0; j < l - k; ++j) {
        key.B[j].ScalarMult(params.H[k + j], *t);
        key.B[j].Add(parent.B[j + 1], key.B[j]);
    }
    return key;
}

common::Result<Ciphertext> Encrypt(common::RandomSource& rand, Params& params, const HibeId& id,
                                   const bn256::GT& message) {
    if (id.size() > params.H.size()) return common::Fail(std::string(kEncryptTooDeep));

    auto s = randomScalar(rand);
    if (!s) return common::Fail(s.error());

    if (!params.Pairing) params.Pairing = bn256::Pair(params.G2, params.G1);

    Ciphertext ct;
    // A = e(G2, G1)^s · M
    ct.A.ScalarMult(*params.Pairing, *s);
    ct.A.Add(ct.A, message);
    // B = s·G
    ct.B.ScalarMult(params.G, *s);
    // C = s·Q(id)
    ct.C = identityPoint(params, id);
    ct.C.ScalarMult(ct.C, *s);
    return ct;
}

bool HoldsIdentityElement(const Params& params) {
    // An unset element counts as the identity, as in every group operation.
    const auto isIdentity = [](const auto& element) {
        return !element.p || element.p->IsInfinity();
    };
    return isIdentity(params.G) || isIdentity(params.G1) || isIdentity(params.G2) ||
           isIdentity(params.G3) || std::ranges::any_of(params.H, isIdentity);
}

bool MasterKeyMatches(const Params& params, const MasterKey& master) {
    // e(alpha·G2, G) = e(G2, G)^alpha = e(G2, alpha·G) = e(G2, G1), so the key
    // belongs to the params when e(master, G) · e(G2, G1)^−1 = 1: one product of
    // two pairings with one final exponentiation.
    const bn256::PairTerm terms[2] = {{&master.Key, &params.G}, {&params.G2, &params.G1, true}};
    return bn256::PairProduct(terms).Marshal() == bn256::GT().Marshal();
}

bn256::GT Decrypt(const PrivateKey& key, const Ciphertext& ciphertext) {
    // e(C, A1) / e(A0, B) = e(Q, G)^(s·r) / (e(G2, G)^(alpha·s) · e(Q, G)^(r·s))
    //                     = e(G2, G1)^(−s),
    // which cancels the mask of A = e(G2, G1)^s · M.
    // Both pairings in one product: one final exponentiation, shared squarings.
    const bn256::PairTerm terms[2] = {{&ciphertext.C, &key.A1}, {&key.A0, &ciphertext.B, true}};
    bn256::GT p = bn256::PairProduct(terms);
    p.Add(ciphertext.A, p);
    return p;
}

}  // namespace hibe
