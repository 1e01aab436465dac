// A JSON document's flows indented as json.dumps(indent=2) lays them out
// (`flows --json --pretty`), from the compact lines the text writers write:
// a million flows' document is written a page at a time, where one made of
// a dict per flow took minutes and gigabytes.
#pragma once

#include "runtime/python.hpp"

namespace json_indent {

// indented(lines, level): the compact JSON objects of lines (a str of ASCII
// or bytes, one object a line), each laid out as json.dumps(indent=2) lays
// it out `level` deep, its first line indented too, joined by ",\n"; of the
// type of lines.
PyObject *indented(PyObject *module, PyObject *const *args, Py_ssize_t n) noexcept;

}  // namespace json_indent
