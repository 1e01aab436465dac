// Reading a field that is only held makes its object and keeps it, so a
// field reads as the same object each time, as a slot does; setting or
// deleting a field behaves as a slot's does too.

#include "fields/flow_object.hpp"

#include "fields/heap_type.hpp"
#include "runtime/convert.hpp"
#include "runtime/record_fields.hpp"

namespace flow_object {

namespace {

const char *const field_names[kFields] = {
#define FLOW_OBJECT_FIELD_NAME(name) #name,
    FLOW_OBJECT_FIELDS(FLOW_OBJECT_FIELD_NAME)
#undef FLOW_OBJECT_FIELD_NAME
};

PyObject *mac_text(const unsigned char *bytes) { return records::hardware_address_text(bytes); }

PyObject *address_bytes(const unsigned char *address, bool v6) {
    return PyBytes_FromStringAndSize(reinterpret_cast<const char *>(address), v6 ? 16 : 4);
}

// The object of a held field.
PyObject *made_of(const Held &v, int f) {
    switch (f) {
        case field_id: return convert::from_integer(v.id);
        case field_flags: return PyLong_FromLong(v.flags);
        case field_table: return convert::from_integer(v.table);
        case field_port: return convert::from_integer(v.port);
        case field_vni: return convert::from_integer(v.vni);
        case field_ipv6: return PyBool_FromLong(v.ipv6);
        case field__source: return address_bytes(v.source, v.ipv6);
        case field__destination: return address_bytes(v.destination, v.ipv6);
        case field_proto: return convert::from_integer(v.proto);
        case field_ether: return convert::from_integer(v.ether);
        case field_vlan: return convert::from_integer(v.vlan);
        case field_src_mac: return mac_text(v.src_mac);
        case field_dst_mac: return mac_text(v.dst_mac);
        case field_inner_dst_mac: return mac_text(v.inner_dst_mac);
        case field_packets: return convert::from_integer(v.packets);
        case field_age_s: return convert::from_integer(v.age_s);
        case field_expires_in_s: return convert::from_integer(v.expires_in_s);
        default: break;  // the entities are never only held
    }
    PyErr_SetString(PyExc_SystemError, "flow_object: a field with no held value");
    return nullptr;
}

[[gnu::cold, gnu::noinline]] PyObject *unset(PyObject *self, int f) {
    PyErr_Format(PyExc_AttributeError, "'%.100s' object has no attribute '%s'", Py_TYPE(self)->tp_name,
                 field_names[f]);
    return nullptr;
}

int field_of(void *closure) { return static_cast<int>(reinterpret_cast<std::intptr_t>(closure)); }

PyObject *get(PyObject *self, void *closure) noexcept {
    Flow &o = of(self);
    int f = field_of(closure);
    if (!o.made[f]) {
        if (!(o.held >> f & 1)) return unset(self, f);
        o.made[f] = made_of(o.values, f);
        if (!o.made[f]) return nullptr;
        o.held &= ~(1u << f);
    }
    Py_INCREF(o.made[f]);
    return o.made[f];
}

int set(PyObject *self, PyObject *value, void *closure) noexcept {
    Flow &o = of(self);
    int f = field_of(closure);
    if (!value && !o.made[f] && !(o.held >> f & 1)) return unset(self, f), -1;
    o.held &= ~(1u << f);
    Py_XINCREF(value);
    Py_XSETREF(o.made[f], value);
    // A container given to a flow out of the collector's view could close a
    // cycle through it.
    if (value && PyObject_IS_GC(value) && !PyObject_GC_IsTracked(self)) PyObject_GC_Track(self);
    return 0;
}

PyGetSetDef getset[kFields + 1] = {
#define FLOW_OBJECT_GETSET(name) \
    {#name, get, set, nullptr, reinterpret_cast<void *>(static_cast<std::intptr_t>(field_##name))},
    FLOW_OBJECT_FIELDS(FLOW_OBJECT_GETSET)
#undef FLOW_OBJECT_GETSET
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

int traverse(PyObject *self, visitproc visit, void *arg) {
    Py_VISIT(Py_TYPE(self));
    for (PyObject *made : of(self).made) Py_VISIT(made);
    return 0;
}

int clear(PyObject *self) {
    for (PyObject *&made : of(self).made) Py_CLEAR(made);
    return 0;
}

}  // namespace

PyTypeObject *type() {
    static PyType_Slot slots[] = {
        {Py_tp_getset, getset},
        {Py_tp_traverse, reinterpret_cast<void *>(traverse)},
        {Py_tp_clear, reinterpret_cast<void *>(clear)},
        {Py_tp_dealloc, reinterpret_cast<void *>(heap_type::gc_dealloc<clear>)},
        {Py_tp_doc, const_cast<char *>(
                        "The fields of a cached flow, for the companion's Flow to derive from: each one an\n"
                        "object, or the value a decoded query answer held, made into one when first read.")},
        {0, nullptr},
    };
    static PyTypeObject *made = nullptr;
    return heap_type::made(made, "_libfc_fields.flow_object", sizeof(Flow),
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC, slots);
}

bool fillable(PyTypeObject *t, const char *who) {
    PyTypeObject *base = type();
    if (!base) return false;
    // A dictionary or weak references are laid out before the object from 3.12
    // on, where the size does not tell them: their offsets do.
    if (PyType_IsSubtype(t, base) && t->tp_basicsize == base->tp_basicsize && t->tp_itemsize == 0 &&
        t->tp_dictoffset == 0 && t->tp_weaklistoffset == 0)
        return true;
    PyErr_Format(PyExc_TypeError, "%s: %.200s is no flow_object class adding nothing to its instances", who,
                 t->tp_name);
    return false;
}

PyObject *untracked(PyTypeObject *t) {
    PyObject *flow = t->tp_alloc(t, 0);
    if (flow) PyObject_GC_UnTrack(flow);
    return flow;
}

int field_named(std::string_view name) {
    for (int f = 0; f < kFields; ++f)
        if (name == field_names[f]) return f;
    return -1;
}

}  // namespace flow_object
