// The paced UDP sender of IPFIX messages: a native thread of its own sends
// what Python hands it, so the walk of the cache goes on (holding the
// interpreter's lock through the library's queries) while messages leave
// at the pace a collector keeps up with.
#pragma once

#include "runtime/python.hpp"

namespace ipfix_sender {

// The sender type, ipfix_sender(fd, host, port, rate, burst, capacity);
// null with an exception when it cannot be made.
PyTypeObject *type();

}  // namespace ipfix_sender
