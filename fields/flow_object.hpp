// The storage of the companion's Flow, a C type its Python class derives
// from. Each field holds an object (given, or made when first read), or the
// value a query answer's entry held, made into an object only when someone
// reads it: a walk of a million flows hands most of them to callers that
// read a field or two, or none, and a flow then costs one allocation.
#pragma once

#include <cstdint>
#include <string_view>

#include "fields/flow_rows.hpp"
#include "runtime/python.hpp"

namespace flow_object {

// The fields, in the order Flow's constructor takes them. The addresses and
// the entities are kept as given (packed bytes, text, objects) under names of
// their own, behind the Python properties that make what they stand for.
#define FLOW_OBJECT_FIELDS(X)                                                                            \
    X(id) X(flags) X(table) X(port) X(vni) X(ipv6) X(_source) X(_destination) X(proto) X(ether) X(vlan)  \
    X(src_mac) X(dst_mac) X(inner_dst_mac) X(_entities) X(packets) X(age_s) X(expires_in_s)

enum Field : int {
#define FLOW_OBJECT_FIELD_ID(name) field_##name,
    FLOW_OBJECT_FIELDS(FLOW_OBJECT_FIELD_ID)
#undef FLOW_OBJECT_FIELD_ID
    kFields
};

// What a decoded flow keeps of its entry, in the entry's own types.
struct Held {
    FIELD_TYPE(flow_rows::Entry, flowId) id;
    FIELD_TYPE(flow_rows::Entry, pktCount) packets;
    std::uint64_t age_s;  // worked out from the entry's creation time when decoded
    std::int32_t flags;   // the entry's flags, a signed enumeration
    FIELD_TYPE(flow_rows::Entry, tblId) table;
    FIELD_TYPE(flow_rows::Entry, fkey.portID) port;
    FIELD_TYPE(flow_rows::Entry, fkey.vni) vni;
    FIELD_TYPE(flow_rows::Entry, exprTime) expires_in_s;
    FIELD_TYPE(flow_rows::Entry, fkey.l2Key.etype) ether;
    FIELD_TYPE(flow_rows::Entry, fkey.l2Key.vlanid) vlan;
    FIELD_TYPE(flow_rows::Entry, fkey.proto) proto;
    bool ipv6;
    unsigned char src_mac[flow_rows::kMacBytes], dst_mac[flow_rows::kMacBytes], inner_dst_mac[flow_rows::kMacBytes];
    unsigned char source[16], destination[16];  // network order; IPv4 in the first 4
};

struct Flow {
    PyObject_HEAD
    PyObject *made[kFields];  // a field's object, once given or made; null until then
    std::uint32_t held;       // bit f: field f is still only in `values`
    Held values;
};

constexpr std::uint32_t kEveryHeldField = (1u << kFields) - 1 - (1u << field__entities);
static_assert(kFields < 32);

// The type (flow_object), made at its first use; null with an exception
// when it cannot be.
PyTypeObject *type();

// Whether instances of t are flows that decoders may fill (t is the type or
// a class derived from it that adds nothing to an instance); TypeError
// naming who otherwise.
bool fillable(PyTypeObject *t, const char *who);

// An instance of a fillable t with no field set, kept out of the collector's
// view: nothing it holds can reach it until a field is given a container,
// which puts it back in view.
PyObject *untracked(PyTypeObject *t);

inline Flow &of(PyObject *flow) { return *reinterpret_cast<Flow *>(flow); }

// The field called name, or -1.
int field_named(std::string_view name);

}  // namespace flow_object
