// The reads of `libfc top`: each query answer's flows taken into top's
// compact columns in one call, without a Flow object per flow, and a read's
// flows matched with the read before it (by hash table and flow id) for the
// packets counted in between. A read of a million flows made and dropped a
// million Flow objects and looked each up in a dict of the read before.

#include "fields/top_pages.hpp"

#include <cstdint>
#include <cstring>
#include <vector>

#include "fields/flow_rows.hpp"

namespace top_pages {

namespace {

using flow_rows::BitMap;
using flow_rows::clamped;
using flow_rows::Entity;
using flow_rows::Entry;
using flow_rows::kEntityCapacity;

// The columns of a page, in the order top.Table.take() reads them.
enum Column : int { c_ids, c_packets, c_tables, c_ports, c_vnis, c_actions, c_protos, c_ipv6, c_ages, c_expires,
                    c_address_at, c_addresses, kColumns };

// Bytes appended to, per column.
struct Page {
    std::vector<char> column[kColumns];

    template <class T>
    void put(Column c, T value) {
        auto &into = column[c];
        std::size_t at = into.size();
        into.resize(at + sizeof value);
        std::memcpy(into.data() + at, &value, sizeof value);
    }
};

[[gnu::cold, gnu::noinline]] PyObject *refuse_arguments(const char *function, const char *needed) {
    if (!PyErr_Occurred()) PyErr_Format(PyExc_TypeError, "%s(%s)", function, needed);
    return nullptr;
}

// The key values a walk's rest is told by, in _flow.KEY_ATTRIBUTES' order
// (port, proto, vlan, ipv6).
unsigned long key_value(const char *e, int index) {
    switch (index) {
        case 0: return LOAD(Entry, fkey.portID, e);
        case 1: return LOAD(Entry, fkey.proto, e);
        case 2: return LOAD(Entry, fkey.l2Key.vlanid, e);
        default: return (LOAD(Entry, fkey.flags, e) & FC_FLOWKEY_IPV6) != 0;
    }
}

// Whether a flow is in none of rest's (key index, values) pairs; -1 with
// an exception.
int outside(const char *e, PyObject *rest) {
    for (Py_ssize_t r = 0; r < PyTuple_GET_SIZE(rest); ++r) {
        PyObject *pair = PyTuple_GET_ITEM(rest, r);
        int index = static_cast<int>(PyLong_AsLong(PyTuple_GET_ITEM(pair, 0)));
        PyObject *value = PyLong_FromUnsignedLong(key_value(e, index));
        int in = value ? PySequence_Contains(PyTuple_GET_ITEM(pair, 1), value) : -1;
        Py_XDECREF(value);
        if (in != 0) return in < 0 ? -1 : 0;
    }
    return 1;
}

bool valid_rest(PyObject *rest) {
    if (!PyTuple_Check(rest)) return false;
    for (Py_ssize_t r = 0; r < PyTuple_GET_SIZE(rest); ++r) {
        PyObject *pair = PyTuple_GET_ITEM(rest, r);
        if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2 || !PyLong_Check(PyTuple_GET_ITEM(pair, 0)))
            return false;
        long index = PyLong_AsLong(PyTuple_GET_ITEM(pair, 0));
        if (index < 0 || index > 3) return false;
    }
    return true;
}

// A flow's actions, entity by entity without repeats, are told by the bits
// each entity adds to those before it: the key of its action text is those
// bit maps, the empty ones left out. A cache holds few different ones, the
// last few of which are remembered here without asking the dict.
class Actions {
  public:
    Actions(PyObject *known, PyObject *learn) : known_(known), learn_(learn) {}

