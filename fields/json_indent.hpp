// Compact JSON lines indented as json.dumps(indent=2) lays them out: the
// flows of `flows --json --pretty` that only the package's Python reader
// takes from a snapshot, laid out as the text writer lays out the others
// (flow_text.cpp writes those indented itself).
#pragma once

#include "runtime/python.hpp"

namespace json_indent {

// indented(lines, level): the compact JSON objects of lines (a str of ASCII
// or bytes, one object a line), each laid out as json.dumps(indent=2) lays
// it out `level` deep, its first line indented too, joined by ",\n"; of the
// type of lines.
PyObject *indented(PyObject *module, PyObject *const *args, Py_ssize_t n) noexcept;

}  // namespace json_indent
