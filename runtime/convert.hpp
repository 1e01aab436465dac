// Conversions between Python values and the C types of the interface. Each
// returns a status code of errors.hpp and sets no Python exception: the
// calling wrapper raises with its fixed message.
#pragma once

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <type_traits>

#include "errors.hpp"
#include "pointer_object.hpp"

namespace convert {

// Integers: only int and its subclasses (bool included) are accepted; no
// __index__ or __int__ is consulted.
template <long long Min, long long Max>
inline int signed_in_range(PyObject *obj, long long *out) {
    if (!PyLong_Check(obj)) return errors::kTypeError;
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (overflow) return errors::kOverflowError;
    if (v == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        return errors::kOverflowError;
    }
    if (v < Min || v > Max) return errors::kOverflowError;
    *out = v;
    return errors::kOk;
}

// Unsigned types up to unsigned long are read as signed 64-bit values, so the
// largest unsigned long accepted is the signed 64-bit maximum.
template <unsigned long long Max>
inline int unsigned_in_range(PyObject *obj, unsigned long long *out) {
    long long v;
    int rc = signed_in_range<0, LLONG_MAX>(obj, &v);
    if (rc) return rc;
    if (static_cast<unsigned long long>(v) > Max) return errors::kOverflowError;
    *out = static_cast<unsigned long long>(v);
    return errors::kOk;
}

// unsigned long long: anything the interpreter refuses (negative, too large,
// not an int) is a type error, not an overflow.
inline int unsigned_64(PyObject *obj, unsigned long long *out) {
    if (!PyLong_Check(obj)) return errors::kTypeError;
    unsigned long long v = PyLong_AsUnsignedLongLong(obj);
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        PyErr_Clear();
        return errors::kTypeError;
    }
    *out = v;
    return errors::kOk;
}

// Converts obj to the C integer type T by T's rules.
template <class T>
inline int to_integer(PyObject *obj, T *out) {
    int rc;
    if constexpr (std::is_same_v<T, unsigned long long>) {
        return unsigned_64(obj, out);
    } else if constexpr (std::is_unsigned_v<T>) {
        unsigned long long v;
        rc = unsigned_in_range<static_cast<unsigned long long>(std::numeric_limits<T>::max())>(obj, &v);
        if (rc == 0) *out = static_cast<T>(v);
    } else {
        long long v;
        rc = signed_in_range<std::numeric_limits<T>::min(), std::numeric_limits<T>::max()>(obj, &v);
        if (rc == 0) *out = static_cast<T>(v);
    }
    return rc;
}

template <class T>
inline PyObject *from_integer(T v) {
    if constexpr (std::is_same_v<T, unsigned long long> || std::is_same_v<T, unsigned long>)
        return PyLong_FromUnsignedLongLong(v);
    else if constexpr (std::is_unsigned_v<T>)
        return PyLong_FromUnsignedLong(v);
    else
        return PyLong_FromLongLong(v);
}

// Argument `position` of `method` as a pointer acceptable as ty (any pointer
// when ty is null), taking ownership from it when flags say so. Raises the
// argument's TypeError and returns false when obj carries no such pointer.
inline bool pointer_argument(PyObject *obj, swig_type_info *ty, int flags, const char *method, int position,
                             const char *ctype, void **out) {
    if (int rc = pointer_object::convert(obj, out, ty, flags)) [[unlikely]] {
        errors::argument(rc == errors::kPending ? rc : errors::kTypeError, method, position, ctype);
        return false;
    }
    return true;
}

// A C text argument: a private UTF-8 copy of a str (owned, to be freed by the
// caller), the address carried by a char * pointer object, or null for None.
// size counts the terminating zero byte (0 for null).
struct Text {
    char *ptr = nullptr;
    size_t size = 0;
    bool owned = false;
};
int to_text(PyObject *obj, Text *out);
inline void release(Text &t) {
    if (t.owned) std::free(t.ptr);
    t.owned = false;
}

// char [N]: the text and a zero fill, or exactly N bytes without terminator.
// dst is written only on success.
int to_char_array(PyObject *obj, char *dst, size_t n);

// char: a str or char * text of at most one byte, None, or an int 0..255.
int to_char(PyObject *obj, char *out);

// A function pointer of type ty: a pointer object, None, or a built-in
// function whose documentation carries "swig_ptr: " and a pointer text.
int to_function_pointer(PyObject *obj, void **out, swig_type_info *ty);

PyObject *from_char(char c);
PyObject *from_text(const char *s);
// A name of the module's dictionary (plain ASCII, from its own tables), not
// interned: interning 2600 names at import costs more than the module's own
// set-up, and a lookup by an interned name of equal text still finds it.
PyObject *from_ascii_name(const char *name);
// The bytes of a char array up to its last non-zero byte.
PyObject *from_char_array(const char *a, size_t n);

}  // namespace convert
