// The reads of `libfc top`: a query answer's flows taken into top's compact
// columns, and a read's flows matched with the read before it.
#pragma once

#include "runtime/python.hpp"

namespace top_pages {

// top_page(decoder, answer, now_ms, rest, address_base, known_actions, learn_actions)
PyObject *page(PyObject *module, PyObject *const *args, Py_ssize_t n) noexcept;
// top_match(before_tables, before_ids, before_packets, tables, ids, packets, deltas)
PyObject *match(PyObject *module, PyObject *const *args, Py_ssize_t n) noexcept;

}  // namespace top_pages
