// IPv4 and IPv6 addresses in network order as text, in exactly the forms the
// C library's inet_ntop writes (dotted quad; RFC 5952 groups with the first
// longest run of two or more zero groups as "::", and the IPv4-compatible
// and IPv4-mapped forms with a dotted tail), without the formatted printing
// inet_ntop goes through: a flow dump formats two addresses per flow.
#pragma once

#include <cstddef>

namespace ip_text {

// Longest texts, terminator excluded.
inline constexpr std::size_t kIPv4Max = 15;
inline constexpr std::size_t kIPv6Max = 45;

// Each writes the text at out (room for the longest text) and returns its end.
inline char *write_ipv4(char *out, const unsigned char *bytes) {
    for (int i = 0; i < 4; ++i) {
        unsigned v = bytes[i];
        if (i) *out++ = '.';
        if (v >= 100) *out++ = static_cast<char>('0' + v / 100);
        if (v >= 10) *out++ = static_cast<char>('0' + v / 10 % 10);
        *out++ = static_cast<char>('0' + v % 10);
    }
    return out;
}

inline char *write_ipv6(char *out, const unsigned char *bytes) {
    static const char digits[] = "0123456789abcdef";
    unsigned words[8];
    for (int i = 0; i < 8; ++i) words[i] = static_cast<unsigned>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
    // The first longest run of zero groups, if it is at least two long.
    int best = -1, best_len = 0;
    for (int i = 0; i < 8;) {
        if (words[i] != 0) {
            ++i;
            continue;
        }
        int start = i;
        while (i < 8 && words[i] == 0) ++i;
        if (i - start > best_len) best = start, best_len = i - start;
    }
    if (best_len < 2) best = -1;
    for (int i = 0; i < 8; ++i) {
        if (best >= 0 && i >= best && i < best + best_len) {
            if (i == best) *out++ = ':';
            continue;
        }
        if (i) *out++ = ':';
        if (i == 6 && best == 0 && (best_len == 6 || (best_len == 5 && words[5] == 0xffff)))
            return write_ipv4(out, bytes + 12);
        unsigned w = words[i];
        bool started = false;
        for (int shift = 12; shift >= 0; shift -= 4) {
            unsigned nibble = (w >> shift) & 0xf;
            if (nibble || started || shift == 0) {
                *out++ = digits[nibble];
                started = true;
            }
        }
    }
    if (best >= 0 && best + best_len == 8) *out++ = ':';
    return out;
}

}  // namespace ip_text
