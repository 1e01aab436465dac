// The bulk decoder of flow query answers. A walk of a large cache decodes
// 2048 entries per answer; through the companion each field of each entry
// costs an attribute lookup and a call. Here the entries are read with the C
// declarations into the companion's Flow objects, which hold the values and
// make objects of them when read (flow_object.hpp). The addresses are made
// packed bytes, which address() makes ipaddress objects of, and the action
// entities one compact row, which entities() turns into lists.

#include "fields/flow_rows.hpp"

#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>

#include "fields/answer_copy.hpp"
#include "fields/flow_object.hpp"
#include "fields/heap_type.hpp"
#include "fields/snapshot_lines.hpp"
#include "hyp_kernel_types.h"
#include "libfc.h"
#include "runtime/convert.hpp"
#include "runtime/pointer_object.hpp"
#include "runtime/python_compat.hpp"
#include "runtime/registry.hpp"
#include "runtime/type_ids.hpp"

namespace flow_rows {

namespace {

// An ipaddress class whose instances are made here from their integer.
struct AddressClass {
    PyTypeObject *type;
};

struct Shared;

struct Decoder {
    PyObject_HEAD
    PyTypeObject *flow_type;  // flow_object's class to fill
    PyObject *action_names;  // tuple: the name of bit n of an action bit map
    AddressClass v4, v6;
    Py_ssize_t max_entries;  // the most entries a query answer holds
    Shared *shared;          // what the last answer's flows shared; null while a decoding holds it
};

// Py_NewRef, which 3.9 lacks.
PyObject *new_reference(PyObject *obj) {
    Py_INCREF(obj);
    return obj;
}

// An address object of ip (a reference taken over), made by the class's
// constructor: the walk's readers and commands make none, so filling the
// class's private slots directly saved nothing measurable.
PyObject *address(const AddressClass &c, PyObject *ip) {
    if (!ip) return nullptr;
    PyObject *a = PyObject_CallOneArg(reinterpret_cast<PyObject *>(c.type), ip);
    Py_DECREF(ip);
    return a;
}

std::uint64_t big_endian64(const unsigned char *b) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = v << 8 | b[i];
    return v;
}

// Addresses lie in network order, first octet at the lowest address.
PyObject *ipv4_integer(const char *at) {
    const auto *b = reinterpret_cast<const unsigned char *>(at);
    return PyLong_FromUnsignedLong(static_cast<unsigned long>(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3]);
}

PyObject *ipv6_integer(const char *at) {
    const auto *b = reinterpret_cast<const unsigned char *>(at);
    std::uint64_t high = big_endian64(b), low = big_endian64(b + 8);
    if (high == 0) return PyLong_FromUnsignedLongLong(low);
    PyObject *h = PyLong_FromUnsignedLongLong(high);
    PyObject *l = h ? PyLong_FromUnsignedLongLong(low) : nullptr;
    PyObject *shift = l ? PyLong_FromLong(64) : nullptr;
    PyObject *shifted = shift ? PyNumber_Lshift(h, shift) : nullptr;
    PyObject *result = shifted ? PyNumber_Or(shifted, l) : nullptr;
    Py_XDECREF(h);
    Py_XDECREF(l);
    Py_XDECREF(shift);
    Py_XDECREF(shifted);
    return result;
}

// The objects made last for values that repeat across the flows of a
// cache, shared by the flows that have the same value: the flows of a host
// share a few action lists, so most rows of entities are found here. A small
// table of the objects made last, keyed by a hash of the value; the objects
// are immutable, so sharing them is not seen, and the decoder keeps them from
// one answer to the next (a walk reads thousands of answers of a few hundred
// flows).
template <int Bits>
struct Recent {
    struct Slot {
        std::uint64_t key;
        PyObject *object;  // null while the slot is empty
    };
    Slot slots[1 << Bits] = {};

