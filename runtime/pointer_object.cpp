// The SwigPyObject type: creation, conversion, methods and text forms. Its
// destructor cache, free list and keep-alive ring have files of their own
// (pointer_object_parts.hpp).

#include "pointer_object.hpp"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "errors.hpp"
#include "hex_text.hpp"
#include "python_compat.hpp"
#include "registry.hpp"
#include "pointer_object_parts.hpp"
#include "type_cache.hpp"
#include "variable_parts.hpp"

namespace pointer_object {

PyTypeObject *cached_type = nullptr;

namespace {

SwigPyObject *as_pointer(PyObject *op) { return reinterpret_cast<SwigPyObject *>(op); }

}  // namespace

const char *printable(const swig_type_info *ty) {
    const char *name = registry::pretty_name(ty);
    return name ? name : "unknown";
}

namespace {

void dealloc(PyObject *op) {
    SwigPyObject *self = as_pointer(op);
    if (self->own == 1) call_destructor(self);
    Py_CLEAR(self->next);
    Py_TYPE(op)->tp_free(op);
}

PyObject *repr(PyObject *op) {
    SwigPyObject *self = as_pointer(op);
    PyObject *text = PyUnicode_FromFormat("<Swig Object of type '%s' at %p>",
                                          printable(self->descriptor), op);
    if (text && self->next) {
        PyObject *tail = PyObject_Repr(self->next);
        if (!tail) {
            Py_DECREF(text);
            return nullptr;
        }
        PyObject *joined = PyUnicode_Concat(text, tail);
        Py_DECREF(tail);
        Py_SETREF(text, joined);
    }
    return text;
}

PyObject *str(PyObject *op) {
    SwigPyObject *self = as_pointer(op);
    char digits[2 * sizeof(void *) + 2];
    digits[0] = '_';
    *write_hex(digits + 1, &self->address, sizeof self->address) = '\0';
    const char *name = self->descriptor ? self->descriptor->name : "";
    return PyUnicode_FromFormat("%s%s", digits, name);
}

PyObject *to_int(PyObject *op) { return PyLong_FromVoidPtr(as_pointer(op)->address); }

PyObject *richcompare(PyObject *a, PyObject *b, int op) {
    if ((op != Py_EQ && op != Py_NE) || !is_pointer_object(a) || !is_pointer_object(b))
        Py_RETURN_NOTIMPLEMENTED;
    bool equal = as_pointer(a)->address == as_pointer(b)->address;
    return PyBool_FromLong(equal == (op == Py_EQ));
}

PyObject *method_disown(PyObject *op, PyObject *) {
    as_pointer(op)->own = 0;
    Py_RETURN_NONE;
}

PyObject *method_acquire(PyObject *op, PyObject *) {
    as_pointer(op)->own = 1;
    Py_RETURN_NONE;
}

PyObject *method_own(PyObject *op, PyObject *args) {
    PyObject *value = nullptr;
    if (!PyArg_UnpackTuple(args, "own", 0, 1, &value)) return nullptr;
    SwigPyObject *self = as_pointer(op);
    PyObject *was_owner = PyBool_FromLong(self->own);
    if (value) {
        int truth = PyObject_IsTrue(value);
        if (truth < 0) {
            Py_DECREF(was_owner);
            return nullptr;
        }
        self->own = truth ? 1 : 0;
    }
    return was_owner;
}

PyObject *method_append(PyObject *op, PyObject *other) {
    if (!is_pointer_object(other)) {
        PyErr_SetString(PyExc_TypeError, "Attempt to append a non SwigPyObject");
        return nullptr;
    }
    Py_INCREF(other);
    Py_XSETREF(as_pointer(op)->next, other);
    Py_RETURN_NONE;
}

PyObject *method_next(PyObject *op, PyObject *) {
    PyObject *next = as_pointer(op)->next;
    if (!next) Py_RETURN_NONE;
    Py_INCREF(next);
    return next;
}

PyObject *method_repr(PyObject *op, PyObject *) { return repr(op); }

PyMethodDef methods[] = {
    {"disown", method_disown, METH_NOARGS, "releases ownership of the pointer"},
    {"acquire", method_acquire, METH_NOARGS, "aquires ownership of the pointer"},
    {"own", method_own, METH_VARARGS, "returns/sets ownership of the pointer"},
    {"append", method_append, METH_O, "appends another 'this' object"},
    {"next", method_next, METH_NOARGS, "returns the next 'this' object"},
    {"__repr__", method_repr, METH_NOARGS, "returns object representation"},
    {nullptr, nullptr, 0, nullptr},
};

PyNumberMethods number_methods = {
    .nb_int = to_int,
};

PyTypeObject type_object = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "SwigPyObject",
    .tp_basicsize = sizeof(SwigPyObject),
    .tp_dealloc = dealloc,
    .tp_repr = repr,
    .tp_as_number = &number_methods,
    .tp_str = str,
    .tp_getattro = PyObject_GenericGetAttr,
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_doc = "Swig object carries a C/C++ instance pointer",
    .tp_richcompare = richcompare,
    .tp_methods = methods,
    .tp_alloc = allocate,
    .tp_free = release,
};

bool store_this_slot(PyObject *inst, PyObject *p);

// Builds an instance of the registered class around p without running its
// initialiser. Returns null (exception cleared) when the class cannot be built.
PyObject *new_instance(SwigPyClassInfo *info, PyObject *p) {
    PyObject *inst = nullptr;
    if (info->new_method) {
        if (!info->new_args) return nullptr;
        inst = PyObject_Call(info->new_method, info->new_args, nullptr);
        if (inst && PyObject_SetAttr(inst, registry::this_name(), p) < 0) Py_CLEAR(inst);
    } else if (info->new_args && PyType_Check(info->new_args)) {
        auto *cls = reinterpret_cast<PyTypeObject *>(info->new_args);
        PyObject *no_args = PyTuple_New(0);
        if (no_args) inst = PyBaseObject_Type.tp_new(cls, no_args, nullptr);
        Py_XDECREF(no_args);
        if (inst && !store_this_slot(inst, p) && PyObject_SetAttr(inst, registry::this_name(), p) < 0)
            Py_CLEAR(inst);
        // Lookups the class has cached are recomputed. The interpreter's own
        // call does it consistently (subclasses and the attribute cache
        // included); clearing the version-tag flag by hand would leave the
        // cache pointing at attributes the class later replaces.
        if (inst) compat::forget_cached_lookups(cls);
    }
    if (!inst) PyErr_Clear();
    return inst;
}

// Classes that keep "this" in a slot (the companion's do) have it at a fixed
// offset in every instance. The offset is found once per class, so turning an
// instance into its pointer object is a load rather than an attribute lookup.
// Each cached class is held by a strong reference, so its address cannot be
// reused by another class while it is cached.
TypeCache<Py_ssize_t, 64, false> this_slots;

inline PyObject *this_slot_value(PyObject *obj) {
    const Py_ssize_t *offset = this_slots.find(Py_TYPE(obj));
    return offset ? *reinterpret_cast<PyObject **>(reinterpret_cast<char *>(obj) + *offset) : nullptr;
}

// The offset of t's "this" slot, cached; null when t's instances keep no
// "this" slot that the ordinary attribute lookup reads.
const Py_ssize_t *known_this_slot(PyTypeObject *t) {
    if (const Py_ssize_t *offset = this_slots.find(t)) return offset;
    if (t->tp_getattro != PyObject_GenericGetAttr) return nullptr;
    Py_ssize_t offset = this_slot_offset(t);
    return offset < 0 ? nullptr : this_slots.store(t, offset);
}

// Stores p as the "this" of a new instance whose class keeps it in a slot
// and sets attributes the ordinary way: what setattr would do, without the
// lookup. False when the class is not such a class (nothing is done).
bool store_this_slot(PyObject *inst, PyObject *p) {
    PyTypeObject *t = Py_TYPE(inst);
    if (t->tp_setattro != PyObject_GenericSetAttr) return false;
    const Py_ssize_t *offset = known_this_slot(t);
    if (!offset) return false;
    auto **slot = reinterpret_cast<PyObject **>(reinterpret_cast<char *>(inst) + *offset);
    Py_INCREF(p);
    Py_XSETREF(*slot, p);
    return true;
}

// The interpreter's deallocator of classes defined in Python, found once from
// a throwaway class: such classes are never taken for pointer objects,
// whatever they are called and whatever slots they declare.
destructor python_class_dealloc() {
    static destructor found = nullptr;
    if (!found) {
        PyObject *cls = PyObject_CallFunction(reinterpret_cast<PyObject *>(&PyType_Type), "s()N", "_probe",
                                              PyDict_New());
        if (!cls) {
            PyErr_Clear();
            return nullptr;
        }
        found = reinterpret_cast<PyTypeObject *>(cls)->tp_dealloc;
        Py_DECREF(cls);
    }
    return found;
}

}  // namespace

