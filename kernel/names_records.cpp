// Method table of the kernel strings, list links, names and management records.

#include "hyp_kernel_types.h"
#include "kernel/kernel_methods.hpp"
#include "runtime/type_ids.hpp"

#define RECORD_FILE "kernel/names_records.def"
#define METHOD_BLOCK kernel_name_methods
#include "runtime/record_table.inc"