    // The kept object of key when same(it) says it is the value, else
    // make()'s, kept in its stead.
    template <class Same, class Make>
    PyObject *find(std::uint64_t key, Same same, Make make) {
        Slot &s = slots[(key * 0x9E3779B97F4A7C15u) >> (64 - Bits)];
        if (!s.object || s.key != key || !same(s.object)) {
            PyObject *made = make();
            if (!made) return nullptr;
            Py_XSETREF(s.object, made);
            s.key = key;
        }
        return new_reference(s.object);
    }

    ~Recent() {
        for (Slot &s : slots) Py_XDECREF(s.object);
    }
};

// A list of n items made by item(i); null when one cannot be made.
template <class Item>
PyObject *list_of(Py_ssize_t n, Item item) {
    PyObject *list = PyList_New(n);
    if (!list) return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject *value = item(i);
        if (!value) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SET_ITEM(list, i, value);
    }
    return list;
}

// The compact row of a flow's action entities, entity after entity: its
// action bit map, its port count and that many ports, each as the entry
// holds it (native byte order). It lives in a bytes object the flow keeps
// until someone reads its entities, so the row must be read as anything a
// script could have put there.
struct EntityHead {
    BitMap bits;
    std::uint32_t ports;
    std::uint32_t zero = 0;  // no padding: equal entities lay out equal bytes
};
static_assert(sizeof(EntityHead) == 16 && sizeof(Port) == 4);

constexpr std::size_t kEntityRowCapacity = kEntityCapacity * (sizeof(EntityHead) + kPortCapacity * sizeof(Port));
// Longer rows (hundreds of destination ports) are not kept: what the decoder
// holds between answers stays small.
constexpr std::size_t kKeptEntityRow = 512;

// What the flows of the answers share (see Recent), and room to lay out a
// flow's row of entities before it is looked up there.
struct Shared {
    Recent<8> entity_rows;
    char row[kEntityRowCapacity];

    // The compact row of the entry's first count entities.
    PyObject *entity_row(const char *entities, unsigned count) {
        char *at = row;
        for (unsigned k = 0; k < count; ++k) {
            const char *entity = entities + k * sizeof(Entity);
            EntityHead head{LOAD(Entity, actionsBitMap, entity),
                            clamped(LOAD(Entity, dstPortsNum, entity), kPortCapacity), 0};
            std::memcpy(at, &head, sizeof head);
            std::memcpy(at + sizeof head, FIELD_AT(Entity, dport, entity), head.ports * sizeof(Port));
            at += sizeof head + head.ports * sizeof(Port);
        }
        return kept_row(at);
    }

    // The compact row of a copied flow's entities.
    PyObject *entity_row(const answer_copy::FlowEntry &f) {
        char *at = row;
        for (unsigned k = 0; k < f.entities; ++k) {
            EntityHead head{f.actions[k], f.port_count[k], 0};
            std::memcpy(at, &head, sizeof head);
            std::memcpy(at + sizeof head, f.ports[k], head.ports * sizeof(Port));
            at += sizeof head + head.ports * sizeof(Port);
        }
        return kept_row(at);
    }

    // The row laid out in `row` up to end, as one kept before if it is.
    PyObject *kept_row(const char *end) {
        std::string_view laid(row, end - row);
        if (laid.size() > kKeptEntityRow) return PyBytes_FromStringAndSize(row, static_cast<Py_ssize_t>(laid.size()));
        return entity_rows.find(
            std::hash<std::string_view>{}(laid),
            [laid](PyObject *kept) {
                return std::string_view(PyBytes_AS_STRING(kept), PyBytes_GET_SIZE(kept)) == laid;
            },
            [laid] { return PyBytes_FromStringAndSize(laid.data(), static_cast<Py_ssize_t>(laid.size())); });
    }
};

