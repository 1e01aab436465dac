// The descriptors of every C pointer type _libfc exchanges, built from
// libfc_module/types.def; each entry's index is its ty:: id.

#include "runtime/swig_abi.hpp"
#include "runtime/type_ids.hpp"
#include "runtime/type_list.hpp"

swig_type_info libfc_type_descriptors[ty::count] = {
#define TYPE(ID, SPELLINGS) {"_" #ID, SPELLINGS, nullptr, nullptr, nullptr, 0},
#include "libfc_module/types.def"
#undef TYPE
};

namespace {
constexpr const char *descriptor_names[] = {
#define TYPE(ID, SPELLINGS) "_" #ID,
#include "libfc_module/types.def"
#undef TYPE
};
}  // namespace

static_assert(type_list::strictly_ascending(descriptor_names),
              "libfc_module/types.def must stay in ascending byte order of the descriptor names");
