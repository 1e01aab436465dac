// The filter of `libfc top`: the words typed after "/" matched against a
// read's compact columns in C.
#pragma once

#include "runtime/python.hpp"

namespace top_filter {

// top_select(columns, positions, words)
PyObject *select(PyObject *module, PyObject *const *args, Py_ssize_t n) noexcept;

}  // namespace top_filter