    // The position of the flow's action text; -1 with an exception.
    long index(const char *e) {
        BitMap key[kEntityCapacity], seen = 0;
        unsigned size = 0;
        for (unsigned k = 0, n = clamped(LOAD(Entry, numActionEntities, e), kEntityCapacity); k < n; ++k) {
            const char *entity = FIELD_AT(Entry, actionEntity, e) + k * sizeof(Entity);
            BitMap added = LOAD(Entity, actionsBitMap, entity) & ~seen;
            seen |= added;
            if (added) key[size++] = added;
        }
        for (const Recent &recent : recent_)
            if (recent.size == size && std::memcmp(recent.key, key, size * sizeof(BitMap)) == 0) return recent.index;
        PyObject *bytes = PyBytes_FromStringAndSize(reinterpret_cast<const char *>(key), size * sizeof(BitMap));
        if (!bytes) return -1;
        PyObject *found = PyDict_GetItemWithError(known_, bytes);
        if (found) Py_INCREF(found);
        else if (!PyErr_Occurred()) found = PyObject_CallOneArg(learn_, bytes);
        Py_DECREF(bytes);
        long index = found ? PyLong_AsLong(found) : -1;
        Py_XDECREF(found);
        if (index < 0 || index > 0xffffffffL) {
            if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "top_page: learn_actions gave no position");
            return -1;
        }
        Recent &kept = recent_[next_++ % kRecent];
        std::memcpy(kept.key, key, size * sizeof(BitMap));
        kept.size = size;
        kept.index = index;
        return index;
    }

  private:
    static constexpr int kRecent = 8;
    struct Recent {
        BitMap key[kEntityCapacity];
        unsigned size = ~0u;  // matches no key
        long index = 0;
    };
    PyObject *known_, *learn_;
    Recent recent_[kRecent];
    unsigned next_ = 0;
};

bool take(Page &page, const char *e, long long now_ms, std::uint32_t address_base, Actions &actions) {
    page.put(c_ids, static_cast<std::uint64_t>(LOAD(Entry, flowId, e)));
    page.put(c_packets, static_cast<std::uint64_t>(LOAD(Entry, pktCount, e)));
    page.put(c_tables, static_cast<std::uint64_t>(LOAD(Entry, tblId, e)));
    page.put(c_ports, static_cast<std::uint32_t>(LOAD(Entry, fkey.portID, e)));
    page.put(c_vnis, static_cast<std::uint32_t>(LOAD(Entry, fkey.vni, e)));
    long action = actions.index(e);
    if (action < 0) return false;
    page.put(c_actions, static_cast<std::uint32_t>(action));
    page.put(c_protos, static_cast<std::uint8_t>(LOAD(Entry, fkey.proto, e)));
    bool v6 = LOAD(Entry, fkey.flags, e) & FC_FLOWKEY_IPV6;
    page.put(c_ipv6, static_cast<std::uint8_t>(v6));
    // Whole seconds since created, as the decoder counts them.
    std::uint64_t created = LOAD(Entry, created, e);
    std::int64_t age = created == 0 || now_ms <= 0 || created >= static_cast<std::uint64_t>(now_ms)
                           ? 0 : static_cast<std::int64_t>((static_cast<std::uint64_t>(now_ms) - created) / 1000);
    page.put(c_ages, age);
    page.put(c_expires, static_cast<std::uint32_t>(LOAD(Entry, exprTime, e)));
    auto &addresses = page.column[c_addresses];
    page.put(c_address_at, static_cast<std::uint32_t>(address_base + addresses.size()));
    std::size_t size = v6 ? 16 : 4;
    const char *src = v6 ? FIELD_AT(Entry, fkey.ipKey.ipv6Key.sip, e) : FIELD_AT(Entry, fkey.ipKey.ipv4Key.sip, e);
    const char *dst = v6 ? FIELD_AT(Entry, fkey.ipKey.ipv6Key.dip, e) : FIELD_AT(Entry, fkey.ipKey.ipv4Key.dip, e);
    addresses.insert(addresses.end(), src, src + size);
    addresses.insert(addresses.end(), dst, dst + size);
    return true;
}

