// A listing's flows held compact and read back in order (flow_hold.hpp).
#include "fields/flow_hold.hpp"

#include <algorithm>
#include <new>

#include "fields/answer_copy.hpp"
#include "fields/grown.hpp"
#include "fields/heap_type.hpp"
#include "fields/sort_keys.hpp"
#include "fields/walk_rest.hpp"

namespace flow_hold {

namespace {

using answer_copy::FlowEntry;
using flow_rows::Entry;
using sort_keys::Ranked;
using sort_keys::SortKey;

// What a hold keeps of a flow's head: what a listing shows of it (the text
// writers, top's pages, the diff's records): its key, counts and times, and
// its entity count; pieces of the entry, laid one after the other, and then
// the flow's age.
struct Piece {
    std::size_t at, size;
};
#define HEAD_PIECE(PATH) Piece{offsetof(Entry, PATH), sizeof(FIELD_TYPE(Entry, PATH))}
constexpr Piece kShownPieces[] = {{0, offsetof(Entry, stats)}, HEAD_PIECE(pktCount), HEAD_PIECE(exprTime),
                                  HEAD_PIECE(tblId), HEAD_PIECE(numActionEntities)};
#undef HEAD_PIECE
static_assert(offsetof(Entry, fkey) + sizeof(Entry::fkey) == offsetof(Entry, stats),
              "the key ends where the statistics start");
constexpr std::size_t kShownBytes = [] {
    std::size_t size = sizeof(std::uint64_t);  // the age
    for (const Piece &p : kShownPieces) size += p.size;
    return size;
}();

// Those bytes as 16-bit words, many of them zero in most flows (an IPv4
// flow's address words, the inner key of a flow not decapsulated, the high
// halves of its counts and times): a flow is held as a mask of the words
// that are not, then those words, then its entities (as a copy lays them
// out). The head and age of a flow of the benchmark's cache so take some 60
// bytes where its pieces take 118.
using Word = std::uint16_t;
constexpr std::size_t kWords = (kShownBytes + sizeof(Word) - 1) / sizeof(Word);
using Mask = std::uint64_t;
static_assert(kWords <= 8 * sizeof(Mask), "a bit of the mask for each word");

struct Words {
    Word w[kWords] = {};
    char *bytes() { return reinterpret_cast<char *>(w); }
};

// The flow held at `at`, its head laid out again in scratch (kHeadBytes,
// zero where no piece goes), where it stays until the next call with the
// same scratch; its age put in age_s. Returns where the flow ends.
const char *held_flow_at(const char *at, char *scratch, FlowEntry &f, std::uint64_t &age_s) {
    Words words;
    Mask mask = flow_rows::load<Mask>(at);
    at += sizeof mask;
    for (; mask; mask &= mask - 1, at += sizeof(Word)) words.w[__builtin_ctzll(mask)] = flow_rows::load<Word>(at);
    const char *from = words.bytes();
    for (const Piece &p : kShownPieces) std::memcpy(scratch + p.at, from, p.size), from += p.size;
    std::memcpy(&age_s, from, sizeof age_s);
    f.entry = scratch;
    f.entities = flow_rows::clamped(LOAD(Entry, numActionEntities, scratch), answer_copy::kEntityCapacity);
    return answer_copy::copied_entities(f, at);
}

// Appends the flow and its age to `bytes` as held_flow_at() reads it back;
// false when memory ran out.
bool hold_flow(grown::Grown<char> &bytes, const FlowEntry &f, std::uint64_t age_s) {
    Words words;
    char *to = words.bytes();
    for (const Piece &p : kShownPieces) std::memcpy(to, f.entry + p.at, p.size), to += p.size;
    std::memcpy(to, &age_s, sizeof age_s);
    Mask mask = 0;
    for (std::size_t i = 0; i < kWords; ++i) mask |= Mask{words.w[i] != 0} << i;
    std::size_t head = sizeof mask + static_cast<std::size_t>(__builtin_popcountll(mask)) * sizeof(Word);
    char *at = bytes.room(head + answer_copy::entities_size(f));
    if (!at) return false;
    std::memcpy(at, &mask, sizeof mask), at += sizeof mask;
    for (Mask m = mask; m; m &= m - 1, at += sizeof(Word)) std::memcpy(at, &words.w[__builtin_ctzll(m)], sizeof(Word));
    answer_copy::put_entities(at, f);
    return true;
}

// A flow held in order: its rank, whose position is where the flow starts
// among the flows (in the order they were added, which breaks the order's
// ties). Read in order, each flow is then one visit to its bytes.
using Placed = Ranked;

// What the hold keeps, a C++ object of its own: the Python object's memory
// is the interpreter's, never constructed. A hold without a key keeps its
// flows in the order added, read one after the other: it has no order.
struct Held {
    grown::Grown<char> flows;
    grown::Grown<Placed> order;  // with a key: in the order added until sort()
    std::size_t count = 0;       // the flows held
    std::size_t cursor = 0;      // without a key: where the next flow read starts
    alignas(8) char scratch[answer_copy::kHeadBytes] = {};
};

// Read in order, the flows lie anywhere among the flows held: each is
// fetched a few ahead of its turn.
constexpr std::size_t kPrefetchAhead = 4;

struct Hold {
    PyObject_HEAD
    PyObject *decoder;
    const SortKey *key;  // null: the flows stay in the order they were added
    bool largest, sorted;
    std::size_t most;       // the flows it keeps at most, the first in order (0: all)
    std::size_t next, end;  // the page aimed at: the flows next to end of its order
    Held *held;
};

Hold &hold_of(PyObject *self) { return *reinterpret_cast<Hold *>(self); }

void dealloc(PyObject *self) {
    PyTypeObject *t = Py_TYPE(self);
    Hold &h = hold_of(self);
    delete h.held;
    Py_XDECREF(h.decoder);
    t->tp_free(self);
    Py_DECREF(t);
}

// The flows held: once in order, those it shows.
Py_ssize_t length(PyObject *self) { return static_cast<Py_ssize_t>(hold_of(self).held->count); }

// flow_hold(decoder, key, largest, most=0)
PyObject *make(PyTypeObject *t, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"decoder", "key", "largest", "most", nullptr};
    PyObject *decoder, *name;
    int largest;
    Py_ssize_t most = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O!Op|n:flow_hold", const_cast<char **>(keywords),
                                     flow_rows::type(), &decoder, &name, &largest, &most))
        return nullptr;
    if (most < 0) {
        PyErr_SetString(PyExc_ValueError, "flow_hold: most is a count of flows, 0 for all");
        return nullptr;
    }
    const SortKey *key = name == Py_None ? nullptr : sort_keys::named(name);
    if (!key && name != Py_None) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_ValueError, "flow_hold: key is one of packets, age_s, expires_in_s, port, vni, id, or None");
        return nullptr;
    }
    Held *held = new (std::nothrow) Held;
    auto *h = held ? reinterpret_cast<Hold *>(t->tp_alloc(t, 0)) : nullptr;
    if (!h) {
        delete held;
        return held ? nullptr : PyErr_NoMemory();
    }
    Py_INCREF(decoder);
    h->decoder = decoder;
    h->key = key;
    h->largest = largest != 0;
    h->most = static_cast<std::size_t>(most);
    h->held = held;
    return reinterpret_cast<PyObject *>(h);
}

