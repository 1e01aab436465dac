// The element lines of every record description as a table of layouts, and
// the sequence lines that name them.

#include "fields/element_layouts.hpp"

#include <cstring>
#include <iterator>
#include <string_view>
#include <type_traits>

#include "hyp_kernel_types.h"
#include "hyp_packet_headers.h"
#include "libfabPublic.h"
#include "libfc.h"
#include "runtime/convert.hpp"
#include "runtime/record_fields.hpp"
#include "runtime/type_ids.hpp"

namespace element_layouts {

namespace {

template <class T>
PyObject *read_value(const char *at) {
    return convert::from_integer(element::element_value<T>(at));
}

#define LAYOUT_VIEW_TYPE_view(OF) ty::OF
#define LAYOUT_VIEW_TYPE_value(OF) -1
#define LAYOUT_VIEW_TYPE_copy(OF) -1
#define LAYOUT_VALUE_view(OF) nullptr
#define LAYOUT_VALUE_value(OF) &read_value<OF>
#define LAYOUT_VALUE_copy(OF) nullptr
// A scalar taken without an index is never a sequence's item.
#define LAYOUT_IN_PLACE_view(R, ARRAY) records::array_traits<decltype(R::ARRAY)>::is_array
#define LAYOUT_IN_PLACE_value(R, ARRAY) records::array_traits<decltype(R::ARRAY)>::is_array
#define LAYOUT_IN_PLACE_copy(R, ARRAY) false

#define ELEMENT_METHOD(R, NAME, RESULT, OF, ARRAY, BOUND)                                               \
    {element::describe<decltype(R::ARRAY)>(NAME, #R " *", ty::p_##R, offsetof(R, ARRAY),               \
                                           offsetof(R, BOUND)),                                        \
     LAYOUT_IN_PLACE_##RESULT(R, ARRAY), LAYOUT_VIEW_TYPE_##RESULT(OF), LAYOUT_VALUE_##RESULT(OF),     \
     offsetof(R, ARRAY) == offsetof(R, BOUND)                                                          \
         ? nullptr                                                                                     \
         : +[](const char *record) -> long long {                                                      \
               if constexpr (std::is_integral_v<decltype(R::BOUND)>)                                   \
                   return element::stated_count<decltype(R::BOUND)>(record, offsetof(R, BOUND));       \
               else                                                                                    \
                   return -1;                                                                          \
           }},
#define ELEMENT_FUNCTION ELEMENT_METHOD

constexpr Layout lines[] = {
#include "all_records.inc"
};

#undef ELEMENT_METHOD
#undef ELEMENT_FUNCTION

// The element line of that method; past the table when there is none.
constexpr std::size_t line_of(std::string_view method) {
    std::size_t i = 0;
    while (i < std::size(lines) && method != lines[i].element.method) ++i;
    return i;
}

// The element lines a sequence line names are of its record, and a count
// they are bounded by is the sequence's own.
constexpr bool names_element_lines_of(int record_type, bool counted, std::size_t bound_offset,
                                      std::string_view iter, std::string_view index) {
    if (line_of(iter) >= std::size(lines) || line_of(index) >= std::size(lines)) return false;
    if (!counted && lines[line_of(index)].element.offset != bound_offset) return false;
    for (const Layout *l : {&lines[line_of(iter)], &lines[line_of(index)]})
        if (l->element.record_type != record_type || (l->count && l->element.count_offset != bound_offset))
            return false;
    return true;
}

// BOUND is the field counting the items in use, or the array itself when
// every element is.
#define SEQUENCE(R, BOUND, ITER, INDEX)                                                           \
    static_assert(names_element_lines_of(ty::p_##R, std::is_integral_v<decltype(R::BOUND)>,        \
                                         offsetof(R, BOUND), ITER, INDEX),                        \
                  #R ": a sequence line names element lines of its own record, and their bound");
#include "all_records.inc"
#undef SEQUENCE

#define SEQUENCE(R, BOUND, ITER, INDEX) \
    {ty::p_##R, std::is_integral_v<decltype(R::BOUND)> ? #BOUND : nullptr, &lines[line_of(ITER)], &lines[line_of(INDEX)]},
constexpr Sequence sequence_lines[] = {
#include "all_records.inc"
};
#undef SEQUENCE

}  // namespace

std::span<const Sequence> sequences() { return sequence_lines; }

}  // namespace element_layouts
