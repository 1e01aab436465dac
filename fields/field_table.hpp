// Every record field as the companion's field descriptors read and write it,
// made from the same description lines and field templates as the module's
// getters and setters (runtime/record_fields.hpp), and found by name.
#pragma once

#include "runtime/python.hpp"
#include "runtime/record_fields.hpp"

namespace field_table {

struct Entry {
    const char *name;      // "FC_FlowKey.proto"
    const FieldDesc *desc; // the field's line, its kind the one the line's kind behaves as here (companion_as)
    // The integer conversion's width in bytes, plus kSigned and
    // kUnsignedLongLong; 0 for fields that hold no integer.
    int conversion;
    // The field's value at its address in a record; null when only the
    // module's getter may read it.
    PyObject *(*load)(char *at);
    // records::store_field for the field; null when only the module's setter may store it.
    int (*store)(char *at, PyObject *value);
};

inline constexpr int kSigned = 16;
inline constexpr int kUnsignedLongLong = 32;

// The entry of the field "Record.field"; null when there is none.
const Entry *find(const char *name);

}  // namespace field_table
