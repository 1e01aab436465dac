// How the C readers of query answers apply what is left of a walk's filter.
#include "fields/walk_rest.hpp"

#include "fields/flow_rows.hpp"

namespace walk_rest {

using flow_rows::Entry;

// Four keys: the walk's KEY_ATTRIBUTES (port, protocol, VLAN, IPv6).
constexpr long kKeys = 4;

bool valid(PyObject *rest) noexcept {
    if (!PyTuple_Check(rest)) return false;
    for (Py_ssize_t r = 0; r < PyTuple_GET_SIZE(rest); ++r) {
        PyObject *pair = PyTuple_GET_ITEM(rest, r);
        if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2 || !PyLong_Check(PyTuple_GET_ITEM(pair, 0)))
            return false;
        long index = PyLong_AsLong(PyTuple_GET_ITEM(pair, 0));
        if (index < 0 || index >= kKeys) return false;
    }
    return true;
}

unsigned long key_value(const char *e, long index) noexcept {
    switch (index) {
        case 0: return LOAD(Entry, fkey.portID, e);
        case 1: return LOAD(Entry, fkey.proto, e);
        case 2: return LOAD(Entry, fkey.l2Key.vlanid, e);
        default: return (LOAD(Entry, fkey.flags, e) & FC_FLOWKEY_IPV6) != 0;
    }
}

int outside(const char *e, PyObject *rest) noexcept {
    for (Py_ssize_t r = 0; r < PyTuple_GET_SIZE(rest); ++r) {
        PyObject *pair = PyTuple_GET_ITEM(rest, r);
        PyObject *value = PyLong_FromUnsignedLong(key_value(e, PyLong_AsLong(PyTuple_GET_ITEM(pair, 0))));
        int in = value ? PySequence_Contains(PyTuple_GET_ITEM(pair, 1), value) : -1;
        Py_XDECREF(value);
        if (in != 0) return in < 0 ? -1 : 0;
    }
    return 1;
}

}  // namespace walk_rest
