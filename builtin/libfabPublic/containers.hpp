// Data containers: named items allocated through the functions the caller
// gave, and the containers the property lists fill.
#pragma once

#include <vector>

#include "serial_format.hpp"

namespace fab {

// A new container (malloc and free as its memory functions) holding copies of
// the properties' names, types and values; registered, released by DVSData_Free.
void *container_of(const std::vector<PropertyRecord> &properties);

}  // namespace fab
