// Records that an indexing method copies out of a container for the caller.
#pragma once

#include <cstddef>

#include "runtime/python.hpp"

namespace flowcache {

// Copies `size` bytes at `source` into a new block under the library-call
// trap and returns a pointer object of descriptor id `type` that owns it, so
// delete_X or the object's finalisation frees it exactly once.
PyObject *owned_copy(const char *source, std::size_t size, int type);

}  // namespace flowcache
