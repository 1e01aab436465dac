// The groups of `libfc top`: a read's flows folded by one field in C, kept
// as packed sums, and the groups a frame shows picked from them in order.
#pragma once

#include "runtime/python.hpp"

namespace top_groups {

// top_fold(columns, positions, column)
PyObject *fold(PyObject *module, PyObject *const *args, Py_ssize_t n) noexcept;
// top_pick(fold, by, descending, count)
PyObject *pick(PyObject *module, PyObject *const *args, Py_ssize_t n) noexcept;

}  // namespace top_groups
