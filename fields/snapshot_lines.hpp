// The reader of a snapshot's flow lines: a chunk of decompressed lines
// turned into the companion's Flow objects in one call.
#pragma once

#include <cstdint>

#include "runtime/python.hpp"

namespace snapshot_lines {

// The reader type, snapshot_lines(flow_class, action_names, rules,
// line_limit, depth_limit); null with an exception when it cannot be made.
PyTypeObject *type();

bool is_reader(PyObject *object) noexcept;

// The next line of the chunk the reader was aimed at (aim()), as the entry
// a query answer holds for the flow, in the reader's own memory until the
// next call, and its age in seconds; null at the first line it cannot
// take so (left for the Python reader) or at the chunk's end.
const char *next_entry(PyObject *reader, std::uint64_t &age_s) noexcept;

}  // namespace snapshot_lines
