// Every flow of a listing ordered by a sort key (or held until the listing's
// counts are known): the flows of the walk's (or a snapshot's) pages kept
// compact, without the cache statistics each entry carries or any other
// field a listing does not show, then put in order, and read back a page at
// a time by the text writers as they read an answer. A sorted listing of a
// million flows so holds some 100 bytes a flow (a listing in the walk's
// order, which needs no order of its own, some 75), where a Flow object
// each, with its strings and lists, took over a kilobyte; one of the first
// N holds at most 2N flows.
#pragma once

#include <cstdint>

#include "runtime/python.hpp"

namespace answer_copy {
struct FlowEntry;
}

namespace flow_hold {

// The hold type, flow_hold(decoder, key, largest, most=0); null with an
// exception when it cannot be made.
PyTypeObject *type();

inline bool is_hold(PyObject *o) { return Py_TYPE(o) == type(); }

// The next flow of the page the hold is aimed at (aim()), put into f (in the
// hold's memory until the next call) with its age; false at the page's end.
// It touches no Python object.
bool next(PyObject *hold, answer_copy::FlowEntry &f, std::uint64_t &age_s) noexcept;

}  // namespace flow_hold
