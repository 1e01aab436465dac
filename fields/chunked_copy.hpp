// Texts copied a chunk at a time. A line of a listing is some sixty pieces
// (cells, names, numbers): a call to copy each, sized at run time, costs more
// than its bytes. So a piece is copied in whole chunks, the last copy running
// up to kChunk - 1 bytes past its end, into room the line reserves
// (kOvershoot) and the next piece then covers; what is copied so must be
// readable as far, which its writer sees to (a padded text, a row's text
// with room after it).
#pragma once

#include <cstddef>
#include <cstring>

namespace chunked_copy {

constexpr std::size_t kChunk = 16, kOvershoot = kChunk;

inline char *copy_chunks(char *to, const char *from, std::size_t n) {
    for (std::size_t at = 0; at < n; at += kChunk) std::memcpy(to + at, from + at, kChunk);
    return to + n;
}

// n spaces, written as copy_chunks writes.
inline char *spaces(char *to, std::size_t n) {
    static constexpr char blank[kChunk + 1] = "                ";
    for (std::size_t at = 0; at < n; at += kChunk) std::memcpy(to + at, blank, kChunk);
    return to + n;
}

}  // namespace chunked_copy
