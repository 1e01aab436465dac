// C declarations and extra methods of the kernel support records.
#pragma once

#include "hyp_kernel_types.h"
#include "runtime/python.hpp"

// hyp_Name___repr__(name): the name up to its first zero byte.
PyObject *hyp_Name_repr(PyObject *, PyObject *args) noexcept;
