// Out-of-line helpers of the record accessors.

#include <cstring>

#include "hex_text.hpp"
#include "record_fields.hpp"

namespace records {

PyObject *hardware_address_text(const unsigned char *b) {
    // "xx:xx:xx:xx:xx:xx" written straight into an ASCII string: a formatted
    // print costs several times the rest of the getter.
    PyObject *text = PyUnicode_New(17, 127);
    if (!text) return nullptr;
    auto *out = static_cast<char *>(PyUnicode_DATA(text));
    for (int i = 0; i < 6; ++i) {
        if (i) *out++ = ':';
        out = write_hex(out, b + i, 1);
    }
    return text;
}

bool replace_owned_text(char *at, const convert::Text &text) {
    char *copy = nullptr;
    if (text.ptr) {
        copy = static_cast<char *>(std::malloc(text.size));
        if (!copy) {
            PyErr_NoMemory();  // the field keeps its text
            return false;
        }
        std::memcpy(copy, text.ptr, text.size);
        if (!allocations::remember_text(copy, reinterpret_cast<char **>(at))) {
            std::free(copy);
            PyErr_NoMemory();  // the field keeps its text
            return false;
        }
    }
    // Only a text this module copied in is freed; one a library stored there
    // (or the key value that shares the storage) is the library's business.
    char *old = load<char *>(at);
    if (old && allocations::forget_text(old)) std::free(old);
    store<char *>(at, copy);
    return true;
}

}  // namespace records
