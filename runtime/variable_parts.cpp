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
};

constexpr Line lines[] = {
#define ELEMENT_METHOD(R, NAME, RESULT, OF, ARRAY, BOUND)                                                  \
    {is_counted_tail<decltype(R::ARRAY), decltype(R::BOUND)>(),                                             \
     {ty::p_##R, offsetof(R, ARRAY), sizeof(records::element_t<decltype(R::ARRAY)>), offsetof(R, BOUND), \
      sizeof(R::BOUND)}},
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

constexpr std::array<Part, kParts> parts = [] {
    std::array<Part, kParts> found{};
    std::size_t n = 0;
    for (const Line &line : lines)
        if (line.counted_tail) found[n++] = line.part;
    return found;
}();

}  // namespace

const Part *of(const swig_type_info *ty) {
    if (!ty) return nullptr;
    for (const Part &part : parts)
        if (registry::types[part.record_type] == ty) return &part;
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
