// C declarations of the packet header records and the module functions that
// stand among them.
#pragma once

#include "hyp_packet_headers.h"
#include "runtime/python.hpp"

// ovl_INTBitmapConvert(bitmap): the 16-bit INT bitmap with the bit order of
// each byte reversed.
PyObject *ovl_INTBitmapConvert_method(PyObject *, PyObject *args) noexcept;
