// The module's classes are heap types, each made from its slots at its first
// use and kept for the life of the process.
#pragma once

#include <cstddef>

#include "runtime/python.hpp"

namespace heap_type {

// The type named name (its module's dotted name) of instances of size
// bytes, made into `made` unless it is there already; a making that failed
// (no memory) is tried again at the next use. The interpreter keeps the
// name and the slots' tables, not the description they are given in, which
// may live on the stack.
inline PyTypeObject *made(PyTypeObject *&made, const char *name, std::size_t size, unsigned flags,
                          PyType_Slot *slots) {
    if (made) return made;
    PyType_Spec described = {name, static_cast<int>(size), 0, flags, slots};
    made = reinterpret_cast<PyTypeObject *>(PyType_FromSpec(&described));
    return made;
}

// The deallocator of a collected type whose instances hold references only,
// which Clear drops (a heap type's instances hold their type too).
template <int (*Clear)(PyObject *)>
void gc_dealloc(PyObject *self) {
    PyTypeObject *t = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    Clear(self);
    t->tp_free(self);
    Py_DECREF(t);
}

}  // namespace heap_type
