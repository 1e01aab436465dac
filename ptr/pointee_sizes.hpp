// How many bytes a pointer of a given descriptor is known to address: the
// record size for records, the array size for fixed arrays, one pointer for
// pointer-to-pointer cells. Scalar pointers have no known extent (record
// getters hand them out for the first element of arrays), nor has void *.
#pragma once

#include <cstddef>

#include "runtime/swig_abi.hpp"

// 0 when the extent is not known.
std::size_t known_pointee_size(const swig_type_info *descriptor);
