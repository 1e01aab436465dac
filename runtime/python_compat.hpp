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

// The documentation text of a built-in function, or null. Read from its
// method definition so no text object is built on the conversion path.
inline const char *builtin_doc(PyObject *function) {
    return reinterpret_cast<PyCFunctionObject *>(function)->m_ml->ml_doc;
}

}  // namespace compat
