// Argument handling shared by the flow records' extra methods: the record
// (a null one refused, since every method reads through it), a signed 32-bit
// int, and the bound check of an index against the elements that exist.
#pragma once

#include "runtime/convert.hpp"
#include "runtime/errors.hpp"
#include "runtime/registry.hpp"

namespace flow_methods {

// Argument 1: a non-null pointer to the record of descriptor type_id.
inline bool record_argument(PyObject *obj, int type_id, const char *method, const char *ctype, char **out) {
    void *address;
    if (!convert::pointer_argument(obj, registry::types[type_id], 0, method, 1, ctype, &address)) return false;
    if (!address) [[unlikely]] {
        errors::null_argument(method, 1, ctype);
        return false;
    }
    *out = static_cast<char *>(address);
    return true;
}

// Argument n: a C int, converted and reported like every int parameter.
inline bool int_argument(PyObject *obj, const char *method, int position, int *out) {
    if (int rc = convert::to_integer(obj, out)) [[unlikely]] {
        errors::argument(rc, method, position, "int");
        return false;
    }
    return true;
}

// IndexError "<method>: index <i> out of range 0..<count-1>", or
// "... out of range (no entries)" when count is 0. Returns false.
LIBFC_COLD bool index_out_of_range(const char *method, int index, long long count);

// True when 0 <= index < count; otherwise raises the IndexError. Checked
// before the element is touched, since nothing past the end is the caller's.
inline bool index_in_range(const char *method, int index, long long count) {
    if (index >= 0 && index < count) [[likely]]
        return true;
    return index_out_of_range(method, index, count);
}

}  // namespace flow_methods