[[gnu::cold, gnu::noinline]] PyObject *refuse_entity_row(PyObject *row) {
    if (PyBytes_Check(row))
        PyErr_Format(PyExc_ValueError, "flow_rows: %zd bytes are no row of action entities", PyBytes_GET_SIZE(row));
    else
        PyErr_Format(PyExc_TypeError, "flow_rows: a row of action entities is bytes, not %.200s",
                     Py_TYPE(row)->tp_name);
    return nullptr;
}

// (action names, destination ports) of one entity of a compact row.
PyObject *entity_pair(const Decoder &d, const EntityHead &head, const char *ports_at) {
    BitMap bits = head.bits;
    PyObject *names = list_of(std::popcount(bits), [&](Py_ssize_t) {
        PyObject *name = PyTuple_GET_ITEM(d.action_names, std::countr_zero(bits));
        bits &= bits - 1;
        return new_reference(name);
    });
    if (!names) return nullptr;
    PyObject *ports = list_of(head.ports, [&](Py_ssize_t i) {
        return convert::from_integer(load<Port>(ports_at + i * sizeof(Port)));
    });
    if (!ports) {
        Py_DECREF(names);
        return nullptr;
    }
    PyObject *pair = PyTuple_New(2);
    if (!pair) {
        Py_DECREF(names);
        Py_DECREF(ports);
        return nullptr;
    }
    PyTuple_SET_ITEM(pair, 0, names);
    PyTuple_SET_ITEM(pair, 1, ports);
    return pair;
}

[[gnu::cold, gnu::noinline]] PyObject *refuse_packed_address(PyObject *packed) {
    if (PyBytes_Check(packed))
        PyErr_Format(PyExc_ValueError, "flow_rows: a packed address has 4 or 16 bytes, not %zd",
                     PyBytes_GET_SIZE(packed));
    else
        PyErr_Format(PyExc_TypeError, "flow_rows: a packed address is bytes, not %.200s", Py_TYPE(packed)->tp_name);
    return nullptr;
}

// decoder.address(packed): the IPv4 or IPv6 address of 4 or 16 bytes in
// network order.
PyObject *address_of(PyObject *self, PyObject *packed) noexcept {
    if (!PyBytes_Check(packed)) return refuse_packed_address(packed);
    const Decoder &d = *reinterpret_cast<Decoder *>(self);
    switch (PyBytes_GET_SIZE(packed)) {
        case sizeof(FC_ipv4Key::sip):
            return address(d.v4, ipv4_integer(PyBytes_AS_STRING(packed)));
        case sizeof(FC_ipv6Key::sip):
            return address(d.v6, ipv6_integer(PyBytes_AS_STRING(packed)));
        default:
            return refuse_packed_address(packed);
    }
}

// decoder.entities(row): the list of (action names, destination ports)
// pairs of a compact row of entities.
PyObject *entities(PyObject *self, PyObject *row) noexcept {
    if (!PyBytes_Check(row)) return refuse_entity_row(row);
    const Decoder &d = *reinterpret_cast<Decoder *>(self);
    const char *at = PyBytes_AS_STRING(row), *end = at + PyBytes_GET_SIZE(row);
    Py_ssize_t count = 0;
    for (const char *p = at; p != end; ++count) {
        if (end - p < static_cast<Py_ssize_t>(sizeof(EntityHead)) || count == kEntityCapacity)
            return refuse_entity_row(row);
        auto head = load<EntityHead>(p);
        if (head.ports > kPortCapacity || static_cast<std::size_t>(end - p) < sizeof head + head.ports * sizeof(Port))
            return refuse_entity_row(row);
        p += sizeof head + head.ports * sizeof(Port);
    }
    return list_of(count, [&](Py_ssize_t) {
        auto head = load<EntityHead>(at);
        const char *ports_at = at + sizeof head;
        at = ports_at + head.ports * sizeof(Port);
        return entity_pair(d, head, ports_at);
    });
}

