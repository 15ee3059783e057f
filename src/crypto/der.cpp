#include "crypto/der.h"

#include <openssl/asn1.h>
#include <openssl/err.h>

#include <cstring>

namespace aes {

namespace {

// Texts of the DER decoder.
constexpr char kDerEmpty[] = "asn1: empty input";
constexpr char kDerMalformed[] = "asn1: truncated or malformed element";
constexpr char kDerIndefinite[] = "asn1: indefinite length not allowed in DER";
constexpr char kDerNonMinimal[] = "asn1: length not in minimal form";
constexpr char kDerConstructedString[] = "asn1: constructed OCTET STRING not allowed in DER";
constexpr char kDerExpectedSequence[] = "asn1: expected a SEQUENCE";
constexpr char kDerExpectedOctetString[] = "asn1: expected an OCTET STRING";
constexpr char kDerTooFewElements[] = "asn1: SEQUENCE has fewer than three elements";

constexpr std::uint8_t kConstructedOctetString = 0x24;

// Reads one element with the given identifier byte at p, no further than end;
// returns its content and moves p past it. OpenSSL parses the header (its
// lengths are long, so any size that fits in memory); the checks around it
// hold it to DER.
common::Result<common::ByteView> readElement(const std::uint8_t*& p, const std::uint8_t* end,
                                             std::uint8_t identifier) {
    if (p == end) return common::Fail(kDerMalformed);
    if (*p != identifier) {
        if (identifier == der::kOctetString && *p == kConstructedOctetString) {
            return common::Fail(kDerConstructedString);
        }
        return common::Fail(identifier == der::kSequence ? kDerExpectedSequence
                                                         : kDerExpectedOctetString);
    }
    const unsigned char* q = p;
    long length = 0;
    int tag = 0;
    int xclass = 0;
    const int flags = ASN1_get_object(&q, &length, &tag, &xclass, end - p);
    if (flags & 0x80) {
        ERR_clear_error();
        return common::Fail(kDerMalformed);
    }
    if (flags & 0x01) return common::Fail(kDerIndefinite);
    if (static_cast<std::size_t>(q - p) != der::HeaderLength(static_cast<std::uint64_t>(length))) {
        return common::Fail(kDerNonMinimal);
    }
    common::ByteView content(q, static_cast<std::size_t>(length));
    p = q + length;
    return content;
}

}  // namespace

namespace der {

std::size_t HeaderLength(std::uint64_t length) {
    if (length < 0x80) return 2;
    std::size_t n = 0;
    for (; length != 0; length >>= 8) ++n;
    return 2 + n;
}

std::uint64_t ElementLength(std::uint64_t length) { return HeaderLength(length) + length; }

std::uint8_t* PutHeader(std::uint8_t* out, std::uint8_t identifier, std::uint64_t length) {
    *out++ = identifier;
    if (length < 0x80) {
        *out++ = static_cast<std::uint8_t>(length);
        return out;
    }
    const std::size_t n = HeaderLength(length) - 2;
    *out++ = static_cast<std::uint8_t>(0x80 | n);
    for (std::size_t i = n; i-- > 0;) *out++ = static_cast<std::uint8_t>(length >> (8 * i));
    return out;
}

}  // namespace der

common::Result<CiphertextViews> decodeCiphertext(common::ByteView encoded) {
    if (encoded.empty()) return common::Fail(kDerEmpty);
    const std::uint8_t* p = encoded.data();
    auto sequence = readElement(p, encoded.data() + encoded.size(), der::kSequence);
    if (!sequence) return std::unexpected(sequence.error());

    // The first three elements; whatever follows them, inside the SEQUENCE or
    // after it, is not read.
    const std::uint8_t* q = sequence->data();
    const std::uint8_t* end = q + sequence->size();
    common::ByteView field[3];
    for (common::ByteView& f : field) {
        if (q == end) return common::Fail(kDerTooFewElements);
        auto element = readElement(q, end, der::kOctetString);
        if (!element) return std::unexpected(element.error());
        f = *element;
    }
    return CiphertextViews{field[0], field[1], field[2]};
}

std::size_t MarshalledLength(std::size_t ivLength, std::size_t ciphertextLength, std::size_t tagLength) {
    return der::ElementLength(der::ElementLength(ivLength) + der::ElementLength(ciphertextLength) +
                              der::ElementLength(tagLength));
}

common::Result<common::Bytes> marshalCiphertext(const aesCiphertext& fields) {
    const common::ByteView parts[] = {fields.IV, fields.Ciphertext, fields.Tag};
    std::uint64_t content = 0;
    for (common::ByteView part : parts) content += der::ElementLength(part.size());

    common::Bytes out(der::ElementLength(content));
    std::uint8_t* p = der::PutHeader(out.data(), der::kSequence, content);
    for (common::ByteView part : parts) {
        p = der::PutHeader(p, der::kOctetString, part.size());
        if (!part.empty()) std::memcpy(p, part.data(), part.size());
        p += part.size();
    }
    return out;
}

common::Result<aesCiphertext> unmarshalCiphertext(common::ByteView encoded) {
    auto fields = decodeCiphertext(encoded);
    if (!fields) return std::unexpected(fields.error());
    auto own = [](common::ByteView v) { return common::Bytes(v.begin(), v.end()); };
    return aesCiphertext{own(fields->IV), own(fields->Ciphertext), own(fields->Tag)};
}

}  // namespace aes
