// A released instance is an untracked object whose reference count reached
// zero; its memory is kept whole (the collector's header and whatever the
// interpreter keeps in front of the object) and handed out again zero-filled,
// which is the state the interpreter's own allocation starts from. Kept
// blocks are plain memory to the interpreter. A sanitized build keeps none,
// so that a use after free stays visible. All of it rests on how the
// interpreter lays out and tears down instances (runtime/python_compat.hpp):
// where that is not known, classes keep the interpreter's own entries.

#include "fields/instance_free_list.hpp"

#include "runtime/python_compat.hpp"
#include "runtime/type_cache.hpp"

#include <cstring>

namespace instance_free_list {

#if LIBFC_FAST_INTERNALS
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kKept = 0;
#else
constexpr int kKept = 64;
#endif

// One list per layout: instance size and bytes in front of the object.
struct SizeClass {
    Py_ssize_t size = 0;
    Py_ssize_t front = 0;
    int count = 0;
    char *kept[kKept ? kKept : 1];
};
constexpr int kClasses = 4;
SizeClass classes[kClasses];

SizeClass *class_of(Py_ssize_t size, Py_ssize_t front) {
    for (SizeClass &c : classes)
        if (c.size == size && c.front == front) return &c;
    return nullptr;
}

SizeClass *class_of_type(PyTypeObject *t) { return class_of(t->tp_basicsize, compat::bytes_in_front(t)); }

PyObject *allocate_from(SizeClass *c, PyTypeObject *t, Py_ssize_t nitems) {
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

PyObject *allocate(PyTypeObject *t, Py_ssize_t nitems) {
    return allocate_from(nitems == 0 ? class_of_type(t) : nullptr, t, nitems);
}

void release_to(SizeClass *c, void *memory) {
    if (c && c->count < kKept) {
        c->kept[c->count++] = static_cast<char *>(memory) - c->front;
        return;
    }
    PyObject_GC_Del(memory);
}

void release(void *memory) { release_to(class_of_type(Py_TYPE(static_cast<PyObject *>(memory))), memory); }

// The interpreter's deallocator of classes made by a class statement, as the
// first adopted class had it.
destructor class_statement_dealloc = nullptr;

void dealloc(PyObject *self);

bool is_class_statement_level(PyTypeObject *t) {
    return t->tp_dealloc == class_statement_dealloc || t->tp_dealloc == dealloc;
}

// Clears the object slots a class statement declared at this level, as the
// interpreter's deallocator does.
void clear_slots(PyTypeObject *t, PyObject *self) {
    PyMemberDef *member = t->tp_members;
    for (Py_ssize_t i = 0; member && i < Py_SIZE(t); ++i, ++member) {
        if (member->type != T_OBJECT_EX || (member->flags & READONLY)) continue;
        auto **slot = reinterpret_cast<PyObject **>(reinterpret_cast<char *>(self) + member->offset);
        Py_CLEAR(*slot);
    }
}

// What tearing down an instance of exactly an adopted class takes, worked
// out as the class is adopted: nothing of it changes with the class's
// attributes.
struct Teardown {
    static constexpr int kMaxSlots = 8;
    PyTypeObject *base;     // the first base with a deallocator of its own
    Py_ssize_t slots[kMaxSlots];
    int slot_count;
    Py_ssize_t weaklist;    // offset of the weak reference list; 0: none; -1: kept elsewhere
    bool dict;              // an instance dictionary to release
    bool base_gc;
    bool type_decref;
    // The list the instance's memory goes back to when the base deallocator
    // is object's, whose whole work is the class's release entry: this one.
    SizeClass *kept;
};
TypeCache<Teardown, 256, false> teardowns;

PyTypeObject *base_of(PyTypeObject *t) {
    while (is_class_statement_level(t)) t = t->tp_base;
    return t;
}

bool has_dict(PyTypeObject *type, PyTypeObject *base) {
    return (PyType_GetFlags(type) & compat::kManagedDictFlag) || (type->tp_dictoffset && !base->tp_dictoffset);
}

bool work_out(PyTypeObject *cls, Teardown *out) {
    Teardown t{};
    t.base = base_of(cls);
    for (PyTypeObject *level = cls; level != t.base; level = level->tp_base) {
        PyMemberDef *member = level->tp_members;
        for (Py_ssize_t i = 0; member && i < Py_SIZE(level); ++i, ++member) {
            if (member->type != T_OBJECT_EX || (member->flags & READONLY)) continue;
            if (t.slot_count == Teardown::kMaxSlots) return false;
            t.slots[t.slot_count++] = member->offset;
        }
    }
    t.weaklist = cls->tp_weaklistoffset && !t.base->tp_weaklistoffset ? (cls->tp_weaklistoffset > 0 ? cls->tp_weaklistoffset : -1) : 0;
    t.dict = has_dict(cls, t.base);
    t.base_gc = PyType_IS_GC(t.base);
    t.type_decref = !PyType_HasFeature(t.base, Py_TPFLAGS_HEAPTYPE);
    t.kept = t.base == &PyBaseObject_Type && cls->tp_free == release ? class_of_type(cls) : nullptr;
    *out = t;
    return true;
}

void release_dict(PyObject *self) {
    PyObject **dict = compat::instance_dict_slot(self);
    if (dict) Py_CLEAR(*dict);
}

// An instance of exactly an adopted class, by its worked-out teardown.
void finish_known(PyObject *self, const Teardown &t) {
    PyTypeObject *type = Py_TYPE(self);
    for (int i = 0; i < t.slot_count; ++i)
        Py_CLEAR(*reinterpret_cast<PyObject **>(reinterpret_cast<char *>(self) + t.slots[i]));
    if (t.weaklist) {
        if (t.weaklist < 0 || *reinterpret_cast<PyObject **>(reinterpret_cast<char *>(self) + t.weaklist))
            PyObject_ClearWeakRefs(self);
    }
    if (t.dict) release_dict(self);
    if (t.kept) {
        release_to(t.kept, self);
    } else {
        if (t.base_gc) PyObject_GC_Track(self);
        t.base->tp_dealloc(self);
    }
    if (t.type_decref) Py_DECREF(type);
}

// The work of the interpreter's deallocator for an instance of an adopted
// class, without its general cases (the class statement's deallocator has
// to look for finalisers, legacy destructors and which levels add what on
// every call). Also reached as the base deallocator of an instance of a
// subclass, after the interpreter's deallocator did the subclass's part:
// then only the levels from the adopted class up are left.
void finish(PyObject *self) {
    PyTypeObject *type = Py_TYPE(self);
    PyTypeObject *base = type;
    while (base->tp_dealloc != dealloc) base = base->tp_base;  // the adopted class
    while (is_class_statement_level(base)) {
        clear_slots(base, self);
        base = base->tp_base;
    }
    if (type->tp_weaklistoffset && !base->tp_weaklistoffset) {
        auto **list = type->tp_weaklistoffset > 0
                          ? reinterpret_cast<PyObject **>(reinterpret_cast<char *>(self) + type->tp_weaklistoffset)
                          : nullptr;
        if (!list || *list) PyObject_ClearWeakRefs(self);
    }
    if (has_dict(type, base)) release_dict(self);
    if (PyType_IS_GC(base)) PyObject_GC_Track(self);
    bool type_needs_decref = PyType_HasFeature(type, Py_TPFLAGS_HEAPTYPE) &&
                             !PyType_HasFeature(base, Py_TPFLAGS_HEAPTYPE);
    base->tp_dealloc(self);
    if (type_needs_decref) Py_DECREF(type);
}

void dealloc(PyObject *self) {
    PyObject_GC_UnTrack(self);
    if (Py_TYPE(self)->tp_dealloc != dealloc) {
        finish(self);  // the interpreter's deallocator of a subclass did the rest
        return;
    }
    Py_TRASHCAN_BEGIN(self, dealloc)
    bool resurrected = false;
    if (Py_TYPE(self)->tp_finalize) {  // a __del__ given to the class later
        PyObject_GC_Track(self);
        resurrected = PyObject_CallFinalizerFromDealloc(self) < 0;
        if (!resurrected) PyObject_GC_UnTrack(self);
    }
    if (!resurrected) {
        if (const Teardown *known = teardowns.find(Py_TYPE(self)))
            finish_known(self, *known);
        else
            finish(self);
    }
    Py_TRASHCAN_END
}

}  // namespace

const void *list_of(PyTypeObject *cls) { return cls->tp_alloc == allocate ? class_of_type(cls) : nullptr; }

PyObject *allocate_in(const void *list, PyTypeObject *cls) {
    return allocate_from(static_cast<SizeClass *>(const_cast<void *>(list)), cls, 0);
}

void adopt(PyTypeObject *cls) {
    unsigned long flags = PyType_GetFlags(cls);
    if (!(flags & Py_TPFLAGS_HEAPTYPE) || !(flags & Py_TPFLAGS_HAVE_GC) || (flags & compat::kInlineValuesFlag) ||
        cls->tp_itemsize != 0 || cls->tp_alloc != PyType_GenericAlloc || cls->tp_free != PyObject_GC_Del)
        return;
    Py_ssize_t front = compat::bytes_in_front(cls);
    if (!class_of(cls->tp_basicsize, front)) {
        SizeClass *free_class = class_of(0, 0);
        if (!free_class) return;  // every list is taken by another layout
        free_class->size = cls->tp_basicsize;
        free_class->front = front;
    }
    cls->tp_alloc = allocate;
    cls->tp_free = release;
    // The deallocator: only for classes the interpreter made from a class
    // statement, all with the same deallocator, and without a legacy one.
    if (!class_statement_dealloc) class_statement_dealloc = cls->tp_dealloc;
    if (cls->tp_dealloc == class_statement_dealloc && !cls->tp_del) {
        cls->tp_dealloc = dealloc;
        Teardown t;
        if (work_out(cls, &t)) teardowns.store(cls, t);
    }
}
#else
void adopt(PyTypeObject *) {}

const void *list_of(PyTypeObject *) { return nullptr; }

PyObject *allocate_in(const void *, PyTypeObject *cls) { return cls->tp_alloc(cls, 0); }
#endif

}  // namespace instance_free_list
