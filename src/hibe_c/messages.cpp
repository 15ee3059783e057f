#include "hibe_c/hibe_c.h"

namespace hibe_c {

common::Bytes EncryptHibeMsg(common::Bytes, common::Bytes, common::Bytes, std::int64_t) {
    return common::Bytes(kNullResult.begin(), kNullResult.end());
}

std::optional<common::Bytes> DecryptHibeMsg(common::Bytes, common::Bytes, common::Bytes,
                                            common::Bytes, std::int64_t) {
    return std::nullopt;
}

}  // namespace hibe_c
