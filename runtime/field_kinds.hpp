// Field kinds: the enumeration and the table of what each kind is, both
// made from runtime/field_kinds.def. Built without the interpreter, so the
// generators read the same rows as the module and the companion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "field_traits.hpp"

enum class FieldKind : std::uint8_t {
#define FIELD_KIND(NAME, ...) NAME,
#include "field_kinds.def"
#undef FIELD_KIND
};

// The declarations a kind fits (the fits column), checked for every line.
namespace field_fits {
template <class T>
inline constexpr bool integer =
    (std::is_integral_v<T> || std::is_enum_v<T>) && !std::is_same_v<T, char> && !std::is_same_v<T, bool>;
template <class T>
inline constexpr bool uint32 = std::is_integral_v<T> && std::is_unsigned_v<T> && sizeof(T) == 4;
template <class T>
inline constexpr bool character = std::is_same_v<T, char>;
template <class T>
inline constexpr bool pointer = std::is_pointer_v<T>;
template <class T>
inline constexpr bool void_pointer = std::is_same_v<T, void *>;
template <class T>
inline constexpr bool by_value = std::is_class_v<T> || std::is_union_v<T>;
template <class T>
inline constexpr bool array = records::array_traits<T>::is_array;
template <class T>
inline constexpr bool char_array = std::is_array_v<T> && std::is_same_v<records::element_t<T>, char>;
template <class T>
inline constexpr bool six_bytes = std::is_array_v<T> && sizeof(records::element_t<T>) == 1 && std::extent_v<T> == 6;
}  // namespace field_fits

namespace field_kinds {

enum Flag : unsigned {
    kNone = 0,
    // The getter gives a plain value: a repr shows it. Not owned text, which
    // follows a pointer that a union may reuse for other data.
    kScalar = 1 << 0,
    kInPlace = 1 << 1,             // the getter views memory inside the record
    kTakesOwnership = 1 << 2,      // the setter stores the pointer it is given, taking it over
    kNullNamesArgument = 1 << 3,   // a null value to copy in is refused as argument 2, not as a null variable
    kTakesDict = 1 << 4,           // plain data and keyword construction give it as a dict
    kModuleOnly = 1 << 5,          // the companion leaves loads and stores to the module's accessors
    kHardwareAddress = 1 << 6,     // the companion also takes text and six bytes
    kIPv4Address = 1 << 7,         // the companion adds an <field>_addr helper of IP version 4
};

struct Row {
    const char *name;
    FieldKind module_as;
    FieldKind companion_as;
    unsigned flags;
    const char *module_getter;
    const char *module_setter;
    const char *stub_getter;
    const char *stub_setter;
    const char *net_view;
    const char *accepted;
    const char *int_refused;
    const char *text_refused;
};

inline constexpr Row rows[] = {
#define FIELD_KIND(NAME, MODULE_AS, COMPANION_AS, FITS, FLAGS, ...) \
    {#NAME, FieldKind::MODULE_AS, FieldKind::COMPANION_AS, FLAGS, __VA_ARGS__},
#include "field_kinds.def"
#undef FIELD_KIND
};

inline constexpr std::size_t count = sizeof rows / sizeof rows[0];

constexpr const Row &row(FieldKind kind) { return rows[static_cast<std::size_t>(kind)]; }
constexpr bool has(FieldKind kind, unsigned flag) { return (row(kind).flags & flag) != 0; }

// A kind behaves as one that behaves as itself: no chains to follow.
consteval bool behaviours_are_direct() {
    for (const Row &r : rows)
        if (row(r.module_as).module_as != r.module_as || row(r.companion_as).companion_as != r.companion_as)
            return false;
    return true;
}
static_assert(behaviours_are_direct(), "a field kind behaves as a kind that behaves as another");

}  // namespace field_kinds

namespace records {

// Whether a field declared as T can be of kind K.
template <FieldKind K, class T>
consteval bool kind_fits() {
#define FIELD_KIND(NAME, MODULE_AS, COMPANION_AS, FITS, ...) \
    if constexpr (K == FieldKind::NAME) return field_fits::FITS<T>; else
#include "field_kinds.def"
#undef FIELD_KIND
    return false;
}

}  // namespace records
