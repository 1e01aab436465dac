// Reading and writing one field in place, by the kind and integer conversion
// the companion generator wrote for it: the same loads, stores and
// conversions as the module's getters and setters (runtime/record_fields.hpp).
#pragma once

#include "fields/field_layout.hpp"
#include "runtime/python.hpp"

namespace field_access {

struct Layout {
    int kind = -1;        // field_layout::Kind; -1 while the field is undescribed
    int conversion = 0;   // field_layout::conversion_of the integer type
    int record_type = -1; // descriptor ids of the record and of the value
    int value_type = -1;
    Py_ssize_t offset = 0;
    Py_ssize_t size = 0;
    Py_ssize_t count = 0;
    int bit = 0;
    int bits = 0;
};

// False (no exception) when the layout is not one these functions can take.
bool valid(const Layout &layout);

// The field's value, or null with an exception; *declined is set (no
// exception) when this path does not read such a field and the module's
// getter must. Views come back as _libfc's pointer objects (record_pointer.hpp).
PyObject *load(const Layout &layout, char *record, bool *declined);

// 0 once stored; 1 when the value is not stored here (refused, or a kind
// the module's setter must handle), with no exception, so the module's
// setter can word the refusal; -1 when the interpreter raised while looking
// at the value (the exception stands). When the value's conversion refused
// it, the conversion status (errors.hpp) also goes to *refused if given.
int store(const Layout &layout, char *record, PyObject *value, int *refused = nullptr);

}  // namespace field_access
