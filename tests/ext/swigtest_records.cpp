// Method table of the test-only module's records.

#include "swigtest_records.h"
#include "swigtest_type_ids.hpp"

#define RECORD_FILE "tests/ext/swigtest_records.def"
#define METHOD_BLOCK swigtest_record_methods
#include "runtime/record_table.inc"
