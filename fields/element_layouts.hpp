// Where the items of the records' element methods lie, read from the same
// ELEMENT_METHOD / ELEMENT_FUNCTION lines that make those methods, so the
// companion's sequences can hand out an item in place without calling the
// method for each one.
#pragma once

#include "runtime/element_methods.hpp"

namespace element_layouts {

struct Layout {
    element::ElementDesc element;  // the method, its record and where the items lie, as it has them
    int view_type;                 // descriptor id of a view item; -1 for a value item
    PyObject *(*value)(const char *at);  // reads a value item; null for a view
    // The count field's value; null when the array is bounded by its own length.
    long long (*count)(const char *record);
};

// The layout of the indexed view or value method of that name; null for
// every other name (copies stay the module's: it owns what they allocate).
const Layout *find(const char *method);

// How many items the method itself would accept on this record, as far as
// the record's own memory says (the module also refuses the counted items of
// a record it allocated, which the caller must have ruled out).
inline long long items_in(const Layout &l, const char *record) {
    return l.count ? l.count(record) : static_cast<long long>(l.element.length);
}

}  // namespace element_layouts
