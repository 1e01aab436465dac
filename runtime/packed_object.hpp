// Packed objects: raw data carried by value with its descriptor. No method of
// _libfc creates one; the type exists for other modules of the runtime.
#pragma once

#include "python.hpp"
#include "swig_abi.hpp"

struct SwigPyPacked {
    PyObject_HEAD
    void *pack;  // private copy of the data
    swig_type_info *descriptor;
    size_t size;
};
static_assert(sizeof(SwigPyPacked) == 40);
static_assert(offsetof(SwigPyPacked, pack) == 16);

namespace packed_object {

PyTypeObject *type();

// A new packed object holding a copy of size bytes at data.
PyObject *make(const void *data, size_t size, swig_type_info *ty);

}  // namespace packed_object
