// The error value of the whole library: one message text, shared by copies.
//
// Fallible operations return common::Result<T> (a std::expected). An error made
// once and handed out many times (the key-length errors of the symmetric key
// factory) keeps its identity through copies, which SameAs observes.
#pragma once

#include <expected>
#include <memory>
#include <string>
#include <utility>

namespace common {

class Error {
public:
    explicit Error(std::string message)
        : text_(std::make_shared<const std::string>(std::move(message))) {}

    const std::string& Message() const noexcept { return *text_; }

    // True when both values are copies of one error object.
    bool SameAs(const Error& other) const noexcept { return text_ == other.text_; }

private:
    std::shared_ptr<const std::string> text_;
};

template <typename T>
using Result = std::expected<T, Error>;

using Status = std::expected<void, Error>;

inline std::unexpected<Error> Fail(std::string message) {
    return std::unexpected(Error(std::move(message)));
}

inline std::unexpected<Error> Fail(const Error& error) { return std::unexpected(error); }

}  // namespace common
