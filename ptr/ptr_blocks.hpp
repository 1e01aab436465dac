// The method blocks of _libfc_ptr, one per file, joined by its module entry.
#pragma once

#include "runtime/method_block.hpp"

extern const MethodBlock output_cell_methods;   // output_cells.cpp
extern const MethodBlock memory_block_methods;  // memory_blocks.cpp
extern const MethodBlock callback_methods;      // callbacks.cpp

// Writes the "swig_ptr: " texts of the callback functions; before the module
// is created, since the function objects carry those texts from then on.
void describe_callbacks();
