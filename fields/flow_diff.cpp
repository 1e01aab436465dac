// The comparison of a snapshot's flows with a later read's, a page of the
// later read at a time, without an object per flow: the earlier flows are
// looked up by (table, id) in a table of positions, and only the flows the
// diff lists are kept. A million-flow diff held in dicts of Python objects
// took several times the walk it compares with.

#include "fields/flow_diff.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "fields/flow_hash.hpp"
#include "fields/grown.hpp"
#include "fields/heap_type.hpp"

namespace flow_diff {

namespace {

// The kinds of change, in the order a flow's changes are listed.
enum Change : std::uint32_t { appeared, changed, left, unchanged };

// One listed change: the flow's id, the change, the position of its Seen
// (among the kept later flows; among the earlier ones for left) and of the
// earlier flow it was matched with (kNone: none).
struct [[gnu::packed]] Listed {
    std::uint64_t id;
    std::uint32_t change, at, earlier;
};
constexpr std::uint32_t kNone = UINT32_MAX;
constexpr std::uint32_t kMaxFlows = UINT32_MAX - 1;  // positions and kNone fit 32 bits

using grown::Grown;

struct Comparison {
    PyObject_HEAD
    Py_buffer before;  // held, not copied: the caller keeps the earlier flows as they are
    const Seen *earlier;
    std::uint32_t earlier_count;
    // Open addressing: position + 1 of an earlier flow, 0 empty, kGone matched.
    std::uint32_t *slots;
    std::size_t mask;
    bool keep_unchanged, finished;
    std::uint64_t counts[4];
    Grown<Seen> *later;
    Grown<Listed> *listed;
};
constexpr std::uint32_t kGone = UINT32_MAX;

// The slot of (table, id): the one holding it, or the empty one that ends its probe.
std::size_t slot_of(const Comparison &c, std::uint64_t table, std::uint64_t id) {
    std::size_t at = static_cast<std::size_t>(flow_hash::of(table, id)) & c.mask;
    for (;; at = (at + 1) & c.mask) {
        std::uint32_t held = c.slots[at];
        if (held == 0) return at;
        if (held != kGone && c.earlier[held - 1].id == id && c.earlier[held - 1].table == table) return at;
    }
}

// Two reads of one flow: the same key besides the id and table.
bool same_key(const Seen &a, const Seen &b) {
    return a.port == b.port && a.vni == b.vni && a.proto == b.proto && a.ipv6 == b.ipv6 &&
           std::memcmp(a.src, b.src, sizeof a.src) == 0 && std::memcmp(a.dst, b.dst, sizeof a.dst) == 0;
}

[[gnu::cold, gnu::noinline]] PyObject *refuse(const char *what) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, what);
    return nullptr;
}

bool whole_records(const Py_buffer &view) { return view.len % static_cast<Py_ssize_t>(sizeof(Seen)) == 0; }

// comparison.add(page): the later read's flows of a bytes-like of Seen records.
PyObject *add(PyObject *self, PyObject *page) noexcept {
    auto &c = *reinterpret_cast<Comparison *>(self);
    if (c.finished) return refuse("flow_diff.add: the comparison is finished");
    Py_buffer view;
    if (PyObject_GetBuffer(page, &view, PyBUF_SIMPLE) != 0) return nullptr;
    if (!whole_records(view)) {
        PyBuffer_Release(&view);
        return refuse("flow_diff.add: a page of whole Seen records needed");
    }
    const char *records = static_cast<const char *>(view.buf);
    bool kept = true;
    for (Py_ssize_t i = 0, n = view.len / static_cast<Py_ssize_t>(sizeof(Seen)); kept && i < n; ++i) {
        Seen flow;
        std::memcpy(&flow, records + i * sizeof(Seen), sizeof flow);
        std::size_t slot = slot_of(c, flow.table, flow.id);
        std::uint32_t held = c.slots[slot], earlier = kNone;
        Change change = appeared;
        if (held != 0 && same_key(c.earlier[held - 1], flow)) {
            earlier = held - 1;
            c.slots[slot] = kGone;
            change = flow.packets != c.earlier[earlier].packets ? changed : unchanged;
        }
        ++c.counts[change];
        if (change == unchanged && !c.keep_unchanged) continue;
        if (c.later->size() >= kMaxFlows) {
            kept = false;
            PyErr_SetString(PyExc_OverflowError, "flow_diff: more flows than a comparison holds");
            break;
        }
        kept = c.listed->push({flow.id, change, static_cast<std::uint32_t>(c.later->size()), earlier}) &&
               c.later->push(flow);
    }
    PyBuffer_Release(&view);
    if (!kept) return PyErr_Occurred() ? nullptr : PyErr_NoMemory();
    Py_RETURN_NONE;
}

PyObject *bytes_of(const void *data, std::size_t size) {
    return PyBytes_FromStringAndSize(static_cast<const char *>(data), static_cast<Py_ssize_t>(size));
}