PyTypeObject *type() {
    if (!cached_type) {
        if (PyType_Ready(&type_object) < 0) return nullptr;
        cached_type = &type_object;
    }
    return cached_type;
}

Py_ssize_t this_slot_offset(PyTypeObject *t) {
    return compat::object_slot_offset(compat::class_attribute(t, registry::this_name()));
}

bool is_pointer_object(PyObject *op) {
    PyTypeObject *t = Py_TYPE(op);
    if (t == cached_type) return true;
    // Pointer objects of other modules of the runtime are known by name, but
    // only a type built in C with at least the shared layout can be one.
    if (std::strcmp(t->tp_name, "SwigPyObject") != 0) return false;
    if (t->tp_basicsize < static_cast<Py_ssize_t>(sizeof(SwigPyObject))) return false;
    if (PyType_HasFeature(t, Py_TPFLAGS_HEAPTYPE)) {
        destructor python_dealloc = python_class_dealloc();
        if (!python_dealloc || t->tp_dealloc == python_dealloc) return false;
    }
    return true;
}

bool is_runtime_pointer(PyObject *op) {
    return Py_TYPE(op) == cached_type || (is_pointer_object(op) && Py_TYPE(op)->tp_alloc != PyType_GenericAlloc);
}

int find_this(PyObject *obj, SwigPyObject **out) {
    // "this" may lead to another object with a "this"; a cycle of such
    // objects must not hang the caller, so the walk is bounded.
    for (int depth = 0; depth < 64; ++depth) {
        // A class found in the slot cache was looked at before and is no
        // pointer object, so the slot is read before the name comparison.
        if (Py_TYPE(obj) != cached_type) {
            if (PyObject *slot = this_slot_value(obj)) {
                obj = slot;
                continue;
            }
        }
        if (is_pointer_object(obj)) {
            *out = as_pointer(obj);
            return 0;
        }
        PyObject *name = registry::this_name();
        PyObject *attr = nullptr;
        int found = name ? compat::lookup_optional_attr(obj, name, &attr) : -1;
        if (found <= 0) {
            // Whatever the lookup raised is cleared: an object whose "this"
            // cannot be read simply carries no pointer.
            if (found < 0) PyErr_Clear();
            return -1;
        }
        known_this_slot(Py_TYPE(obj));
        if (Py_REFCNT(attr) == 1)
            keep_alive(attr);  // made for this lookup: nobody else holds it
        else
            Py_DECREF(attr);  // the instance keeps it alive; we only walk through it
        obj = attr;
    }
    return -1;
}

