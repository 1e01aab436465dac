// The bulk decoder of flow query answers: every entry of an FC_IOCFlows
// buffer turned into the companion's Flow objects in one call.
#pragma once

#include "runtime/python.hpp"

namespace flow_rows {

// The decoder type, flow_rows(flow_class, action_names, max_entries); null
// with an exception when it cannot be made.
PyTypeObject *type();

}  // namespace flow_rows