// comparison.finish(): (listed, later, counts): the changes in id order as
// Listed records "=QIII", the kept later flows as Seen records, and the
// count of each kind of change (appeared, changed, left, unchanged).
PyObject *finish(PyObject *self, PyObject *) noexcept {
    auto &c = *reinterpret_cast<Comparison *>(self);
    if (c.finished) return refuse("flow_diff.finish: the comparison is finished");
    c.finished = true;
    for (std::size_t at = 0; at <= c.mask; ++at) {
        std::uint32_t held = c.slots[at];
        if (held == 0 || held == kGone) continue;
        ++c.counts[left];
        if (!c.listed->push({c.earlier[held - 1].id, left, held - 1, kNone})) break;
    }
    if (c.listed->failed() || c.later->failed()) return PyErr_NoMemory();
    std::sort(c.listed->begin(), c.listed->end(), [](const Listed &a, const Listed &b) {
        if (a.id != b.id) return a.id < b.id;
        return a.change != b.change ? a.change < b.change : a.at < b.at;
    });
    return Py_BuildValue("(NN(KKKK))", bytes_of(c.listed->begin(), c.listed->size() * sizeof(Listed)),
                         bytes_of(c.later->begin(), c.later->size() * sizeof(Seen)),
                         static_cast<unsigned long long>(c.counts[appeared]),
                         static_cast<unsigned long long>(c.counts[changed]),
                         static_cast<unsigned long long>(c.counts[left]),
                         static_cast<unsigned long long>(c.counts[unchanged]));
}

void dealloc(PyObject *self) {
    auto *c = reinterpret_cast<Comparison *>(self);
    PyTypeObject *t = Py_TYPE(self);
    PyBuffer_Release(&c->before);  // a zeroed one (made no further) holds nothing
    std::free(c->slots);
    delete c->later;
    delete c->listed;
    t->tp_free(self);
    Py_DECREF(t);
}

// flow_diff(before, unchanged): before a bytes-like of the earlier read's Seen records, in its order,
// held until the comparison is gone.
PyObject *make(PyTypeObject *t, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"before", "unchanged", nullptr};
    Py_buffer view;
    int keep_unchanged;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "y*p:flow_diff", const_cast<char **>(keywords), &view,
                                     &keep_unchanged))
        return nullptr;
    Py_ssize_t count = view.len / static_cast<Py_ssize_t>(sizeof(Seen));
    if (!whole_records(view) || count > static_cast<Py_ssize_t>(kMaxFlows)) {
        PyBuffer_Release(&view);
        return refuse("flow_diff: whole Seen records, fewer than 2**32 of them, needed");
    }
    auto *c = reinterpret_cast<Comparison *>(t->tp_alloc(t, 0));
    if (!c) {
        PyBuffer_Release(&view);
        return nullptr;
    }
    c->before = view;
    c->earlier = static_cast<const Seen *>(view.buf);  // packed: any alignment does
    std::size_t room = 1024;
    while (room < 2 * static_cast<std::size_t>(count)) room *= 2;  // at most half full: short probes
    c->slots = static_cast<std::uint32_t *>(std::calloc(room, sizeof(std::uint32_t)));
    c->later = new (std::nothrow) Grown<Seen>;
    c->listed = new (std::nothrow) Grown<Listed>;
    if (!c->slots || !c->later || !c->listed) {
        Py_DECREF(reinterpret_cast<PyObject *>(c));
        return PyErr_NoMemory();
    }
    c->earlier_count = static_cast<std::uint32_t>(count);
    c->mask = room - 1;
    c->keep_unchanged = keep_unchanged;
    // The last of flows read twice is the one looked up, as a dict by id would keep it.
    for (std::uint32_t i = 0; i < c->earlier_count; ++i)
        c->slots[slot_of(*c, c->earlier[i].table, c->earlier[i].id)] = i + 1;
    return reinterpret_cast<PyObject *>(c);
}

PyMethodDef comparison_methods[] = {
    {"add", add, METH_O,
     "add($self, page, /)\n--\n\n"
     "Compares the later read's flows of page (a bytes-like of Seen records) with the earlier ones."},
    {"finish", finish, METH_NOARGS,
     "finish($self, /)\n--\n\n"
     "(listed, later, counts): the changes in id order as Listed records \"=QIII\" (id, change, position\n"
     "of its Seen, position of the earlier flow or 2**32-1), the kept later flows as Seen records, and\n"
     "the counts (appeared, changed, left, unchanged)."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyTypeObject *type() {
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void *>(make)},
        {Py_tp_methods, comparison_methods},
        {Py_tp_dealloc, reinterpret_cast<void *>(dealloc)},
        {Py_tp_doc, const_cast<char *>(
                        "flow_diff(before, unchanged)\n"
                        "A comparison of the earlier read's flows (before, Seen records \"=QQQIIBB16s16s\":\n"
                        "table, id, packets, port, vni, proto, ipv6, src, dst) with a later read's, given a page\n"
                        "at a time to add(); with unchanged, the flows that did not change are listed too.")},
        {0, nullptr},
    };
    static PyTypeObject *made = nullptr;
    return heap_type::made(made, "_libfc_fields.flow_diff", sizeof(Comparison), Py_TPFLAGS_DEFAULT, slots);
}

}  // namespace flow_diff
