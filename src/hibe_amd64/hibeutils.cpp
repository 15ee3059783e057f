#include "hibe_amd64/hibeutils.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

#include "common/bytes.h"
#include "crypto/algorithms.h"
#include "crypto/hash.h"

namespace hibe_amd64 {
namespace {

constexpr char kSeparator = '/';
constexpr char kSpace = ' ';

std::string formatError(std::string_view id) {
    std::string text = "invalid parameters, id: ";
    text.append(id);
    text.append(", format error, only like : \"A/B/C\" can be used");
    return text;
}

// SHA-256 of `level`, read as an unsigned big-endian integer of up to 256 bits,
// into value; false when OpenSSL cannot compute it.
bool levelDigest(mpz_class& value, std::string_view level) {
    std::array<std::uint8_t, 32> digest{};
    if (hash::Compute(crypto::DigestOf(crypto::Digest::Sha256), common::AsBytes(level), digest) !=
        digest.size()) {
        return false;
    }
    mpz_import(value.get_mpz_t(), digest.size(), 1, 1, 1, 0, digest.data());
    return true;
}

}  // namespace

std::vector<std::string> SplitLevels(std::string_view id) {
    std::vector<std::string> levels;
    levels.reserve(LevelCount(id));
    std::size_t start = 0;
    for (;;) {
        std::size_t end = id.find(kSeparator, start);
        if (end == std::string_view::npos) {
            levels.emplace_back(id.substr(start));
            return levels;
        }
        levels.emplace_back(id.substr(start, end - start));
        start = end + 1;
    }
}

std::size_t LevelCount(std::string_view id) {
    return static_cast<std::size_t>(std::count(id.begin(), id.end(), kSeparator)) + 1;
}

common::Status ValidateId(std::string_view id) {
    if (id.empty()) return common::Fail(std::string(kIdIsNil));
    std::size_t start = 0;
    for (;;) {
        std::size_t end = id.find(kSeparator, start);
        std::string_view level = id.substr(start, end == std::string_view::npos
                                                      ? std::string_view::npos
                                                      : end - start);
        if (level.empty() || level.find(kSpace) != std::string_view::npos) {
            return common::Fail(formatError(id));
        }
        if (end == std::string_view::npos) return {};
        start = end + 1;
    }
}

common::Result<IdLevels> IdStr2HibeId(std::string_view id) {
    IdLevels result;
    result.levels = SplitLevels(id);
    result.hibeId.resize(result.levels.size());
    for (std::size_t i = 0; i < result.levels.size(); ++i) {
        if (!levelDigest(result.hibeId[i], result.levels[i])) {
            return common::Fail(std::string(kIdHashFailed));
        }
    }
    return result;
}

common::Result<std::vector<HibeId>> idStrList2HibeIds(std::span<const std::string> idList) {
    std::vector<HibeId> ids;
    ids.reserve(idList.size());
    for (const std::string& id : idList) {
        auto identity = IdStr2HibeId(id);
        if (!identity) return std::unexpected(identity.error());
        ids.push_back(std::move(identity->hibeId));
    }
    return ids;
}

}  // namespace hibe_amd64
