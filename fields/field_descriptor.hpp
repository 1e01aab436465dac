// The companion's field attribute: a property (so isinstance(..., property),
// fget and fset work as for any property) that reads and writes the field in
// place when the instance is exactly the class it was defined in and holds a
// pointer object of the record's type, and otherwise takes the property's
// own path through the module's getter and setter.
#pragma once

#include "runtime/python.hpp"

namespace field_descriptor {

// Builds the type (once); null with an exception on failure.
PyTypeObject *type();

// describe_field(fget, fset, "Record.field") -> a new field descriptor
PyObject *describe(PyObject *, PyObject *const *args, Py_ssize_t nargs) noexcept;

// Adds `kinds`, the field kinds' names in the order the layouts number them
// (runtime/field_kinds.def), so the package numbers them from the table too,
// and `kind_behaviours`, the (module, companion) kinds each behaves as.
bool add_kind_names(PyObject *module);

}  // namespace field_descriptor
