// Record methods that hand out one element of an array a record holds: a
// view of the element in place, its integer value, or an owned copy. One
// ELEMENT_METHOD / ELEMENT_FUNCTION line of a description file (see
// record_table.inc) names the array, what bounds it and what comes back; the
// templates below do the parse, the conversions, the bound check, the trap
// and the result.
//
// Every method follows one order: argument 1 (the record) and argument 2
// (the int index) are converted in turn, then a null record is refused, then
// the index is checked against the elements that exist, and only then is the
// record touched, under the library-call trap.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "allocations.hpp"
#include "convert.hpp"
#include "errors.hpp"
#include "pointer_object.hpp"
#include "record_fields.hpp"
#include "registry.hpp"
#include "trap.hpp"

namespace element {

struct ElementDesc {
    const char *method;       // the Python name, which words every message
    const char *record_text;  // "FC_IOCFlows *", the C type of argument 1
    int record_type;          // descriptor id of the record pointer
    std::size_t offset;       // of element 0 within the record
    std::size_t stride;       // bytes from one element to the next
    std::size_t length;       // elements the C declaration gives the array
    bool indexed;             // an array, reached by index; a scalar field is its own one element
    std::size_t count_offset; // of the field counting the elements in use, for a counted bound
};

// A bound is the array itself (its declared length) or an integer field of
// the record that states how many elements follow. A scalar takes no index.
template <class Array, class Bound>
consteval bool bound_fits(bool bound_is_the_array) {
    if constexpr (!records::array_traits<Array>::is_array)
        return bound_is_the_array;
    else if constexpr (std::is_integral_v<Bound>)
        return !bound_is_the_array;
    else  // a variable part (length 0) has no length of its own to bound it
        return bound_is_the_array && records::array_traits<Array>::count > 0;
}

template <class Array>
constexpr ElementDesc describe(const char *method, const char *record_text, int record_type, std::size_t offset,
                               std::size_t count_offset) {
    using traits = records::array_traits<Array>;
    return {method,
            record_text,
            record_type,
            offset,
            sizeof(records::element_t<Array>),
            traits::is_array ? traits::count : 1,
            traits::is_array,
            count_offset};
}

// Argument 1, a pointer to record_type, and when `index` is given argument
// 2, a C int; then the null record refused. The address functions parse
// their (record[, flag]) arguments with the same rules.
inline bool record_and_int(PyObject *args, const char *method, int record_type, const char *record_text,
                           char **record, int *index) {
    PyObject *argv[2];
    if (index ? !unpack_args<2>(args, method, argv) : !unpack_args<1>(args, method, argv)) return false;
    void *address;
    if (!convert::pointer_argument(argv[0], registry::types[record_type], 0, method, 1, record_text, &address))
        return false;
    if (index) {
        if (int rc = convert::to_integer(argv[1], index)) [[unlikely]] {
            errors::argument(rc, method, 2, "int");
            return false;
        }
    }
    if (!address) [[unlikely]] {
        errors::null_argument(method, 1, record_text);
        return false;
    }
    *record = static_cast<char *>(address);
    return true;
}

// IndexError "<method>: index <i> out of range 0..<count-1>", or "... out of
// range (no entries)" when there are none. Returns false.
LIBFC_COLD inline bool index_out_of_range(const char *method, int index, long long count) {
    if (count <= 0)
        PyErr_Format(PyExc_IndexError, "%s: index %d out of range (no entries)", method, index);
    else
        PyErr_Format(PyExc_IndexError, "%s: index %d out of range 0..%lld", method, index, count - 1);
    return false;
}

// The count field of a counted array (Bound is its C type), as stored.
template <class Bound>
inline long long stated_count(const char *record, std::size_t count_offset) {
    return static_cast<long long>(records::load<Bound>(record + count_offset));
}

// Elements that really exist. A counted array follows its record in memory
// the library filled; a record made by new_X is that record alone, whatever
// its count says, so it holds none. The count is read outside the trap, as
// the record has already been accepted as this module's or the caller's.
template <const ElementDesc &E, class Bound>
inline long long elements_held(char *record) {
    if constexpr (std::is_integral_v<Bound>) {
        if (allocations::holds(record, registry::types[E.record_type])) return 0;
        return stated_count<Bound>(record, E.count_offset);
    } else {
        return static_cast<long long>(E.length);
    }
}

// Parses and checks the arguments; on success the index names an element the
// record holds (0 for a scalar), so nothing past them is reachable.
template <const ElementDesc &E, class Bound>
inline bool locate(PyObject *args, char **record, int *index) {
    *index = 0;
    if (!record_and_int(args, E.method, E.record_type, E.record_text, record, E.indexed ? index : nullptr))
        return false;
    if constexpr (E.indexed) {
        long long held = elements_held<E, Bound>(*record);
        if (*index < 0 || *index >= held) [[unlikely]]
            return index_out_of_range(E.method, *index, held);
    }
    return true;
}

// The index is in range, so the signed product stays inside the record.
inline char *element_at(const ElementDesc &E, char *record, int index) {
    return record + E.offset + static_cast<std::ptrdiff_t>(index) * static_cast<std::ptrdiff_t>(E.stride);
}

// An element's bytes read as the C integer type T (records may be packed:
// no alignment is assumed).
template <class T>
inline T element_value(const char *element) {
    T v;
    std::memcpy(&v, element, sizeof v);
    return v;
}

// A pointer object of descriptor Type to the element in place, not owned: it
// lives as long as the record does.
template <const ElementDesc &E, class Bound, int Type>
PyObject *view(PyObject *, PyObject *args) noexcept {
    char *record;
    int index;
    if (!locate<E, Bound>(args, &record, &index)) return nullptr;
    char *element = nullptr;
    auto find = [record, index, &element] { element = element_at(E, record, index); };
    if (trap::armed(find)) return trap::raise_abandoned_call();
    return pointer_object::make(element, registry::types[Type], 0);
}

// The element's value, read as the C integer type T.
template <const ElementDesc &E, class Bound, class T>
PyObject *value(PyObject *, PyObject *args) noexcept {
    static_assert(std::is_integral_v<T> && sizeof(T) == E.stride, "an element value is read as an integer of its size");
    char *record;
    int index;
    if (!locate<E, Bound>(args, &record, &index)) return nullptr;
    T v = 0;
    auto read = [record, index, &v] { v = element_value<T>(element_at(E, record, index)); };
    if (trap::armed(read)) return trap::raise_abandoned_call();
    return convert::from_integer(v);
}

// A new block holding a copy of the element, remembered as a record of
// descriptor Type that the returned object owns, so the caller keeps it after
// the library reuses or frees the container, and delete_X or the last owner
// frees it exactly once.
template <const ElementDesc &E, class Bound, int Type>
PyObject *copy(PyObject *, PyObject *args) noexcept {
    char *record;
    int index;
    if (!locate<E, Bound>(args, &record, &index)) return nullptr;
    void *block = nullptr;
    auto duplicate = [record, index, &block] {
        block = std::malloc(E.stride);
        if (block) std::memcpy(block, element_at(E, record, index), E.stride);
    };
    if (trap::armed(duplicate)) {
        std::free(block);
        return trap::raise_abandoned_call();
    }
    if (!block) [[unlikely]]
        return PyErr_NoMemory();
    swig_type_info *ty = registry::types[Type];
    allocations::remember(block, ty);
    PyObject *result = pointer_object::make(block, ty, pointer_object::kOwn);
    if (!result) [[unlikely]] {
        allocations::forget(block, ty);
        std::free(block);
    }
    return result;
}

}  // namespace element
