// Where the items of the records' element methods lie, read from the same
// ELEMENT_METHOD / ELEMENT_FUNCTION lines that make those methods, and the
// SEQUENCE lines that make records bounded sequences of such items, so the
// companion's sequences can hand out an item in place without calling the
// method for each one.
#pragma once

#include <span>

#include "runtime/element_methods.hpp"

namespace element_layouts {

struct Layout {
    element::ElementDesc element;  // the method, its record and where the items lie, as it has them
    // An indexed view or value, which the caller may make itself; copies
    // stay the module's (it owns what they allocate).
    bool in_place;
    int view_type;                 // descriptor id of a view item; -1 for a value item
    PyObject *(*value)(const char *at);  // reads a value item; null for a view
    // The count field's value; null when the array is bounded by its own length.
    long long (*count)(const char *record);
};

struct Sequence {
    int record_type;     // descriptor id of the record pointer
    const char *count_field;  // the field stating how many items are in use; null when all are
    const Layout *iter;  // the element line that iteration hands out
    const Layout *index; // the element line that indexing hands out
};

std::span<const Sequence> sequences();

// How many items the method itself would accept on this record, as far as
// the record's own memory says (the module also refuses the counted items of
// a record it allocated, which the caller must have ruled out).
inline long long items_in(const Layout &l, const char *record) {
    return l.count ? l.count(record) : static_cast<long long>(l.element.length);
}

}  // namespace element_layouts
