// The flows of a query answer as its C readers see them, and an owned copy
// of an answer's flows. A copy is taken under the flow cache's lock, before
// the library reuses its buffer at the next query, so that a page can be
// rendered beside the interpreter (page_job.hpp) while the walk queries on.
// An answer's entries lie 66 KB apart, nearly all of it unused ports: a
// copy keeps each flow compact, the entry's head as it is (but for the cache
// statistics every entry carries, which no reader of copies takes: their
// bytes are left unwritten), then each action entity's bit map, port count
// and used ports.
#pragma once

#include <cstdint>
#include <cstring>

#include "fields/flow_hold.hpp"
#include "fields/flow_rows.hpp"
#include "fields/grown.hpp"
#include "fields/snapshot_lines.hpp"
#include "fields/walk_rest.hpp"

namespace answer_copy {

using flow_rows::BitMap;
using flow_rows::Entity;
using flow_rows::Entry;
using flow_rows::kEntityCapacity;
using flow_rows::Port;
using PortCount = FIELD_TYPE(Entity, dstPortsNum);

// Bytes of an entry before its action entities, copied as they are: every
// key, counter and count a reader takes, numActionEntities last of them.
constexpr std::size_t kHeadBytes = offsetof(Entry, actionEntity);
static_assert(offsetof(Entry, numActionEntities) < kHeadBytes);

// One flow: its entry's head, and what its readers take of its entities.
struct FlowEntry {
    const char *entry;  // laid out as FC_FlowEntryIOC up to its action entities
    unsigned entities;
    BitMap actions[kEntityCapacity];
    unsigned port_count[kEntityCapacity];
    const char *ports[kEntityCapacity];  // port_count[k] ports of entity k

    Port port(unsigned k, unsigned i) const { return flow_rows::load<Port>(ports[k] + i * sizeof(Port)); }
};

// Whole seconds since the entry's flow was created, as the decoder counts them.
inline std::uint64_t age_s(const char *entry, long long now_ms) {
    std::uint64_t created = LOAD(Entry, created, entry);
    return created == 0 || now_ms <= 0 || created >= static_cast<std::uint64_t>(now_ms)
               ? 0 : (static_cast<std::uint64_t>(now_ms) - created) / 1000;
}

// The flow of an entry laid out as the library lays it out (an answer's, or
// one a snapshot reader fills).
inline FlowEntry entry_flow(const char *e) {
    FlowEntry f;
    f.entry = e;
    f.entities = flow_rows::clamped(LOAD(Entry, numActionEntities, e), kEntityCapacity);
    for (unsigned k = 0; k < f.entities; ++k) {
        const char *entity = FIELD_AT(Entry, actionEntity, e) + k * sizeof(Entity);
        f.actions[k] = LOAD(Entity, actionsBitMap, entity);
        f.port_count[k] = flow_rows::clamped(LOAD(Entity, dstPortsNum, entity), flow_rows::kPortCapacity);
        f.ports[k] = FIELD_AT(Entity, dport, entity);
    }
    return f;
}

// The copy: `count` flows, one after the other in `bytes`. A copy made to
// be rendered beside the interpreter says so (`beside`).
struct Copy {
    PyObject_HEAD
    Py_ssize_t count;
    char *bytes;
    std::size_t size;
    bool beside;
};

// answer_copy(decoder, answer, rest, beside): the copy type.
PyTypeObject *type();

inline bool is_copy(PyObject *o) { return Py_TYPE(o) == type(); }

// Whether rest can go with answer: a copy (or a flow_hold) holds only the
// flows outside the rest it was taken with, so it takes no other; false
// with an exception.
bool rest_fits(PyObject *answer, PyObject *rest) noexcept;

// The entities of a flow as a copy lays them out after its head, put into
// f (whose entity count is read); returns where they end.
inline const char *copied_entities(FlowEntry &f, const char *at) {
    for (unsigned k = 0; k < f.entities; ++k) {
        f.actions[k] = flow_rows::load<BitMap>(at);
        f.port_count[k] = flow_rows::load<PortCount>(at + sizeof(BitMap));
        f.ports[k] = at + sizeof(BitMap) + sizeof(PortCount);
        at = f.ports[k] + f.port_count[k] * sizeof(Port);
    }
    return at;
}

// A copy's flows, read one after the other (count of them).
class Reader {
  public:
    explicit Reader(PyObject *copy) : at_(reinterpret_cast<const Copy *>(copy)->bytes) {}
    FlowEntry next() {
        FlowEntry f;
        f.entry = at_;
        f.entities = flow_rows::clamped(LOAD(Entry, numActionEntities, at_), kEntityCapacity);
        at_ = copied_entities(f, at_ + kHeadBytes);
        return f;
    }

