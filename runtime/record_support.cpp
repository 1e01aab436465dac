// Out-of-line helpers of the record accessors.

#include <cstdio>
#include <cstring>

#include "record_fields.hpp"

namespace records {

PyObject *hardware_address_text(const unsigned char *b) {
    char text[32];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4], b[5]);
    return PyUnicode_FromString(text);
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
        allocations::remember_text(copy, reinterpret_cast<char **>(at));
    }
    // Only a text this module copied in is freed; one a library stored there
    // (or the key value that shares the storage) is the library's business.
    char *old = load<char *>(at);
    if (old && allocations::forget_text(old)) std::free(old);
    store<char *>(at, copy);
    return true;
}

}  // namespace records
