#include "common/wipe.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

// Appending in pieces of every size around the growth points gives the
// concatenation, whether the buffer grows or not.
TEST(WipeTest, AppendWipedKeepsEveryByteAcrossGrowth) {
    common::Bytes source(1000);
    std::iota(source.begin(), source.end(), 0);
    for (std::size_t piece : {1u, 7u, 16u, 64u, 333u, 1000u}) {
        SCOPED_TRACE(piece);
        common::Bytes out;
        for (std::size_t at = 0; at < source.size(); at += piece) {
            const std::size_t n = std::min(piece, source.size() - at);
            common::AppendWiped(out, common::ByteView(source).subspan(at, n));
        }
        EXPECT_EQ(out, source);
    }
}

// A byte string cut short keeps its old tail in its block: Wipe clears the
// whole block.
TEST(WipeTest, WipeClearsSpareCapacity) {
    common::Bytes key(32, 0xab);
    key.resize(16);
    common::Wipe(key);
    const std::uint8_t* block = key.data();
    for (std::size_t i = 0; i < key.capacity(); ++i) EXPECT_EQ(block[i], 0) << i;
}

}  // namespace
