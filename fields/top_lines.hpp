// The text of `libfc top`'s tables, the flows' and the groups': each row's
// cells laid out by table_line.hpp, as the flows listing's are, a piece of
// many rows at a time.
#pragma once

#include <cstddef>
#include <string_view>

#include "fields/grown.hpp"
#include "fields/table_line.hpp"
#include "runtime/python.hpp"

namespace top_lines {

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

// Column k of top's tables is cell k: its layout puts each where it is.
inline int same_place(int k) { return k; }

// The lines of `count` rows laid out by `layout` (of `columns` columns, as
// the fitter gives it), as one str: cells(r, l, cell) puts row r's cells
// into cell (cell[c] of column c, for each column l keeps), false for
// a row that cannot be spelt, for which refuse(r) then raises. The lines are
// written without the interpreter lock: `cells` may read only what the
// caller holds for the call (top.py writes two pieces at once). The widths
// come from measuring these rows, so no line widens a column: the layout's
// widths are not written back.
template <class Cells, class Refuse>
PyObject *written_lines(PyObject *layout, int columns, Py_ssize_t count, Cells &&cells, Refuse &&refuse) {
    table_line::Layout l;
    if (!l.read(layout, columns, same_place, "top lines")) return nullptr;
    grown::Grown<char> text;
    struct Out {
        grown::Grown<char> &text;
        char *room(std::size_t n) { return text.reserve(n); }
        void took(const char *end) { text.took(end); }
    } out{text};
    // The room of lines as wide as the widths, which these rows' are, at
    // once: the last line then asks for no more than a line's slack.
    const std::string_view cell_none[table_line::kMostColumns] = {};
    std::size_t line_room = 1;
    for (int k = 0; k < l.kept_count; ++k) line_room += 2 + static_cast<std::size_t>(l.width[l.kept[k]]);
    if (count > 0 && line_room < (std::size_t{1} << 40) / static_cast<std::size_t>(count))
        text.reserve(line_room * static_cast<std::size_t>(count) + l.most(cell_none) - line_room);
    Py_ssize_t refused = -1;
    Py_BEGIN_ALLOW_THREADS
    std::string_view cell[table_line::kMostColumns];
    for (Py_ssize_t r = 0; r < count && !text.failed(); ++r) {
        if (!cells(r, static_cast<const table_line::Layout &>(l), cell)) {
            refused = r;
            break;
        }
        table_line::line<table_line::Plain>(out, l, cell);
    }
    Py_END_ALLOW_THREADS
    if (refused >= 0) return refuse(refused);
    if (text.failed()) return PyErr_NoMemory();
    const char *chars = text.begin() ? text.begin() : "";
    auto size = static_cast<Py_ssize_t>(text.size());
    return l.ascii ? PyUnicode_DecodeASCII(chars, size, nullptr) : PyUnicode_DecodeUTF8(chars, size, nullptr);
}

}  // namespace top_lines
