// A method's arguments converted one after the other, each conversion made
// only while every one before it succeeded: a conversion may run Python
// code (an __index__, a __bool__), which must not run with an exception
// already set. Written as `n == 4 && integer(args[1], by) && truth(...)`.
#pragma once

#include "runtime/python.hpp"

namespace arguments {

inline bool integer(PyObject *o, long &to) {
    to = PyLong_AsLong(o);
    return !(to == -1 && PyErr_Occurred());
}

inline bool integer(PyObject *o, long long &to) {
    to = PyLong_AsLongLong(o);
    return !(to == -1 && PyErr_Occurred());
}

inline bool integer(PyObject *o, unsigned long long &to) {
    to = PyLong_AsUnsignedLongLong(o);
    return !(to == static_cast<unsigned long long>(-1) && PyErr_Occurred());
}

inline bool size(PyObject *o, Py_ssize_t &to) {
    to = PyLong_AsSsize_t(o);
    return !(to == -1 && PyErr_Occurred());
}

inline bool truth(PyObject *o, int &to) {
    to = PyObject_IsTrue(o);
    return to >= 0;
}

// A TypeError naming the call's arguments, "function(needed)", unless a
// conversion raised already; null.
[[gnu::cold, gnu::noinline]] inline PyObject *refuse(const char *function, const char *needed) {
    if (!PyErr_Occurred()) PyErr_Format(PyExc_TypeError, "%s(%s)", function, needed);
    return nullptr;
}

}  // namespace arguments
