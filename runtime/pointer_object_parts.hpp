// The pieces of the pointer object type that live in files of their own:
// destroying owned records, the free list of pointer objects and the ring
// that keeps objects met on a "this" walk alive.
#pragma once

#include "pointer_object.hpp"

namespace pointer_object {

// The printable name of ty, "unknown" when it has none (pointer_object.cpp).
const char *printable(const swig_type_info *ty);

// Destroys the record an owning pointer object dies with, through its
// class's destructor (pointer_destructor.cpp).
void call_destructor(SwigPyObject *self);

// The type's allocation and release entries (pointer_free_list.cpp).
PyObject *allocate(PyTypeObject *t, Py_ssize_t);
void release(void *memory);

// Keeps obj (a reference the caller hands over) alive for a while
// (keep_alive.cpp).
void keep_alive(PyObject *obj);

}  // namespace pointer_object
