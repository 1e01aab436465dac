// C declarations and hand-written extra methods of the flow cache action,
// invalidation and statistics records. Their indexing methods are element
// lines of the description files.
#pragma once

#include <cstddef>

#include "libfc.h"
#include "runtime/python.hpp"

// FC_ACTION_SIZE(): takes nothing, does nothing under the trap, returns None.
PyObject *FC_action_size(PyObject *, PyObject *args) noexcept;

// FC_VDRActionData_get_instance views an element of vdrActions as the router
// information that opens it.
static_assert(offsetof(FC_VDRInstanceData, vdrInfo) == 0, "vdrInfo must open each router instance");
