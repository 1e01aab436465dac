// Module creation shared by every module built from this runtime: joins the
// method blocks into one table, creates the module and sets up the registry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "constants.hpp"
#include "method_block.hpp"
#include "python.hpp"
#include "registry.hpp"
#include "swig_abi.hpp"

// Docstrings of methods: each its signature in the form inspect.signature
// reads, then what the method does. One text holds every name followed by
// its docstring, each ending in a zero byte, sorted by name; offsets locate
// the names. Offsets rather than pointers leave the loader nothing to
// relocate.
struct MethodDocs {
    const char *names;                   // sorted, each NUL-terminated
    const std::uint32_t *name_offsets;
    const char *texts;                   // the docstrings, in the names' order
    const std::uint32_t *text_offsets;
    std::size_t count;
};

struct ModuleSetup {
    PyModuleDef *definition;           // name, state size; methods are filled in here
    const MethodBlock *const *blocks;  // in declaration order
    std::size_t block_count;
    swig_type_info *descriptors;       // sorted by name
    std::size_t descriptor_count;
    const ConstantDef *constants_before_cvar;
    std::size_t constants_before_cvar_count;
    const ConstantDef *constants_after_cvar;
    std::size_t constants_after_cvar_count;
    const registry::ExtraCast *extra_casts = nullptr;  // only test modules declare any
    std::size_t extra_cast_count = 0;
    const MethodDocs *docs = nullptr;  // for the methods that bring none of their own
    bool undocumented = false;          // a table of no documentation texts at all (_libfc's)
};

// SWIG_PyInstanceMethod_New(func): an instance method wrapping func.
PyObject *instance_method_new(PyObject *, PyObject *func) noexcept;

// Runs the initialisation steps; returns the new module or null with an exception.
PyObject *create_module(const ModuleSetup &setup);
