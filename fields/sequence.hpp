// The base type of the companion's sequence records (python/libfc/_sequence.py):
// len(), indexing, slices, iter() and reversed() in C.
#pragma once

#include "runtime/python.hpp"

namespace sequence {

// The type, made on first use; null with an exception when it cannot be.
PyTypeObject *type();

}  // namespace sequence
