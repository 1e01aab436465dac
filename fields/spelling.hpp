// Spellings the C text writers share, so that a flow reads the same in the
// listing, in top and in a snapshot: durations as cli/_output.duration()
// spells them, addresses as inet_ntop does, numbers as to_chars does, and
// rates as Python's repr() and "%.1f" spell them.
#pragma once

#include <bit>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace spelling {

// The most an IPv6 address takes (INET6_ADDRSTRLEN less its terminator).
constexpr std::size_t kIPv6Text = 45;

// The two digits of each number below 100, so that a number is spelt two
// digits a division, and a count of its digits known before, as writers
// spell some twenty numbers a line for a million lines.
inline constexpr auto kDigitPairs = [] {
    struct { char of[200]; } table{};
    for (unsigned v = 0; v < 100; ++v)
        table.of[2 * v] = static_cast<char>('0' + v / 10), table.of[2 * v + 1] = static_cast<char>('0' + v % 10);
    return table;
}();

// How many decimal digits v takes (1 for 0): a guess from its bit length
// (log10 2 ~ 1233 / 4096), then one comparison.
inline unsigned decimal_size(std::uint64_t v) {
    static constexpr std::uint64_t kPowers[20] = {
        1ULL, 10ULL, 100ULL, 1000ULL, 10000ULL, 100000ULL, 1000000ULL, 10000000ULL, 100000000ULL, 1000000000ULL,
        10000000000ULL, 100000000000ULL, 1000000000000ULL, 10000000000000ULL, 100000000000000ULL,
        1000000000000000ULL, 10000000000000000ULL, 100000000000000000ULL, 1000000000000000000ULL,
        10000000000000000000ULL};
    v |= 1;  // 0 takes a digit, as 1 does; no other count changes
    unsigned guess = static_cast<unsigned>(64 - std::countl_zero(v)) * 1233 >> 12;
    return guess + (v >= kPowers[guess]);
}

// The decimal text of an unsigned number at to, as to_chars writes it;
// the end of it. Numbers of 32 bits or fewer divide in 32 bits.
template <class Unsigned>
char *decimal(char *to, Unsigned value) {
    static_assert(std::is_unsigned_v<Unsigned> && sizeof(Unsigned) <= 8);
    using Work = std::conditional_t<sizeof(Unsigned) <= 4, std::uint32_t, std::uint64_t>;
    Work v = value;
    char *end = to + decimal_size(v), *at = end;
    for (; v >= 100; v /= 100) std::memcpy(at -= 2, kDigitPairs.of + 2 * (v % 100), 2);
    if (v >= 10)
        std::memcpy(at - 2, kDigitPairs.of + 2 * v, 2);
    else
        at[-1] = static_cast<char>('0' + v);
    return end;
}

inline char *decimal(char *to, std::int32_t value) {
    if (value < 0) *to++ = '-';
    return decimal(to, value < 0 ? 0 - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value));
}

// A MAC address as the package spells it: six lower-case hex pairs joined
// by colons, exactly kMacText bytes. Each byte's pair and colon is one
// four-byte store, its fourth byte covered by the next pair.
constexpr std::size_t kMacText = 17;
inline constexpr auto kHexPairs = [] {
    struct { char of[256][4]; } table{};
    constexpr char hex[] = "0123456789abcdef";
    for (unsigned v = 0; v < 256; ++v) table.of[v][0] = hex[v >> 4], table.of[v][1] = hex[v & 15], table.of[v][2] = ':';
    return table;
}();

inline char *mac_text(char *to, const unsigned char *at) {
    for (int k = 0; k < 5; ++k) std::memcpy(to + 3 * k, kHexPairs.of[at[k]], 4);
    std::memcpy(to + 15, kHexPairs.of[at[5]], 2);
    return to + kMacText;
}

// cli/_output.duration(): 45s, 3m07s, 2h05m, 3d04h; out takes put(char) and
// number(unsigned).
template <class Out>
void duration(Out &out, std::uint64_t seconds) {
    auto part = [&](std::uint64_t v, char unit, bool two) {
        if (two && v < 10) out.put('0');
        out.number(v);
        out.put(unit);
    };
    if (seconds < 60) {
        part(seconds, 's', false);
    } else if (seconds < 3600) {
        part(seconds / 60, 'm', false), part(seconds % 60, 's', true);
    } else if (seconds < 86400) {
        part(seconds / 3600, 'h', false), part(seconds % 3600 / 60, 'm', true);
    } else {
        part(seconds / 86400, 'd', false), part(seconds % 86400 / 3600, 'h', true);
    }
}

