// Descriptor ids of the test-only module: positions in swigtest_types.def.
#pragma once

namespace ty {
enum : int {
#define TYPE(ID, SPELLINGS) ID,
#include "tests/ext/swigtest_types.def"
#undef TYPE
    count
};
}  // namespace ty
