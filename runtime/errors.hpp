// Error reporting: the status-code to exception mapping and the fixed
// argument messages. Everything here runs only on failure paths.
#pragma once

#include "python.hpp"

namespace errors {

// Conversion status codes.
inline constexpr int kOk = 0;
inline constexpr int kError = -1;      // no acceptable value; reported as a type error
inline constexpr int kIOError = -2;
inline constexpr int kRuntimeError = -3;
inline constexpr int kIndexError = -4;
inline constexpr int kTypeError = -5;
inline constexpr int kDivisionByZero = -6;
inline constexpr int kOverflowError = -7;
inline constexpr int kSyntaxError = -8;
inline constexpr int kValueError = -9;
inline constexpr int kSystemError = -10;
inline constexpr int kAttributeError = -11;
inline constexpr int kMemoryError = -12;
// Not a conversion failure: the interpreter raised while looking at the
// argument (an interrupt, no memory). The exception stands as it is.
inline constexpr int kPending = -100;

PyObject *type_for_code(int code);

// "in method '<method>', argument <n> of type '<ctype>'" under the exception
// of code (-1 counts as a type error); kPending keeps the exception already
// set. Returns null for the caller to return.
LIBFC_COLD PyObject *argument(int code, const char *method, int position, const char *ctype);

// The interpreter's own argument-count error for a format of `expected` "O"s
// followed by ":" and the method name.
LIBFC_COLD PyObject *argument_count(PyObject *args, Py_ssize_t expected, const char *method);

// ValueError "invalid null reference in variable '<field>' of type '<ctype>'".
LIBFC_COLD PyObject *null_variable(const char *field, const char *ctype);

// ValueError "invalid null reference in method '<method>', argument <n> of type '<ctype>'".
LIBFC_COLD PyObject *null_argument(const char *method, int position, const char *ctype);

}  // namespace errors

// Unpacks exactly N positional arguments; the count check is all the work
// the tuple parser would do for a format of N "O"s.
template <int N>
inline bool unpack_args(PyObject *args, const char *method, PyObject **out) {
    if (PyTuple_GET_SIZE(args) != N) [[unlikely]] {
        errors::argument_count(args, N, method);
        return false;
    }
    for (int i = 0; i < N; ++i) out[i] = PyTuple_GET_ITEM(args, i);
    return true;
}
