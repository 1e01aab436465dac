// Turns a type list file (one TYPE(id, "spellings") line per descriptor, in
// ascending byte order of the descriptor name) into descriptor ids and checks
// at compile time that the order holds, since lookups binary-search it.
#pragma once

#include <string_view>

namespace type_list {

template <std::size_t N>
consteval bool strictly_ascending(const char *const (&names)[N]) {
    for (std::size_t i = 1; i < N; ++i)
        if (!(std::string_view(names[i - 1]) < std::string_view(names[i]))) return false;
    return true;
}

}  // namespace type_list
