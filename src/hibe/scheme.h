// Hierarchical identity-based encryption with constant-size ciphertexts on the
// asymmetric pairing e: G1 × G2 → GT.
//
// Notation: G1 and G2 are written additively (P + Q, k·P), GT multiplicatively.
// l is the maximum depth of a hierarchy (the number of entries of Params::H) and
// k the depth of an identity. For an identity vector id of depth k ≤ l,
//
//     Q(id) = G3 + id[0]·H[0] + … + id[k−1]·H[k−1].
//
// The records are plain values owned by their caller; every group element of a
// record is its own. The field names are not group names: Params::G1 holds an
// element of group G2, and Params::G2 and Params::G3 hold elements of group G1.
//
// Nothing here locks: Encrypt writes the Pairing cache of the parameters it is
// given, so a record must not be encrypted with by two threads at once while its
// cache is empty, and encoding normalises points in place, so a record must not
// be encoded by two threads at once.
#pragma once

#include <gmpxx.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "bn256/bn256.h"
#include "common/bytes.h"
#include "common/error.h"
#include "common/random.h"
#include "common/wipe.h"

namespace hibe {

// Overwrites the point or field value that a group element holds (the element
// stays set, to a value of no meaning). An unset element holds nothing.
template <typename Element>
void WipeElement(const Element& element) noexcept {
    if (element.p) common::WipeObject(*element.p);
}

// An identity vector: one non-negative integer per level, top level first. Each
// entry is a full 256-bit digest, used as a scalar as it is (not reduced).
using HibeId = std::vector<mpz_class>;

// The public parameters of one hierarchy.
struct Params {
    bn256::G2 G;               // random element of G2
    bn256::G2 G1;              // alpha·G, alpha the master secret
    bn256::G1 G2;              // random element of G1
    bn256::G1 G3;              // random element of G1
    std::vector<bn256::G1> H;  // one random element of G1 per level; l entries

    // e(G2, G1), filled by the first Encrypt with this record and reused by every
    // later one. Absent after Setup and after Unmarshal; never encoded.
    std::optional<bn256::GT> Pairing;

    // The 384 + 64·len(H) bytes of the parameters: G, G1 (two slots each), G2,
    // G3, then H[0], H[1], … (one slot each). Never fails. Leaves every G1 and G2
    // element of the record in the normal form of its point (same elements).
    common::Bytes Marshal() const;

    // Decodes marshalled into this record. Returns (this, true) on success, with
    // Pairing absent. On failure the flag is false and the record is absent
    // (nullptr), except when an entry of H does not decode: then (this, false),
    // this holding the fixed fields and the entries before the failing one. After
    // a false flag neither result may be used as parameters. The length must be a
    // multiple of 64 and at least 384; otherwise this record is not touched.
    std::pair<Params*, bool> Unmarshal(common::ByteView marshalled);
};

// The master key: alpha·Params::G2, the only secret that outlives Setup. It has
// no record encoding of its own: its file holds Key.Marshal(), 64 bytes. Every
// copy wipes its point when it goes away.
struct MasterKey {
    bn256::G1 Key;

    MasterKey() = default;
    MasterKey(const MasterKey&) = default;
    MasterKey(MasterKey&&) = default;
    MasterKey& operator=(const MasterKey&) = default;
    MasterKey& operator=(MasterKey&&) = default;
    ~MasterKey() { WipeElement(Key); }
};

// The key of one identity of depth k, made with randomness r (not stored):
//     A0 = alpha·G2 + r·Q(id),  A1 = r·G,  B = (r·H[k], …, r·H[l−1]).
// A key records neither its identity nor its depth. Every copy wipes its points
// when it goes away.
struct PrivateKey {
    bn256::G1 A0;
    bn256::G2 A1;
    std::vector<bn256::G1> B;  // one entry per level below the key: l − k entries

    PrivateKey() = default;
    PrivateKey(const PrivateKey&) = default;
    PrivateKey(PrivateKey&&) = default;
    // The assignments wipe the points they overwrite first, since vector
    // assignment may release B's old block as it is.
    PrivateKey& operator=(const PrivateKey& other);
    PrivateKey& operator=(PrivateKey&& other) noexcept;
    ~PrivateKey() { Wipe(); }

    // Overwrites A0, A1 and every entry of B in place.
    void Wipe() noexcept;

    // The number of levels below the key: the length of B.
    std::int64_t DepthLeft() const;

    // The 192 + 64·len(B) bytes of the key: A0 (one slot), A1 (two slots), then
    // B[0], B[1], … (one slot each). Never fails; normalises points in place.
    common::Bytes Marshal() const;

