// The per-kind loads and stores of the field descriptors. Every refusal is
// left to the module's setter, so its message is the module's own.

#include "fields/field_access.hpp"

#include <climits>
#include <cstdint>
#include <cstring>

#include "fields/record_pointer.hpp"
#include "runtime/convert.hpp"
#include "runtime/pointer_object.hpp"
#include "runtime/record_fields.hpp"
#include "runtime/registry.hpp"
#include "runtime/type_ids.hpp"

namespace field_access {

namespace {

using namespace field_layout;

swig_type_info *descriptor(int id) { return id < 0 ? nullptr : registry::types[id]; }

template <class T>
PyObject *integer_as(const char *at) {
    return convert::from_integer(records::load<T>(at));
}

PyObject *load_integer(int conversion, const char *at) {
    switch (conversion) {
    case 1: return integer_as<unsigned char>(at);
    case 1 | kSigned: return integer_as<signed char>(at);
    case 2: return integer_as<unsigned short>(at);
    case 2 | kSigned: return integer_as<short>(at);
    case 4: return integer_as<unsigned int>(at);
    case 4 | kSigned: return integer_as<int>(at);
    case 8: return integer_as<unsigned long>(at);
    case 8 | kSigned: return integer_as<long long>(at);
    case 8 | kUnsignedLongLong: return integer_as<unsigned long long>(at);
    default: return nullptr;
    }
}

// The value converted by the field's C type, widened as the module widens it
// before storing (a signed value keeps its sign bits).
template <class T>
int convert_as(PyObject *value, std::uint64_t *out) {
    T v;
    int rc = convert::to_integer(value, &v);
    if (rc == 0) *out = static_cast<std::uint64_t>(v);
    return rc;
}

int convert_integer(int conversion, PyObject *value, std::uint64_t *out) {
    switch (conversion) {
    case 1: return convert_as<unsigned char>(value, out);
    case 1 | kSigned: return convert_as<signed char>(value, out);
    case 2: return convert_as<unsigned short>(value, out);
    case 2 | kSigned: return convert_as<short>(value, out);
    case 4: return convert_as<unsigned int>(value, out);
    case 4 | kSigned: return convert_as<int>(value, out);
    case 8: return convert_as<unsigned long>(value, out);
    case 8 | kSigned: return convert_as<long long>(value, out);
    case 8 | kUnsignedLongLong: return convert_as<unsigned long long>(value, out);
    default: return errors::kError;
    }
}

bool known_conversion(int conversion) {
    switch (conversion) {
    case 1: case 1 | kSigned: case 2: case 2 | kSigned: case 4: case 4 | kSigned:
    case 8: case 8 | kSigned: case 8 | kUnsignedLongLong:
        return true;
    default:
        return false;
    }
}

// A conversion status as store() reports it; a refusal's status goes to
// *refused for the caller that words refusals itself.
int declined_or_raised(int rc, int *refused) {
    if (rc == errors::kPending) return -1;
    if (refused) *refused = rc;
    return 1;
}

}  // namespace

bool valid(const Layout &l) {
    if (l.kind < 0 || l.kind >= kKindCount || l.record_type < 0 || l.record_type >= ty::count)
        return false;
    if (l.value_type >= ty::count || l.offset < 0 || l.size < 0 || l.count < 0) return false;
    switch (l.kind) {
    case Integer: return known_conversion(l.conversion);
    case BitField:
        return known_conversion(l.conversion) && (l.size == 1 || l.size == 2 || l.size == 4 || l.size == 8) &&
               l.bit >= 0 && l.bits > 0 && l.bit + l.bits <= 8 * l.size;
    case Nested: case Array: case HwAddr: return l.value_type >= 0;
    default: return true;
    }
}

PyObject *load(const Layout &l, char *record, bool *declined) {
    char *at = record + l.offset;
    *declined = false;
    switch (l.kind) {
    case Integer: return load_integer(l.conversion, at);
    case BitField:
        return PyLong_FromUnsignedLongLong(records::load_bits(at, static_cast<unsigned>(l.size),
                                                              static_cast<unsigned>(l.bit),
                                                              static_cast<unsigned>(l.bits)));
    case Char: return convert::from_char(*at);
    case Pointer:
    case VoidPointer:
        return record_pointer::view(records::load<void *>(at), descriptor(l.value_type));
    case Nested:
    case Array: return record_pointer::view(at, descriptor(l.value_type));
    case CharArray: return convert::from_char_array(at, static_cast<size_t>(l.count));
    case HwAddr: return records::hardware_address_text(reinterpret_cast<const unsigned char *>(at));
    case OwnedText: {
        const char *text = records::load<const char *>(at);
        // A text too long for a str comes back as a pointer object of the
        // module's own; that rare case is the module's to answer.
        if (text && std::strlen(text) > INT_MAX) break;
        return convert::from_text(text);
    }
    default: break;
    }
    *declined = true;
    return nullptr;
}

int store(const Layout &l, char *record, PyObject *value, int *refused) {
    char *at = record + l.offset;
    switch (l.kind) {
    case Integer: {
        std::uint64_t v;
        if (int rc = convert_integer(l.conversion, value, &v)) return declined_or_raised(rc, refused);
        records::store_unit(at, static_cast<unsigned>(l.conversion & 15), v);
        return 0;
    }
    case BitField: {
        std::uint64_t v;
        if (int rc = convert_integer(l.conversion, value, &v)) return declined_or_raised(rc, refused);
        records::store_bits(at, static_cast<unsigned>(l.size), static_cast<unsigned>(l.bit),
                            static_cast<unsigned>(l.bits), v);
        return 0;
    }
    case Char: {
        char c;
        if (int rc = convert::to_char(value, &c)) return declined_or_raised(rc, refused);
        *at = c;
        return 0;
    }
    case CharArray:
        if (int rc = convert::to_char_array(value, at, static_cast<size_t>(l.count)))
            return declined_or_raised(rc, refused);
        return 0;
    case Pointer:
    case VoidPointer: {
        // void * takes the first pointer object of the chain, whatever its type.
        swig_type_info *expected = l.kind == Pointer ? descriptor(l.value_type) : nullptr;
        void *p;
        if (pointer_object::convert(value, &p, expected, pointer_object::kDisown)) return 1;
        records::store<void *>(at, p);
        return 0;
    }
    case Nested:
    case Array:
    case HwAddr: {
        void *src;
        if (pointer_object::convert(value, &src, descriptor(l.value_type), 0) || !src) return 1;
        if (l.kind == Nested)
            std::memmove(at, src, static_cast<size_t>(l.size));
        else
            records::copy_elements(at, static_cast<const char *>(src), static_cast<size_t>(l.size),
                                   static_cast<size_t>(l.count));
        return 0;
    }
    default:
        return 1;  // owned text: its copies are tracked by the module that made them
    }
}

}  // namespace field_access
