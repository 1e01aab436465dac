// Method table of the test-only module's records.

#define TYPE_FILE "tests/ext/swigtest_types.def"
#include "runtime/type_ids.hpp"

#include "swigtest_records.h"

#define RECORD_FILE "tests/ext/swigtest_records.def"
#define METHOD_BLOCK swigtest_record_methods
#include "runtime/record_table.inc"
