// What a package user reads when a field refuses a value: the class and
// field, the value, and what the field accepts, e.g.
//   FC_FlowEntryIOC.flowId: -1 is outside 0..18446744073709551615
//   FC_FlowKey.portID: expected int, got str
// under the exception class the module raises for the same refusal, so that
// handlers written for the module keep working. The module's own setters
// keep their messages; only the companion's attributes word it this way.
#pragma once

#include "fields/field_table.hpp"
#include "runtime/python.hpp"

namespace refusal {

// The pieces of one field's messages, made on its first refusal of each
// sort and kept by the field, so that a refusal costs little more than the
// module's own (whose messages are cached too): only the value's repr is
// made anew.
struct Texts {
    PyObject *prefix = nullptr;       // "Record.field: "
    PyObject *int_suffix = nullptr;   // " is outside lo..hi"
    PyObject *text_suffix = nullptr;  // " is longer than N bytes of UTF-8" and the like
    PyObject *kind_type = nullptr;    // the value type kind_message names (held, so it is not reused)
    PyObject *kind_message = nullptr; // "Record.field: expected int, got str"
    PyObject *last_value = nullptr;   // the last int or str refused, and its message
    PyObject *last_message = nullptr;
};

int traverse(Texts &texts, visitproc visit, void *arg);
void clear(Texts &texts);

// Raises exc_type with the message for value refused by the field labelled
// label ("Record.field"). Returns -1.
LIBFC_COLD int raise(PyObject *exc_type, Texts &texts, PyObject *label, const field_table::Entry &field,
                     PyObject *value);

// After the module's setter refused value: a refusal of the value (its
// argument-2 message) is raised again as above, same class; any other
// exception stands. Returns -1.
LIBFC_COLD int rephrase(Texts &texts, PyObject *label, const field_table::Entry &field, PyObject *value);

}  // namespace refusal
