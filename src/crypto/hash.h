// The digest selector: SHA-256, SHA3-256 or SM3 of a byte string, chosen by
// digest number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/bytes.h"
#include "common/error.h"
#include "crypto/algorithms.h"
#include "crypto/crypto.h"

namespace hash {

// Selects one digest by number. It holds no digest state: every computation
// starts afresh, so one value may be used by several threads at once. A
// default-made Hash has the number 0 and selects nothing; other numbers are set
// only by hash::Get.
class Hash {
public:
    Hash() = default;

    // The digest of data (32 bytes) under the selected algorithm: SHA-256 for
    // HASH_TYPE_SHA256, SHA3-256 (FIPS 202) for HASH_TYPE_SHA3_256, SM3 for
    // HASH_TYPE_SM3. Any other number fails with "unknown hash algorithm".
    common::Result<common::Bytes> Get(common::ByteView data) const;

private:
    explicit Hash(crypto::HashType hashType) : hashType(hashType) {}

    friend common::Result<common::Bytes> Get(crypto::HashType hashType, common::ByteView data);

    crypto::HashType hashType = 0;
};

// The digest of data under the algorithm numbered hashType (see Hash::Get).
common::Result<common::Bytes> Get(crypto::HashType hashType, common::ByteView data);

// The digest of data under digest, computed by the provider's functions
// (crypto/algorithms.h) on a context of its own, into out, which holds at least
// digest->size bytes. Returns the digest's length, or 0 when digest is null, out
// is too short or the provider fails (its errors are then queued on the calling
// thread).
std::size_t Compute(const crypto::DigestMethods* digest, common::ByteView data,
                    std::span<std::uint8_t> out);

}  // namespace hash