// A flow of an answer's entry, or of a copy's (copied: its entities are read
// there), age_s seconds old. It holds the entry's values; only its row of
// entities is an object.
PyObject *flow(const Decoder &d, const char *entry, std::uint64_t age_s, Shared &shared,
               const answer_copy::FlowEntry *copied = nullptr) {
    PyObject *f = flow_object::untracked(d.flow_type);
    if (!f) return nullptr;
    flow_object::Flow &o = flow_object::of(f);
    PyObject *row = copied ? shared.entity_row(*copied)
                           : shared.entity_row(FIELD_AT(Entry, actionEntity, entry),
                                               clamped(LOAD(Entry, numActionEntities, entry), kEntityCapacity));
    if (!row) {
        Py_DECREF(f);
        return nullptr;
    }
    o.made[flow_object::field__entities] = row;
    flow_object::Held &v = o.values;
    v.ipv6 = LOAD(Entry, fkey.flags, entry) & FC_FLOWKEY_IPV6;
    if (v.ipv6) {
        std::memcpy(v.source, FIELD_AT(Entry, fkey.ipKey.ipv6Key.sip, entry), sizeof(FC_ipv6Key::sip));
        std::memcpy(v.destination, FIELD_AT(Entry, fkey.ipKey.ipv6Key.dip, entry), sizeof(FC_ipv6Key::dip));
    } else {
        std::memcpy(v.source, FIELD_AT(Entry, fkey.ipKey.ipv4Key.sip, entry), sizeof(FC_ipv4Key::sip));
        std::memcpy(v.destination, FIELD_AT(Entry, fkey.ipKey.ipv4Key.dip, entry), sizeof(FC_ipv4Key::dip));
    }
    v.id = LOAD(Entry, flowId, entry);
    v.flags = static_cast<std::int32_t>(LOAD(Entry, fcFlags, entry));
    v.table = LOAD(Entry, tblId, entry);
    v.port = LOAD(Entry, fkey.portID, entry);
    v.vni = LOAD(Entry, fkey.vni, entry);
    v.proto = LOAD(Entry, fkey.proto, entry);
    v.ether = LOAD(Entry, fkey.l2Key.etype, entry);
    v.vlan = LOAD(Entry, fkey.l2Key.vlanid, entry);
    std::memcpy(v.src_mac, FIELD_AT(Entry, fkey.l2Key.saddr, entry), kMacBytes);
    std::memcpy(v.dst_mac, FIELD_AT(Entry, fkey.l2Key.daddr, entry), kMacBytes);
    std::memcpy(v.inner_dst_mac, FIELD_AT(Entry, fkey.inner.l2Key.daddr, entry), kMacBytes);
    v.packets = LOAD(Entry, pktCount, entry);
    v.age_s = age_s;
    v.expires_in_s = LOAD(Entry, exprTime, entry);
    o.held = flow_object::kEveryHeldField;
    return f;
}

}  // namespace

const char *answer_entries(PyObject *decoder, PyObject *answer, Py_ssize_t &count) noexcept {
    const Decoder &d = *reinterpret_cast<Decoder *>(decoder);
    void *buffer = nullptr;
    if (pointer_object::convert(answer, &buffer, registry::types[ty::p_FC_IOCFlows], 0) != 0 || !buffer) {
        if (!PyErr_Occurred())
            PyErr_Format(PyExc_TypeError, "flow_rows: a query answer (FC_IOCFlows *) is needed, not %.200s",
                         Py_TYPE(answer)->tp_name);
        return nullptr;
    }
    const char *header = static_cast<const char *>(buffer);
    count = LOAD(FC_IOCFlows, numEntries, header);
    // A header allocated here (new_FC_IOCFlows, from_bytes) has no entries
    // behind it, whatever it states.
    SwigPyObject *holder = pointer_object::get_this(answer);
    if (holder && holder->address == buffer && holder->own) count = 0;
    if (count > d.max_entries) {
        PyErr_Format(PyExc_ValueError, "flow_rows: the answer states %zd entries; a query answer holds at most %zd",
                     count, d.max_entries);
        return nullptr;
    }
    return FIELD_AT(FC_IOCFlows, entries, header);
}

