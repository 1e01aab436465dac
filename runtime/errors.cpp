// Error reporting: exception types per status code and the fixed messages.

#include "errors.hpp"

#include <cstdint>
#include <cstring>

#include "type_cache.hpp"

namespace errors {

PyObject *type_for_code(int code) {
    switch (code) {
    case kIOError: return PyExc_IOError;
    case kRuntimeError: return PyExc_RuntimeError;
    case kIndexError: return PyExc_IndexError;
    case kTypeError: return PyExc_TypeError;
    case kDivisionByZero: return PyExc_ZeroDivisionError;
    case kOverflowError: return PyExc_OverflowError;
    case kSyntaxError: return PyExc_SyntaxError;
    case kValueError: return PyExc_ValueError;
    case kSystemError: return PyExc_SystemError;
    case kAttributeError: return PyExc_AttributeError;
    case kMemoryError: return PyExc_MemoryError;
    default: return PyExc_RuntimeError;
    }
}

namespace {

// Refusing a value is part of normal use (a script probing what a field
// takes), so the refusal's message and the argument tuple of its exception
// are made once per method, argument and error kind and reused; each
// refusal raises an exception of its own (one kept for reuse would keep the
// frames of its last traceback, and their locals, alive). The method and
// type texts are constants of the program, so their addresses identify them.
struct Refusal {
    const char *method;
    const char *ctype;
    int position;
    int code;
    bool operator==(const Refusal &) const = default;
};

struct RefusalHash {
    std::size_t operator()(const Refusal &r) const {
        return AddressHash{}(r.method) + static_cast<std::size_t>(r.position) * 31u +
               static_cast<std::size_t>(-r.code) * 7u;
    }
};

KeyedCache<Refusal, PyObject *, 512, RefusalHash> refusals;  // -> (message,): the exception's arguments

PyObject *refusal_args(int code, const char *method, int position, const char *ctype) {
    const Refusal key{method, ctype, position, code};
    if (PyObject **args = refusals.find(key)) return *args;
    PyObject *text = PyUnicode_FromFormat("in method '%s', argument %d of type '%s'", method, position, ctype);
    if (!text) return nullptr;
    PyObject *args = PyTuple_Pack(1, text);
    Py_DECREF(text);
    if (!args) return nullptr;
    return refusals.store(key, args, [](const Refusal &, PyObject *old) { Py_DECREF(old); });
}

}  // namespace

PyObject *argument(int code, const char *method, int position, const char *ctype) {
    if (code == kPending) return nullptr;
    if (code == kError) code = kTypeError;
    PyObject *args = refusal_args(code, method, position, ctype);
    if (!args) return nullptr;
    PyObject *type = type_for_code(code);
    if (PyObject *exception = PyObject_Call(type, args, nullptr)) {
        PyErr_SetObject(type, exception);
        Py_DECREF(exception);
    }
    return nullptr;
}

PyObject *argument_count(PyObject *args, Py_ssize_t expected, const char *method) {
    // Let the interpreter's tuple parser word the message, so it reads exactly
    // as for any other function parsed with the same format.
    constexpr Py_ssize_t kMaxArgs = 24;
    char format[kMaxArgs + 256];
    if (expected > kMaxArgs || std::strlen(method) > 200) {
        PyErr_Format(PyExc_TypeError, "%s() takes exactly %zd arguments", method, expected);
        return nullptr;
    }
    Py_ssize_t n = 0;
    for (; n < expected; ++n) format[n] = 'O';
    format[n++] = ':';
    std::strcpy(format + n, method);
    PyObject *slot[kMaxArgs];
    if (PyArg_ParseTuple(args, format, &slot[0], &slot[1], &slot[2], &slot[3], &slot[4], &slot[5],
                         &slot[6], &slot[7], &slot[8], &slot[9], &slot[10], &slot[11], &slot[12],
                         &slot[13], &slot[14], &slot[15], &slot[16], &slot[17], &slot[18],
                         &slot[19], &slot[20], &slot[21], &slot[22], &slot[23])) {
        PyErr_Format(PyExc_SystemError, "%s: argument count mismatch", method);
    }
    return nullptr;
}

PyObject *null_variable(const char *field, const char *ctype) {
    PyErr_Format(PyExc_ValueError, "invalid null reference in variable '%s' of type '%s'", field,
                 ctype);
    return nullptr;
}

PyObject *null_argument(const char *method, int position, const char *ctype) {
    PyErr_Format(PyExc_ValueError, "invalid null reference in method '%s', argument %d of type '%s'",
                 method, position, ctype);
    return nullptr;
}

}  // namespace errors
