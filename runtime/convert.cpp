// Text, character and function-pointer conversions and the text results.

#include "convert.hpp"

#include <cstdlib>
#include <cstring>

#include "python_compat.hpp"
#include "registry.hpp"

namespace convert {

namespace {

// The bytes of a text argument where they already are: the UTF-8 form a str
// keeps, or the text a char * pointer object addresses (null for None).
// size counts the terminating zero byte (0 for null).
int view_text(PyObject *obj, const char **ptr, size_t *size) {
    if (PyUnicode_Check(obj)) {
        Py_ssize_t length;
        const char *utf8 = PyUnicode_AsUTF8AndSize(obj, &length);
        if (!utf8) {
            // Lone surrogates cannot be encoded: the argument is of the wrong
            // kind. Anything else (an interrupt, no memory) goes to the caller.
            if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return errors::kPending;
            PyErr_Clear();
            return errors::kTypeError;
        }
        *ptr = utf8;
        *size = static_cast<size_t>(length) + 1;
        return errors::kOk;
    }
    swig_type_info *char_ptr = registry::char_pointer_type();
    if (!char_ptr) return errors::kTypeError;
    void *address;
    if (int rc = pointer_object::convert(obj, &address, char_ptr, 0))
        return rc == errors::kPending ? rc : errors::kTypeError;
    *ptr = static_cast<const char *>(address);
    *size = address ? std::strlen(*ptr) + 1 : 0;
    return errors::kOk;
}

// A lower-case hexadecimal digit's value, or -1.
int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

int to_text(PyObject *obj, Text *out) {
    const char *text;
    size_t size;
    if (int rc = view_text(obj, &text, &size)) return rc;
    if (!PyUnicode_Check(obj)) {  // a pointer object's text is passed as it is
        out->ptr = const_cast<char *>(text);
        out->size = size;
        out->owned = false;
        return errors::kOk;
    }
    // A str's bytes belong to the str: the C side gets a private copy.
    char *copy = static_cast<char *>(std::malloc(size));
    if (!copy) return errors::kMemoryError;
    std::memcpy(copy, text, size);
    out->ptr = copy;
    out->size = size;
    out->owned = true;
    return errors::kOk;
}

int to_char_array(PyObject *obj, char *dst, size_t n) {
    const char *text;
    size_t size;
    if (int rc = view_text(obj, &text, &size)) return rc;
    if (size == n + 1 && text[n] == '\0') --size;  // exactly n bytes fit without terminator
    if (size > n) return errors::kTypeError;
    if (size) std::memcpy(dst, text, size);
    std::memset(dst + size, 0, n - size);
    return errors::kOk;
}

int to_char(PyObject *obj, char *out) {
    char c;
    int text_rc = to_char_array(obj, &c, 1);
    if (text_rc == errors::kOk) {
        *out = c;
        return errors::kOk;
    }
    if (text_rc == errors::kPending) return text_rc;
    if (!PyLong_Check(obj)) return errors::kTypeError;
    long long v;
    int rc = signed_in_range<0, 255>(obj, &v);
    if (rc) return rc;
    *out = static_cast<char>(v);
    return errors::kOk;
}

int to_function_pointer(PyObject *obj, void **out, swig_type_info *ty) {
    if (!PyCFunction_Check(obj)) return pointer_object::convert(obj, out, ty, 0);
    const char *doc = compat::builtin_doc(obj);
    if (!doc) return errors::kError;
    const char *text = std::strstr(doc, "swig_ptr: ");
    if (!text) return errors::kError;
    text += std::strlen("swig_ptr: ");
    if (std::strcmp(text, "NULL") == 0) {
        if (!ty || !registry::match(ty->name, ty)) return errors::kError;
        *out = nullptr;
        return errors::kOk;
    }
    if (*text != '_') return errors::kError;
    ++text;
    unsigned char bytes[sizeof(void *)];
    for (unsigned char &b : bytes) {  // memory order, high nibble first
        int hi = hex_value(text[0]);
        int lo = hi < 0 ? -1 : hex_value(text[1]);
        if (lo < 0) return errors::kError;
        b = static_cast<unsigned char>(hi << 4 | lo);
        text += 2;
    }
    swig_cast_info *cast = registry::match(text, ty);
    if (!cast) return errors::kError;
    void *address;
    std::memcpy(&address, bytes, sizeof address);
    if (cast->converter) {
        int allocated = 0;
        address = cast->converter(address, &allocated);
    }
    *out = address;
    return errors::kOk;
}

PyObject *from_char(char c) { return PyUnicode_DecodeUTF8(&c, 1, "strict"); }

PyObject *from_text(const char *s) {
    if (!s) Py_RETURN_NONE;
    size_t length = std::strlen(s);
    if (length > INT_MAX) {
        swig_type_info *char_ptr = registry::char_pointer_type();
        if (!char_ptr) Py_RETURN_NONE;
        return pointer_object::make(const_cast<char *>(s), char_ptr, 0);
    }
    return PyUnicode_DecodeUTF8(s, static_cast<Py_ssize_t>(length), "strict");
}

PyObject *from_ascii_name(const char *name) {
    size_t length = std::strlen(name);
    PyObject *text = PyUnicode_New(static_cast<Py_ssize_t>(length), 127);
    if (text) std::memcpy(PyUnicode_DATA(text), name, length);
    return text;
}

PyObject *from_char_array(const char *a, size_t n) {
    size_t length = n;
    while (length && a[length - 1] == '\0') --length;
    return PyUnicode_DecodeUTF8(a, static_cast<Py_ssize_t>(length), "strict");
}

}  // namespace convert
