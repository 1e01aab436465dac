// The few places where the runtime needs something the interpreter's public
// C API spells differently across versions, or offers only through its
// CPython-specific structures. Everything version-dependent lives here, so
// the version matrix of the test suite covers it in one place.
//
// Two kinds of reach are told apart. What the interpreter's own headers
// declare (a structure's fields, a documented type slot) is checked by the
// compiler against each version built for. What no header promises (a
// private function, the collector's header in front of an object, a flag's
// meaning, another module's private slots) is a fast path compiled only for
// the versions the test suite runs, 3.9 to 3.13 with the interpreter's
// lock; any other interpreter, and a build with LIBFC_PUBLIC_API_ONLY (one
// pass of scripts/run_tests.sh), takes the public way round.
#pragma once

#include "python.hpp"

#include <structmember.h>

#if !defined(LIBFC_PUBLIC_API_ONLY) && PY_VERSION_HEX >= 0x03090000 && PY_VERSION_HEX < 0x030E0000 && \
    !defined(Py_GIL_DISABLED)
#define LIBFC_FAST_INTERNALS 1
#else
#define LIBFC_FAST_INTERNALS 0
#endif

namespace compat {

// Looks up obj.name without creating an AttributeError when it is missing:
// 1 with a new reference in *result, 0 when missing, -1 with an exception set.
// Building and formatting the AttributeError is most of the cost of refusing
// an argument, and clearing "any" error would swallow interrupts.
inline int lookup_optional_attr(PyObject *obj, PyObject *name, PyObject **result) {
#if PY_VERSION_HEX >= 0x030D0000
    return PyObject_GetOptionalAttr(obj, name, result);
#elif LIBFC_FAST_INTERNALS
    // Private before 3.13, where it became PyObject_GetOptionalAttr.
    return _PyObject_LookupAttr(obj, name, result);
#else
    *result = PyObject_GetAttr(obj, name);
    if (*result) return 1;
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    return 0;
#endif
}

// The attribute `name` found in the class dictionaries along t's MRO (what
// attribute lookup on an instance consults first), as a borrowed reference;
// null when no class defines it. Sets no exception. tp_mro and tp_dict are
// declared fields of the type object.
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
// only in the CPython-specific structure, which each version's headers
// declare.
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
//   other:    the tag is the interpreter's business; the call is made.
inline void forget_cached_lookups(PyTypeObject *t) {
#if LIBFC_FAST_INTERNALS && PY_VERSION_HEX >= 0x030D0000
    if (t->tp_version_tag != 0) PyType_Modified(t);
#elif LIBFC_FAST_INTERNALS
    if (PyType_HasFeature(t, Py_TPFLAGS_VALID_VERSION_TAG)) PyType_Modified(t);
#else
    PyType_Modified(t);
#endif
}

// t's attribute-cache version tag while it is valid, else 0. The tag changes
// whenever an attribute of t or of a base changes, and is never reused.
//   3.9-3.12: a modified class keeps its old tag number until it is given a
//             new one, with Py_TPFLAGS_VALID_VERSION_TAG cleared meanwhile.
//   3.13:     a modified class has tag 0 until it is given a new one.
//   other:    the tag is for the interpreter's use only: 0, so nothing is
//             cached by it.
inline unsigned int valid_version_tag(PyTypeObject *t) {
#if LIBFC_FAST_INTERNALS && PY_VERSION_HEX >= 0x030D0000
    return t->tp_version_tag;
#elif LIBFC_FAST_INTERNALS
    return PyType_HasFeature(t, Py_TPFLAGS_VALID_VERSION_TAG) ? t->tp_version_tag : 0;
#else
    (void)t;
    return 0;
#endif
}

// The documentation text of a built-in function, or null. Read from its
// method definition (a structure each version's headers declare) so no text
// object is built on the conversion path.
inline const char *builtin_doc(PyObject *function) {
    return reinterpret_cast<PyCFunctionObject *>(function)->m_ml->ml_doc;
}

// Sends calls of the class t to call, through the class's vectorcall entry
// (tp_vectorcall: left null by the class statement and taken by type's own
// call when set; checked 3.9-3.13). Elsewhere the class keeps the
// interpreter's call, which runs __init__ as for any class.
inline void route_class_calls(PyTypeObject *t, vectorcallfunc call) {
#if LIBFC_FAST_INTERNALS
    t->tp_vectorcall = call;
#else
    (void)t;
    (void)call;
#endif
}

// Holds off the collector's automatic runs while a loop that runs no Python
// code makes many objects; true when it was running, so that
// resume_collector() is due. PyGC_Disable is public from 3.10 on.
inline bool suspend_collector() {
#if PY_VERSION_HEX >= 0x030A0000
    return PyGC_Disable() == 1;
#else
    return false;
#endif
}

inline void resume_collector() {
#if PY_VERSION_HEX >= 0x030A0000
    PyGC_Enable();
#endif
}

#if LIBFC_FAST_INTERNALS
// What the instance free list (fields/instance_free_list.cpp) relies on,
// checked 3.9-3.13 with the interpreter's lock: a garbage-collected object
// has the collector's header of two words in front of it, and a class with
// a managed dictionary or weak reference list (3.11 on, flags declared from
// 3.11 and 3.12) two words more; a released object is memory the
// interpreter no longer looks at; 3.13's values stored inside the instance
// are set up by the interpreter's allocation only.
#ifdef Py_TPFLAGS_MANAGED_DICT
constexpr unsigned long kManagedDictFlag = Py_TPFLAGS_MANAGED_DICT;
#else
constexpr unsigned long kManagedDictFlag = 0;
#endif
#ifdef Py_TPFLAGS_MANAGED_WEAKREF
constexpr unsigned long kManagedWeakrefFlag = Py_TPFLAGS_MANAGED_WEAKREF;
#else
constexpr unsigned long kManagedWeakrefFlag = 0;
#endif
#ifdef Py_TPFLAGS_INLINE_VALUES
constexpr unsigned long kInlineValuesFlag = Py_TPFLAGS_INLINE_VALUES;
#else
constexpr unsigned long kInlineValuesFlag = 0;
#endif

// Bytes the interpreter keeps in front of an instance of t, a
// garbage-collected class.
inline Py_ssize_t bytes_in_front(PyTypeObject *t) {
    Py_ssize_t front = 2 * sizeof(void *);
    if (PyType_GetFlags(t) & (kManagedWeakrefFlag | kManagedDictFlag)) front += 2 * sizeof(PyObject *);
    return front;
}

// Where self keeps its instance dictionary (managed or at tp_dictoffset),
// or null; _PyObject_GetDictPtr is private on every version.
inline PyObject **instance_dict_slot(PyObject *self) { return _PyObject_GetDictPtr(self); }
#endif

}  // namespace compat
