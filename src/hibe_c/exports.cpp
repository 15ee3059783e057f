// The five C entry points of libhibe.so: the only exported symbols.
//
// Each waits until the library is ready, checks and copies its arguments, calls
// its body in namespace hibe_c and copies the result into a malloc buffer that
// belongs to the host. No exception leaves these functions: one raised inside a
// body becomes that function's failure result.
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include "hibe/hibe.h"
#include "hibe_c/hibe_c.h"
#include "hibe_c/startup.h"

#define HIBE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Buffer {
    void* r0;
    std::int64_t r1;
};

constexpr Buffer kNoBuffer{nullptr, -1};

// Copies bytes into a new malloc buffer; a 0-byte result still gets a non-null
// pointer. No memory: no buffer (r0 null, r1 -1).
Buffer toBuffer(const common::Bytes& bytes) {
    void* p = std::malloc(bytes.size());
    if (p == nullptr && bytes.empty()) p = std::malloc(1);
    if (p == nullptr) return kNoBuffer;
    if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
    return {p, static_cast<std::int64_t>(bytes.size())};
}

Buffer toBuffer(const std::optional<common::Bytes>& bytes) {
    return bytes ? toBuffer(*bytes) : kNoBuffer;
}

// EncryptHibeMsg has no null result: the four bytes "null", or, when even those
// cannot be allocated, nothing better than no buffer.
Buffer nullResult() {
    return toBuffer(common::Bytes(hibe_c::kNullResult.begin(), hibe_c::kNullResult.end()));
}

std::string_view view(StringRef s) {
    return s.n == 0 ? std::string_view() : std::string_view(s.p, static_cast<std::size_t>(s.n));
}

// A byte-array argument copied into an owned byte string; with a count of 0 the
// pointer is not read.
common::Bytes copyArray(const char* p, int n) {
    if (n == 0) return {};
    const auto* first = reinterpret_cast<const std::uint8_t*>(p);
    return common::Bytes(first, first + n);
}

template <typename R>
R asRecord(Buffer b) {
    return R{b.r0, b.r1};
}

}  // namespace

HIBE_EXPORT int64_t HibeSetup(int64_t depth, StringRef orgId, StringRef keyOutPath) {
    try {
        const hibe_c::CallScope inCall;
        if (orgId.n < 0 || keyOutPath.n < 0) return 1;
        return hibe_c::HibeSetup(depth, view(orgId), view(keyOutPath));
    } catch (...) {
        return 1;
    }
}

HIBE_EXPORT int64_t KeyGenFromMaster(StringRef id, StringRef keyOutPath,
                                     StringRef masterKeyFilePath, StringRef paramsFilePath) {
    try {
        const hibe_c::CallScope inCall;
        if (id.n < 0 || keyOutPath.n < 0 || masterKeyFilePath.n < 0 || paramsFilePath.n < 0) {
            return 1;
        }
        return hibe_c::KeyGenFromMaster(view(id), view(keyOutPath), view(masterKeyFilePath),
                                        view(paramsFilePath));
    } catch (...) {
        return 1;
    }
}

HIBE_EXPORT ReadKey_return ReadKey(StringRef keyfile) {
    try {
        const hibe_c::CallScope inCall;
        if (keyfile.n < 0) return asRecord<ReadKey_return>(kNoBuffer);
        return asRecord<ReadKey_return>(toBuffer(hibe_c::ReadKey(view(keyfile))));
    } catch (...) {
        return asRecord<ReadKey_return>(kNoBuffer);
    }
}

HIBE_EXPORT EncryptHibeMsg_return EncryptHibeMsg(char* plaintext, int plaintextLen,
                                                 char* receiverIds, int receiverIdsLen,
                                                 char* params, int paramsLen, int64_t keyType) {
    try {
        const hibe_c::CallScope inCall;
        if (plaintextLen < 0 || receiverIdsLen < 0 || paramsLen < 0) {
            return asRecord<EncryptHibeMsg_return>(nullResult());
        }
        common::Bytes result = hibe_c::EncryptHibeMsg(copyArray(plaintext, plaintextLen),
                                                      copyArray(receiverIds, receiverIdsLen),
                                                      copyArray(params, paramsLen), keyType);
        return asRecord<EncryptHibeMsg_return>(toBuffer(result));
    } catch (...) {
        return asRecord<EncryptHibeMsg_return>(nullResult());
    }
}

HIBE_EXPORT DecryptHibeMsg_return DecryptHibeMsg(char* localId, int localIdLen, char* params,
                                                 int paramsLen, char* prvKey, int prvKeyLen,
                                                 char* hibeMsgMap, int hibeMsgMapLen,
                                                 int64_t keyType) {
    try {
        const hibe_c::CallScope inCall;
        if (localIdLen < 0 || paramsLen < 0 || prvKeyLen < 0 || hibeMsgMapLen < 0) {
            return asRecord<DecryptHibeMsg_return>(kNoBuffer);
        }
        return asRecord<DecryptHibeMsg_return>(toBuffer(hibe_c::DecryptHibeMsg(
            copyArray(localId, localIdLen), copyArray(params, paramsLen),
            copyArray(prvKey, prvKeyLen), copyArray(hibeMsgMap, hibeMsgMapLen), keyType)));
    } catch (...) {
        return asRecord<DecryptHibeMsg_return>(kNoBuffer);
    }
}
