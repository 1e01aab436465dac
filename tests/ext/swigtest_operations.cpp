// Method table of the test-only module's probe operations.

#define TYPE_FILE "tests/ext/swigtest_types.def"
#include "runtime/type_ids.hpp"

#include "swigtest_records.h"

#define OPERATION_FILE "tests/ext/swigtest_operations.def"
#define METHOD_BLOCK swigtest_operations
#include "runtime/operation_table.inc"
