// A released instance is an untracked object whose reference count reached
// zero; its memory is kept whole (the collector's header and whatever the
// interpreter keeps in front of the object) and handed out again zero-filled,
// which is the state the interpreter's own allocation starts from. Kept
// blocks are plain memory to the interpreter. A sanitized build keeps none,
// so that a use after free stays visible.

#include "fields/instance_free_list.hpp"

#include <cstring>

namespace instance_free_list {

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kKept = 0;
#else
constexpr int kKept = 64;
#endif

// Flags that put words of the instance in front of the collector's header
// (an instance dictionary, a weak reference list), and 3.13's values stored
// inside the instance, whose set-up is the interpreter's own.
constexpr unsigned long kManagedWeakref = 1UL << 3;
constexpr unsigned long kManagedDict = 1UL << 4;
constexpr unsigned long kInlineValues = 1UL << 2;

// The collector's header in front of every garbage-collected object: two
// words on the interpreters this module builds for (3.9 on).
constexpr Py_ssize_t kCollectorHeader = 2 * sizeof(void *);

// One list per layout: instance size and bytes in front of the object.
struct SizeClass {
    Py_ssize_t size = 0;
    Py_ssize_t front = 0;
    int count = 0;
    char *kept[kKept ? kKept : 1];
};
constexpr int kClasses = 4;
SizeClass classes[kClasses];

Py_ssize_t front_bytes(PyTypeObject *t) {
    Py_ssize_t front = kCollectorHeader;
    if (PyType_GetFlags(t) & (kManagedWeakref | kManagedDict)) front += 2 * sizeof(PyObject *);
    return front;
}

SizeClass *class_of(Py_ssize_t size, Py_ssize_t front) {
    for (SizeClass &c : classes)
        if (c.size == size && c.front == front) return &c;
    return nullptr;
}

PyObject *allocate(PyTypeObject *t, Py_ssize_t nitems) {
    SizeClass *c = nitems == 0 ? class_of(t->tp_basicsize, front_bytes(t)) : nullptr;
    if (!c || !c->count) return PyType_GenericAlloc(t, nitems);
    char *block = c->kept[--c->count];
    std::memset(block, 0, static_cast<size_t>(c->front + c->size));
    auto *op = reinterpret_cast<PyObject *>(block + c->front);
    // What the generic allocation does after zero-filling (the object's
    // initialisation takes the reference a heap type's instance holds).
    PyObject_Init(op, t);
    PyObject_GC_Track(op);
    return op;
}

void release(void *memory) {
    auto *op = static_cast<PyObject *>(memory);
    PyTypeObject *t = Py_TYPE(op);
    SizeClass *c = class_of(t->tp_basicsize, front_bytes(t));
    if (c && c->count < kKept && !PyObject_GC_IsTracked(op)) {
        c->kept[c->count++] = static_cast<char *>(memory) - c->front;
        return;
    }
    PyObject_GC_Del(memory);
}

}  // namespace

void adopt(PyTypeObject *cls) {
    unsigned long flags = PyType_GetFlags(cls);
    if (!(flags & Py_TPFLAGS_HEAPTYPE) || !(flags & Py_TPFLAGS_HAVE_GC) || (flags & kInlineValues) ||
        cls->tp_itemsize != 0 || cls->tp_alloc != PyType_GenericAlloc || cls->tp_free != PyObject_GC_Del)
        return;
    Py_ssize_t front = front_bytes(cls);
    if (!class_of(cls->tp_basicsize, front)) {
        SizeClass *free_class = class_of(0, 0);
        if (!free_class) return;  // every list is taken by another layout
        free_class->size = cls->tp_basicsize;
        free_class->front = front;
    }
    cls->tp_alloc = allocate;
    cls->tp_free = release;
}

}  // namespace instance_free_list
