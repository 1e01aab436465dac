// The field table of the companion: one entry per FIELD, FIELD_RO and
// BITFIELD line of every record description, in declaration order.

#include "fields/field_table.hpp"

#include <cstring>

#include "fields/record_pointer.hpp"
#include "hyp_kernel_types.h"
#include "hyp_packet_headers.h"
#include "libfabPublic.h"
#include "libfc.h"
#include "runtime/type_ids.hpp"

namespace field_table {

namespace {

template <class T>
constexpr int conversion_of() {
    if constexpr (std::is_enum_v<T>) {
        return static_cast<int>(sizeof(int)) | kSigned;  // enumerations convert as int
    } else if constexpr (std::is_integral_v<T>) {
        return static_cast<int>(sizeof(T)) | (std::is_signed_v<T> ? kSigned : 0) |
               (std::is_same_v<T, unsigned long long> ? kUnsignedLongLong : 0);
    } else {
        return 0;
    }
}

// A line's kind may behave otherwise in the companion than in the module
// (a packet header's six-byte array reads and takes text here).
constexpr FieldDesc as_companion_reads(FieldDesc d, FieldKind line_kind) {
    d.kind = field_kinds::row(line_kind).companion_as;
    return d;
}

// Views are _libfc's pointer objects. Owned texts are left to the module:
// it tracks the copies it makes, and hands out an over-long text as its own
// pointer object.
template <const FieldDesc &F, class T>
constexpr Entry entry(const char *name) {
    constexpr bool own = !field_kinds::has(F.kind, field_kinds::kModuleOnly);
    return {name, &F, conversion_of<records::c_value_t<T>>(),
            own ? records::load_field<F, T, record_pointer::view> : nullptr,
            own ? records::store_field<F, T> : nullptr};
}

#define FIELD(R, F, KIND, CTYPE, VT) \
    constexpr FieldDesc R##__##F = as_companion_reads(LIBFC_FIELD_DESC(R, F, KIND, CTYPE, VT), FieldKind::KIND);
#define FIELD_RO FIELD
#define BITFIELD(R, F, CTYPE, OFFSET, UNIT, BIT, BITS) \
    constexpr FieldDesc R##__##F = LIBFC_BITFIELD_DESC(R, F, CTYPE, OFFSET, UNIT, BIT, BITS);
#include "all_records.inc"
#undef FIELD
#undef FIELD_RO
#undef BITFIELD

#define FIELD(R, F, ...) entry<R##__##F, decltype(R::F)>(#R "." #F),
#define FIELD_RO FIELD
#define BITFIELD FIELD
const Entry entries[] = {
#include "all_records.inc"
};
#undef FIELD
#undef FIELD_RO
#undef BITFIELD

constexpr std::size_t kCount = sizeof entries / sizeof entries[0];

}  // namespace

const Entry *find(const char *name) {
    // The companion describes its fields in declaration order: the one after
    // the last found is tried first.
    static std::size_t next = 0;
    for (std::size_t i = 0; i < kCount; ++i) {
        const Entry &e = entries[(next + i) % kCount];
        if (std::strcmp(e.name, name) == 0) {
            next = (next + i + 1) % kCount;
            return &e;
        }
    }
    return nullptr;
}

}  // namespace field_table
