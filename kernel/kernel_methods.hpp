// Extra methods of the kernel support records and their method blocks.
#pragma once

#include "runtime/method_block.hpp"

// hyp_Name___repr__(name): the name up to its first zero byte.
PyObject *hyp_Name_repr(PyObject *, PyObject *args) noexcept;

extern const MethodBlock kernel_name_methods;
extern const MethodBlock kernel_socket_methods;
extern const MethodBlock kernel_status_methods;
