// The rows of `libfc top`: a read's flows, which the package holds in
// compact columns, put in order and written as the table's lines in C.
#pragma once

#include "runtime/python.hpp"

namespace top_rows {

// top_order(columns, column, positions, descending, count, action_rank)
PyObject *order(PyObject *module, PyObject *const *args, Py_ssize_t n) noexcept;
// top_widths(columns, positions, elapsed, action_texts, protocol_names)
PyObject *widths(PyObject *module, PyObject *const *args, Py_ssize_t n) noexcept;
// top_lines(columns, positions, elapsed, action_texts, protocol_names, kept, widths, numeric, limit)
PyObject *lines(PyObject *module, PyObject *const *args, Py_ssize_t n) noexcept;

}  // namespace top_rows
