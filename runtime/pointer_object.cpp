// The SwigPyObject type: creation, finalisation (destroying owned records
// through the registered class's destructor), methods and text forms.

#include "pointer_object.hpp"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "errors.hpp"
#include "hex_text.hpp"
#include "python_compat.hpp"
#include "registry.hpp"
#include "variable_parts.hpp"

namespace pointer_object {

PyTypeObject *cached_type = nullptr;

namespace {

SwigPyObject *as_pointer(PyObject *op) { return reinterpret_cast<SwigPyObject *>(op); }

const char *printable(const swig_type_info *ty) {
    const char *name = registry::pretty_name(ty);
    return name ? name : "unknown";
}

// Class infos whose destructor is one of the runtime's own delete_X, with
// what that function does. Class infos are never freed, so their addresses
// identify them for the life of the process; a class registered again gets
// a new info and so takes the general path until it is entered here too.
struct DirectEntry {
    const SwigPyClassInfo *info;
    DirectDestroy destroy;
};
constexpr std::size_t kDirectEntries = 512;
DirectEntry direct_entries[kDirectEntries];

std::size_t direct_index(const SwigPyClassInfo *info) {
    return (reinterpret_cast<std::uintptr_t>(info) >> 4) % kDirectEntries;
}

DirectDestroy direct_destructor(const SwigPyClassInfo *info) {
    const DirectEntry &entry = direct_entries[direct_index(info)];
    return entry.info == info ? entry.destroy : nullptr;
}

void call_destructor(SwigPyObject *self) {
    swig_type_info *ty = self->descriptor;
    SwigPyClassInfo *info = ty ? ty->class_info : nullptr;
    PyObject *destructor = info ? info->destructor : nullptr;
    if (!destructor) {
        std::printf("swig/python detected a memory leak of type '%s', no destructor found.\n",
                    printable(ty));
        return;
    }
    DirectDestroy destroy = direct_destructor(info);
    if (destroy && destroy(self->address, ty)) return;
    // The finaliser may run while an exception is being raised; keep it.
    PyObject *exc_type, *exc_value, *exc_tb;
    PyErr_Fetch(&exc_type, &exc_value, &exc_tb);
    PyObject *result;
    if (info->destroy_via_temp) {
        PyObject *temp = make(self->address, ty, kBare);
        result = temp ? PyObject_CallOneArg(destructor, temp) : nullptr;
        Py_XDECREF(temp);
    } else {
        PyCFunction entry = PyCFunction_GetFunction(destructor);
        PyObject *bound = PyCFunction_GetSelf(destructor);
        result = entry(bound, reinterpret_cast<PyObject *>(self));
    }
    if (result)
        Py_DECREF(result);
    else
        PyErr_Clear();  // a failing destructor is not reported
    PyErr_Restore(exc_type, exc_value, exc_tb);
}

// The last pointer objects to die are kept for the next ones: a walk over
// flows makes and drops one with every view, and the companion's module
// makes them through this type's allocation entry too. Kept objects are
// plain memory to the interpreter; a sanitized build frees each at once so
// that a use after free stays visible.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kKeptObjects = 0;
#else
constexpr int kKeptObjects = 64;
#endif
void *kept_objects[kKeptObjects ? kKeptObjects : 1];
int kept_count = 0;

PyObject *allocate(PyTypeObject *t, Py_ssize_t) {
    void *memory = kept_count ? kept_objects[--kept_count] : PyObject_Malloc(sizeof(SwigPyObject));
    if (!memory) return PyErr_NoMemory();
    std::memset(memory, 0, sizeof(SwigPyObject));
    return PyObject_Init(static_cast<PyObject *>(memory), t);
}

void release(void *memory) {
    if (kept_count < kKeptObjects)
        kept_objects[kept_count++] = memory;
    else
        PyObject_Free(memory);
}

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
struct ThisSlot {
    PyTypeObject *type;
    Py_ssize_t offset;
};
constexpr std::size_t kSlotCacheSize = 64;
ThisSlot this_slots[kSlotCacheSize];

std::size_t slot_index(PyTypeObject *t) {
    return (reinterpret_cast<std::uintptr_t>(t) >> 6) % kSlotCacheSize;
}

inline PyObject *this_slot_value(PyObject *obj) {
    const ThisSlot &entry = this_slots[slot_index(Py_TYPE(obj))];
    if (entry.type != Py_TYPE(obj)) return nullptr;
    return *reinterpret_cast<PyObject **>(reinterpret_cast<char *>(obj) + entry.offset);
}

void remember_this_slot(PyTypeObject *t) {
    if (t->tp_getattro != PyObject_GenericGetAttr) return;
    Py_ssize_t offset = this_slot_offset(t);
    if (offset < 0) return;
    ThisSlot &entry = this_slots[slot_index(t)];
    Py_INCREF(t);
    Py_XDECREF(reinterpret_cast<PyObject *>(entry.type));
    entry = {t, offset};
}

// t's entry in the slot cache, made now if t has none yet; null when t's
// instances keep no "this" slot that the ordinary attribute lookup reads.
const ThisSlot *known_this_slot(PyTypeObject *t) {
    const ThisSlot *entry = &this_slots[slot_index(t)];
    if (entry->type != t) {
        remember_this_slot(t);
        if (entry->type != t) return nullptr;
    }
    return entry;
}

// Stores p as the "this" of a new instance whose class keeps it in a slot
// and sets attributes the ordinary way: what setattr would do, without the
// lookup. False when the class is not such a class (nothing is done).
bool store_this_slot(PyObject *inst, PyObject *p) {
    PyTypeObject *t = Py_TYPE(inst);
    if (t->tp_setattro != PyObject_GenericSetAttr) return false;
    const ThisSlot *entry = known_this_slot(t);
    if (!entry) return false;
    auto **slot = reinterpret_cast<PyObject **>(reinterpret_cast<char *>(inst) + entry->offset);
    Py_INCREF(p);
    Py_XSETREF(*slot, p);
    return true;
}

// Objects met on a "this" walk that nothing else holds (a property or
// __getattr__ that builds a new object on each read) are kept alive here, so
// the pointer object, and a record it owns, outlive the call that converted
// them. The oldest is released when the ring is full; no call converts
// anywhere near as many arguments as the ring holds.
constexpr int kKeptAlive = 32;
PyObject *kept_alive[kKeptAlive];
int kept_next = 0;

void keep_alive(PyObject *obj) {
    PyObject *oldest = kept_alive[kept_next];
    kept_alive[kept_next] = obj;
    kept_next = (kept_next + 1) % kKeptAlive;
    Py_XDECREF(oldest);  // may run arbitrary code: the ring is consistent by now
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
        remember_this_slot(Py_TYPE(obj));
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

void set_direct_destructor(const SwigPyClassInfo *info, DirectDestroy destroy) {
    // A slot taken by another class is overwritten: that class's records
    // are then destroyed through its destructor's call, as before.
    direct_entries[direct_index(info)] = {info, destroy};
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
    const ThisSlot *entry = known_this_slot(cls);
    if (!entry) return nullptr;
    *offset = entry->offset;
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
