// The index argument of the flow cache records' indexing methods: a signed
// 32-bit int, refused unless it names an element the record really holds.
#pragma once

#include "runtime/python.hpp"

namespace flowcache {

// Converts argument 2 of `method` as an int; false with the argument's
// TypeError or OverflowError.
bool index_argument(PyObject *obj, const char *method, int *out);

// IndexError "<method>: index <i> out of range 0..<count-1>", or "(no
// entries)" when count is 0. Returns false.
LIBFC_COLD bool index_out_of_range(const char *method, int index, long long count);

// Checked before any element is touched, so no index reads past a record.
inline bool index_in_range(const char *method, int index, long long count) {
    if (index < 0 || index >= count) [[unlikely]]
        return index_out_of_range(method, index, count);
    return true;
}

}  // namespace flowcache
