#include "hibe_amd64/refine.h"

namespace hibe_amd64 {
namespace {

std::string paramsDifferError(std::string_view id) {
    std::string text = "ID [";
    text.append(id);
    text.append("] is matched, but Params are different, please check it");
    return text;
}

enum class Relation { kNone, kSame, kAncestor, kDescendant };

// How receiver `id` relates to the refined entry `entry`.
Relation relate(std::string_view id, std::string_view entry) {
    if (id == entry) return Relation::kSame;
    if (IsAncestor(id, entry)) return Relation::kAncestor;
    if (IsAncestor(entry, id)) return Relation::kDescendant;
    return Relation::kNone;
}

}  // namespace

// The levels of x are a leading run of the levels of y exactly when y is x
// followed by a separator and more bytes; no level splitting is needed.
bool IsAncestor(std::string_view ancestor, std::string_view id) {
    return id.size() > ancestor.size() && id.starts_with(ancestor) &&
           id[ancestor.size()] == '/';
}

common::Result<RefinedReceivers> refineIdsAndParams(std::span<const std::string> ids,
                                                    std::span<hibe::Params* const> paramsList) {
    if (ids.empty()) return common::Fail(std::string(kReceiverIdsNil));
    if (paramsList.size() != ids.size()) return common::Fail(std::string(kListsDoNotMatch));

    RefinedReceivers refined;
    refined.ids.push_back(ids[0]);
    refined.params.push_back(paramsList[0]);

    for (std::size_t i = 1; i < ids.size(); ++i) {
        bool covered = false;
        for (std::size_t j = 0; j < refined.ids.size() && !covered; ++j) {
            Relation relation = relate(ids[i], refined.ids[j]);
            if (relation == Relation::kNone) continue;
            if (paramsList[i]->Marshal() != refined.params[j]->Marshal()) {
                return common::Fail(paramsDifferError(ids[i]));
            }
            if (relation == Relation::kDescendant) {
                refined.ids[j] = ids[i];
                refined.params[j] = paramsList[i];
            }
            covered = true;
        }
        if (!covered) {
            refined.ids.push_back(ids[i]);
            refined.params.push_back(paramsList[i]);
        }
    }
    return refined;
}

}  // namespace hibe_amd64
