// Writing to the output addresses callers pass in.
#pragma once

#include <cstring>

namespace fab {

// An output address is the caller's and may lie anywhere in its memory, a
// field of a packed record included: the value is copied in bytewise, so no
// alignment is assumed.
template <class T, class V>
inline void put_out(T *out, V value) {
    T v = static_cast<T>(value);
    std::memcpy(out, &v, sizeof v);
}

}  // namespace fab
