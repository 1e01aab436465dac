// Hardware addresses in and out of the companion's fields: the text and
// byte forms a user writes, and the text of a module's six-byte array.

#include "fields/hardware_address.hpp"

#include <cstring>

#include "runtime/pointer_object.hpp"
#include "runtime/record_fields.hpp"

namespace hardware_address {

namespace {

int hex_digit(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "xx:xx:xx:xx:xx:xx" with one separator, ':' or '-', used throughout.
bool parse_text(const char *text, Py_ssize_t length, unsigned char out[6]) {
    if (length != 17) return false;
    char separator = text[2];
    if (separator != ':' && separator != '-') return false;
    for (int i = 0; i < 6; ++i) {
        const char *pair = text + 3 * i;
        if (i > 0 && pair[-1] != separator) return false;
        int hi = hex_digit(static_cast<unsigned char>(pair[0]));
        int lo = hex_digit(static_cast<unsigned char>(pair[1]));
        if (hi < 0 || lo < 0) return false;
        out[i] = static_cast<unsigned char>(hi << 4 | lo);
    }
    return true;
}

}  // namespace

int parse(PyObject *value, unsigned char out[6], PyObject *label) {
    if (PyUnicode_Check(value)) {
        Py_ssize_t length;
        const char *text = PyUnicode_AsUTF8AndSize(value, &length);
        if (!text) {
            if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return -1;
            PyErr_Clear();
            length = 0;
        }
        if (text && parse_text(text, length, out)) return 0;
        PyErr_Format(PyExc_ValueError, "%U: %R is not a hardware address (six hex pairs joined by ':' or '-')",
                     label, value);
        return -1;
    }
    if (!is_text_or_bytes(value)) return 1;
    Py_buffer view;
    if (PyObject_GetBuffer(value, &view, PyBUF_SIMPLE) < 0) return -1;
    Py_ssize_t length = view.len;
    if (length == 6) std::memcpy(out, view.buf, 6);
    PyBuffer_Release(&view);
    if (length == 6) return 0;
    PyErr_Format(PyExc_ValueError, "%U: a hardware address is 6 bytes, got %zd", label, length);
    return -1;
}

PyObject *text_of_pointer(PyObject *value) {
    void *address;
    if (pointer_object::convert(value, &address, nullptr, 0)) return value;
    Py_DECREF(value);
    if (!address) Py_RETURN_NONE;
    return records::hardware_address_text(static_cast<const unsigned char *>(address));
}

}  // namespace hardware_address
