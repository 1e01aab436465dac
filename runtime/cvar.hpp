// The global-variables object "cvar": C globals reached as its attributes.
#pragma once

#include "python.hpp"

namespace cvar {

using Getter = PyObject *(*)();
using Setter = int (*)(PyObject *value);  // 0 on success, 1 on failure

// The process-wide object, created on first use; a borrowed reference.
PyObject *object();

// Registers a variable at the head of the list. False when out of memory.
bool add(const char *name, Getter get, Setter set);

}  // namespace cvar

// Exported read-only word mirrored by cvar.hyp_ModuleCurrentID.
extern "C" LIBFC_EXPORT const int hyp_ModuleCurrentID;

namespace cvar {
// Registers hyp_ModuleCurrentID.
bool add_module_current_id();
}  // namespace cvar
