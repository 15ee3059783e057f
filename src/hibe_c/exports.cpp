// The five C entry points of libhibe.so: the only exported symbols.
//
// Each runs in the one frame of guarded(): waits until the library is ready,
// checks and copies its arguments, calls its body in namespace hibe_c and copies
// the result into a malloc buffer that belongs to the host. No exception leaves
// these functions: one raised inside a body becomes that function's failure
// result.
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include "common/wipe.h"
#include "hibe/hibe.h"
#include "hibe_c/hibe_c.h"
#include "hibe_c/stack_scrub.h"
#include "hibe_c/startup.h"

#define HIBE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Buffer {
    void* r0;
    std::int64_t r1;
};

constexpr Buffer kNoBuffer{nullptr, -1};

// Copies bytes into a new malloc buffer; a 0-byte result still gets a non-null
// pointer. No memory: no buffer (r0 null, r1 -1). Never throws.
Buffer toBuffer(std::string_view bytes) noexcept {
    void* p = std::malloc(bytes.size());
    if (p == nullptr && bytes.empty()) p = std::malloc(1);
    if (p == nullptr) return kNoBuffer;
    if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
    return {p, static_cast<std::int64_t>(bytes.size())};
}

Buffer toBuffer(const common::Bytes& bytes) noexcept {
    return toBuffer(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

Buffer toBuffer(const std::optional<common::Bytes>& bytes) noexcept {
    return bytes ? toBuffer(*bytes) : kNoBuffer;
}

// The failure results. EncryptHibeMsg has no null result: the four bytes
// "null", or, when even those cannot be allocated, nothing better than no buffer.
std::int64_t statusFailure() noexcept { return 1; }
Buffer noBuffer() noexcept { return kNoBuffer; }
Buffer nullResult() noexcept { return toBuffer(hibe_c::kNullResult); }

// The frame of every entry point: enters a call scope (which waits until the
// library is ready, and holds nothing after), then runs body on the calling
// thread, and scrubs the stack that the body used on every way out, down to
// call's reach below callerSp, the caller's stack pointer at its call. An
// exception from either becomes the function's failure result, so none crosses
// the C boundary.
template <hibe_c::Call call, typename R, typename Body>
R guarded(std::uintptr_t callerSp, R (*failure)() noexcept, Body body) noexcept {
    R result;
    try {
        const hibe_c::CallScope inCall;
        result = body();
    } catch (...) {
        result = failure();
    }
    hibe_c::ScrubStack(call, callerSp);
    return result;
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
    return guarded<hibe_c::Call::kHibeSetup>(
        HIBE_CALLER_STACK(), statusFailure, [&]() -> std::int64_t {
            if (orgId.n < 0 || keyOutPath.n < 0) return statusFailure();
            return hibe_c::HibeSetup(depth, view(orgId), view(keyOutPath));
        });
}

HIBE_EXPORT int64_t KeyGenFromMaster(StringRef id, StringRef keyOutPath,
                                     StringRef masterKeyFilePath, StringRef paramsFilePath) {
    return guarded<hibe_c::Call::kKeyGenFromMaster>(
        HIBE_CALLER_STACK(), statusFailure, [&]() -> std::int64_t {
            if (id.n < 0 || keyOutPath.n < 0 || masterKeyFilePath.n < 0 || paramsFilePath.n < 0) {
                return statusFailure();
            }
            return hibe_c::KeyGenFromMaster(view(id), view(keyOutPath), view(masterKeyFilePath),
                                            view(paramsFilePath));
        });
}

HIBE_EXPORT ReadKey_return ReadKey(StringRef keyfile) {
    return asRecord<ReadKey_return>(
        guarded<hibe_c::Call::kReadKey>(HIBE_CALLER_STACK(), noBuffer, [&] {
            if (keyfile.n < 0) return noBuffer();
            // The file is read into the block that the host gets: no copy of a key
            // is made, and none stays in the library.
            auto content = hibe_c::ReadKey(view(keyfile));
            if (!content) return noBuffer();
            const auto size = static_cast<std::int64_t>(content->size());
            return Buffer{content->Release(), size};
        }));
}

HIBE_EXPORT EncryptHibeMsg_return EncryptHibeMsg(char* plaintext, int plaintextLen,
                                                 char* receiverIds, int receiverIdsLen,
                                                 char* params, int paramsLen, int64_t keyType) {
    return asRecord<EncryptHibeMsg_return>(
        guarded<hibe_c::Call::kEncryptHibeMsg>(HIBE_CALLER_STACK(), nullResult, [&] {
            if (plaintextLen < 0 || receiverIdsLen < 0 || paramsLen < 0) return nullResult();
            return toBuffer(hibe_c::EncryptHibeMsg(copyArray(plaintext, plaintextLen),
                                                   copyArray(receiverIds, receiverIdsLen),
                                                   copyArray(params, paramsLen), keyType));
        }));
}

HIBE_EXPORT DecryptHibeMsg_return DecryptHibeMsg(char* localId, int localIdLen, char* params,
                                                 int paramsLen, char* prvKey, int prvKeyLen,
                                                 char* hibeMsgMap, int hibeMsgMapLen,
                                                 int64_t keyType) {
    return asRecord<DecryptHibeMsg_return>(
        guarded<hibe_c::Call::kDecryptHibeMsg>(HIBE_CALLER_STACK(), noBuffer, [&] {
            if (localIdLen < 0 || paramsLen < 0 || prvKeyLen < 0 || hibeMsgMapLen < 0) {
                return noBuffer();
            }
            return toBuffer(hibe_c::DecryptHibeMsg(
                copyArray(localId, localIdLen), copyArray(params, paramsLen),
                copyArray(prvKey, prvKeyLen), copyArray(hibeMsgMap, hibeMsgMapLen), keyType));
        }));
}