    // Decodes marshalled into this key; results as for Params::Unmarshal, with an
    // entry of B in place of an entry of H. The length must be a multiple of 64 and
    // at least 192.
    std::pair<PrivateKey*, bool> Unmarshal(common::ByteView marshalled);
};

// The encryption of one GT element M to an identity id, with randomness s:
//     A = e(G2, G1)^s · M,  B = s·G,  C = s·Q(id).
// Its size does not depend on the depth of id.
struct Ciphertext {
    bn256::GT A;
    bn256::G2 B;
    bn256::G1 C;

    // The 576 bytes of the ciphertext: A (six slots), B (two), C (one). Never
    // fails; normalises points in place.
    common::Bytes Marshal() const;

    // Decodes exactly 576 bytes into this ciphertext: (this, true) on success,
    // (nullptr, false) on any failure.
    std::pair<Ciphertext*, bool> Unmarshal(common::ByteView marshalled);
};

// Error texts that callers raise themselves when they refuse an identity before
// hashing its levels (the same texts as the operations' own depth checks).
inline constexpr std::string_view kParentKeyTooDeep =
    "Cannot generate key at greater than maximum depth";
inline constexpr std::string_view kNotChild =
    "Trying to generate key at depth that is not the child of the provided parent";
inline constexpr std::string_view kEncryptTooDeep =
    "Cannot encrypt to identity at greater than maximum depth of the params";

// The greatest depth whose parameter encoding, 384 + 64·l bytes, a C int count
// can still hold: (2^31 − 1 − 384) / 64, rounded down.
inline constexpr std::int64_t kMaxDepth = 33'554'425;

// The result of Setup.
struct SetupResult {
    Params params;
    MasterKey masterKey;
};

// Sets up a hierarchy of maximum depth l, 0 ≤ l ≤ kMaxDepth. Draws, in this
// order, one G2 element (G), one scalar (alpha) and 2 + l G1 elements (G2, G3,
// H[0..l−1]). Fails with the source's error, unchanged, or, before any draw, for
// a negative l and for an l above kMaxDepth.
common::Result<SetupResult> Setup(common::RandomSource& rand, std::int64_t l);

// The key of id made from the master key; draws one scalar r. Fails, before any
// draw, when id has more levels than params.H; otherwise only with the source's
// error.
common::Result<PrivateKey> KeyGenFromMaster(common::RandomSource& rand, const Params& params,
                                            const MasterKey& master, const HibeId& id);

// The key of id (the parent's identity plus one level) derived from the parent's
// key; draws one scalar t and adds it to the parent's randomness, so the result
// has the form of a key made from the master key. Fails, before any draw and in
// this order, for an empty id, for an id with more levels than params.H, and for a
// parent whose DepthLeft is not l − k + 1. The parent's identity is not compared
// with id: from the key of another identity the result decrypts nothing.
common::Result<PrivateKey> KeyGenFromParent(common::RandomSource& rand, const Params& params,
                                            const PrivateKey& parent, const HibeId& id);

// Encrypts message to id; draws one scalar s. Fills params.Pairing on first use.
// Fails, before drawing or touching the cache, when id has more levels than
// params.H; otherwise only with the source's error, leaving the cache as it was.
common::Result<Ciphertext> Encrypt(common::RandomSource& rand, Params& params, const HibeId& id,
                                   const bn256::GT& message);

// Whether any of G, G1, G2, G3 and the entries of H is the identity of its
// group. Setup never makes one (every element is drawn at random), but decoding
// accepts the all-zero encodings; encrypting with such parameters would let
// anyone read the message.
bool HoldsIdentityElement(const Params& params);

// Whether master is the master key of params: e(master, G) = e(G2, G1), which
// holds for alpha·G2 with G1 = alpha·G and for no other element of G1 (when G2
// and G are not the identity).
bool MasterKeyMatches(const Params& params, const MasterKey& master);

// Recovers the element that ciphertext carries: M for a key of the ciphertext's
// own identity vector, some other element (and no error) for any other key, an
// ancestor's or a descendant's included. Costs two pairings; never fails.
bn256::GT Decrypt(const PrivateKey& key, const Ciphertext& ciphertext);

// The slot of the record encodings: every element encoding fills a whole number
// of 64-byte slots (G1 one, G2 two, GT six).
inline constexpr std::size_t geSize = 64;
inline constexpr unsigned geShift = 6;  // log2(geSize)

// The window of len slots starting at slot index: bytes [64·index, 64·(index + len)).
// The caller guarantees that the window lies inside encoded.
inline std::span<std::uint8_t> geIndex(common::Bytes& encoded, std::size_t index,
                                       std::size_t len) {
    return std::span<std::uint8_t>(encoded).subspan(index << geShift, len << geShift);
}
inline common::ByteView geIndex(common::ByteView encoded, std::size_t index, std::size_t len) {
    return encoded.subspan(index << geShift, len << geShift);
}

}  // namespace hibe
