// A line of `libfc top`'s tables laid out as top.py's _line_writer lays it
// out (the fitter's kept columns, each padded to its width, numbers to the
// right, two spaces apart, no trailing space, cut at the limit), shared by
// the writers of the flows' and the groups' lines so that both tables
// read alike.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "runtime/python.hpp"

namespace top_line_layout {

// More than a table has columns; a column or its cell is never wider than
// kWidest, so that no line's room can overflow.
constexpr int kMostColumns = 16;
constexpr std::size_t kWidest = std::size_t{1} << 20;

struct Layout {
    int kept[kMostColumns];
    int kept_count = 0;
    std::size_t width[kMostColumns];
    bool numeric[kMostColumns];
    std::size_t limit = 0;

    // (kept, widths, numeric, limit) as top.py passes them for a table of
    // `columns` columns; false, an exception set, for anything else.
    bool read(PyObject *const *args, int columns) {
        PyObject *kept_tuple = args[0], *widths = args[1], *numbers = args[2];
        Py_ssize_t most = PyLong_AsSsize_t(args[3]);
        if (most < 0 || !PyTuple_Check(kept_tuple) || !PyTuple_Check(widths) || !PyTuple_Check(numbers) ||
            PyTuple_GET_SIZE(widths) != columns || PyTuple_GET_SIZE(numbers) != columns ||
            PyTuple_GET_SIZE(kept_tuple) > columns || columns > kMostColumns)
            return refuse();
        limit = static_cast<std::size_t>(most);
        for (int c = 0; c < columns; ++c) {
            Py_ssize_t w = PyLong_AsSsize_t(PyTuple_GET_ITEM(widths, c));
            int is = PyObject_IsTrue(PyTuple_GET_ITEM(numbers, c));
            if (w < 0 || static_cast<std::size_t>(w) > kWidest || is < 0) return refuse();
            width[c] = static_cast<std::size_t>(w), numeric[c] = is;
        }
        for (kept_count = 0; kept_count < PyTuple_GET_SIZE(kept_tuple); ++kept_count) {
            long c = PyLong_AsLong(PyTuple_GET_ITEM(kept_tuple, kept_count));
            if (c < 0 || c >= columns) return refuse();
            kept[kept_count] = static_cast<int>(c);
        }
        return true;
    }

    // The most bytes a line takes, its newline included.
    std::size_t room() const {
        std::size_t bytes = 1;
        for (int k = 0; k < kept_count; ++k) bytes += width[kept[k]] + (k ? 2 : 0);
        return bytes;
    }

    // Writes a line of cell(column)'s texts at `line`, room() bytes at
    // most: their count, or 0 when a cell's text has null data (its row
    // cannot be spelt). A cell longer than its column is cut to it: the
    // widths come from measuring these rows or more, so none is.
    template <class CellOf>
    std::size_t write(char *line, CellOf &&cell) const {
        std::size_t used = 0;
        for (int k = 0; k < kept_count; ++k) {
            int c = kept[k];
            std::string_view text = cell(c);
            if (!text.data()) return 0;
            std::size_t length = text.size() < width[c] ? text.size() : width[c], gap = width[c] - length;
            if (k) std::memset(line + used, ' ', 2), used += 2;
            if (numeric[c]) std::memset(line + used, ' ', gap), used += gap;
            std::memcpy(line + used, text.data(), length), used += length;
            if (!numeric[c]) std::memset(line + used, ' ', gap), used += gap;
        }
        // As Python's rstrip() and then [:limit]: the cut may leave spaces.
        while (used && line[used - 1] == ' ') --used;
        if (used > limit) used = limit;
        line[used++] = '\n';
        return used;
    }

  private:
    [[gnu::cold, gnu::noinline]] static bool refuse() {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_ValueError, "top lines: the kept columns, widths, numeric flags and limit the "
                                              "fitter gives");
        return false;
    }
};

// What a table's widths function gives back (top_widths,
// top_group_widths): each column's widest cell, a tuple of numbers.
inline PyObject *widths_tuple(const std::size_t *widest, int columns) {
    PyObject *made = PyTuple_New(columns);
    for (int c = 0; made && c < columns; ++c) {
        PyObject *width = PyLong_FromSize_t(widest[c]);
        if (!width) Py_CLEAR(made);
        else PyTuple_SET_ITEM(made, c, width);
    }
    return made;
}

// The lines of `count` rows of at most `room` bytes each, as one str:
// line(r, at) writes row r's line at `at` and gives its size, 0 for a row
// that cannot be spelt, for which refuse(r) then raises. The lines are
// written without the interpreter lock: `line` may read only what the
// caller holds for the call (top.py writes two pieces at once).
template <class Line, class Refuse>
PyObject *written_lines(std::size_t room, Py_ssize_t count, Line &&line, Refuse &&refuse) {
    std::size_t rows = static_cast<std::size_t>(count);
    if (rows && room > (static_cast<std::size_t>(PY_SSIZE_T_MAX) - 1) / rows) return PyErr_NoMemory();
    auto *text = static_cast<char *>(PyMem_Malloc(room * rows + 1));
    if (!text) return PyErr_NoMemory();
    std::size_t size = 0;
    Py_ssize_t refused = -1;
    Py_BEGIN_ALLOW_THREADS
    for (Py_ssize_t r = 0; r < count; ++r) {
        std::size_t used = line(r, text + size);
        if (!used) {
            refused = r;
            break;
        }
        size += used;
    }
    Py_END_ALLOW_THREADS
    PyObject *made = refused < 0 ? PyUnicode_DecodeASCII(text, static_cast<Py_ssize_t>(size), nullptr) : nullptr;
    PyMem_Free(text);
    return refused < 0 ? made : refuse(refused);
}

}  // namespace top_line_layout
