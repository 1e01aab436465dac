// Bytes as text: two lower-case hexadecimal digits per byte, in memory order,
// high nibble first (the form pointer and packed objects print).
#pragma once

#include <cstddef>

// Writes 2 * n digits at out and returns the position after them.
inline char *write_hex(char *out, const void *data, std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    const auto *bytes = static_cast<const unsigned char *>(data);
    for (std::size_t i = 0; i < n; ++i) {
        *out++ = digits[bytes[i] >> 4];
        *out++ = digits[bytes[i] & 0xf];
    }
    return out;
}