// One more flow held, with its key and age; false (the hold as it was) when
// memory ran out.
bool held_flow(Held &held, const SortKey *key, const FlowEntry &f, std::uint64_t age_s) {
    std::size_t position = held.flows.size();
    if (key && !held.order.push({key->of(f, age_s), LOAD(Entry, flowId, f.entry), position})) return false;
    if (hold_flow(held.flows, f, age_s)) return ++held.count, true;
    if (key) held.order.drop(1);  // a failed array takes no more: the hold ends where it is
    return false;
}

// The flow placed so, in scratch until the next call with it, with its age.
FlowEntry flow_at(const Held &held, const Placed &p, char *scratch, std::uint64_t &age_s) {
    FlowEntry f;
    held_flow_at(held.flows.begin() + p.position, scratch, f, age_s);
    return f;
}

// The first h.most flows of a keyed hold's order brought before the others
// (in no order among them); where they end.
Placed *first_most(Hold &h) {
    Placed *first = h.held->order.begin(), *kept = first + h.most;
    std::nth_element(first, kept, h.held->order.end(), sort_keys::order(h.largest));
    return kept;
}

// Keeps only the first h.most flows of a keyed hold's order, in the order
// they were added; false when memory ran out.
bool keep_first(Hold &h) {
    Held &held = *h.held;
    Placed *first = held.order.begin(), *kept = first_most(h);
    std::sort(first, kept, [](const Placed &a, const Placed &b) { return a.position < b.position; });
    Held *fresh = new (std::nothrow) Held;
    bool whole = fresh != nullptr;
    for (const Placed *p = first; whole && p != kept; ++p) {
        std::uint64_t age_s = 0;
        FlowEntry f = flow_at(held, *p, held.scratch, age_s);
        whole = held_flow(*fresh, h.key, f, age_s);
    }
    if (!whole) {
        delete fresh;
        return false;
    }
    delete h.held;
    h.held = fresh;
    return true;
}

[[gnu::cold, gnu::noinline]] PyObject *refuse(PyObject *error, const char *why) {
    if (!PyErr_Occurred()) PyErr_SetString(error, why);
    return nullptr;
}

