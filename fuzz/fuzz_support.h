// Helpers shared by the fuzz targets: a check that aborts (so that libFuzzer and
// the corpus replay both report it, whatever NDEBUG says), a splitter that cuts
// one fuzz input into several arguments, and the test data files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "common/bytes.h"

// Aborts with the failed condition when cond is false.
#define FUZZ_CHECK(cond)                                                                   \
    do {                                                                                   \
        if (!(cond)) {                                                                     \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

namespace fuzz {

// Cuts an input into fields from the front. A length-prefixed field is a 2-byte
// little-endian length followed by that many bytes; a length beyond the end of
// the input takes what is left, and a missing length byte counts as 0. Every
// input therefore splits, and a seed built by Prefixed() splits back exactly.
class Splitter {
public:
    Splitter(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    // The next byte, 0 at the end of the input.
    std::uint8_t Byte() {
        if (pos_ == size_) return 0;
        return data_[pos_++];
    }

    // The next length-prefixed field.
    common::Bytes Field() {
        std::size_t len = Byte();
        len |= static_cast<std::size_t>(Byte()) << 8;
        return Take(len);
    }

    // Everything not yet taken.
    common::Bytes Rest() { return Take(size_ - pos_); }

private:
    common::Bytes Take(std::size_t len) {
        if (len > size_ - pos_) len = size_ - pos_;
        common::Bytes out(data_ + pos_, data_ + pos_ + len);
        pos_ += len;
        return out;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// field as a length-prefixed field of Splitter (at most 65535 bytes) appended to out.
inline void Prefixed(common::Bytes& out, common::ByteView field) {
    out.push_back(static_cast<std::uint8_t>(field.size()));
    out.push_back(static_cast<std::uint8_t>(field.size() >> 8));
    out.insert(out.end(), field.begin(), field.end());
}

// The whole file tests/data/<name>; aborts when it cannot be read, since a
// target without its fixed inputs would test nothing.
inline common::Bytes TestData(const std::string& name) {
    const std::string path = std::string(HIBE_TEST_DATA) + "/" + name;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        std::abort();
    }
    return common::Bytes(std::istreambuf_iterator<char>(in), {});
}

}  // namespace fuzz
