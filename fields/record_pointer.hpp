// The records the companion's instances hold: _libfc's pointer objects,
// found in an instance's "this" slot, and the views made of them.
#pragma once

#include "runtime/pointer_object.hpp"
#include "runtime/registry.hpp"

namespace record_pointer {

// The pointer object type of the module whose records the companion holds
// (_libfc's, a type of its own copy of the runtime), learnt from the first
// instance met; null until then, and every access takes the module's path.
extern PyTypeObject *type;

// Whatever obj's "this" slot at this_offset holds (null when empty).
inline PyObject *slot_value(PyObject *obj, Py_ssize_t this_offset) {
    return *reinterpret_cast<PyObject **>(reinterpret_cast<char *>(obj) + this_offset);
}

// Learns the type from the pointer object in obj's "this" slot. Only types
// built in C are remembered: they live as long as the process.
void learn_from(PyObject *obj, Py_ssize_t this_offset);

// The pointer object in obj's "this" slot at this_offset when it is one of
// _libfc's, else null.
inline SwigPyObject *in_slot(PyObject *obj, Py_ssize_t this_offset) {
    PyObject *pointer = slot_value(obj, this_offset);
    if (!pointer || Py_TYPE(pointer) != type) return nullptr;
    return reinterpret_cast<SwigPyObject *>(pointer);
}

// The record address in obj's "this" slot when it points to a record of
// descriptor id record_type; null for anything else (a null record included).
inline char *address_in_slot(PyObject *obj, Py_ssize_t this_offset, int record_type) {
    SwigPyObject *p = in_slot(obj, this_offset);
    if (!p || p->descriptor != registry::types[record_type]) return nullptr;
    return static_cast<char *>(p->address);
}

// A view (not owned) of the record at address, as _libfc hands one out.
inline PyObject *view(void *address, swig_type_info *ty) { return pointer_object::make_view_as(type, address, ty); }

// A view of memory inside parent's record keeps the block it lies in alive:
// when parent owns its record, or is itself kept alive for the block it
// lies in, the view holds parent in its "_holder" slot (python/libfc/_record.py).
// A view of a library's memory holds nothing: the library decides how long
// that lives. view may be any result (None, an int, a copy that owns its
// record); only a non-owning record instance is tied. this_offset and
// holder_offset are those of parent's "this" and "_holder" slots (0 for a
// slot it lacks). Returns view.
PyObject *tie_to(PyObject *view, PyObject *parent);

inline PyObject *tie(PyObject *view, PyObject *parent, Py_ssize_t this_offset, Py_ssize_t holder_offset) {
    if (!view || view == Py_None || view == parent || this_offset <= 0) return view;
    // Views of a library's memory, the common case of a walk, end here.
    PyObject *pointer = slot_value(parent, this_offset);
    bool owns = pointer && Py_TYPE(pointer) == type && reinterpret_cast<SwigPyObject *>(pointer)->own;
    if (!owns && !(holder_offset > 0 && slot_value(parent, holder_offset))) return view;
    return tie_to(view, parent);
}

// The offset of t's "_holder" slot; 0 when its instances have none.
Py_ssize_t holder_offset(PyTypeObject *t);

// The registered class of a record type whose views the companion builds in
// place: remembered by each field that hands out such views, and found again
// while the type's registration is the one it was learnt from (a class
// registered anew comes with a new class info). The registration keeps the
// class alive.
struct ViewClass {
    const SwigPyClassInfo *info = nullptr;
    PyTypeObject *cls = nullptr;
    Py_ssize_t this_offset = 0;
    Py_ssize_t holder_offset = 0;  // 0 when the class has no "_holder" slot
};

// Fills *out for ty's registered class; false when its views are not built
// in place (no class, a class made by its own __new__, no "this" slot).
bool learn_view_class(swig_type_info *ty, ViewClass *out);

// A view of the record at address inside parent's record (parent's "this"
// and "_holder" slots at the offsets given), as view() and tie() make it,
// for a class learnt by learn_view_class. Null with an exception when
// memory runs out.
inline PyObject *view_in(const ViewClass &vc, void *address, swig_type_info *ty, PyObject *parent,
                         Py_ssize_t parent_this, Py_ssize_t parent_holder) {
    auto *bare = reinterpret_cast<SwigPyObject *>(type->tp_alloc(type, 0));
    if (!bare) return nullptr;
    bare->address = address;
    bare->descriptor = ty;
    PyObject *inst = vc.cls->tp_alloc(vc.cls, 0);
    if (!inst) {
        Py_DECREF(bare);
        return nullptr;
    }
    *reinterpret_cast<PyObject **>(reinterpret_cast<char *>(inst) + vc.this_offset) =
        reinterpret_cast<PyObject *>(bare);
    if (vc.holder_offset > 0) {
        // The memory lives as long as parent's block: parent owns it, or is
        // itself held for it.
        PyObject *pointer = slot_value(parent, parent_this);
        bool owns = pointer && Py_TYPE(pointer) == type && reinterpret_cast<SwigPyObject *>(pointer)->own;
        if (owns || (parent_holder > 0 && slot_value(parent, parent_holder))) {
            Py_INCREF(parent);
            *reinterpret_cast<PyObject **>(reinterpret_cast<char *>(inst) + vc.holder_offset) = parent;
        }
    }
    return inst;
}

}  // namespace record_pointer
