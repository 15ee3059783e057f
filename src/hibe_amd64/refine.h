// Receiver list refinement.
//
// A key derives the keys of every identity below it, so a message encrypted to
// an identity can be read by the holders of all its ancestors' keys. Before the
// message key is encrypted once per receiver, the receiver list is shortened: a
// receiver that descends from one already in the list takes that one's place,
// and a receiver that is an ancestor of (or equal to) one already in the list
// gets no entry of its own. Related receivers must share their parameters,
// which is checked by comparing the parameter encodings byte for byte.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "hibe/scheme.h"

namespace hibe_amd64 {

// Error texts shared with the message encryption, which checks the same lists.
inline constexpr std::string_view kReceiverIdsNil = "invalid parameters, receiverIds is nil";
inline constexpr std::string_view kListsDoNotMatch =
    "invalid parameters, receiverIds and paramsList do not match, place check them";

// The refined receivers, position by position. `params` holds the caller's
// record pointers; nothing is copied.
struct RefinedReceivers {
    std::vector<std::string> ids;
    std::vector<hibe::Params*> params;
};

// Refines `ids` (validated identity strings) with their parameters
// `paramsList` (one non-null record per receiver, same order; receivers of one
// hierarchy may share a record).
//
// For each receiver after the first, in input order, the refined list is
// scanned from its start and the first related entry decides:
//   - an equal identity string, or an entry that descends from the receiver
//     (level-wise: A is an ancestor of A/B, not of AB/C): the receiver is
//     covered and dropped;
//   - an entry that is an ancestor of the receiver: the receiver takes its
//     place, at the same position;
// in both cases only after the two parameter encodings compared equal. A
// receiver related to no entry is appended. Receivers of equal depth with
// different strings are unrelated.
//
// Errors: "ID [<id>] is matched, but Params are different, please check it",
// naming the later receiver of a related pair whose encodings differ;
// "invalid parameters, receiverIds is nil" for an empty list and "invalid
// parameters, receiverIds and paramsList do not match, place check them" for
// lists of different lengths.
//
// Encoding a record normalises its points in place (same values), so the
// records must not be used by another thread during the call.
common::Result<RefinedReceivers> refineIdsAndParams(std::span<const std::string> ids,
                                                    std::span<hibe::Params* const> paramsList);

// Whether `ancestor` is a level-wise ancestor of `id`: fewer levels, each equal
// to the level at the same position of `id`.
bool IsAncestor(std::string_view ancestor, std::string_view id);

}  // namespace hibe_amd64