// hold.add(answer, now_ms, rest): (count, None), as a page writer answers:
// the flows of the answer outside rest (a query's, a copy, or a snapshot
// reader's lines) added to the hold.
PyObject *add(PyObject *self, PyObject *const *args, Py_ssize_t n) noexcept {
    Hold &h = hold_of(self);
    long long now_ms = n == 3 ? PyLong_AsLongLong(args[1]) : -1;
    if (n != 3 || PyErr_Occurred() || !walk_rest::valid(args[2]))
        return refuse(PyExc_TypeError, "add(answer, now_ms, rest): now_ms an int, rest as a walk gives it");
    if (h.sorted) return refuse(PyExc_ValueError, "flow_hold: its flows are in order: it takes no more");
    // A hold's own pages are read from the memory an add may move.
    if (is_hold(args[0])) return refuse(PyExc_TypeError, "flow_hold: a hold's flows are not added to a hold");
    if (!answer_copy::rest_fits(args[0], args[2])) return nullptr;
    Py_ssize_t count = answer_copy::each_aged_flow(
        h.decoder, args[0], now_ms, args[2],
        [&](const FlowEntry &f, std::uint64_t age_s) {
            // Without a key the first few are the first added.
            return (!h.key && h.most && h.held->count == h.most) || held_flow(*h.held, h.key, f, age_s);
        });
    // Of a keyed hold that keeps the first few, the others go once there
    // are as many again: its memory stays bounded by the few, its work linear.
    if (count >= 0 && h.key && h.most && h.held->count >= 2 * h.most && !keep_first(h)) count = -1;
    if (count < 0) return PyErr_Occurred() ? nullptr : PyErr_NoMemory();
    return Py_BuildValue("(nO)", count, Py_None);
}

// hold.sort(): puts the flows in the listing's order, the first `most` of
// them kept; the hold takes no more.
PyObject *sort(PyObject *self, PyObject *) noexcept {
    Hold &h = hold_of(self);
    if (!h.sorted) {
        // Positions are unique: the order is total, an unstable sort keeps it.
        grown::Grown<Placed> &order = h.held->order;
        if (h.key && h.most && order.size() > h.most) {
            order.drop(static_cast<std::size_t>(order.end() - first_most(h)));
            h.held->count = order.size();
        }
        std::sort(order.begin(), order.end(), sort_keys::order(h.largest));
        h.sorted = true;
    }
    Py_RETURN_NONE;
}

// hold.aim(n): the writers given the hold next write the next n flows of the
// order (fewer at its end); returns how many.
PyObject *aim(PyObject *self, PyObject *count) noexcept {
    Hold &h = hold_of(self);
    Py_ssize_t most = PyLong_AsSsize_t(count);
    if (most < 0) return refuse(PyExc_ValueError, "aim(n): n is a count, 0 or more");
    if (!h.sorted) return refuse(PyExc_ValueError, "flow_hold: aim() comes after sort()");
    std::size_t left = h.held->count - h.end;
    h.next = h.end;
    h.end += std::min(left, static_cast<std::size_t>(most));
    return PyLong_FromSize_t(h.end - h.next);
}

PyMethodDef methods[] = {
    {"add", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(add)), METH_FASTCALL,
     "add($self, answer, now_ms, rest, /)\n--\n\n"
     "(count, None): the count flows of the answer outside rest (a query's, an answer_copy or a\n"
     "snapshot_lines reader's lines, each flow with its age against now_ms or as its line states it)\n"
     "added to the hold."},
    {"sort", sort, METH_NOARGS,
     "sort($self, /)\n--\n\n"
     "Orders the flows by (key, id), largest first or smallest first, flows equal in both in the order\n"
     "they were added (without a key, all in that order), and keeps the first most; the hold then\n"
     "takes no more."},
    {"aim", aim, METH_O,
     "aim($self, n, /)\n--\n\n"
     "Aims the hold at the next n flows of its order (fewer at the end), which a flow_text writer\n"
     "given the hold as its answer then writes; returns how many."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

bool next(PyObject *self, FlowEntry &f, std::uint64_t &age_s) noexcept {
    Hold &h = hold_of(self);
    if (h.next >= h.end) return false;
    Held &held = *h.held;
    std::size_t at = h.next++;
    if (!h.key) {
        const char *flows = held.flows.begin();
        held.cursor = static_cast<std::size_t>(held_flow_at(flows + held.cursor, held.scratch, f, age_s) - flows);
        return true;
    }
    if (at + kPrefetchAhead < h.end) {
        const char *ahead = held.flows.begin() + held.order[at + kPrefetchAhead].position;
        __builtin_prefetch(ahead);
        __builtin_prefetch(ahead + 64);
    }
    f = flow_at(held, held.order[at], held.scratch, age_s);
    return true;
}

PyTypeObject *type() {
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void *>(make)},
        {Py_tp_dealloc, reinterpret_cast<void *>(dealloc)},
        {Py_tp_methods, methods},
        {Py_sq_length, reinterpret_cast<void *>(length)},
        {Py_tp_doc, const_cast<char *>(
                        "flow_hold(decoder, key, largest, most=0)\n"
                        "Every flow added (add(), a page writer as the walk and a snapshot's pages take one),\n"
                        "kept compact, then put in order by key (a Flow attribute: packets, age_s,\n"
                        "expires_in_s, port, vni, id) and id, largest first or smallest first, or left in\n"
                        "the order added (key None) (sort()); the flow_text writers write its flows a page at\n"
                        "a time (aim()). Given most, it keeps only the first most flows of that order.")},
        {0, nullptr},
    };
    static PyTypeObject *made = nullptr;
    return heap_type::made(made, "_libfc_fields.flow_hold", sizeof(Hold), Py_TPFLAGS_DEFAULT, slots);
}

}  // namespace flow_hold
