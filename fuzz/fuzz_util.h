// Helpers shared by the fuzz targets: splitting one input into several byte
// strings, and aborting on a broken property (libFuzzer reports the abort).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/bytes.h"

namespace fuzz {

// Reads one input front to back.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    // The next field: a 2-byte little-endian length, then that many bytes (cut
    // short at the end of the input).
    common::Bytes Field() {
        std::size_t n = Byte();
        n |= std::size_t{Byte()} << 8;
        return Take(n);
    }

    // One byte, 0 past the end.
    std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }

    // Everything not read yet.
    common::Bytes Rest() { return Take(size_ - pos_); }

private:
    common::Bytes Take(std::size_t n) {
        if (n > size_ - pos_) n = size_ - pos_;
        common::Bytes out(data_ + pos_, data_ + pos_ + n);
        pos_ += n;
        return out;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Appends a field in the form Input::Field reads (for building corpus files).
inline void PutField(common::Bytes& out, common::ByteView field) {
    out.push_back(static_cast<std::uint8_t>(field.size()));
    out.push_back(static_cast<std::uint8_t>(field.size() >> 8));
    out.insert(out.end(), field.begin(), field.end());
}

[[noreturn]] inline void Broken(const char* what) {
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
}

inline void Check(bool ok, const char* what) {
    if (!ok) Broken(what);
}

}  // namespace fuzz
