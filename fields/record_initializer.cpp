// The initialiser type: a method descriptor (bound like a function, called
// through vectorcall with the instance first) that fills the "this" slot
// directly on the common path.

#include "fields/record_initializer.hpp"

#include <cstdint>

#include "fields/instance_free_list.hpp"
#include "runtime/pointer_object.hpp"
#include "runtime/python_compat.hpp"
#include "runtime/type_cache.hpp"

namespace record_initializer {

namespace {

struct Initializer {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    PyObject *new_function;  // the module's new_X
    PyObject *python_init;   // the generated __init__ (the general path)
    PyObject *owner;         // the class it was defined in (set by __set_name__)
    Py_ssize_t this_offset;  // of the owner's "this" slot; 0 when it has none
    const void *instances;   // the free list the owner's instances come from, if any
};

Initializer *as_initializer(PyObject *op) { return reinterpret_cast<Initializer *>(op); }

PyObject *empty_tuple = nullptr;

// new_X is a METH_VARARGS function of no arguments: called through its
// entry point with the empty tuple the interpreter would pass.
PyObject *new_record(PyObject *function) {
    PyObject *record;
    if (PyCFunction_Check(function) && PyCFunction_GET_FLAGS(function) == METH_VARARGS && empty_tuple)
        record = PyCFunction_GET_FUNCTION(function)(PyCFunction_GET_SELF(function), empty_tuple);
    else
        record = PyObject_CallNoArgs(function);
    if (record == Py_None) {
        // new_X answers a failed allocation with None: an instance must not
        // be made without its record.
        Py_DECREF(record);
        return PyErr_NoMemory();
    }
    return record;
}

PyObject *call(PyObject *callable, PyObject *const *args, size_t nargsf, PyObject *kwnames) {
    Initializer *self = as_initializer(callable);
    if (PyVectorcall_NARGS(nargsf) == 1 && !kwnames && self->owner &&
        reinterpret_cast<PyObject *>(Py_TYPE(args[0])) == self->owner) {
        auto **slot = reinterpret_cast<PyObject **>(reinterpret_cast<char *>(args[0]) + self->this_offset);
        if (!*slot) {
            PyObject *record = new_record(self->new_function);
            if (!record) return nullptr;
            if (*slot) {
                // new_X ran no Python code, but keep the general rule if it ever does.
                Py_DECREF(record);
            } else {
                *slot = record;
                Py_RETURN_NONE;
            }
        }
    }
    return PyObject_Vectorcall(self->python_init, args, nargsf, kwnames);
}

// Validated classes and their initialiser, found again while the class is
// unchanged (the initialiser is borrowed from the class's dictionary, which
// holds it as long as the class keeps its version tag).
TypeCache<Initializer *, 256, true> fast_classes;

bool is_initializer(PyObject *op);

Initializer *fast_initializer(PyTypeObject *cls) {
    if (Initializer *const *known = fast_classes.find(cls)) return *known;
    if (Py_TYPE(cls) != &PyType_Type || cls->tp_new != PyBaseObject_Type.tp_new ||
        PyType_HasFeature(cls, Py_TPFLAGS_IS_ABSTRACT))
        return nullptr;
    static PyObject *init_name = nullptr;
    if (!init_name && !(init_name = PyUnicode_InternFromString("__init__"))) return nullptr;
    // Looking the attribute up through the class gives it a version tag.
    PyObject *found = PyObject_GetAttr(reinterpret_cast<PyObject *>(cls), init_name);
    if (!found) return nullptr;
    Initializer *init = is_initializer(found) ? as_initializer(found) : nullptr;
    Py_DECREF(found);  // the class's dictionary keeps it
    if (!init || init->owner != reinterpret_cast<PyObject *>(cls)) return nullptr;
    fast_classes.store(cls, init);
    return init;
}

// Calling the class itself. A class whose instances this initialiser sets up
// is called through its own vectorcall entry, set when the initialiser meets
// its class: with no arguments, and while the class still creates its
// instances with object's constructor and this initialiser, the instance is
// allocated and given its record here, as the two would do it (the instance
// dictionary is left to be made on first use, as the interpreter does for
// instances that never get one). Anything else is the interpreter's own call.
PyObject *construct(PyObject *callable, PyObject *const *args, size_t nargsf, PyObject *kwnames) {
    auto *cls = reinterpret_cast<PyTypeObject *>(callable);
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (nargs == 0 && !kwnames) {
        Initializer *init = fast_initializer(cls);
        if (!init && PyErr_Occurred()) return nullptr;
        if (init) {
            PyObject *inst = init->instances ? instance_free_list::allocate_in(init->instances, cls)
                                             : cls->tp_alloc(cls, 0);
            if (!inst) return nullptr;
            PyObject *record = new_record(init->new_function);
            if (!record) {
                Py_DECREF(inst);
                return nullptr;
            }
            *reinterpret_cast<PyObject **>(reinterpret_cast<char *>(inst) + init->this_offset) = record;
            return inst;
        }
    }
    // The interpreter's call of a class, with the arguments it takes.
    PyObject *positional = PyTuple_New(nargs);
    if (!positional) return nullptr;
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        Py_INCREF(args[i]);
        PyTuple_SET_ITEM(positional, i, args[i]);
    }
    PyObject *keywords = nullptr;
    if (kwnames && PyTuple_GET_SIZE(kwnames)) {
        keywords = PyDict_New();
        for (Py_ssize_t i = 0; keywords && i < PyTuple_GET_SIZE(kwnames); ++i)
            if (PyDict_SetItem(keywords, PyTuple_GET_ITEM(kwnames, i), args[nargs + i]) < 0) Py_CLEAR(keywords);
        if (!keywords) {
            Py_DECREF(positional);
            return nullptr;
        }
    }
    PyObject *result = PyType_Type.tp_call(callable, positional, keywords);
    Py_DECREF(positional);
    Py_XDECREF(keywords);
    return result;
}

PyObject *descr_get(PyObject *self, PyObject *obj, PyObject *) {
    if (!obj || obj == Py_None) {
        Py_INCREF(self);
        return self;
    }
    return PyMethod_New(self, obj);
}

PyObject *set_name(PyObject *op, PyObject *args) {
    PyObject *owner, *name;
    if (!PyArg_ParseTuple(args, "OO:__set_name__", &owner, &name)) return nullptr;
    Initializer *self = as_initializer(op);
    Py_CLEAR(self->owner);
    self->this_offset = 0;
    self->instances = nullptr;
    if (PyType_Check(owner)) {
        Py_ssize_t offset = pointer_object::this_slot_offset(reinterpret_cast<PyTypeObject *>(owner));
        if (offset > 0) {
            Py_INCREF(owner);
            self->owner = owner;
            self->this_offset = offset;
            // Calls of the class come here first (the entry is not inherited
            // by subclasses, which keep the interpreter's call).
            compat::route_class_calls(reinterpret_cast<PyTypeObject *>(owner), construct);
            instance_free_list::adopt(reinterpret_cast<PyTypeObject *>(owner));
            self->instances = instance_free_list::list_of(reinterpret_cast<PyTypeObject *>(owner));
        }
    }
    Py_RETURN_NONE;
}

// What introspection asks of a function is answered by the Python __init__.
PyObject *get_wrapped_attribute(PyObject *op, void *name) {
    return PyObject_GetAttrString(as_initializer(op)->python_init, static_cast<const char *>(name));
}

int traverse(PyObject *op, visitproc visit, void *arg) {
    Initializer *self = as_initializer(op);
    Py_VISIT(self->new_function);
    Py_VISIT(self->python_init);
    Py_VISIT(self->owner);
    return 0;
}

int clear(PyObject *op) {
    Initializer *self = as_initializer(op);
    Py_CLEAR(self->new_function);
    Py_CLEAR(self->python_init);
    Py_CLEAR(self->owner);
    return 0;
}

void dealloc(PyObject *op) {
    PyObject_GC_UnTrack(op);
    clear(op);
    Py_TYPE(op)->tp_free(op);
}

PyMethodDef methods[] = {
    {"__set_name__", set_name, METH_VARARGS, "remembers the class the initialiser was defined in"},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef members[] = {
    {"__wrapped__", T_OBJECT, offsetof(Initializer, python_init), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef getset[] = {
    {"__name__", get_wrapped_attribute, nullptr, nullptr, const_cast<char *>("__name__")},
    {"__qualname__", get_wrapped_attribute, nullptr, nullptr, const_cast<char *>("__qualname__")},
    {"__doc__", get_wrapped_attribute, nullptr, nullptr, const_cast<char *>("__doc__")},
    {"__module__", get_wrapped_attribute, nullptr, nullptr, const_cast<char *>("__module__")},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject initializer_type = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "_libfc_fields.record_initializer",
    .tp_basicsize = sizeof(Initializer),
    .tp_dealloc = dealloc,
    .tp_vectorcall_offset = offsetof(Initializer, vectorcall),
    .tp_call = PyVectorcall_Call,
    .tp_getattro = PyObject_GenericGetAttr,
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_METHOD_DESCRIPTOR | Py_TPFLAGS_HAVE_VECTORCALL,
    .tp_traverse = traverse,
    .tp_clear = clear,
    .tp_methods = methods,
    .tp_members = members,
    .tp_getset = getset,
    .tp_descr_get = descr_get,
};

bool is_initializer(PyObject *op) { return Py_TYPE(op) == &initializer_type; }

}  // namespace

PyTypeObject *type() {
    static bool ready = false;
    if (!ready) {
        if (PyType_Ready(&initializer_type) < 0) return nullptr;
        empty_tuple = PyTuple_New(0);
        if (!empty_tuple) return nullptr;
        ready = true;
    }
    return &initializer_type;
}

PyObject *make(PyObject *, PyObject *const *args, Py_ssize_t nargs) noexcept {
    if (nargs != 2 || !PyCallable_Check(args[0]) || !PyCallable_Check(args[1])) {
        PyErr_SetString(PyExc_TypeError, "record_initializer() takes the new function and the Python __init__");
        return nullptr;
    }
    PyTypeObject *t = type();
    if (!t) return nullptr;
    Initializer *self = PyObject_GC_New(Initializer, t);
    if (!self) return nullptr;
    self->vectorcall = call;
    Py_INCREF(args[0]);
    self->new_function = args[0];
    Py_INCREF(args[1]);
    self->python_init = args[1];
    self->owner = nullptr;
    self->this_offset = 0;
    self->instances = nullptr;
    PyObject_GC_Track(self);
    return reinterpret_cast<PyObject *>(self);
}

}  // namespace record_initializer
