// Descriptor ids of the test-only module: positions in swigtest_types.def.
#pragma once

namespace ty {
enum : int {
#define TYPE(ID, SPELLINGS) ID,
#include "tests/ext/swigtest_types.def"
#undef TYPE
    count
};

// The C spellings of each descriptor, '|'-separated, by id: what operation
// description lines are checked against when they are compiled.
inline constexpr const char *spellings[] = {
#define TYPE(ID, SPELLINGS) SPELLINGS,
#include "tests/ext/swigtest_types.def"
#undef TYPE
};

}  // namespace ty