// An IPv6 address as inet_ntop spells it (RFC 5952: lower-case hex without
// leading zeros, the longest run of two or more zero groups, the first of
// equals, as "::"; an IPv4-compatible or -mapped address ending in dotted
// quad), without the C library's formatted prints. Writes at most kIPv6Text
// bytes (the text, at most 39 bytes of groups, and up to 3 past it); the
// count of the text's.
inline std::size_t ipv6_text(char *out, const unsigned char *at) {
    unsigned words[8];
    for (int k = 0; k < 8; ++k) words[k] = static_cast<unsigned>(at[2 * k]) << 8 | at[2 * k + 1];
    int best = -1, best_length = 0;
    for (int k = 0; k < 8;) {
        if (words[k]) {
            ++k;
            continue;
        }
        int start = k;
        while (k < 8 && !words[k]) ++k;
        if (k - start > best_length) best = start, best_length = k - start;
    }
    if (best_length < 2) best = -1;
    char *to = out;
    for (int k = 0; k < 8; ++k) {
        if (best >= 0 && k >= best && k < best + best_length) {
            if (k == best) *to++ = ':';
            continue;
        }
        if (k) *to++ = ':';
        if (k == 6 && best == 0 && (best_length == 6 || (best_length == 5 && words[5] == 0xffff))) {
            for (int b = 12; b < 16; ++b) {
                if (b > 12) *to++ = '.';
                to = std::to_chars(to, to + 3, static_cast<unsigned>(at[b])).ptr;
            }
            return static_cast<std::size_t>(to - out);
        }
        // A group's four digits, of which those past its leading zeros
        // are kept: four bytes stored, up to three of them past the group.
        char digits[8] = {};
        std::memcpy(digits, kHexPairs.of[words[k] >> 8], 2);
        std::memcpy(digits + 2, kHexPairs.of[words[k] & 255], 2);
        auto kept = static_cast<unsigned>(std::bit_width(words[k] | 1) + 3) / 4;
        std::memcpy(to, digits + 4 - kept, 4);
        to += kept;
    }
    if (best >= 0 && best + best_length == 8) *to++ = ':';
    return static_cast<std::size_t>(to - out);
}

// Each byte's decimal text followed by a dot, and its length without it.
struct Octet {
    char text[4];
    unsigned char size;
};
inline constexpr auto kOctets = [] {
    struct { Octet of[256]; } table{};
    for (unsigned v = 0; v < 256; ++v) {
        Octet &o = table.of[v];
        if (v >= 100) o.text[o.size++] = static_cast<char>('0' + v / 100);
        if (v >= 10) o.text[o.size++] = static_cast<char>('0' + v / 10 % 10);
        o.text[o.size++] = static_cast<char>('0' + v % 10);
        o.text[o.size] = '.';
    }
    return table;
}();

// An IPv4 address as inet_ntop spells it, without its formatted prints:
// at most 15 bytes (16 written); their count. A filter spells a million
// of them at each Enter.
inline std::size_t ipv4_text(char *out, const unsigned char *at) {
    char *to = out;
    for (int k = 0; k < 4; ++k) {
        const Octet &o = kOctets.of[at[k]];
        std::memcpy(to, o.text, 4);
        to += o.size + (k < 3);
    }
    return static_cast<std::size_t>(to - out);
}

// A finite double as Python's repr() spells it (json.dumps too): the
// shortest digits that read back as it, in positional form while the
// decimal point falls within 16 digits of the first (with ".0" when it
// has no fraction), else as d.ddde+XX. At most kFloatRepr bytes.
constexpr std::size_t kFloatRepr = 24;
inline char *float_repr(char *to, double v) {
    char scientific[32];
    char *end = std::to_chars(scientific, scientific + sizeof scientific, v, std::chars_format::scientific).ptr;
    const char *at = scientific;
    if (*at == '-') *to++ = *at++;
    char digits[20];
    int count = 0;
    for (; *at != 'e'; ++at)
        if (*at != '.') digits[count++] = *at;
    bool negative = at[1] == '-';
    int exponent = 0;
    for (const char *d = at + 2; d < end; ++d) exponent = 10 * exponent + (*d - '0');
    if (negative) exponent = -exponent;
    int point = exponent + 1;  // digits before the decimal point
    if (point <= -4 || point > 16) {
        *to++ = digits[0];
        if (count > 1) {
            *to++ = '.';
            std::memcpy(to, digits + 1, count - 1), to += count - 1;
        }
        *to++ = 'e', *to++ = negative ? '-' : '+';
        unsigned magnitude = static_cast<unsigned>(negative ? -exponent : exponent);
        if (magnitude < 10) *to++ = '0';
        return std::to_chars(to, to + 3, magnitude).ptr;
    }
    if (point <= 0) {
        *to++ = '0', *to++ = '.';
        std::memset(to, '0', static_cast<std::size_t>(-point)), to += -point;
        std::memcpy(to, digits, count);
        return to + count;
    }
    if (point >= count) {
        std::memcpy(to, digits, count), to += count;
        std::memset(to, '0', static_cast<std::size_t>(point - count)), to += point - count;
        return std::memcpy(to, ".0", 2), to + 2;
    }
    std::memcpy(to, digits, point), to += point;
    *to++ = '.';
    std::memcpy(to, digits + point, count - point);
    return to + count - point;
}

// A finite double as Python's "%.1f" spells it (exactly: a double's
// integral part has up to 309 digits). At most kFixed1 bytes.
constexpr std::size_t kFixed1 = 320;
inline char *fixed1(char *to, double v) {
    return std::to_chars(to, to + kFixed1, v, std::chars_format::fixed, 1).ptr;
}

}  // namespace spelling
