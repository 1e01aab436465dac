// The reader of a snapshot's flow lines: a chunk of decompressed lines
// turned into the companion's Flow objects in one call.
#pragma once

#include <cstdint>

#include "runtime/python.hpp"

namespace snapshot_lines {

// The reader type, snapshot_lines(flow_class, action_names, rules,
// line_limit, depth_limit); null with an exception when it cannot be made.
PyTypeObject *type();

// The type of the lines a reader reads ahead (parse_chunk()), made with the
// reader's; null before it.
PyTypeObject *batch_type_made() noexcept;

// Whether object is a reader or the lines one read ahead (parse_chunk()):
// an answer next_entry() reads.
bool is_reader(PyObject *object) noexcept;

// The next line of the chunk the reader was aimed at (aim()), or of the
// lines it read ahead, as the entry a query answer holds for the flow, in
// the answer's own memory until the next call, and its age in seconds;
// null at the first line it cannot take so (left for the Python reader) or
// at the end. It touches no Python object: a writer may call it without
// the interpreter's lock, on an answer no other thread uses.
const char *next_entry(PyObject *answer, std::uint64_t &age_s) noexcept;

}  // namespace snapshot_lines
