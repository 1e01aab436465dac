// What a package user reads when a field refuses a value: the class and
// field, the value, and what the field accepts, e.g.
//   FC_FlowEntryIOC.flowId: -1 is outside 0..18446744073709551615
//   FC_FlowKey.portID: expected int, got str
// under the exception class the module raises for the same refusal, so that
// handlers written for the module keep working. The module's own setters
// keep their messages; only the companion's attributes word it this way.
#pragma once

#include "fields/field_access.hpp"
#include "runtime/python.hpp"

namespace refusal {

// Raises exc_type with the message for value refused by the field labelled
// label ("Record.field"). Returns -1.
LIBFC_COLD int raise(PyObject *exc_type, PyObject *label, const field_access::Layout &layout, PyObject *value);

// After the module's setter refused value: a refusal of the value (its
// argument-2 message) is raised again as above, same class; any other
// exception stands. Returns -1.
LIBFC_COLD int rephrase(PyObject *label, const field_access::Layout &layout, PyObject *value);

}  // namespace refusal
