// Record classes: one FieldDesc per field and one RecordDesc per record; the
// templates below turn them into the getters, setters, constructors,
// destructors and class registrations of the module's method table.
//
// How each field kind's value is read and stored at a record address
// (load_field, store_field) lives here; what else a kind is (the
// declarations it fits, its flags, messages and Python types) is its row in
// runtime/field_kinds.def. The module's accessors add the argument handling;
// the companion's field table (fields/field_table.cpp) calls load_field and
// store_field directly.
//
// Getters and setters do not arm the library-call trap: they only touch the
// record's memory. Constructors and destructors do.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "allocations.hpp"
#include "convert.hpp"
#include "errors.hpp"
#include "field_kinds.hpp"
#include "field_traits.hpp"
#include "pointer_object.hpp"
#include "registry.hpp"
#include "trap.hpp"

struct FieldDesc {
    FieldKind kind;           // the kind loads and stores follow: the line's module_as (companion_as in the companion)
    const char *field;        // "bufferSize"
    const char *setter;       // "hyp_String_bufferSize_set"
    const char *getter;       // "hyp_String_bufferSize_get"
    const char *record_text;  // "hyp_String *", argument 1 of every accessor
    const char *value_text;   // the C type of argument 2 and of null-reference messages
    int record_type;          // descriptor id of the record pointer
    int value_type;           // descriptor id of the pointee, nested record or element
    std::uint32_t offset;     // of the field, or of a bit-field's storage unit
    std::uint32_t size;       // of a scalar, unit, nested record or array element
    std::uint32_t count;      // array elements
    std::uint8_t bit;         // lowest bit of a bit-field in its unit
    std::uint8_t bits;        // width of a bit-field
};

namespace ty {
constexpr int none = -1;  // the value type column of a field that holds no pointer
}

// The FieldDesc of a FIELD / FIELD_RO line, and of a BITFIELD line, of a
// description file (runtime/record_table.inc).
#define LIBFC_FIELD_DESC(R, F, KIND, CTYPE, VT)                                                        \
    FieldDesc {                                                                                      \
        field_kinds::row(FieldKind::KIND).module_as, #F, #R "_" #F "_set", #R "_" #F "_get", #R " *", \
            CTYPE, ty::p_##R, ty::VT, offsetof(R, F),                                                \
            static_cast<std::uint32_t>(records::element_size<decltype(R::F)>()),                     \
            static_cast<std::uint32_t>(records::element_count<decltype(R::F)>()), 0, 0               \
    }
