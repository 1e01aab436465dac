// The companion's __init__: makes the record with the module's new_X and
// stores its pointer object in the instance's "this" slot, without running
// Python code, when the instance is exactly the class the initialiser was
// defined in and has no record yet; anything else (arguments, subclasses,
// an instance that already holds a record) runs the generated Python
// __init__ it wraps, so behaviour and messages are that function's.
#pragma once

#include "runtime/python.hpp"

namespace record_initializer {

PyTypeObject *type();

// record_initializer(new_function, python_init) -> the __init__ to put in the class
PyObject *make(PyObject *, PyObject *const *args, Py_ssize_t nargs) noexcept;

}  // namespace record_initializer
