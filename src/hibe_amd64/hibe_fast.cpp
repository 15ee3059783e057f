#include "hibe_amd64/hibe_fast.h"

namespace hibe_fast {

common::Result<hibe::SetupResult> Setup(common::RandomSource& rand, std::int64_t l) {
    return hibe::Setup(rand, l);
}

common::Result<hibe::PrivateKey> KeyGenFromMaster(common::RandomSource& rand,
                                                  const hibe::Params& params,
                                                  const hibe::MasterKey& master,
                                                  const hibe::HibeId& id) {
    return hibe::KeyGenFromMaster(rand, params, master, id);
}

common::Result<hibe_amd64::IdLevels> IdStr2HibeId(std::string_view id) {
    return hibe_amd64::IdStr2HibeId(id);
}

common::Result<hibe_amd64::HibeMsgMap> EncryptHibeMsg(common::ByteView plaintext,
                                                      std::span<const std::string> receiverIds,
                                                      std::span<hibe::Params* const> paramsList,
                                                      crypto::KeyType symKeyType) {
    return hibe_amd64::EncryptHibeMsg(plaintext, receiverIds, paramsList, symKeyType);
}

common::Result<hibe_amd64::SealedMessage> SealHibeMsg(common::ByteView plaintext,
                                                      common::Bytes* owner,
                                                      std::span<const std::string> receiverIds,
                                                      std::span<hibe::Params* const> paramsList,
                                                      crypto::KeyType symKeyType,
                                                      const hibe_amd64::MapCheck& check) {
    return hibe_amd64::SealHibeMsg(plaintext, owner, receiverIds, paramsList, symKeyType, check);
}

common::Result<common::Bytes> DecryptHibeMsg(std::string_view localId,
                                             const hibe::Params* hibeParams,
                                             const hibe::PrivateKey* prvKey,
                                             const hibe_amd64::HibeMsgMap* hibeMsgMap,
                                             crypto::KeyType symKeyType) {
    return hibe_amd64::DecryptHibeMsg(localId, hibeParams, prvKey, hibeMsgMap, symKeyType);
}

}  // namespace hibe_fast
