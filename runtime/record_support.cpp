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

void replace_owned_text(char *at, const convert::Text &text) {
    char *old = load<char *>(at);
    char *copy = nullptr;
    if (text.ptr) {
        copy = static_cast<char *>(std::malloc(text.size));
        if (copy) std::memcpy(copy, text.ptr, text.size);
    }
    std::free(old);
    store<char *>(at, copy);
}

}  // namespace records
