// The bodies of the five exported functions.
//
// The C entry points (exports.cpp) wait for readiness, reject negative counts,
// copy byte arrays into owned byte strings, call these bodies and copy their
// results into malloc buffers; ReadKey's result already is one (HeapBytes).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "common/bytes.h"
#include "hibe_c/heap_bytes.h"

namespace hibe_c {

// 0 on success, 1 on any failure.
std::int64_t HibeSetup(std::int64_t depth, std::string_view orgId, std::string_view keyOutPath);

// 0 on success, 1 on any failure.
std::int64_t KeyGenFromMaster(std::string_view id, std::string_view keyOutPath,
                              std::string_view masterKeyFilePath, std::string_view paramsFilePath);

// The content of the regular file named by the path bytes as given, or nothing
// when it cannot be opened or read (the empty path and a path holding a zero
// byte included). The content is what the file held up to the size that fstat
// reported when it was opened (later growth is not read); a file reporting size
// 0 (those under /proc) is read to its end. A file of more than 2147483647 bytes
// fails before anything is read, so the size always fits an int. The bytes are
// read straight into the block that the value owns, which wipes itself when it
// goes away, or is released to the host; nothing else of them is left in the
// library's memory.
std::optional<HeapBytes> ReadKey(std::string_view keyfile);

// The JSON text of the message map, or the four bytes "null" after the error's
// text has been written to standard output. keyType is not read.
common::Bytes EncryptHibeMsg(common::Bytes plaintext, common::Bytes receiverIds,
                             common::Bytes params, std::int64_t keyType);

// The plaintext, or nothing on any failure. keyType is not read.
std::optional<common::Bytes> DecryptHibeMsg(common::Bytes localId, common::Bytes params,
                                            common::Bytes prvKey, common::Bytes hibeMsgMap,
                                            std::int64_t keyType);

// The failure result of EncryptHibeMsg.
inline constexpr std::string_view kNullResult = "null";

}  // namespace hibe_c
