// Index of every type descriptor of _libfc in its sorted descriptor table:
// the position of the type's line in runtime/types.def.
#pragma once

namespace ty {

enum : int {
#define TYPE(ID, SPELLINGS) ID,
#include "runtime/types.def"
#undef TYPE
    count
};

// The C spellings of each descriptor, '|'-separated, by id: what operation
// description lines are checked against when they are compiled.
inline constexpr const char *spellings[] = {
#define TYPE(ID, SPELLINGS) SPELLINGS,
#include "runtime/types.def"
#undef TYPE
};

}  // namespace ty
