// What a field's C declaration says about it, without the interpreter: its
// array length and element type (zero-length arrays included, a GNU
// extension the standard traits do not see as arrays). Shared by the record
// templates and the companion generator, which is built without Python.
#pragma once

#include <cstddef>
#include <type_traits>

namespace records {

template <class T>
struct array_traits {
    static constexpr bool is_array = std::is_array_v<T>;
    static constexpr std::size_t count = std::extent_v<T>;
    using element = std::remove_cv_t<std::remove_extent_t<T>>;
};
template <class T>
struct array_traits<T[0]> {
    static constexpr bool is_array = true;
    static constexpr std::size_t count = 0;
    using element = std::remove_cv_t<T>;
};

template <class T>
using element_t = typename array_traits<T>::element;

// Elements of a field: its array length (0 for a variable part that
// follows the record), 1 for anything else.
template <class T>
constexpr std::size_t element_count() {
    if constexpr (array_traits<T>::is_array)
        return array_traits<T>::count;
    else
        return 1;
}

// Bytes of one element: of the array element, or of the field itself.
template <class T>
constexpr std::size_t element_size() {
    return sizeof(element_t<T>);
}

}  // namespace records