PyObject *action_names(PyObject *decoder) noexcept { return reinterpret_cast<Decoder *>(decoder)->action_names; }

namespace {

// The flows of the lines a snapshot reader read ahead (or was aimed at),
// each made as a query answer's entry is, with the age its line states.
PyObject *decode_lines(Decoder &d, PyObject *lines, Shared &shared) {
    PyObject *flows = PyList_New(0);
    std::uint64_t age_s;
    for (const char *entry; flows && (entry = snapshot_lines::next_entry(lines, age_s));) {
        PyObject *made = flow(d, entry, age_s, shared);
        if (!made || PyList_Append(flows, made) != 0) Py_CLEAR(flows);
        Py_XDECREF(made);
    }
    return flows;
}

// decoder(answer, now_ms): the answer's entries as Flow objects, ages taken
// against now_ms, each out of the collector's view until it is given a
// container (flow_object.hpp). The answer may also be the lines a snapshot
// reader read (snapshot_lines), whose ages are their own.
PyObject *decode(PyObject *self, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"answer", "now_ms", nullptr};
    PyObject *answer;
    long long now_ms;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OL:flow_rows", const_cast<char **>(keywords), &answer, &now_ms))
        return nullptr;
    Decoder &d = *reinterpret_cast<Decoder *>(self);
    Py_ssize_t count = 0;
    bool copy = answer_copy::is_copy(answer), lines = !copy && snapshot_lines::is_reader(answer);
    const char *entries = copy || lines ? nullptr : answer_entries(self, answer, count);
    if (!entries && !copy && !lines) return nullptr;
    std::optional<answer_copy::Reader> reader;
    if (copy) reader.emplace(answer), count = reinterpret_cast<answer_copy::Copy *>(answer)->count;
    // A decoding that runs while another holds the decoder's (a finaliser's,
    // or another thread's while this one waits for an allocation) uses its own.
    std::unique_ptr<Shared> shared(d.shared ? std::exchange(d.shared, nullptr) : new (std::nothrow) Shared);
    if (!shared) return PyErr_NoMemory();
    // Nothing in the loop runs Python code, so deferring the collector
    // until it ends changes nothing anyone can observe; it then collects once
    // the young objects a collection every few hundred allocations would.
    bool collecting = compat::suspend_collector();
    PyObject *flows = lines ? decode_lines(d, answer, *shared) : list_of(count, [&](Py_ssize_t i) {
        if (reader) {
            answer_copy::FlowEntry copied = reader->next();
            return flow(d, copied.entry, answer_copy::age_s(copied.entry, now_ms), *shared, &copied);
        }
        if (i + kPrefetchAhead < count) prefetch_entry(entries + (i + kPrefetchAhead) * sizeof(Entry));
        const char *entry = entries + i * sizeof(Entry);
        return flow(d, entry, answer_copy::age_s(entry, now_ms), *shared);
    });
    if (!d.shared) d.shared = shared.release();
    if (collecting) compat::resume_collector();
    return flows;
}

PyMethodDef decoder_methods[] = {
    {"address", address_of, METH_O,
     "address(packed)\n--\n\nThe ipaddress object of a flow's address as a decoded flow keeps it: 4 or 16\n"
     "bytes in network order."},
    {"entities", entities, METH_O,
     "entities(row)\n--\n\nThe (action names, destination ports) pairs of a flow's compact row of action\n"
     "entities, the bytes a decoded flow keeps until its entities are read."},
    {nullptr, nullptr, 0, nullptr},
};

bool learn_address_class(PyObject *ipaddress, const char *name, AddressClass &c) {
    PyObject *t = PyObject_GetAttrString(ipaddress, name);
    if (!t) return false;
    if (!PyType_Check(t)) {
        PyErr_Format(PyExc_TypeError, "flow_rows: ipaddress.%s is not a class", name);
        Py_DECREF(t);
        return false;
    }
    c.type = reinterpret_cast<PyTypeObject *>(t);
    return true;
}

