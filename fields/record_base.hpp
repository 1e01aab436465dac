// The C base of the companion's record classes. Its one job is attribute
// assignment: the classes keep no instance dictionary, so a name that is
// not a field is refused, and the refusal names the nearest field (worded
// by the class's Python hook, on the refusal path only). Setting a field
// costs one call more than object's own assignment, with no Python code.
#pragma once

#include "runtime/python.hpp"

namespace record_base {

// object's assignment; an AttributeError for a name the class does not
// define at all is handed to the class's "_unknown_attribute_(record, name)",
// which raises the error to report.
int setattro(PyObject *obj, PyObject *name, PyObject *value) noexcept;

// Builds the type (once); null with an exception on failure.
PyTypeObject *type();

}  // namespace record_base
