// The front through which the library interface reaches the HIBE scheme and the
// message layer. Each operation passes its arguments unchanged to its target and
// returns the target's results unchanged.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "common/error.h"
#include "common/random.h"
#include "crypto/crypto.h"
#include "hibe/scheme.h"
#include "hibe_amd64/hibe_msg.h"
#include "hibe_amd64/hibeutils.h"

namespace hibe_fast {

// hibe::Setup.
common::Result<hibe::SetupResult> Setup(common::RandomSource& rand, std::int64_t l);

// hibe::KeyGenFromMaster.
common::Result<hibe::PrivateKey> KeyGenFromMaster(common::RandomSource& rand,
                                                  const hibe::Params& params,
                                                  const hibe::MasterKey& master,
                                                  const hibe::HibeId& id);

// hibe_amd64::IdStr2HibeId.
common::Result<hibe_amd64::IdLevels> IdStr2HibeId(std::string_view id);

// hibe_amd64::EncryptHibeMsg.
common::Result<hibe_amd64::HibeMsgMap> EncryptHibeMsg(common::ByteView plaintext,
                                                      std::span<const std::string> receiverIds,
                                                      std::span<hibe::Params* const> paramsList,
                                                      crypto::KeyType symKeyType);

// hibe_amd64::SealHibeMsg.
common::Result<hibe_amd64::SealedMessage> SealHibeMsg(common::ByteView plaintext,
                                                      common::Bytes* owner,
                                                      std::span<const std::string> receiverIds,
                                                      std::span<hibe::Params* const> paramsList,
                                                      crypto::KeyType symKeyType,
                                                      const hibe_amd64::MapCheck& check);

// hibe_amd64::DecryptHibeMsg.
common::Result<common::Bytes> DecryptHibeMsg(std::string_view localId,
                                             const hibe::Params* hibeParams,
                                             const hibe::PrivateKey* prvKey,
                                             const hibe_amd64::HibeMsgMap* hibeMsgMap,
                                             crypto::KeyType symKeyType);

}  // namespace hibe_fast