SwigPyObject *get_this(PyObject *obj) {
    SwigPyObject *p = nullptr;
    find_this(obj, &p);
    return p;
}

int convert_slow(PyObject *obj, void **out, swig_type_info *ty, int flags) {
    if (!obj) return -1;
    if (obj == Py_None) {
        *out = nullptr;
        return 0;
    }
    SwigPyObject *p = nullptr;
    if (int rc = find_this(obj, &p)) return rc;
    while (p) {
        void *address = nullptr;
        bool accepted = false;
        if (!ty || p->descriptor == ty) {
            address = p->address;
            accepted = true;
        } else if (!p->descriptor) {
            // A foreign pointer object without a type is acceptable nowhere typed.
        } else if (swig_cast_info *cast = registry::match(p->descriptor->name, ty)) {
            address = p->address;
            if (cast->converter) {
                int allocated = 0;
                address = cast->converter(address, &allocated);
            }
            accepted = true;
        }
        if (accepted) {
            *out = address;
            if (flags) p->own = 0;
            return 0;
        }
        p = (p->next && is_pointer_object(p->next)) ? as_pointer(p->next) : nullptr;
    }
    return -1;
}

PyObject *make(void *address, swig_type_info *ty, int flags) {
    if (!address) Py_RETURN_NONE;
    PyTypeObject *t = type();
    if (!t) return nullptr;
    return make_as(t, address, ty, flags);
}

