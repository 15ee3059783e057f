// Bytes in a block of the C heap that can be handed to a host as it is.
//
// ReadKey reads a file straight into the block that becomes the host's result
// buffer (r0), so the file's bytes are never copied, and a call's peak memory is
// about the file's size. Until the block is released to the host, it is the
// library's: every way of letting it go (destruction, growth, a failure) wipes
// the whole block before it is freed, because the bytes may be a key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <utility>

#include "common/wipe.h"

namespace hibe_c {

class HeapBytes {
public:
    // An empty value with room for capacity bytes, or nothing when malloc cannot
    // supply them. At least one byte is allocated, so that even an empty result
    // has a pointer that the host frees.
    static std::optional<HeapBytes> Allocate(std::size_t capacity) noexcept {
        if (capacity == 0) capacity = 1;
        void* block = std::malloc(capacity);
        if (block == nullptr) return std::nullopt;
        return HeapBytes(static_cast<std::uint8_t*>(block), capacity);
    }

    HeapBytes(HeapBytes&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    HeapBytes& operator=(HeapBytes other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
        return *this;
    }
    ~HeapBytes() { release(data_, capacity_); }

    std::uint8_t* data() noexcept { return data_; }
    const std::uint8_t* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    std::size_t capacity() const noexcept { return capacity_; }
    bool empty() const noexcept { return size_ == 0; }
    std::uint8_t* begin() noexcept { return data_; }
    std::uint8_t* end() noexcept { return data_ + size_; }
    const std::uint8_t* begin() const noexcept { return data_; }
    const std::uint8_t* end() const noexcept { return data_ + size_; }
    std::span<const std::uint8_t> span() const noexcept { return {data_, size_}; }

    // The bytes in use: the first size of the capacity (size <= capacity).
    void SetSize(std::size_t size) noexcept { size_ = size; }

    // Moves the bytes in use to a new block of capacity bytes (capacity >= size)
    // and wipes the old block before freeing it. False, with the value as it
    // was, when malloc cannot supply the new block.
    bool Grow(std::size_t capacity) noexcept {
        void* block = std::malloc(capacity);
        if (block == nullptr) return false;
        if (size_ != 0) std::memcpy(block, data_, size_);
        release(data_, capacity_);
        data_ = static_cast<std::uint8_t*>(block);
        capacity_ = capacity;
        return true;
    }

    // Hands the block over: it belongs to the caller, who frees it with free().
    // The value is empty afterwards and wipes nothing.
    void* Release() noexcept {
        size_ = capacity_ = 0;
        return std::exchange(data_, nullptr);
    }

private:
    HeapBytes(std::uint8_t* data, std::size_t capacity) : data_(data), capacity_(capacity) {}

    static void release(std::uint8_t* data, std::size_t capacity) noexcept {
        if (data == nullptr) return;
        common::Wipe(data, capacity);
        std::free(data);
    }

    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace hibe_c
