// The byte layouts of the scheme's records: sequences of 64-byte slots holding
// the element encodings, with no header and no count (the number of list entries
// follows from the length).
//
//   Params      G (slots 0-1), G1 (2-3), G2 (4), G3 (5), H[i] (6 + i)
//   PrivateKey  A0 (0), A1 (1-2), B[i] (3 + i)
//   Ciphertext  A (0-5), B (6-7), C (8); always 576 bytes
//
// The decoders report only a flag; the element decoders' error texts are not
// passed on. Each element is decoded from exactly its own window, so nothing is
// ever left over.
#include <algorithm>
#include <cassert>
#include <utility>

#include "hibe/scheme.h"

namespace hibe {
namespace {

constexpr std::size_t kParamsFixedSlots = 6;      // G, G1, G2, G3
constexpr std::size_t kPrivateKeyFixedSlots = 3;  // A0, A1
constexpr std::size_t kCiphertextSlots = 9;       // A, B, C

// Copies one element encoding into its window, which has exactly its size, and
// wipes the encoding: the elements of a key are secrets.
void put(std::span<std::uint8_t> window, common::Bytes encoding) {
    assert(window.size() == encoding.size());
    std::copy(encoding.begin(), encoding.end(), window.begin());
    common::Wipe(encoding);
}

// Whether a list record of this length can be decoded: whole slots, and at
// least the fixed ones.
bool validListLength(std::size_t length, std::size_t fixedSlots) {
    return length % geSize == 0 && length >= (fixedSlots << geShift);
}

}  // namespace

common::Bytes Params::Marshal() const {
    common::Bytes out((kParamsFixedSlots + H.size()) << geShift);
    put(geIndex(out, 0, 2), G.Marshal());
    put(geIndex(out, 2, 2), G1.Marshal());
    put(geIndex(out, 4, 1), G2.Marshal());
    put(geIndex(out, 5, 1), G3.Marshal());
    for (std::size_t i = 0; i < H.size(); ++i) {
        put(geIndex(out, kParamsFixedSlots + i, 1), H[i].Marshal());
    }
    return out;
}

std::pair<Params*, bool> Params::Unmarshal(common::ByteView marshalled) {
    if (!validListLength(marshalled.size(), kParamsFixedSlots)) return {nullptr, false};
    Pairing.reset();

    G = bn256::G2{};
    if (!G.Unmarshal(geIndex(marshalled, 0, 2))) return {nullptr, false};
    G1 = bn256::G2{};
    if (!G1.Unmarshal(geIndex(marshalled, 2, 2))) return {nullptr, false};
    G2 = bn256::G1{};
    if (!G2.Unmarshal(geIndex(marshalled, 4, 1))) return {nullptr, false};
    G3 = bn256::G1{};
    if (!G3.Unmarshal(geIndex(marshalled, 5, 1))) return {nullptr, false};

    // H holds only the entries decoded so far, so a receiver returned with a false
    // flag has exactly those before the failing one.
    const std::size_t n = (marshalled.size() >> geShift) - kParamsFixedSlots;
    H.clear();
    H.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        bn256::G1 h;
        if (!h.Unmarshal(geIndex(marshalled, kParamsFixedSlots + i, 1))) return {this, false};
        H.push_back(std::move(h));
    }
    return {this, true};
}

common::Bytes PrivateKey::Marshal() const {
    common::Bytes out((kPrivateKeyFixedSlots + B.size()) << geShift);
    put(geIndex(out, 0, 1), A0.Marshal());
    put(geIndex(out, 1, 2), A1.Marshal());
    for (std::size_t i = 0; i < B.size(); ++i) {
        put(geIndex(out, kPrivateKeyFixedSlots + i, 1), B[i].Marshal());
    }
    return out;
}

void PrivateKey::Wipe() noexcept {
    WipeElement(A0);
    WipeElement(A1);
    for (const bn256::G1& b : B) WipeElement(b);
}

PrivateKey& PrivateKey::operator=(const PrivateKey& other) {
    if (this != &other) {
        Wipe();
        A0 = other.A0;
        A1 = other.A1;
        B = other.B;
    }
    return *this;
}

PrivateKey& PrivateKey::operator=(PrivateKey&& other) noexcept {
    if (this != &other) {
        Wipe();
        A0 = other.A0;
        A1 = other.A1;
        B = std::move(other.B);
    }
    return *this;
}

std::pair<PrivateKey*, bool> PrivateKey::Unmarshal(common::ByteView marshalled) {
    if (!validListLength(marshalled.size(), kPrivateKeyFixedSlots)) return {nullptr, false};
    Wipe();

    A0 = bn256::G1{};
    if (!A0.Unmarshal(geIndex(marshalled, 0, 1))) return {nullptr, false};
    A1 = bn256::G2{};
    if (!A1.Unmarshal(geIndex(marshalled, 1, 2))) return {nullptr, false};

    const std::size_t n = (marshalled.size() >> geShift) - kPrivateKeyFixedSlots;
    B.clear();
    B.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        bn256::G1 b;
        if (!b.Unmarshal(geIndex(marshalled, kPrivateKeyFixedSlots + i, 1))) return {this, false};
        B.push_back(std::move(b));
    }
    return {this, true};
}

common::Bytes Ciphertext::Marshal() const {
    common::Bytes out(kCiphertextSlots << geShift);
    put(geIndex(out, 0, 6), A.Marshal());
    put(geIndex(out, 6, 2), B.Marshal());
    put(geIndex(out, 8, 1), C.Marshal());
    return out;
}

std::pair<Ciphertext*, bool> Ciphertext::Unmarshal(common::ByteView marshalled) {
    if (marshalled.size() != (kCiphertextSlots << geShift)) return {nullptr, false};

    A = bn256::GT{};
    if (!A.Unmarshal(geIndex(marshalled, 0, 6))) return {nullptr, false};
    B = bn256::G2{};
    if (!B.Unmarshal(geIndex(marshalled, 6, 2))) return {nullptr, false};
    C = bn256::G1{};
    if (!C.Unmarshal(geIndex(marshalled, 8, 1))) return {nullptr, false};
    return {this, true};
}

}  // namespace hibe
