// Method table of the kernel link, resource pool and port status records.

#include "hyp_kernel_types.h"
#include "kernel/kernel_methods.hpp"
#include "runtime/type_ids.hpp"

#define RECORD_FILE "kernel/status_records.def"
#define METHOD_BLOCK kernel_status_methods
#include "runtime/record_table.inc"
