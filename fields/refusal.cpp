// The messages of refused field values, worded for the companion's users
// (see refusal.hpp); only refusals come here.

#include "fields/refusal.hpp"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "fields/field_layout.hpp"
#include "runtime/registry.hpp"

namespace refusal {

namespace {

using namespace field_layout;

// The values an integer conversion takes, as "lo..hi". Unsigned types other
// than unsigned long long are read as signed 64-bit values first, so none
// of them reaches past the signed 64-bit maximum.
std::string integer_range(int conversion) {
    int bytes = conversion & 15;
    char text[64];
    if (conversion & kSigned) {
        long long hi = bytes >= 8 ? LLONG_MAX : (1LL << (8 * bytes - 1)) - 1;
        std::snprintf(text, sizeof text, "%lld..%lld", -hi - 1, hi);
    } else {
        unsigned long long hi = bytes >= 8 ? (conversion & kUnsignedLongLong ? ULLONG_MAX : LLONG_MAX)
                                           : (1ULL << (8 * bytes)) - 1;
        std::snprintf(text, sizeof text, "0..%llu", hi);
    }
    return text;
}

// The C type a pointer, nested record or array field holds, without the
// trailing " *" of its pointer type ("FC_FlowKey", "unsigned int").
std::string pointee(int value_type) {
    const char *name = value_type >= 0 ? registry::pretty_name(registry::types[value_type]) : nullptr;
    std::string text = name ? name : "a pointer";
    if (text.size() > 2 && text.compare(text.size() - 2, 2, " *") == 0) text.resize(text.size() - 2);
    return text;
}

const char *type_name(PyObject *value) { return Py_TYPE(value)->tp_name; }

int expected(PyObject *exc_type, PyObject *label, const std::string &what, PyObject *value) {
    PyObject *message = PyUnicode_FromFormat("%U: expected %s, got %s", label, what.c_str(), type_name(value));
    if (message) {
        PyErr_SetObject(exc_type, message);
        Py_DECREF(message);
    }
    return -1;
}

int with_value(PyObject *exc_type, PyObject *label, PyObject *value, const char *what) {
    PyObject *message = PyUnicode_FromFormat("%U: %R %s", label, value, what);
    if (message) {
        PyErr_SetObject(exc_type, message);
        Py_DECREF(message);
    }
    return -1;
}

}  // namespace

int raise(PyObject *exc_type, PyObject *label, const field_access::Layout &l, PyObject *value) {
    switch (l.kind) {
    case Integer:
    case BitField:
        if (PyLong_Check(value))
            return with_value(exc_type, label, value, ("is outside " + integer_range(l.conversion)).c_str());
        return expected(exc_type, label, "int", value);
    case Char:
        if (PyLong_Check(value)) return with_value(exc_type, label, value, "is outside 0..255");
        if (PyUnicode_Check(value)) return with_value(exc_type, label, value, "is not one byte of UTF-8");
        return expected(exc_type, label, "a one-character str or an int", value);
    case CharArray:
        if (PyUnicode_Check(value)) {
            char what[64];
            std::snprintf(what, sizeof what, "is longer than %zd bytes of UTF-8", l.count);
            return with_value(exc_type, label, value, what);
        }
        return expected(exc_type, label, "str", value);
    case HwAddr:
        return expected(exc_type, label, "a hardware address (text, 6 bytes or Octets)", value);
    case Pointer:
        return expected(exc_type, label, pointee(l.value_type) + " or None", value);
    case VoidPointer:
        return expected(exc_type, label, "a pointer or None", value);
    case Nested:
        return expected(exc_type, label, pointee(l.value_type), value);
    case Array:
        return expected(exc_type, label, pointee(l.value_type) + " [" + std::to_string(l.count) + "]", value);
    case OwnedText:
        return expected(exc_type, label, "str or None", value);
    default:
        return -1;
    }
}

int rephrase(PyObject *label, const field_access::Layout &layout, PyObject *value) {
    if (!PyErr_Occurred()) return -1;
    PyObject *exc_type, *exc_value, *exc_tb;
    PyErr_Fetch(&exc_type, &exc_value, &exc_tb);
    PyErr_NormalizeException(&exc_type, &exc_value, &exc_tb);
    bool refused = false;
    if (PyObject *text = exc_value ? PyObject_Str(exc_value) : nullptr) {
        const char *utf8 = PyUnicode_AsUTF8(text);
        refused = utf8 && std::strncmp(utf8, "in method '", 11) == 0 && std::strstr(utf8, "', argument 2 of type '");
        Py_DECREF(text);
    }
    PyErr_Clear();
    if (!refused) {
        PyErr_Restore(exc_type, exc_value, exc_tb);
        return -1;
    }
    raise(exc_type, label, layout, value);
    Py_XDECREF(exc_type);
    Py_XDECREF(exc_value);
    Py_XDECREF(exc_tb);
    return -1;
}

}  // namespace refusal
