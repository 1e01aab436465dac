// Method table of the test-only module's probe operations.

#include "swigtest_records.h"
#include "swigtest_type_ids.hpp"

#define OPERATION_FILE "tests/ext/swigtest_operations.def"
#define METHOD_BLOCK swigtest_operations
#include "runtime/operation_table.inc"
