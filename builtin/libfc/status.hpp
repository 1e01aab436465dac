// The model's failure reports: a status and a message kept in a static
// buffer until the entry point has handed it to the trap.
#pragma once

#include "model.h"

namespace fcemu {

__attribute__((format(printf, 2, 3), cold))
fcemu_status fail(fcemu_status status, const char *format, ...);

// A text argument quoted for a message: at most 80 bytes, "NULL" for null.
const char *quoted(const char *text);

}  // namespace fcemu
