// Helpers of the crypto tests: hexadecimal text and random sources with known output.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "common/bytes.h"
#include "common/error.h"
#include "common/random.h"

namespace crypto_test {

inline common::Bytes FromHex(std::string_view hex) {
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        throw std::invalid_argument("bad hex digit");
    };
    if (hex.size() % 2 != 0) throw std::invalid_argument("odd hex length");
    common::Bytes out(hex.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<std::uint8_t>(nibble(hex[2 * i]) << 4 | nibble(hex[2 * i + 1]));
    }
    return out;
}

inline std::string ToHex(common::ByteView bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : bytes) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0x0f]);
    }
    return text;
}

inline common::Bytes Concat(std::initializer_list<common::ByteView> parts) {
    common::Bytes out;
    for (common::ByteView p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Hands out the given bytes in order, then fails.
class FixedRandom final : public common::RandomSource {
public:
    explicit FixedRandom(common::Bytes bytes) : bytes_(std::move(bytes)) {}

    common::Status Fill(std::span<std::uint8_t> out) override {
        if (bytes_.size() - used_ < out.size()) return common::Fail("fixed random source exhausted");
        for (std::uint8_t& b : out) b = bytes_[used_++];
        return {};
    }

private:
    common::Bytes bytes_;
    std::size_t used_ = 0;
};

// Fails every draw.
class FailingRandom final : public common::RandomSource {
public:
    static constexpr char kMessage[] = "random source unavailable";
    common::Status Fill(std::span<std::uint8_t>) override { return common::Fail(kMessage); }
};

}  // namespace crypto_test
