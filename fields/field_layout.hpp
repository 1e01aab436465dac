// What the companion generator writes for each field and the field
// descriptors read back: the field's kind and how its integer value converts.
// Shared by tools/gen_companion.cpp (built without Python) and fields/.
#pragma once

#include <cstddef>
#include <type_traits>

namespace field_layout {

// In the order of FieldKind (runtime/record_fields.hpp), whose spellings the
// description lines use; kind_of() maps a spelling to its number.
enum Kind : int {
    Integer,
    BitField,
    Char,
    Pointer,
    VoidPointer,
    Nested,
    Array,
    CharArray,
    HwAddr,
    OwnedText,
    kKindCount,
};

inline constexpr const char *kind_names[kKindCount] = {
    "Integer", "BitField", "Char", "Pointer", "VoidPointer", "Nested", "Array", "CharArray", "HwAddr", "OwnedText",
};

// -1 for a spelling that is no kind.
inline int kind_of(const char *spelling) {
    for (int k = 0; k < kKindCount; ++k) {
        const char *a = kind_names[k];
        const char *b = spelling;
        while (*a && *a == *b) ++a, ++b;
        if (!*a && !*b) return k;
    }
    return -1;
}

// An integer field's C type, as far as its conversion cares: width in bytes,
// signedness, and whether it is unsigned long long (the one unsigned type
// that takes the full 64-bit range). 0 for fields that hold no integer.
inline constexpr int kSigned = 16;
inline constexpr int kUnsignedLongLong = 32;

template <class T>
constexpr int conversion_of() {
    if constexpr (std::is_enum_v<T>) {
        return static_cast<int>(sizeof(int)) | kSigned;  // enumerations convert as int
    } else if constexpr (std::is_integral_v<T>) {
        int code = static_cast<int>(sizeof(T));
        if (std::is_signed_v<T>) code |= kSigned;
        if (std::is_same_v<T, unsigned long long>) code |= kUnsignedLongLong;
        return code;
    } else {
        return 0;
    }
}

}  // namespace field_layout