int traverse(PyObject *self, visitproc visit, void *arg) {
    auto *d = reinterpret_cast<Decoder *>(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(d->flow_type);
    Py_VISIT(d->action_names);
    Py_VISIT(d->v4.type);
    Py_VISIT(d->v6.type);
    return 0;
}

int clear(PyObject *self) {
    auto *d = reinterpret_cast<Decoder *>(self);
    Py_CLEAR(d->flow_type);
    Py_CLEAR(d->action_names);
    Py_CLEAR(d->v4.type);
    Py_CLEAR(d->v6.type);
    delete std::exchange(d->shared, nullptr);
    return 0;
}

// flow_rows(flow_class, action_names, max_entries)
PyObject *make(PyTypeObject *t, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"flow_class", "action_names", "max_entries", nullptr};
    PyObject *flow_class, *names;
    Py_ssize_t max_entries;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O!O!n:flow_rows", const_cast<char **>(keywords), &PyType_Type,
                                     &flow_class, &PyTuple_Type, &names, &max_entries))
        return nullptr;
    if (PyTuple_GET_SIZE(names) != kActionBits) {
        PyErr_Format(PyExc_ValueError, "flow_rows: %d action names are needed, one per bit, not %zd", kActionBits,
                     PyTuple_GET_SIZE(names));
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < kActionBits; ++i) {
        if (!PyUnicode_Check(PyTuple_GET_ITEM(names, i))) {
            PyErr_Format(PyExc_TypeError, "flow_rows: action name %zd is not a str", i);
            return nullptr;
        }
    }
    if (max_entries < 0) {
        PyErr_SetString(PyExc_ValueError, "flow_rows: max_entries must not be negative");
        return nullptr;
    }
    if (!flow_object::fillable(reinterpret_cast<PyTypeObject *>(flow_class), "flow_rows")) return nullptr;
    auto *d = reinterpret_cast<Decoder *>(t->tp_alloc(t, 0));
    if (!d) return nullptr;
    PyObject *self = reinterpret_cast<PyObject *>(d);
    d->flow_type = reinterpret_cast<PyTypeObject *>(new_reference(flow_class));
    d->action_names = new_reference(names);
    d->max_entries = max_entries;
    PyObject *ipaddress = PyImport_ImportModule("ipaddress");
    bool ready = ipaddress && learn_address_class(ipaddress, "IPv4Address", d->v4) &&
                 learn_address_class(ipaddress, "IPv6Address", d->v6);
    Py_XDECREF(ipaddress);
    if (ready) return self;
    Py_DECREF(self);
    return nullptr;
}

}  // namespace

PyTypeObject *type() {
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void *>(make)},
        {Py_tp_call, reinterpret_cast<void *>(decode)},
        {Py_tp_methods, decoder_methods},
        {Py_tp_traverse, reinterpret_cast<void *>(traverse)},
        {Py_tp_clear, reinterpret_cast<void *>(clear)},
        {Py_tp_dealloc, reinterpret_cast<void *>(heap_type::gc_dealloc<clear>)},
        {Py_tp_doc, const_cast<char *>(
                        "flow_rows(flow_class, action_names, max_entries)\n"
                        "A decoder of flow query answers: decoder(answer, now_ms) is the list of the answer's\n"
                        "entries as flow_class (a flow_object class) objects holding the entries' values.\n"
                        "action_names names bit n of an action bit map; an answer stating more than\n"
                        "max_entries entries is refused.")},
        {0, nullptr},
    };
    static PyTypeObject *made = nullptr;
    return heap_type::made(made, "_libfc_fields.flow_rows",
                           sizeof(Decoder), Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, slots);
}

}  // namespace flow_rows
