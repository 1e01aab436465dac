// The one place the interpreter's C API is included from.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#define LIBFC_COLD __attribute__((cold, noinline))
#define LIBFC_EXPORT __attribute__((visibility("default")))
