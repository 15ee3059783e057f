// Identity strings and identity vectors.
//
// An identity string names a path of levels separated by "/", top level first
// ("A/B/C"). The HIBE scheme works on identity vectors instead: one big integer
// per level, the SHA-256 digest of the level's bytes read big-endian. Levels are
// plain byte strings: no escaping, trimming or case folding.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "hibe/scheme.h"

namespace hibe_amd64 {

// One non-negative integer per level, top level first, each below 2^256 and not
// reduced modulo the group order: the identity vector of the HIBE scheme.
using HibeId = hibe::HibeId;

// Error texts of ValidateId. The format error names the whole identity string.
inline constexpr std::string_view kIdIsNil = "invalid parameters, id is nil";

// Error text of IdStr2HibeId: OpenSSL could not compute a level's digest (the
// digest was not fetched at start-up, or a context could not be allocated).
inline constexpr std::string_view kIdHashFailed = "failed to hash the identity";

// The levels of `id`, split at every "/" (0x2F). A string with n separators has
// n + 1 levels; the empty string has one, empty, level.
std::vector<std::string> SplitLevels(std::string_view id);

// Number of levels of `id`: one more than its count of "/" bytes.
std::size_t LevelCount(std::string_view id);

// Succeeds when `id` is a valid identity string: not empty, no empty level (so
// no leading, trailing or doubled "/"), and no level holding a space (0x20).
// Every other byte, tabs and bytes above 0x7F included, is allowed.
// Errors: "invalid parameters, id is nil" for the empty string; otherwise
// "invalid parameters, id: <id>, format error, only like : \"A/B/C\" can be used".
common::Status ValidateId(std::string_view id);

// The levels of an identity string and its identity vector, position by position.
struct IdLevels {
    std::vector<std::string> levels;
    HibeId hibeId;
};

// Splits `id` into levels and hashes each level with SHA-256 into an unsigned
// big-endian integer. Makes no validation: an empty level gives the digest of
// the empty string. Fails only when OpenSSL cannot compute a digest, with
// "failed to hash the identity".
common::Result<IdLevels> IdStr2HibeId(std::string_view id);

// The identity vector of every string of `idList`, in the same order; the error
// of IdStr2HibeId for the first string that fails.
common::Result<std::vector<HibeId>> idStrList2HibeIds(std::span<const std::string> idList);

}  // namespace hibe_amd64
