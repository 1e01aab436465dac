// The part of a walk's filter the library cannot apply itself (python/libfc/
// _walk.py hands it down as "rest"): a tuple of (key index, values) pairs,
// the indexes in _flow.KEY_ATTRIBUTES' order. Every C reader of query
// answers (the text writers, top's columns, the IPFIX encoder) keeps or
// skips a flow by it the same way.
#pragma once

#include "runtime/python.hpp"

namespace walk_rest {

// Whether rest has the shape above; false without an exception.
bool valid(PyObject *rest) noexcept;

// The key value an index names of the answer entry at entry: port,
// protocol, VLAN, or 1 for an IPv6 flow.
unsigned long key_value(const char *entry, long index) noexcept;

// 1 when the entry is in none of rest's pairs, 0 when it is in one, -1 with
// an exception (a values object whose membership test failed).
int outside(const char *entry, PyObject *rest) noexcept;

}  // namespace walk_rest
