// Memory of the record classes' instances, kept for the next instance of the
// same layout: views made by the thousand in a walk, and records made and
// dropped in a loop, then skip the interpreter's allocator and its
// garbage-collector bookkeeping.
#pragma once

#include "runtime/python.hpp"

namespace instance_free_list {

// Gives cls the allocation and release entries of the free list, and a
// deallocator that does the interpreter's work for such a class directly,
// when its instances have a layout they can take (a garbage-collected class
// of fixed size, made by the interpreter's class statement); leaves it alone
// otherwise. Subclasses keep the interpreter's entries.
void adopt(PyTypeObject *cls);

// The list an adopted class's instances are allocated from (null for any
// other class), and an allocation of an instance of exactly cls from it, as
// cls->tp_alloc(cls, 0) would make it, without finding the list again.
const void *list_of(PyTypeObject *cls);
PyObject *allocate_in(const void *list, PyTypeObject *cls);

}  // namespace instance_free_list
