// A run of consecutive entries of the module's method table. Each subsystem
// contributes blocks; module entry joins them in declaration order.
#pragma once

#include <cstddef>

#include "python.hpp"

struct MethodBlock {
    PyMethodDef *entries;
    std::size_t count;
};
