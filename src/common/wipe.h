// Wiping secrets before their memory is released or goes out of scope.
//
// A freed heap block or a dead stack frame keeps its bytes until something else
// writes there, so every copy of a key is overwritten first. explicit_bzero is a
// store the compiler may not remove as dead.
#pragma once

#include <string.h>

#include <algorithm>
#include <cstddef>
#include <type_traits>
#include <utility>

#include "common/bytes.h"

namespace common {

// Overwrites n bytes at p with zeros.
inline void Wipe(void* p, std::size_t n) noexcept {
    if (n != 0) explicit_bzero(p, n);
}

// Overwrites the whole allocation of bytes, its spare capacity included: a byte
// string cut short by resize keeps its old tail there.
inline void Wipe(Bytes& bytes) noexcept { Wipe(bytes.data(), bytes.capacity()); }

// Overwrites an object of plain data (a point, a field element) in place.
template <typename T>
void WipeObject(T& object) noexcept {
    static_assert(std::is_trivially_copyable_v<T>);
    Wipe(&object, sizeof object);
}

// Runs wipe when the scope ends, on every path out of it (errors and
// exceptions included).
template <typename F>
class WipeOnExit {
public:
    explicit WipeOnExit(F wipe) : wipe_(std::move(wipe)) {}
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;
    ~WipeOnExit() { wipe_(); }

private:
    F wipe_;
};

// Appends more to out. When out must grow, the bytes move to a new block and
// the old block is wiped before it is released, so growth leaves no copy
// behind (a plain insert would free the old block as it is).
inline void AppendWiped(Bytes& out, ByteView more) {
    if (out.size() + more.size() > out.capacity()) {
        Bytes grown;
        grown.reserve(std::max(out.size() + more.size(), 2 * out.capacity()));
        grown.assign(out.begin(), out.end());
        Wipe(out);
        out.swap(grown);
    }
    out.insert(out.end(), more.begin(), more.end());
}

}  // namespace common
