// EncryptHibeMsg and DecryptHibeMsg: the list blobs, the parameter records and
// the JSON message map around the message layer.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/wipe.h"
#include "crypto/crypto.h"
#include "hibe_amd64/hibe_fast.h"
#include "hibe_c/hibe_c.h"
#include "hibe_c/json_map.h"
#include "hibe_c/stdout_writer.h"
#include "serialize/easycodec.h"

namespace hibe_c {
namespace {

constexpr std::string_view kUnmarshalParamsFailed = "failed to unmarshal params";
constexpr std::string_view kSizeKey = "size";

// The count of a list blob: its "size" item, 0 when there is none.
std::int64_t listSize(const serialize::EasyCodec& codec) {
    return codec.GetInt32(kSizeKey).value_or(0);
}

// The receiver ids "0" … "size − 1". A missing entry is taken as the empty
// text, which the message layer rejects; collecting stops there, so a count far
// above what the blob holds builds no long list.
std::vector<std::string> receiverIdList(const serialize::EasyCodec& codec) {
    std::vector<std::string> ids;
    const std::int64_t n = listSize(codec);
    for (std::int64_t i = 0; i < n; ++i) {
        auto id = codec.GetString(std::to_string(i));
        ids.push_back(id.value_or(std::string()));
        if (!id) break;
    }
    return ids;
}

// The parameter records of the params list blob, in list order. Equal encodings
// are decoded once and share one record, so the pairing that encryption caches
// in a record serves every receiver of one organisation.
struct ParamsList {
    std::vector<std::unique_ptr<hibe::Params>> records;
    std::vector<hibe::Params*> list;
};

common::Result<ParamsList> paramsList(const serialize::EasyCodec& codec) {
    ParamsList result;
    std::map<std::string, hibe::Params*> byEncoding;
    const std::int64_t m = listSize(codec);
    for (std::int64_t i = 0; i < m; ++i) {
        const common::Bytes encoding = codec.GetBytes(std::to_string(i)).value_or(common::Bytes());
        std::string key(common::AsText(encoding));
        auto known = byEncoding.find(key);
        if (known == byEncoding.end()) {
            auto record = std::make_unique<hibe::Params>();
            if (!record->Unmarshal(encoding).second) return common::Fail(std::string(kUnmarshalParamsFailed));
            known = byEncoding.emplace(std::move(key), record.get()).first;
            result.records.push_back(std::move(record));
        }
        result.list.push_back(known->second);
    }
    return result;
}

common::Bytes toBytes(std::string_view text) { return common::Bytes(text.begin(), text.end()); }

}  // namespace

common::Bytes EncryptHibeMsg(common::Bytes plaintext, common::Bytes receiverIds,
                             common::Bytes params, std::int64_t /*keyType: always AES*/) {
    const serialize::EasyCodec idCodec = serialize::NewEasyCodecWithBytes(receiverIds);
    const serialize::EasyCodec paramsCodec = serialize::NewEasyCodecWithBytes(params);
    const std::vector<std::string> ids = receiverIdList(idCodec);

    // The message layer releases the plaintext once it is encrypted, and the
    // JSON text is written straight from the ciphertexts.
    auto records = paramsList(paramsCodec);
    auto sealed = records ? hibe_fast::SealHibeMsg(plaintext, &plaintext, ids, records->list,
                                                   crypto::AES, CheckJsonMapLength)
                          : std::unexpected(records.error());
    if (!sealed) {
        WriteStdout(sealed.error().Message());
        return toBytes(kNullResult);
    }
    return WriteJsonMap(*sealed);
}

std::optional<common::Bytes> DecryptHibeMsg(common::Bytes localId, common::Bytes params,
                                            common::Bytes prvKey, common::Bytes hibeMsgMap,
                                            std::int64_t /*keyType: always AES*/) {
    // The copy of the host's key bytes is wiped on every way out; the decoded key
    // wipes itself.
    common::WipeOnExit wipeKeyBytes([&] { common::Wipe(prvKey); });
    hibe::Params hibeParams;
    if (!hibeParams.Unmarshal(params).second) return std::nullopt;
    hibe::PrivateKey key;
    if (!key.Unmarshal(prvKey).second) return std::nullopt;
    const std::optional<HibeMsgMap> map = ReadJsonMap(common::AsText(hibeMsgMap));

    auto plaintext = hibe_fast::DecryptHibeMsg(common::AsText(localId), &hibeParams, &key,
                                               map ? &*map : nullptr, crypto::AES);
    if (!plaintext) return std::nullopt;
    return std::move(*plaintext);
}

}  // namespace hibe_c
