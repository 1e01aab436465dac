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

}  // namespace ty
