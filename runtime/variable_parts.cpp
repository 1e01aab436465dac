// The variable parts of the records, from the element lines whose array is
// a zero-length array bounded by an integer field.

#include "variable_parts.hpp"

#include <array>
#include <cstring>
#include <type_traits>

#include "hyp_kernel_types.h"
#include "hyp_packet_headers.h"
#include "libfabPublic.h"
#include "libfc.h"
#include "field_traits.hpp"
#include "registry.hpp"
#include "type_ids.hpp"

namespace variable_parts {

namespace {

template <class Array, class Bound>
constexpr bool is_counted_tail() {
    return records::array_traits<Array>::is_array && records::array_traits<Array>::count == 0 &&
           std::is_integral_v<Bound>;
}

struct Line {
    bool counted_tail;
    Part part;
    const char *name;  // the record pointer's descriptor name
};

constexpr Line lines[] = {
#define ELEMENT_METHOD(R, NAME, RESULT, OF, ARRAY, BOUND)                                                  \
    {is_counted_tail<decltype(R::ARRAY), decltype(R::BOUND)>(),                                             \
     {ty::p_##R, offsetof(R, ARRAY), sizeof(records::element_t<decltype(R::ARRAY)>), offsetof(R, BOUND), \
      sizeof(R::BOUND)},                                                                                    \
     "_p_" #R},
#define ELEMENT_FUNCTION ELEMENT_METHOD
#include "all_records.inc"
#undef ELEMENT_METHOD
#undef ELEMENT_FUNCTION
};

// Only the counted tails, so that the lookup every handed-out pointer makes
// walks three entries rather than every element line.
constexpr std::size_t kParts = [] {
    std::size_t n = 0;
    for (const Line &line : lines) n += line.counted_tail;
    return n;
}();

constexpr std::array<Line, kParts> parts = [] {
    std::array<Line, kParts> found{};
    std::size_t n = 0;
    for (const Line &line : lines)
        if (line.counted_tail) found[n++] = line;
    return found;
}();

// The ids above are _libfc's.  Another module built from this runtime (the
// test-only one) numbers its descriptors its own way and has none of these
// records: there no pointer has a variable part.
bool ids_are_this_modules() {
    const swig_module_info *table = registry::module_table();
    for (const Line &line : parts) {
        std::size_t id = static_cast<std::size_t>(line.part.record_type);
        if (!table || id >= table->size || !registry::types[id] || std::strcmp(registry::types[id]->name, line.name) != 0)
            return false;
    }
    return true;
}

}  // namespace

const Part *of(const swig_type_info *ty) {
    static const bool ours = ids_are_this_modules();
    if (!ty || !ours) return nullptr;
    for (const Line &line : parts) {
        const Part &part = line.part;
        if (registry::types[part.record_type] == ty) return &part;
    }
    return nullptr;
}

std::uint32_t stated_extent(const void *address, const swig_type_info *ty) {
    const Part *p = of(ty);
    if (!p || !address) return 0;
    std::uint64_t count = 0;
    std::memcpy(&count, static_cast<const char *>(address) + p->count_offset, p->count_size);  // little-endian
    std::uint64_t bytes = p->header + count * p->stride;
    return bytes > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(bytes);
}

}  // namespace variable_parts
