// The reader of a snapshot's flow lines: a chunk of decompressed lines
// turned into the companion's Flow objects in one call.
#pragma once

#include "runtime/python.hpp"

namespace snapshot_lines {

// The reader type, snapshot_lines(flow_class, action_names, rules,
// line_limit, depth_limit); null with an exception when it cannot be made.
PyTypeObject *type();

}  // namespace snapshot_lines