namespace {

PyObject *new_pointer(PyTypeObject *t, void *address, swig_type_info *ty, int own, std::uint32_t extent) {
    // Through the type's own allocation entry, so that the pointer objects of
    // another module of the runtime come from (and go back to) that module.
    auto *p = reinterpret_cast<SwigPyObject *>(t->tp_alloc(t, 0));
    if (!p) return nullptr;
    p->address = address;
    p->descriptor = ty;
    p->own = own;
    p->extent = extent;
    p->next = nullptr;
    return reinterpret_cast<PyObject *>(p);
}

// The registered class of ty when its instances keep "this" in a known slot
// and are made by the base allocator, else null.
PyTypeObject *slot_class(swig_type_info *ty, Py_ssize_t *offset) {
    SwigPyClassInfo *info = ty ? ty->class_info : nullptr;
    if (!info || info->new_method || !info->new_args || !PyType_Check(info->new_args)) return nullptr;
    auto *cls = reinterpret_cast<PyTypeObject *>(info->new_args);
    const Py_ssize_t *known = known_this_slot(cls);
    if (!known) return nullptr;
    *offset = *known;
    return cls;
}

}  // namespace

PyObject *make_view_as(PyTypeObject *t, void *address, swig_type_info *ty) {
    if (!address) Py_RETURN_NONE;
    Py_ssize_t offset;
    PyTypeObject *cls = slot_class(ty, &offset);
    if (!cls) return make_as(t, address, ty, 0);
    // A view inside a record is never a buffer with a variable part: those
    // come only from a library, through make_as.
    PyObject *bare = new_pointer(t, address, ty, 0, 0);
    if (!bare) return nullptr;
    PyObject *inst = cls->tp_alloc(cls, 0);
    if (!inst) {
        // As make_as does when the class cannot be built: the bare pointer.
        PyErr_Clear();
        return bare;
    }
    *reinterpret_cast<PyObject **>(reinterpret_cast<char *>(inst) + offset) = bare;  // the slot takes our reference
    return inst;
}

PyObject *make_as(PyTypeObject *t, void *address, swig_type_info *ty, int flags) {
    if (!address) Py_RETURN_NONE;
    int own = flags & kOwn;
    PyObject *bare = new_pointer(t, address, ty, own, own ? 0 : variable_parts::stated_extent(address, ty));
    if (!bare) return nullptr;
    SwigPyClassInfo *info = ty ? ty->class_info : nullptr;
    if (!info || (flags & kBare)) return bare;
    PyObject *inst = new_instance(info, bare);
    if (!inst) return bare;
    Py_DECREF(bare);  // the instance holds it through "this"
    return inst;
}

}  // namespace pointer_object