// A buffer held for the length of a call, of items of one size.
class Held {
  public:
    Held() = default;
    Held(const Held &) = delete;
    Held &operator=(const Held &) = delete;
    ~Held() {
        if (held_) PyBuffer_Release(&view_);
    }
    bool hold(PyObject *object, char format, bool writable) {
        if (PyObject_GetBuffer(object, &view_, PyBUF_FORMAT | PyBUF_C_CONTIGUOUS | (writable ? PyBUF_WRITABLE : 0)))
            return false;
        held_ = true;
        Py_ssize_t itemsize = format == 'I' ? 4 : 8;
        if (!view_.format || view_.format[std::strlen(view_.format) - 1] != format || view_.itemsize != itemsize) {
            PyErr_Format(PyExc_ValueError, "top_match: arrays of '%c' are needed", format);
            return false;
        }
        size = view_.len / itemsize;
        return true;
    }
    template <class T>
    T *data() const {
        return static_cast<T *>(view_.buf);
    }
    Py_ssize_t size = 0;

  private:
    Py_buffer view_;
    bool held_ = false;
};

std::uint64_t mixed(std::uint64_t table, std::uint64_t id) {
    std::uint64_t x = id ^ (table * 0x9e3779b97f4a7c15ULL);
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

}  // namespace

// top_page(decoder, answer, now_ms, rest, address_base, known_actions,
// learn_actions, counts_only): (count, columns) of the answer's flows
// outside rest, each column the bytes of its values, in top.Table.take()'s
// order; known_actions maps an action key to its text's position and
// learn_actions(key) adds a key it lacks. A read that only counts takes
// ids, packets and tables (the other columns are empty).
PyObject *page(PyObject *, PyObject *const *args, Py_ssize_t n) noexcept {
    long long now_ms = n == 8 ? PyLong_AsLongLong(args[2]) : -1;
    unsigned long long base = n == 8 ? PyLong_AsUnsignedLongLong(args[4]) : 0;
    int counts_only = n == 8 ? PyObject_IsTrue(args[7]) : -1;
    if (n != 8 || PyErr_Occurred() || !valid_rest(args[3]) || base > 0xffffffffULL || !PyDict_Check(args[5]) ||
        !PyCallable_Check(args[6]) || counts_only < 0 ||
        !PyObject_TypeCheck(args[0], flow_rows::type()))
        return refuse_arguments("top_page", "decoder, answer, now_ms, rest, address_base, known_actions, "
                                            "learn_actions, counts_only");
    Py_ssize_t count = 0, taken = 0;
    const char *entries = flow_rows::answer_entries(args[0], args[1], count);
    if (!entries) return nullptr;
    Page page;
    Actions actions(args[5], args[6]);
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (i + flow_rows::kPrefetchAhead < count)
            flow_rows::prefetch_entry(entries + (i + flow_rows::kPrefetchAhead) * sizeof(Entry));
        const char *e = entries + i * sizeof(Entry);
        int keep = PyTuple_GET_SIZE(args[3]) ? outside(e, args[3]) : 1;
        if (keep < 0) return nullptr;
        if (!keep) continue;
        ++taken;
        if (counts_only) {
            page.put(c_ids, static_cast<std::uint64_t>(LOAD(Entry, flowId, e)));
            page.put(c_packets, static_cast<std::uint64_t>(LOAD(Entry, pktCount, e)));
            page.put(c_tables, static_cast<std::uint64_t>(LOAD(Entry, tblId, e)));
        } else if (!take(page, e, now_ms, static_cast<std::uint32_t>(base), actions)) {
            return nullptr;
        }
    }
    if (base + page.column[c_addresses].size() > 0xffffffffULL) {
        PyErr_SetString(PyExc_OverflowError, "top_page: a read's addresses outgrow their offsets");
        return nullptr;
    }
    PyObject *columns = PyTuple_New(kColumns);
    for (int c = 0; columns && c < kColumns; ++c) {
        const std::vector<char> &values = page.column[c];
        PyObject *bytes = PyBytes_FromStringAndSize(values.data(), static_cast<Py_ssize_t>(values.size()));
        if (!bytes) Py_CLEAR(columns);
        else PyTuple_SET_ITEM(columns, c, bytes);
    }
    return columns ? Py_BuildValue("(nN)", taken, columns) : nullptr;
}

