// The DER envelope of an AES ciphertext:
//
//   SEQUENCE { OCTET STRING IV, OCTET STRING Ciphertext, OCTET STRING Tag }
//
// with definite lengths in minimal form: below 128 one byte, else 0x80 + n and
// the length in n big-endian bytes. The writer takes any size that GCM can seal;
// the reader is strict DER.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/bytes.h"
#include "common/error.h"

namespace aes {

// The three fields of an AES ciphertext.
struct aesCiphertext {
    common::Bytes IV;  // CBC IV or GCM nonce
    common::Bytes Ciphertext;
    common::Bytes Tag;  // GCM tag; empty in CBC mode
};

// The same fields as views of a decoded input.
struct CiphertextViews {
    common::ByteView IV;
    common::ByteView Ciphertext;
    common::ByteView Tag;
};

// The DER SEQUENCE of the three fields as OCTET STRINGs, lengths in minimal
// definite form.
common::Result<common::Bytes> marshalCiphertext(const aesCiphertext& fields);

// The length of marshalCiphertext's result for fields of these lengths.
std::size_t MarshalledLength(std::size_t ivLength, std::size_t ciphertextLength, std::size_t tagLength);

// Reads a DER SEQUENCE whose first three elements are OCTET STRINGs. DER rules
// are enforced: definite lengths in minimal form, primitive OCTET STRINGs.
// Elements after the third and bytes after the SEQUENCE are ignored.
common::Result<aesCiphertext> unmarshalCiphertext(common::ByteView encoded);

// The same reading, in place: the views point into encoded.
common::Result<CiphertextViews> decodeCiphertext(common::ByteView encoded);

namespace der {

inline constexpr std::uint8_t kSequence = 0x30;     // universal, constructed, tag 16
inline constexpr std::uint8_t kOctetString = 0x04;  // universal, primitive, tag 4

// The length of the header (identifier and length bytes) of a content of
// length bytes: 2 below 128, else 2 + the number of bytes of length.
std::size_t HeaderLength(std::uint64_t length);

// The length of a whole element (header and content) with a content of length bytes.
std::uint64_t ElementLength(std::uint64_t length);

// Writes the header of an element with the one-byte identifier and a content of
// length bytes at out (HeaderLength(length) bytes); returns the byte after it.
std::uint8_t* PutHeader(std::uint8_t* out, std::uint8_t identifier, std::uint64_t length);

}  // namespace der

}  // namespace aes
