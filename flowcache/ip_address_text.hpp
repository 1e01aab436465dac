// IPv4 / IPv6 addresses held in records in network order, as text.
#pragma once

#include "runtime/python.hpp"

// The dotted quad of the 4 bytes at `bytes`, or the standard compressed form
// of the 16 bytes there when v6. The bytes are read under the library-call
// trap. Null with an exception set on failure.
PyObject *ip_address_text(const char *bytes, bool v6) noexcept;