// top_match(before_tables, before_ids, before_packets, tables, ids, packets,
// deltas): fills deltas with the packets each flow counted since the read
// before (all of them for a flow that read did not hold; none for a count
// that went back); the bytes of the positions ('I') of the flows of the
// read before that this one no longer holds, in order.
PyObject *match(PyObject *, PyObject *const *args, Py_ssize_t n) noexcept {
    if (n != 7) return refuse_arguments("top_match", "before_tables, before_ids, before_packets, tables, ids, "
                                                     "packets, deltas");
    Held before_tables, before_ids, before_packets, tables, ids, packets, deltas;
    if (!before_tables.hold(args[0], 'Q', false) || !before_ids.hold(args[1], 'Q', false) ||
        !before_packets.hold(args[2], 'Q', false) || !tables.hold(args[3], 'Q', false) ||
        !ids.hold(args[4], 'Q', false) || !packets.hold(args[5], 'Q', false) || !deltas.hold(args[6], 'Q', true))
        return nullptr;
    Py_ssize_t earlier = before_ids.size, now = ids.size;
    if (before_tables.size != earlier || before_packets.size != earlier || tables.size != now ||
        packets.size != now || deltas.size != now || earlier >= 0xffffffffL) {
        PyErr_SetString(PyExc_ValueError, "top_match: the columns of a read have one length");
        return nullptr;
    }
    // Open addressing, a slot per flow of the read before (its position + 1),
    // at most two thirds full; a flow met again is marked, as a dict entry
    // popped. A slot is told by the high bits of the hash times the slot
    // count, which need not be a power of two.
    std::size_t slots = 16 + 3 * static_cast<std::size_t>(earlier) / 2;
    std::vector<std::uint32_t> slot(slots, 0);
    auto first_slot = [slots](std::uint64_t hash) {
        return static_cast<std::size_t>((static_cast<unsigned __int128>(hash) * slots) >> 64);
    };
    auto next = [slots](std::size_t at) { return at + 1 == slots ? 0 : at + 1; };
    std::vector<bool> met(static_cast<std::size_t>(earlier), false);
    const auto *bt = before_tables.data<std::uint64_t>();
    const auto *bi = before_ids.data<std::uint64_t>();
    const auto *bp = before_packets.data<std::uint64_t>();
    const auto *t = tables.data<std::uint64_t>();
    const auto *id = ids.data<std::uint64_t>();
    const auto *p = packets.data<std::uint64_t>();
    auto *d = deltas.data<std::uint64_t>();
    std::vector<std::uint32_t> gone;
    Py_BEGIN_ALLOW_THREADS
    for (Py_ssize_t i = 0; i < earlier; ++i) {
        std::size_t at = first_slot(mixed(bt[i], bi[i]));
        while (slot[at]) at = next(at);
        slot[at] = static_cast<std::uint32_t>(i + 1);
    }
    for (Py_ssize_t i = 0; i < now; ++i) {
        std::size_t at = first_slot(mixed(t[i], id[i]));
        std::uint32_t found = 0;
        for (; slot[at]; at = next(at)) {
            std::uint32_t k = slot[at] - 1;
            if (bi[k] == id[i] && bt[k] == t[i] && !met[k]) {
                found = slot[at];
                break;
            }
        }
        if (!found) {
            d[i] = p[i];
            continue;
        }
        met[found - 1] = true;
        std::uint64_t before = bp[found - 1];
        d[i] = p[i] > before ? p[i] - before : 0;
    }
    for (Py_ssize_t i = 0; i < earlier; ++i)
        if (!met[static_cast<std::size_t>(i)]) gone.push_back(static_cast<std::uint32_t>(i));
    Py_END_ALLOW_THREADS
    return PyBytes_FromStringAndSize(reinterpret_cast<const char *>(gone.data()),
                                     static_cast<Py_ssize_t>(gone.size() * sizeof(std::uint32_t)));
}

}  // namespace top_pages
