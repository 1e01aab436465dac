// The few places where the runtime needs something the interpreter's public
// C API spells differently across versions, or offers only through its
// CPython-specific structures. Everything version-dependent lives here, so
// the version matrix of the test suite covers it in one place.
#pragma once

#include "python.hpp"

#include <structmember.h>

namespace compat {

// Looks up obj.name without creating an AttributeError when it is missing:
// 1 with a new reference in *result, 0 when missing, -1 with an exception set.
// Building and formatting the AttributeError is most of the cost of refusing
// an argument, and clearing "any" error would swallow interrupts.
inline int lookup_optional_attr(PyObject *obj, PyObject *name, PyObject **result) {
#if PY_VERSION_HEX >= 0x030D0000
    return PyObject_GetOptionalAttr(obj, name, result);
#else
    return _PyObject_LookupAttr(obj, name, result);
#endif
}

// The attribute `name` found in the class dictionaries along t's MRO (what
// attribute lookup on an instance consults first), as a borrowed reference;
// null when no class defines it. Sets no exception.
inline PyObject *class_attribute(PyTypeObject *t, PyObject *name) {
    PyObject *mro = t->tp_mro;
    if (!mro || !PyTuple_Check(mro)) return nullptr;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro); ++i) {
        PyObject *base = PyTuple_GET_ITEM(mro, i);
        PyObject *dict = reinterpret_cast<PyTypeObject *>(base)->tp_dict;  // null for some static types on 3.12+
        if (!dict) continue;
        PyObject *found = PyDict_GetItemWithError(dict, name);
        if (found) return found;
        if (PyErr_Occurred()) {
            PyErr_Clear();
            return nullptr;
        }
    }
    return nullptr;
}

// The instance offset of an object slot declared through __slots__, or -1
// when descriptor is not such a slot. Member descriptors keep their PyMemberDef
// only in the CPython-specific structure.
inline Py_ssize_t object_slot_offset(PyObject *descriptor) {
    if (!descriptor || Py_TYPE(descriptor) != &PyMemberDescr_Type) return -1;
    const PyMemberDef *member = reinterpret_cast<PyMemberDescrObject *>(descriptor)->d_member;
    if (member->type != T_OBJECT_EX && member->type != T_OBJECT) return -1;
    return member->offset;
}

// Drops what the interpreter has cached about t's attributes (PyType_Modified),
// when it has anything cached: the call then invalidates the cache for t and
// its subclasses and clears t's valid-version-tag state. Skipping the call
// when there is nothing to clear matters on 3.13, where every tag a class is
// given counts against a fixed number per class (about a thousand), after
// which the class is never cached again: calling it with no tag assigned is
// a no-op there as on the earlier versions, but costs a call per instance.
//   3.9-3.12: the state is the Py_TPFLAGS_VALID_VERSION_TAG flag, which
//             PyType_Modified itself tests first.
//   3.13:     the flag is no longer set; a tag of 0 means none is assigned,
//             which PyType_Modified tests first.
inline void forget_cached_lookups(PyTypeObject *t) {
#if PY_VERSION_HEX >= 0x030D0000
    if (t->tp_version_tag != 0) PyType_Modified(t);
#else
    if (PyType_HasFeature(t, Py_TPFLAGS_VALID_VERSION_TAG)) PyType_Modified(t);
#endif
}

// A new exception of type made with the argument tuple args, as type(*args)
// makes it for the built-in exception types whose constructor and
// initialiser are BaseException's (TypeError, ValueError, OverflowError and
// the other plain ones): the object's fields are all empty but its
// arguments. Other types are called.
inline PyObject *new_exception(PyObject *type, PyObject *args) {
    auto *t = reinterpret_cast<PyTypeObject *>(type);
    static newfunc base_new = reinterpret_cast<PyTypeObject *>(PyExc_BaseException)->tp_new;
    static initproc base_init = reinterpret_cast<PyTypeObject *>(PyExc_BaseException)->tp_init;
    if (t->tp_new != base_new || t->tp_init != base_init) return PyObject_Call(type, args, nullptr);
    PyObject *made = t->tp_alloc(t, 0);  // zero-filled: no dict, traceback, context or cause
    if (made) {
        Py_INCREF(args);
        reinterpret_cast<PyBaseExceptionObject *>(made)->args = args;
    }
    return made;
}

// The name of a built-in function, read from its method definition.
inline const char *builtin_name(PyObject *function) {
    return reinterpret_cast<PyCFunctionObject *>(function)->m_ml->ml_name;
}

// t's attribute-cache version tag while it is valid, else 0. The tag changes
// whenever an attribute of t or of a base changes, and is never reused.
//   3.9-3.12: a modified class keeps its old tag number until it is given a
//             new one, with Py_TPFLAGS_VALID_VERSION_TAG cleared meanwhile.
//   3.13:     a modified class has tag 0 until it is given a new one.
inline unsigned int valid_version_tag(PyTypeObject *t) {
#if PY_VERSION_HEX >= 0x030D0000
    return t->tp_version_tag;
#else
    return PyType_HasFeature(t, Py_TPFLAGS_VALID_VERSION_TAG) ? t->tp_version_tag : 0;
#endif
}

// The documentation text of a built-in function, or null. Read from its
// method definition so no text object is built on the conversion path.
inline const char *builtin_doc(PyObject *function) {
    return reinterpret_cast<PyCFunctionObject *>(function)->m_ml->ml_doc;
}

}  // namespace compat
