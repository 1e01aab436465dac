// The IPFIX encoder of flow query answers: a whole answer's flows written
// as the data records of this exporter's templates, with the packet count
// each flow had at its last record kept in a compact table of its own.
#pragma once

#include "runtime/python.hpp"

namespace ipfix_records {

// The encoder type, ipfix_records(decoder); null with an exception when it
// cannot be made.
PyTypeObject *type();

}  // namespace ipfix_records
