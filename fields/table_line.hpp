// A table's line laid out as cli/_output.py's Layout lays out a row: the
// kept columns, each padded to its width (numbers to the right), two spaces
// apart, no trailing space, cut at the limit; a cell longer than its column
// widens it from that row on, or, in a table fitted to a terminal and a
// column that may be cut, is cut and ends in the ellipsis. The flows
// listing's lines and `libfc top`'s are written by it, so that both read
// as the package's tables do.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "fields/chunked_copy.hpp"
#include "runtime/python.hpp"

namespace table_line {

constexpr int kMostColumns = 16;
// A width no cell reaches (a cell of every port of every entity is some
// megabytes): a layout asking for more is refused, not given a line of
// gigabytes.
constexpr Py_ssize_t kWidest = Py_ssize_t{1} << 26;

struct Layout {
    int kept[kMostColumns], kept_count = 0;
    Py_ssize_t width[kMostColumns];  // widened as rows need
    bool numeric[kMostColumns], shrink[kMostColumns];
    Py_ssize_t limit = 0;  // 0: lines are not cut
    std::string_view ellipsis;
    bool ascii = true;  // the ellipsis, and so every line of ASCII cells

    // Reads Layout.as_tuple()'s (kept, widths, numeric, shrink, limit,
    // ellipsis) of a table of `columns` columns, column k's put at place(k)
    // (below kMostColumns); false, an exception set, for anything else.
    // The tuple holds the ellipsis this views.
    template <class Place>
    bool read(PyObject *layout, int columns, Place place, const char *who) {
        PyObject *kept_tuple, *widths, *numbers, *shrinks, *text;
        if (!PyTuple_Check(layout) ||
            !PyArg_ParseTuple(layout, "O!O!O!O!nU", &PyTuple_Type, &kept_tuple, &PyList_Type, &widths,
                              &PyTuple_Type, &numbers, &PyTuple_Type, &shrinks, &limit, &text)) {
            PyErr_Clear();  // said below as what a layout is
            return refuse(who, "a layout is (kept, widths, numeric, shrink, limit, ellipsis): tuples, a list, "
                               "an int and a str");
        }
        if (columns > kMostColumns || PyList_GET_SIZE(widths) != columns || PyTuple_GET_SIZE(numbers) != columns ||
            PyTuple_GET_SIZE(shrinks) != columns || PyTuple_GET_SIZE(kept_tuple) > columns || limit < 0) {
            PyErr_Format(PyExc_ValueError, "%s: the table has %d columns, its limit 0 or more", who, columns);
            return false;
        }
        for (int k = 0; k < columns; ++k) {
            int c = place(k);
            width[c] = PyLong_AsSsize_t(PyList_GET_ITEM(widths, k));
            int is = PyObject_IsTrue(PyTuple_GET_ITEM(numbers, k)), cut = PyObject_IsTrue(PyTuple_GET_ITEM(shrinks, k));
            if (width[c] < 0 || width[c] > kWidest || is < 0 || cut < 0)
                return refuse(who, "a width from 0 up for each column");
            numeric[c] = is, shrink[c] = cut;
        }
        for (kept_count = 0; kept_count < PyTuple_GET_SIZE(kept_tuple); ++kept_count) {
            long k = PyLong_AsLong(PyTuple_GET_ITEM(kept_tuple, kept_count));
            if (k < 0 || k >= columns) return refuse(who, "no such column kept");
            kept[kept_count] = place(static_cast<int>(k));
        }
        Py_ssize_t size;
        const char *chars = PyUnicode_AsUTF8AndSize(text, &size);
        if (!chars) return false;
        ellipsis = std::string_view(chars, static_cast<std::size_t>(size));
        ascii = PyUnicode_IS_ASCII(text);
        return true;
    }

