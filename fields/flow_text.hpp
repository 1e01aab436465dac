// The text writers of flow query answers: a whole answer's flows as JSON
// lines or as the flows listing's rows, without a Python object per flow.
#pragma once

#include "runtime/python.hpp"

namespace flow_text {

// The writer type, flow_text(decoder, protocol_names, ether_type_names);
// null with an exception when it cannot be made.
PyTypeObject *type();

}  // namespace flow_text
