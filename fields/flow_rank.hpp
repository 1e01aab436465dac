// The flows a listing ordered by a key keeps of a page: the n with the
// largest (or smallest) key, picked in C so that only they become Flow
// objects (`libfc flows --top N` reads the cache this way).
#pragma once

#include "runtime/python.hpp"

namespace flow_rank {

// top_flows(decoder, answer, now_ms, rest, key, n, largest)
PyObject *top_flows(PyObject *module, PyObject *const *args, Py_ssize_t n) noexcept;

}  // namespace flow_rank
