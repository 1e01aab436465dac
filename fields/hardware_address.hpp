// Hardware address fields as the companion shows them: text out, and text,
// six bytes or a byte pointer in.
#pragma once

#include "runtime/python.hpp"

namespace hardware_address {

// Whether value is in a form parse() reads: str, bytes, bytearray or
// memoryview. Flag and type tests only (a generic buffer test is a call),
// as the byte pointers the setters take pass here too.
inline bool is_text_or_bytes(PyObject *value) {
    return PyUnicode_Check(value) || PyBytes_Check(value) || PyByteArray_CheckExact(value) ||
           PyMemoryView_Check(value);
}

// The six bytes of value when it is a text of six pairs of hex digits joined
// by ':' or '-' ("02:00:00:aa:bb:cc") or a bytes-like object of six bytes:
// 0 with out filled; 1 when value is neither (nothing raised, the caller
// tries it as a pointer); -1 with ValueError (a malformed text, a wrong
// length) naming label ("Record.field"), or the interpreter's exception.
int parse(PyObject *value, unsigned char out[6], PyObject *label);

// The text of the six bytes a pointer object points to (None for the null
// address). Takes value's reference; value itself is returned when it
// carries no pointer.
PyObject *text_of_pointer(PyObject *value);

}  // namespace hardware_address
