// Where the items of the records' element methods lie, read from the same
// ELEMENT_METHOD / ELEMENT_FUNCTION lines that make those methods, so the
// companion's sequences can hand out an item in place without calling the
// method for each one.
#pragma once

#include <cstddef>

#include "runtime/python.hpp"

namespace element_layouts {

struct Layout {
    const char *method;       // the module method the line makes
    int record_type;          // descriptor id of the record pointer
    int view_type;            // descriptor id of a view item; -1 for a value item
    PyObject *(*value)(const char *at);  // reads a value item; null for a view
    std::size_t offset;       // of item 0 within the record
    std::size_t stride;       // bytes from one item to the next
    std::size_t length;       // items the C declaration gives the array
    // The count field's value, or -1 when the array is bounded by its own length.
    long long (*count)(const char *record);
};

// The layout of the indexed view or value method of that name; null for
// every other name (copies stay the module's: it owns what they allocate).
const Layout *find(const char *method);

// How many items the method itself would accept on this record, as far as
// the record's own memory says (the module also refuses the counted items of
// a record it allocated, which the caller must have ruled out).
inline long long items_in(const Layout &l, const char *record) {
    return l.count ? l.count(record) : static_cast<long long>(l.length);
}

}  // namespace element_layouts
