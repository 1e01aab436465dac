// Cells: small blocks of C memory that a library writes its outputs into,
// seen from Python as objects whose "this" is a pointer of the cell's type.
// A cell frees its memory when it dies or when it is deleted, whichever is
// first; after a delete it carries no pointer any more, so a stale cell is
// refused by every conversion instead of reaching freed memory.
#pragma once

#include "runtime/python.hpp"
#include "runtime/swig_abi.hpp"

namespace cells {

PyTypeObject *type();

// A new cell of `size` zero bytes addressed as `ty`. Null with an exception
// when memory runs out.
PyObject *make_block(std::size_t size, swig_type_info *ty);

// A new cell that addresses `target` itself and keeps it alive; no memory
// of its own.
PyObject *make_reference(PyObject *target, swig_type_info *ty);

// Whether `address` is what a live reference cell addresses: lets a C
// callback check its context before it treats it as an object.
bool is_live_reference(const void *address);

// The cell behind obj, or null (no exception) when obj is not a live cell.
PyObject *as_cell(PyObject *obj);

// The bytes a live cell's pointer addresses: its block's size, 0 for a
// reference cell, whose target is an object and not bytes to read or write.
std::size_t size(PyObject *cell);

// Frees a cell's memory and drops its pointer; a second call does nothing.
void release(PyObject *cell);

}  // namespace cells
