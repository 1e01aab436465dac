// Records allocated by this module and still alive. delete_X frees an address
// only when it is found here under X's descriptor, so a getter's view into
// another record, a library's record or a second delete never reach free().
#pragma once

#include "swig_abi.hpp"

namespace allocations {

void remember(void *address, const swig_type_info *ty);

// True (and forgotten) when address was allocated here as a record of ty.
bool forget(void *address, const swig_type_info *ty);

}  // namespace allocations