#define LIBFC_BITFIELD_DESC(R, F, CTYPE, OFFSET, UNIT, BIT, BITS) \
    FieldDesc { FieldKind::BitField, #F, #R "_" #F "_set", #R "_" #F "_get", #R " *", CTYPE, ty::p_##R, ty::none, OFFSET, UNIT, 1, BIT, BITS }

struct RecordDesc {
    const char *new_name;
    const char *delete_name;
    const char *record_text;  // "hyp_String *"
    int type;
    std::size_t size;
};

namespace records {

// Enumerations convert as int; every other scalar by its own C type.
template <class T>
using c_value_t = std::conditional_t<std::is_enum_v<T>, int, T>;

inline swig_type_info *descriptor(int id) { return id < 0 ? nullptr : registry::types[id]; }

// The record argument of an accessor: a TypeError for anything but a pointer
// to the record, a ValueError for the null pointer when it would be touched.
template <const FieldDesc &F>
inline bool record_arg(PyObject *obj, const char *method, char **out) {
    void *rec;
    if (!convert::pointer_argument(obj, registry::types[F.record_type], 0, method, 1, F.record_text, &rec))
        return false;
    *out = static_cast<char *>(rec);
    return true;
}

template <class U>
inline U load(const char *at) {
    U v;
    std::memcpy(&v, at, sizeof v);  // records may be packed: no alignment assumed
    return v;
}

template <class U>
inline void store(char *at, U v) {
    std::memcpy(at, &v, sizeof v);
}

inline std::uint64_t load_unit(const char *at, unsigned size) {
    switch (size) {
    case 1: return load<std::uint8_t>(at);
    case 2: return load<std::uint16_t>(at);
    case 4: return load<std::uint32_t>(at);
    default: return load<std::uint64_t>(at);
    }
}

inline void store_unit(char *at, unsigned size, std::uint64_t v) {
    switch (size) {
    case 1: store<std::uint8_t>(at, static_cast<std::uint8_t>(v)); break;
    case 2: store<std::uint16_t>(at, static_cast<std::uint16_t>(v)); break;
    case 4: store<std::uint32_t>(at, static_cast<std::uint32_t>(v)); break;
    default: store<std::uint64_t>(at, v); break;
    }
}

constexpr std::uint64_t low_bits(unsigned bits) {
    return bits >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
}

// Bits bit .. bit+bits-1 of the storage unit of `size` bytes at `at`.
inline std::uint64_t load_bits(const char *at, unsigned size, unsigned bit, unsigned bits) {
    return (load_unit(at, size) >> bit) & low_bits(bits);
}

// Stores the low `bits` bits of v there; the unit's other bits stay as they are.
inline void store_bits(char *at, unsigned size, unsigned bit, unsigned bits, std::uint64_t v) {
    std::uint64_t mask = low_bits(bits) << bit;
    store_unit(at, size, (load_unit(at, size) & ~mask) | ((v << bit) & mask));
}

PyObject *hardware_address_text(const unsigned char *bytes);

// Element-by-element copy; the source may be any memory the caller names.
inline void copy_elements(char *dst, const char *src, std::size_t size, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) std::memmove(dst + i * size, src + i * size, size);
}

// Stores a private copy of text at `at`; false (MemoryError set) when no copy
// could be made, the field then unchanged.
LIBFC_COLD bool replace_owned_text(char *at, const convert::Text &text);

// Statuses of store_field beyond the conversions' own (errors.hpp).
inline constexpr int kNullValue = 1;   // a null pointer given as the record or array to copy in
inline constexpr int kNullRecord = 2;  // a value to copy into a null record

// How a field's getter hands out a pointer, a nested record or an array: as
// a pointer object of the module's own type by default.
using ViewMaker = PyObject *(*)(void *address, swig_type_info *ty);
inline PyObject *module_view(void *address, swig_type_info *ty) { return pointer_object::make(address, ty, 0); }

// The value of field F at `at`, its address in a record (the storage unit's
// for a bit-field). T is the field's declared C type.
template <const FieldDesc &F, class T, ViewMaker View = module_view>
PyObject *load_field(char *at) noexcept {
    if constexpr (F.kind == FieldKind::Integer) {
        return convert::from_integer(load<c_value_t<T>>(at));
    } else if constexpr (F.kind == FieldKind::BitField) {
        return PyLong_FromUnsignedLongLong(load_bits(at, F.size, F.bit, F.bits));
    } else if constexpr (F.kind == FieldKind::Char) {
        return convert::from_char(*at);
    } else if constexpr (F.kind == FieldKind::Pointer || F.kind == FieldKind::VoidPointer) {
        return View(load<void *>(at), descriptor(F.value_type));
    } else if constexpr (F.kind == FieldKind::Nested || F.kind == FieldKind::Array) {
        return View(at, descriptor(F.value_type));
    } else if constexpr (F.kind == FieldKind::CharArray) {
        return convert::from_char_array(at, F.count);
    } else if constexpr (F.kind == FieldKind::HwAddr) {
        return hardware_address_text(reinterpret_cast<const unsigned char *>(at));
    } else if constexpr (F.kind == FieldKind::OwnedText) {
        return convert::from_text(load<const char *>(at));
    }
}

// Converts value and stores it into field F at `at`; a null `at` (the
// record is null) only checks the value, as far as the kind can without a
// record. kOk, or the refusal's status: a conversion's, kPending (an
// exception is set), kNullValue or kNullRecord. The record is unchanged
// unless kOk.
template <const FieldDesc &F, class T>
int store_field(char *at, PyObject *value) noexcept {
    if constexpr (F.kind == FieldKind::Integer || F.kind == FieldKind::BitField) {
        using V = c_value_t<T>;
        V v;
        if (int rc = convert::to_integer(value, &v)) return rc;
        if (!at) return errors::kOk;
        if constexpr (F.kind == FieldKind::Integer)
            store<V>(at, v);
        else
            store_bits(at, F.size, F.bit, F.bits, static_cast<std::uint64_t>(v));
    } else if constexpr (F.kind == FieldKind::Char) {
        char c;
        if (int rc = convert::to_char(value, &c)) return rc;
        if (at) *at = c;
    } else if constexpr (F.kind == FieldKind::CharArray) {
        char scratch[F.count ? F.count : 1];
        return convert::to_char_array(value, at ? at : scratch, F.count);
    } else if constexpr (F.kind == FieldKind::OwnedText) {
        convert::Text text;
        if (int rc = convert::to_text(value, &text)) return rc;
        bool stored = !at || replace_owned_text(at, text);
        convert::release(text);
        if (!stored) return errors::kPending;
    } else {
        // A pointer object: void * takes the first one of the chain whatever
        // its type; the others copy from what they are given.
        constexpr bool points = field_kinds::has(F.kind, field_kinds::kTakesOwnership);
        swig_type_info *expected = F.kind == FieldKind::VoidPointer ? nullptr : descriptor(F.value_type);
        void *p;
        if (int rc = pointer_object::convert(value, &p, expected, points ? pointer_object::kDisown : 0))
            return rc == errors::kPending ? rc : errors::kTypeError;
        if constexpr (points) {
            if (at) store<void *>(at, p);
        } else {
            if (!p) return kNullValue;
            if (!at) return kNullRecord;
            if constexpr (F.kind == FieldKind::Nested)
                std::memmove(at, p, F.size);
            else
                copy_elements(at, static_cast<const char *>(p), F.size, F.count);
        }
    }
    return errors::kOk;
}

// The module setter's message for a store_field status.
template <const FieldDesc &F>
LIBFC_COLD PyObject *refuse(int rc) {
    if (rc == kNullRecord) return errors::null_argument(F.setter, 1, F.record_text);
    if (rc != kNullValue) return errors::argument(rc, F.setter, 2, F.value_text);
    if (field_kinds::has(F.kind, field_kinds::kNullNamesArgument))
        return errors::null_argument(F.setter, 2, F.value_text);
    return errors::null_variable(F.field, F.value_text);
}

template <const FieldDesc &F, class T>
PyObject *field_get(PyObject *, PyObject *args) noexcept {
    PyObject *argv[1];
    if (!unpack_args<1>(args, F.getter, argv)) return nullptr;
    char *rec;
    if (!record_arg<F>(argv[0], F.getter, &rec)) return nullptr;
    if (!rec) [[unlikely]]
        return errors::null_argument(F.getter, 1, F.record_text);
    return load_field<F, T>(rec + F.offset);
}

template <const FieldDesc &F, class T>
PyObject *field_set(PyObject *, PyObject *args) noexcept {
    PyObject *argv[2];
    if (!unpack_args<2>(args, F.setter, argv)) return nullptr;
    char *rec;
    if (!record_arg<F>(argv[0], F.setter, &rec)) return nullptr;
    if (int rc = store_field<F, T>(rec ? rec + F.offset : nullptr, argv[1])) [[unlikely]]
        return refuse<F>(rc);
    Py_RETURN_NONE;
}

template <const RecordDesc &R>
PyObject *record_new(PyObject *, PyObject *args) noexcept {
    if (!unpack_args<0>(args, R.new_name, nullptr)) return nullptr;
    // A kept block of a record of this size that died before, zero-filled,
    // needs no call of the allocator; otherwise calloc, under the trap.
    swig_type_info *ty = registry::types[R.type];
    void *rec = allocations::take_kept(R.size, ty);
    if (rec) {
        std::memset(rec, 0, R.size);
        trap::settle();  // as after the allocation it stands for
    } else {
        auto allocate = [&rec] { rec = std::calloc(1, R.size); };
        if (trap::armed(allocate)) return trap::raise_abandoned_call();
        allocations::remember(rec, ty);
    }
    return pointer_object::make(rec, ty, pointer_object::kOwn | pointer_object::kBare);
}

// Frees rec when this module allocated it as an R; false when a library
// abandoned the release (its exception is then to be raised).
template <const RecordDesc &R>
inline bool release_record(void *rec) {
    // Only what this module allocated is freed; anything else is left alone.
    // Without owned texts to free, the block may be kept for the next record.
    allocations::Retired retired = allocations::retire(rec, registry::types[R.type], R.size);
    if (retired == allocations::kNotOurs) return true;
    if (retired == allocations::kKept) {
        trap::settle();  // as after the release it stands for
        return true;
    }
    auto release = [rec] {
        allocations::release_texts_within(rec, R.size);  // owned text fields die with the record
        std::free(rec);
    };
    return trap::armed(release) == 0;
}

template <const RecordDesc &R>
PyObject *record_delete(PyObject *, PyObject *args) noexcept {
    PyObject *argv[1];
    if (!unpack_args<1>(args, R.delete_name, argv)) return nullptr;
    void *rec;
    swig_type_info *ty = registry::types[R.type];
    if (!convert::pointer_argument(argv[0], ty, pointer_object::kDisown, R.delete_name, 1, R.record_text, &rec))
        return nullptr;
    if (!release_record<R>(rec)) return trap::raise_abandoned_call();
    Py_RETURN_NONE;
}

// record_delete for an owning pointer object of the record's own type as it
// dies; a failing release is not reported, as for any destructor. Pointer
// objects of other types (classes sharing the record's class through a
// cast) take the call, with its conversion.
template <const RecordDesc &R>
bool record_destroy(void *rec, const swig_type_info *ty) noexcept {
    if (ty != registry::types[R.type]) return false;
    release_record<R>(rec);
    return true;
}

template <const RecordDesc &R>
PyObject *record_register(PyObject *, PyObject *args) noexcept {
    PyObject *result = registry::register_class(args, R.type);
    // A class whose destructor is this record's delete_X has its records
    // destroyed directly.
    swig_type_info *ty = registry::types[R.type];
    SwigPyClassInfo *info = result ? ty->class_info : nullptr;
    PyObject *destructor = info ? info->destructor : nullptr;
    if (destructor && PyCFunction_Check(destructor) &&
        PyCFunction_GET_FUNCTION(destructor) == static_cast<PyCFunction>(record_delete<R>))
        pointer_object::set_direct_destructor(info, record_destroy<R>);
    return result;
}

}  // namespace records
