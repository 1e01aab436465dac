// Method table of the kernel socket address records.

#include "hyp_kernel_types.h"
#include "kernel/kernel_methods.hpp"
#include "runtime/type_ids.hpp"

#define RECORD_FILE "kernel/socket_records.def"
#define METHOD_BLOCK kernel_socket_methods
#include "runtime/record_table.inc"