  private:
    const char *at_;
};

// The bytes of the flow's entities as a copy lays them out after its head.
inline std::size_t entities_size(const FlowEntry &f) {
    std::size_t size = 0;
    for (unsigned k = 0; k < f.entities; ++k)
        size += sizeof(BitMap) + sizeof(PortCount) + f.port_count[k] * sizeof(Port);
    return size;
}

// Writes the flow's entities at `to` (entities_size(f) bytes) as
// copied_entities() reads them; returns where they end.
inline char *put_entities(char *to, const FlowEntry &f) {
    for (unsigned k = 0; k < f.entities; ++k) {
        auto ports = static_cast<PortCount>(f.port_count[k]);
        std::memcpy(to, &f.actions[k], sizeof(BitMap)), to += sizeof(BitMap);
        std::memcpy(to, &ports, sizeof ports), to += sizeof ports;
        std::memcpy(to, f.ports[k], f.port_count[k] * sizeof(Port)), to += f.port_count[k] * sizeof(Port);
    }
    return to;
}

// A copy's builder: each flow's head as it is, read in place, then its
// entities.
class Builder {
  public:
    Builder() = default;
    Builder(const Builder &) = delete;
    Builder &operator=(const Builder &) = delete;
    // False when memory ran out: the builder then makes no copy.
    bool add(const FlowEntry &f);
    // The copy of what was added, or null with an exception.
    PyObject *made(bool beside);

  private:
    grown::Grown<char> bytes_;
    Py_ssize_t count_ = 0;
};

// Calls each(const FlowEntry &) for every flow of a query answer outside
// rest (answer_entries checks the answer with decoder), or of a copy, in the
// answer's order, until one returns false; the count of flows each was given,
// or -1 with an exception (when each returns false, whatever it set).
// Reading a copy touches no Python object: it needs no interpreter lock.
template <class Each>
Py_ssize_t each_flow(PyObject *decoder, PyObject *answer, PyObject *rest, Each each) {
    Py_ssize_t shown = 0;
    if (is_copy(answer)) {
        Reader reader(answer);
        for (Py_ssize_t count = reinterpret_cast<const Copy *>(answer)->count; shown < count; ++shown)
            if (!each(reader.next())) return -1;
        return shown;
    }
    Py_ssize_t count;
    const char *entries = flow_rows::answer_entries(decoder, answer, count);
    if (!entries) return -1;
    bool filtered = PyTuple_GET_SIZE(rest) != 0;
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (i + flow_rows::kPrefetchAhead < count)
            flow_rows::prefetch_entry(entries + (i + flow_rows::kPrefetchAhead) * sizeof(Entry));
        const char *entry = entries + i * sizeof(Entry);
        int keep = filtered ? walk_rest::outside(entry, rest) : 1;
        if (keep < 0 || (keep && !each(entry_flow(entry)))) return -1;
        shown += keep;
    }
    return shown;
}

// Calls each(const FlowEntry &, std::uint64_t age_s) as each_flow does, the
// age taken against now_ms; or, for a snapshot_lines reader aimed at a chunk
// of lines (or the lines one read ahead), for the flow of each line up to the
// first it cannot take, with the age the line states; or, for a flow_hold,
// for each flow of the page it is aimed at, with its age (rest does not
// apply to either).
template <class Each>
Py_ssize_t each_aged_flow(PyObject *decoder, PyObject *answer, long long now_ms, PyObject *rest, Each each) {
    if (flow_hold::is_hold(answer)) {
        Py_ssize_t shown = 0;
        FlowEntry f;
        for (std::uint64_t age; flow_hold::next(answer, f, age); ++shown)
            if (!each(f, age)) return -1;
        return shown;
    }
    if (!is_copy(answer) && snapshot_lines::is_reader(answer)) {
        Py_ssize_t shown = 0;
        std::uint64_t age;
        for (const char *entry; (entry = snapshot_lines::next_entry(answer, age)); ++shown)
            if (!each(entry_flow(entry), age)) return -1;
        return shown;
    }
    return each_flow(decoder, answer, rest, [&](const FlowEntry &f) { return each(f, age_s(f.entry, now_ms)); });
}

}  // namespace answer_copy
