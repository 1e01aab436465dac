#include "fields/record_pointer.hpp"

#include "runtime/type_cache.hpp"

namespace record_pointer {

PyTypeObject *type = nullptr;

void learn_from(PyObject *obj, Py_ssize_t this_offset) {
    PyObject *pointer = slot_value(obj, this_offset);
    if (type || !pointer || !pointer_object::is_pointer_object(pointer) ||
        PyType_HasFeature(Py_TYPE(pointer), Py_TPFLAGS_HEAPTYPE))
        return;
    type = Py_TYPE(pointer);
}

}  // namespace record_pointer

namespace record_pointer {

namespace {

// Where instances of a class keep "this" and "_holder"; -1 for a slot they
// do not have.
struct Slots {
    Py_ssize_t this_offset;
    Py_ssize_t holder_offset;
};
TypeCache<Slots, 128, false> known_slots;

Slots slots_of(PyTypeObject *t) {
    if (const Slots *known = known_slots.find(t)) return *known;
    static PyObject *name = nullptr;
    if (!name && !(name = PyUnicode_InternFromString("_holder"))) {
        PyErr_Clear();
        return {-1, -1};
    }
    Slots slots{pointer_object::this_slot_offset(t), compat::object_slot_offset(compat::class_attribute(t, name))};
    known_slots.store(t, slots);
    return slots;
}

}  // namespace

Py_ssize_t holder_offset(PyTypeObject *t) {
    Py_ssize_t offset = slots_of(t).holder_offset;
    return offset > 0 ? offset : 0;
}

// Makes parent the holder of view, which lies in memory parent's block
// holds, when view is a non-owning record instance.
PyObject *tie_to(PyObject *view, PyObject *parent) {
    Slots slots = slots_of(Py_TYPE(view));
    if (slots.holder_offset <= 0 || slots.this_offset <= 0) return view;
    auto **slot = reinterpret_cast<PyObject **>(reinterpret_cast<char *>(view) + slots.holder_offset);
    PyObject *pointer = slot_value(view, slots.this_offset);
    if (!pointer || Py_TYPE(pointer) != type || reinterpret_cast<SwigPyObject *>(pointer)->own) return view;
    Py_INCREF(parent);
    Py_XSETREF(*slot, parent);
    return view;
}

}  // namespace record_pointer

namespace record_pointer {

bool learn_view_class(swig_type_info *ty, ViewClass *out) {
    SwigPyClassInfo *info = ty ? ty->class_info : nullptr;
    if (!type || !info || info->new_method || !info->new_args || !PyType_Check(info->new_args)) return false;
    auto *cls = reinterpret_cast<PyTypeObject *>(info->new_args);
    if (cls->tp_getattro != PyObject_GenericGetAttr) return false;
    Slots slots = slots_of(cls);
    if (slots.this_offset <= 0) return false;
    *out = {info, cls, slots.this_offset, slots.holder_offset > 0 ? slots.holder_offset : 0};
    return true;
}

}  // namespace record_pointer
