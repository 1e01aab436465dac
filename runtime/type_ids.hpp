// Index of every type descriptor of a module in its sorted descriptor table:
// the position of the type's line in TYPE_FILE, the module's type list.
// That is _libfc's libfc_module/types.def unless the includer names another
// first, as the test-only module does.
#pragma once

#ifndef TYPE_FILE
#define TYPE_FILE "libfc_module/types.def"
#endif

namespace ty {

enum : int {
#define TYPE(ID, SPELLINGS) ID,
#include TYPE_FILE
#undef TYPE
    count
};

// The C spellings of each descriptor, '|'-separated, by id: what operation
// description lines are checked against when they are compiled.
inline constexpr const char *spellings[] = {
#define TYPE(ID, SPELLINGS) SPELLINGS,
#include TYPE_FILE
#undef TYPE
};

}  // namespace ty
