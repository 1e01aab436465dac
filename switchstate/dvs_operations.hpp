// The switch state library's C declarations, for the table of its
// operations, and the one wrapper written by hand.
#pragma once

#include "libfabPublic.h"
#include "runtime/python.hpp"

// Panic(text, ...): converts only the text and calls the library's Panic
// with it and one null pointer, without arming the library-call trap.
PyObject *Panic_wrapper(PyObject *self, PyObject *args) noexcept;