    // The widths rows widened, put back into the layout's list (with the
    // interpreter lock) for the rows that follow; false with an exception.
    template <class Place>
    bool write_back(PyObject *layout, int columns, Place place) const {
        PyObject *widths = PyTuple_GET_ITEM(layout, 1);
        for (int k = 0; k < columns; ++k) {
            Py_ssize_t now = width[place(k)];
            if (PyLong_AsSsize_t(PyList_GET_ITEM(widths, k)) == now) continue;
            PyObject *widened = PyLong_FromSsize_t(now);
            if (!widened || PyList_SetItem(widths, k, widened) != 0) return false;
        }
        return true;
    }

    // The most bytes the line of these cells (cell[c], column c's) takes,
    // its newline and a chunked copy's overshoot included.
    std::size_t most(const std::string_view *cell) const {
        std::size_t bytes = 1 + chunked_copy::kOvershoot;
        for (int k = 0; k < kept_count; ++k) {
            int c = kept[k];
            bytes += 2 + std::max(cell[c].size(), static_cast<std::size_t>(width[c])) + ellipsis.size();
        }
        return bytes;
    }

  private:
    [[gnu::cold, gnu::noinline]] static bool refuse(const char *who, const char *needed) {
        if (!PyErr_Occurred()) PyErr_Format(PyExc_ValueError, "%s: %s", who, needed);
        return false;
    }
};

// How a line's cells are copied: Plain by the size of each; Chunked as
// chunked_copy.hpp copies, for cells that may be read a chunk past their
// end. Both pad in chunks: the line's room has the slack.
struct Plain {
    static char *copy(char *to, const char *from, std::size_t n) { return static_cast<char *>(std::memcpy(to, from, n)) + n; }
    static char *pad(char *to, std::size_t n) { return chunked_copy::spaces(to, n); }
};
struct Chunked {
    static char *copy(char *to, const char *from, std::size_t n) { return chunked_copy::copy_chunks(to, from, n); }
    static char *pad(char *to, std::size_t n) { return chunked_copy::spaces(to, n); }
};

// Writes the line of a row whose column c's cell is cell[c] at `start`,
// which has room for l.most(cell) bytes; returns where it ends (after its
// newline). A cell longer than its column widens it in l, or is cut.
template <class Copy>
[[gnu::always_inline]] inline char *write(char *start, Layout &l, const std::string_view *cell) {
    char *to = start;
    for (int k = 0; k < l.kept_count; ++k) {
        int c = l.kept[k];
        std::string_view text = cell[c];
        Py_ssize_t width = l.width[c], length = static_cast<Py_ssize_t>(text.size());
        bool cut = false;
        if (length > width) {
            if (l.limit && l.shrink[c]) {
                auto room = static_cast<std::size_t>(width);
                text = text.substr(0, room > l.ellipsis.size() ? room - l.ellipsis.size() : 0);
                length = static_cast<Py_ssize_t>(text.size() + l.ellipsis.size());
                cut = true;
            } else {
                l.width[c] = width = length;
            }
        }
        if (k) std::memcpy(to, "  ", 2), to += 2;
        auto pad = static_cast<std::size_t>(width > length ? width - length : 0);
        if (l.numeric[c]) to = Copy::pad(to, pad);
        to = Copy::copy(to, text.data(), text.size());
        if (cut) std::memcpy(to, l.ellipsis.data(), l.ellipsis.size()), to += l.ellipsis.size();
        if (!l.numeric[c]) to = Copy::pad(to, pad);
    }
    // As Python's rstrip() and then [:limit]: the cut may leave spaces.
    while (to > start && to[-1] == ' ') --to;
    if (l.limit && to - start > l.limit) to = start + l.limit;
    *to++ = '\n';
    return to;
}

// The line of the row written at the end of out (room(n), took(end)).
template <class Copy, class Out>
[[gnu::always_inline]] inline void line(Out &out, Layout &l, const std::string_view *cell) {
    if (char *room = out.room(l.most(cell))) out.took(write<Copy>(room, l, cell));
}

}  // namespace table_line
