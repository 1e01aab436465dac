// The element lines of every record description, as a table of layouts.

#include "fields/element_layouts.hpp"

#include <cstring>
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
#define LAYOUT_VALUE_view(OF) nullptr
#define LAYOUT_VALUE_value(OF) &read_value<OF>
// Only indexed views and values: a copy, or a scalar taken without an index,
// is never a sequence's item.
#define LAYOUT_WANTED_view(R, ARRAY) records::array_traits<decltype(R::ARRAY)>::is_array
#define LAYOUT_WANTED_value(R, ARRAY) records::array_traits<decltype(R::ARRAY)>::is_array
#define LAYOUT_WANTED_copy(R, ARRAY) false
#define LAYOUT_VIEW_TYPE_copy(OF) -1
#define LAYOUT_VALUE_copy(OF) nullptr

#define ELEMENT_METHOD(R, NAME, RESULT, OF, ARRAY, BOUND)                                               \
    {LAYOUT_WANTED_##RESULT(R, ARRAY),                                                                 \
     {element::describe<decltype(R::ARRAY)>(NAME, #R " *", ty::p_##R, offsetof(R, ARRAY),              \
                                            offsetof(R, BOUND)),                                       \
      LAYOUT_VIEW_TYPE_##RESULT(OF), LAYOUT_VALUE_##RESULT(OF),                                        \
      offsetof(R, ARRAY) == offsetof(R, BOUND)                                                         \
          ? nullptr                                                                                    \
          : +[](const char *record) -> long long {                                                     \
                if constexpr (std::is_integral_v<decltype(R::BOUND)>)                                  \
                    return element::stated_count<decltype(R::BOUND)>(record, offsetof(R, BOUND));      \
                else                                                                                   \
                    return -1;                                                                         \
            }}},
#define ELEMENT_FUNCTION ELEMENT_METHOD

struct Line {
    bool wanted;
    Layout layout;
};

const Line lines[] = {
#include "all_records.inc"
};

#undef ELEMENT_METHOD
#undef ELEMENT_FUNCTION

}  // namespace

const Layout *find(const char *method) {
    for (const Line &line : lines)
        if (line.wanted && std::strcmp(line.layout.element.method, method) == 0) return &line.layout;
    return nullptr;
}

}  // namespace element_layouts
