// The IPFIX encoder of flow query answers: each flow of a whole answer
// written as one data record of this exporter's templates, in one call and
// without an object per flow, the entry read with the C declarations as
// the decoder (flow_rows.cpp) reads it. The templates are the table below
// and nothing else: the template set sent to collectors and the records
// written here both come from it, so the two cannot disagree.
//
// A record carries the packets since the flow's previous record, so the
// encoder keeps, per flow id, the count it last reported: an open table of
// 32-byte slots, not an object per flow, as a cache holds a million flows.
//
// The records are cut into messages here too, with the domain's sequence
// number and the template lead rules: a round of a million flows is some
// 60,000 messages, and framing each in Python cost a third of the walk.

#include "fields/ipfix_records.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <utility>

#include "fields/arguments.hpp"
#include "fields/flow_rows.hpp"
#include "fields/grown.hpp"
#include "fields/heap_type.hpp"
#include "fields/walk_rest.hpp"

namespace ipfix_records {

namespace {

using flow_rows::clamped;
using flow_rows::Entity;
using flow_rows::Entry;
using flow_rows::kEntityCapacity;

// IANA's numbers of the information elements the templates use.
enum Element : std::uint16_t {
    packetDeltaCount = 2,
    protocolIdentifier = 4,
    sourceIPv4Address = 8,
    ingressInterface = 10,
    destinationIPv4Address = 12,
    sourceIPv6Address = 27,
    destinationIPv6Address = 28,
    sourceMacAddress = 56,
    vlanId = 58,
    destinationMacAddress = 80,
    packetTotalCount = 86,
    forwardingStatus = 89,
    flowEndReason = 136,
    flowId = 148,
    flowStartMilliseconds = 152,
    flowEndMilliseconds = 153,
    ethernetType = 256,
    layer2SegmentId = 351,
};

struct Field {
    Element element;
    std::uint16_t size;
};

// Every field at its registered length: records then have a fixed size,
// which lets the framing cut messages without reading records. The delta
// follows the total: collectors that keep one packet count (nfdump) keep
// the last one a record gives.
constexpr Field kIPv4Fields[] = {
    {flowId, 8}, {ingressInterface, 4}, {layer2SegmentId, 8}, {sourceMacAddress, 6},
    {destinationMacAddress, 6}, {vlanId, 2}, {ethernetType, 2}, {protocolIdentifier, 1},
    {sourceIPv4Address, 4}, {destinationIPv4Address, 4}, {packetTotalCount, 8}, {packetDeltaCount, 8},
    {flowStartMilliseconds, 8}, {flowEndMilliseconds, 8}, {forwardingStatus, 1},
};
constexpr Field kIPv6Fields[] = {
    {flowId, 8}, {ingressInterface, 4}, {layer2SegmentId, 8}, {sourceMacAddress, 6},
    {destinationMacAddress, 6}, {vlanId, 2}, {ethernetType, 2}, {protocolIdentifier, 1},
    {sourceIPv6Address, 16}, {destinationIPv6Address, 16}, {packetTotalCount, 8}, {packetDeltaCount, 8},
    {flowStartMilliseconds, 8}, {flowEndMilliseconds, 8}, {forwardingStatus, 1},
};
// A flow that left the cache can no longer be read: its last record names
// it by id, with the last use seen and why it ended.
constexpr Field kEndFields[] = {
    {flowId, 8}, {flowEndMilliseconds, 8}, {flowEndReason, 1},
};

struct Template {
    std::uint16_t id;
    const Field *fields;
    std::size_t count;
};

enum Which : int { ipv4, ipv6, ended, kTemplates };
constexpr Template kTemplate[kTemplates] = {
    {256, kIPv4Fields, std::size(kIPv4Fields)},
    {257, kIPv6Fields, std::size(kIPv6Fields)},
    {258, kEndFields, std::size(kEndFields)},
};

constexpr std::size_t record_size(const Template &t) {
    std::size_t size = 0;
    for (std::size_t i = 0; i < t.count; ++i) size += t.fields[i].size;
    return size;
}

// RFC 7133's layout: the top byte names the overlay, the low three bytes
// hold its segment id; VNIs are VXLAN's (type 1). No VNI, no segment (0).
constexpr std::uint64_t kVxlanSegment = std::uint64_t{1} << 56;
// RFC 7270's forwardingStatus: the top two bits, reason unknown.
constexpr std::uint8_t kForwarded = 0x40, kDropped = 0x80;
// flowEndReason: the flow went idle, or was taken out before it could.
constexpr std::uint8_t kIdleTimeout = 0x01, kForcedEnd = 0x04;

constexpr int kDropBit = FC_ACTION_DROP;

// Bytes grown with realloc (grown.hpp): an allocation that fails marks the
// buffer failed and the entry point raises MemoryError.
class Bytes {
  public:
    // Room for n more bytes, or null once an allocation failed.
    unsigned char *extend(std::size_t n) { return bytes_.room(n); }
    bool failed() const { return bytes_.failed(); }
    unsigned char *data() const { return bytes_.begin(); }
    std::size_t size() const { return bytes_.size(); }
    void clear() { bytes_.clear(); }
    PyObject *object() const {
        if (bytes_.failed()) return PyErr_NoMemory();
        return PyBytes_FromStringAndSize(reinterpret_cast<const char *>(bytes_.begin()),
                                         static_cast<Py_ssize_t>(bytes_.size()));
    }

  private:
    grown::Grown<unsigned char> bytes_;
};

// Network byte order, the low `size` bytes of value.
inline unsigned char *put(unsigned char *at, std::uint64_t value, unsigned size) {
    for (unsigned i = size; i-- > 0; value >>= 8) at[i] = static_cast<unsigned char>(value);
    return at + size;
}

// What a flow's record says, read once from its entry (or its slot).
struct Values {
    std::uint64_t id, segment, delta, total, start_ms, end_ms;
    std::uint32_t port;
    std::uint16_t vlan, ether;
    std::uint8_t protocol, status, reason;
    const char *src_mac, *dst_mac, *src, *dst;
};

// One record of template t; the switch is the table's other column.
unsigned char *write_record(unsigned char *at, const Template &t, const Values &v) {
    for (std::size_t i = 0; i < t.count; ++i) {
        const Field &f = t.fields[i];
        switch (f.element) {
            case flowId: at = put(at, v.id, f.size); break;
            case ingressInterface: at = put(at, v.port, f.size); break;
            case layer2SegmentId: at = put(at, v.segment, f.size); break;
            case sourceMacAddress: std::memcpy(at, v.src_mac, f.size), at += f.size; break;
            case destinationMacAddress: std::memcpy(at, v.dst_mac, f.size), at += f.size; break;
            case vlanId: at = put(at, v.vlan, f.size); break;
            case ethernetType: at = put(at, v.ether, f.size); break;
            case protocolIdentifier: at = put(at, v.protocol, f.size); break;
            case sourceIPv4Address: case sourceIPv6Address: std::memcpy(at, v.src, f.size), at += f.size; break;
            case destinationIPv4Address: case destinationIPv6Address:
                std::memcpy(at, v.dst, f.size), at += f.size;
                break;
            case packetDeltaCount: at = put(at, v.delta, f.size); break;
            case packetTotalCount: at = put(at, v.total, f.size); break;
            case flowStartMilliseconds: at = put(at, v.start_ms, f.size); break;
            case flowEndMilliseconds: at = put(at, v.end_ms, f.size); break;
            case forwardingStatus: at = put(at, v.status, f.size); break;
            case flowEndReason: at = put(at, v.reason, f.size); break;
        }
    }
    return at;
}

// The per-flow state kept between rounds: open addressing, linear probing,
// rebuilt at each round's end (which is also how ended flows leave it).
struct Slot {
    std::uint64_t id, packets, end_ms;
    std::uint32_t expires_s;
    std::uint32_t round;  // 0: empty
};
static_assert(sizeof(Slot) == 32);

class FlowTable {
  public:
    FlowTable() = default;
    FlowTable(const FlowTable &) = delete;
    FlowTable &operator=(const FlowTable &) = delete;
    ~FlowTable() { std::free(slots_); }

    // The slot of id, made (round 0) when new; null when it cannot grow.
    Slot *find(std::uint64_t id) {
        if (2 * (used_ + 1) > capacity_ && !resize(capacity_ ? 2 * capacity_ : 1024)) return nullptr;
        for (std::size_t at = index(id);; at = (at + 1) & (capacity_ - 1)) {
            Slot &s = slots_[at];
            if (s.round == 0) {
                s.id = id;
                ++used_;
                return &s;
            }
            if (s.id == id) return &s;
        }
    }
    // Calls gone(slot) for each slot not marked in `round`, and keeps the rest.
    template <class Gone>
    bool sweep(std::uint32_t round, Gone gone) {
        std::size_t live = 0;
        for (std::size_t i = 0; i < capacity_; ++i) {
            if (slots_[i].round == 0) continue;
            if (slots_[i].round == round) ++live;
            else gone(slots_[i]);
        }
        std::size_t capacity = 1024;
        while (capacity < 2 * live) capacity *= 2;
        return resize(capacity, round);
    }
    std::size_t size() const { return used_; }

  private:
    std::size_t index(std::uint64_t id) const {
        return static_cast<std::size_t>((id * 0x9E3779B97F4A7C15ull) >> 32) & (capacity_ - 1);
    }
    // Moves the slots marked in `keep` (any, when 0) into a table of capacity.
    bool resize(std::size_t capacity, std::uint32_t keep = 0) {
        auto *grown = static_cast<Slot *>(std::calloc(capacity, sizeof(Slot)));
        if (!grown) return false;
        Slot *old = std::exchange(slots_, grown);
        std::size_t old_capacity = std::exchange(capacity_, capacity);
        used_ = 0;
        for (std::size_t i = 0; i < old_capacity; ++i) {
            if (old[i].round == 0 || (keep && old[i].round != keep)) continue;
            std::size_t at = index(old[i].id);
            while (slots_[at].round) at = (at + 1) & (capacity_ - 1);
            slots_[at] = old[i];
            ++used_;
        }
        std::free(old);
        return true;
    }
    Slot *slots_ = nullptr;
    std::size_t capacity_ = 0, used_ = 0;
};

constexpr std::size_t kMessageHeader = 16, kSetHeader = 4, kMaxMessage = 65535;
constexpr std::uint16_t kVersion = 10, kTemplateSetId = 2;

constexpr std::size_t template_set_length() {
    std::size_t length = kSetHeader;
    for (const Template &t : kTemplate) length += 4 + 4 * t.count;
    return length;
}

constexpr std::size_t largest_record() {
    std::size_t largest = 0;
    for (const Template &t : kTemplate) largest = record_size(t) > largest ? record_size(t) : largest;
    return largest;
}

// The smallest message that holds the templates and one record: below it,
// a message that leads with the templates could never take a record.
constexpr std::size_t kSmallestMessage = kMessageHeader + template_set_length() + kSetHeader + largest_record();

unsigned char *write_template_set(unsigned char *at) {
    at = put(put(at, kTemplateSetId, 2), template_set_length(), 2);
    for (const Template &t : kTemplate) {
        at = put(put(at, t.id, 2), t.count, 2);
        for (std::size_t i = 0; i < t.count; ++i) at = put(put(at, t.fields[i].element, 2), t.fields[i].size, 2);
    }
    return at;
}

// The message being filled, kept between calls so that a message spans
// pages, and what decides whether the next one leads with the templates
// (UDP collectors that start late learn them again: every N messages, every
// S seconds of the caller's clock, or when asked).
struct Framing {
    std::uint32_t domain, sequence;
    std::size_t size;
    std::uint64_t template_messages, since_templates;
    double template_seconds, templates_at;
    bool templates_due;
    std::uint64_t records;  // in the open message
    Bytes message;          // empty: no open message
};

struct Encoder {
    PyObject_HEAD
    PyObject *decoder;  // a flow_rows decoder: the answer's check
    FlowTable *flows;
    Framing *framing;
    std::uint32_t round;
};

// A period of template_seconds counts as passed this much early: rounds
// started that many seconds apart differ by a few microseconds in when
// each read the clock.
constexpr double kClockSlack = 1e-3;

// When a message is opened; clock is the caller's, in seconds.
bool lead_with_templates(Framing &f, double clock) {
    bool due = f.templates_due || (f.template_messages && f.since_templates >= f.template_messages) ||
               (f.template_seconds > 0 && clock - f.templates_at + kClockSlack >= f.template_seconds);
    if (due) f.templates_due = false, f.templates_at = clock, f.since_templates = 0;
    ++f.since_templates;
    return due;
}

// Closes the open message: its header, then it joins `messages`.
bool close_message(Framing &f, std::uint32_t export_s, PyObject *messages) {
    unsigned char *at = f.message.data();
    put(put(put(put(put(at, kVersion, 2), f.message.size(), 2), export_s, 4), f.sequence, 4), f.domain, 4);
    f.sequence = static_cast<std::uint32_t>(f.sequence + f.records);
    PyObject *made = f.message.object();
    f.message.clear();
    f.records = 0;
    if (!made) return false;
    int added = PyList_Append(messages, made);
    Py_DECREF(made);
    return added == 0;
}

// Records of template `which` into sets of the open message and as many
// more as they need; full messages join `messages`.
bool frame(Framing &f, int which, const Bytes &records, double clock, std::uint32_t export_s, PyObject *messages) {
    const std::size_t record = record_size(kTemplate[which]);
    const unsigned char *from = records.data(), *end = from + records.size();
    while (from < end) {
        if (f.message.size() == 0) {
            bool lead = lead_with_templates(f, clock);
            unsigned char *at = f.message.extend(kMessageHeader + (lead ? template_set_length() : 0));
            if (!at) return PyErr_NoMemory(), false;
            if (lead) write_template_set(at + kMessageHeader);
        }
        std::size_t used = f.message.size() + kSetHeader;
        std::size_t fit = used < f.size ? (f.size - used) / record : 0;
        if (fit == 0) {
            if (!close_message(f, export_s, messages)) return false;
            continue;
        }
        std::size_t taken = std::min(fit, static_cast<std::size_t>(end - from) / record);
        unsigned char *at = f.message.extend(kSetHeader + taken * record);
        if (!at) return PyErr_NoMemory(), false;
        at = put(put(at, kTemplate[which].id, 2), kSetHeader + taken * record, 2);
        std::memcpy(at, from, taken * record);
        from += taken * record;
        f.records += taken;
    }
    return true;
}

bool dropped(const char *e) {
    unsigned entities = clamped(LOAD(Entry, numActionEntities, e), kEntityCapacity);
    for (unsigned k = 0; k < entities; ++k) {
        const char *entity = FIELD_AT(Entry, actionEntity, e) + k * sizeof(Entity);
        if (LOAD(Entity, actionsBitMap, entity) >> kDropBit & 1) return true;
    }
    return false;
}

// The record values of an entry; last use is when its idle time began:
// expiry_s (the cache's idle lifetime) less the seconds it has left.
Values read_entry(const char *e, std::uint64_t now_ms, std::uint64_t expiry_s) {
    Values v;
    bool v6 = LOAD(Entry, fkey.flags, e) & FC_FLOWKEY_IPV6;
    v.id = LOAD(Entry, flowId, e);
    v.port = LOAD(Entry, fkey.portID, e);
    std::uint32_t vni = LOAD(Entry, fkey.vni, e);
    v.segment = vni ? kVxlanSegment | (vni & 0xFFFFFFu) : 0;
    v.src_mac = FIELD_AT(Entry, fkey.l2Key.saddr, e);
    v.dst_mac = FIELD_AT(Entry, fkey.l2Key.daddr, e);
    v.vlan = LOAD(Entry, fkey.l2Key.vlanid, e);
    v.ether = LOAD(Entry, fkey.l2Key.etype, e);
    v.protocol = LOAD(Entry, fkey.proto, e);
    v.src = v6 ? FIELD_AT(Entry, fkey.ipKey.ipv6Key.sip, e) : FIELD_AT(Entry, fkey.ipKey.ipv4Key.sip, e);
    v.dst = v6 ? FIELD_AT(Entry, fkey.ipKey.ipv6Key.dip, e) : FIELD_AT(Entry, fkey.ipKey.ipv4Key.dip, e);
    v.total = LOAD(Entry, pktCount, e);
    std::uint64_t created = LOAD(Entry, created, e);
    v.start_ms = created && created < now_ms ? created : now_ms;
    std::uint64_t left_s = LOAD(Entry, exprTime, e);
    std::uint64_t idle_ms = expiry_s > left_s ? (expiry_s - left_s) * 1000 : 0;
    v.end_ms = now_ms - idle_ms > v.start_ms && idle_ms < now_ms ? now_ms - idle_ms : v.start_ms;
    v.status = dropped(e) ? kDropped : kForwarded;
    v.reason = 0;
    return v;
}

// The clock (seconds, for the template refresh) and export time (epoch
// seconds, for the headers) that every framing call takes last.
bool read_times(PyObject *const *args, double &clock, std::uint32_t &export_s) {
    clock = PyFloat_AsDouble(args[0]);
    long long seconds = clock == -1.0 && PyErr_Occurred() ? -1 : PyLong_AsLongLong(args[1]);
    export_s = static_cast<std::uint32_t>(seconds);
    return seconds >= 0 && seconds <= UINT32_MAX && !PyErr_Occurred();
}

// encoder.encode(answer, now_ms, rest, expiry_s, clock, export_s): (count,
// messages) of the answer's flows outside rest that are new or had packets
// since their last record, each marked seen in this round; count is their
// records, messages those they filled (the last one stays open).
PyObject *encode(PyObject *self, PyObject *const *args, Py_ssize_t n) noexcept {
    long long now = n == 6 ? PyLong_AsLongLong(args[1]) : -1;
    long long expiry = n == 6 && now >= 0 ? PyLong_AsLongLong(args[3]) : -1;
    double clock;
    std::uint32_t export_s;
    if (now < 0 || expiry < 0 || PyErr_Occurred() || !walk_rest::valid(args[2]) ||
        !read_times(args + 4, clock, export_s))
        return arguments::refuse("ipfix_records.encode", "answer, now_ms, rest, expiry_s, clock, export_s");
    auto &enc = *reinterpret_cast<Encoder *>(self);
    Py_ssize_t count = 0, written = 0;
    const char *entries = flow_rows::answer_entries(enc.decoder, args[0], count);
    if (!entries) return nullptr;
    Bytes out[2];
    constexpr std::size_t size[2] = {record_size(kTemplate[ipv4]), record_size(kTemplate[ipv6])};
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (i + flow_rows::kPrefetchAhead < count)
            flow_rows::prefetch_entry(entries + (i + flow_rows::kPrefetchAhead) * sizeof(Entry));
        const char *e = entries + i * sizeof(Entry);
        int keep = PyTuple_GET_SIZE(args[2]) ? walk_rest::outside(e, args[2]) : 1;
        if (keep < 0) return nullptr;
        if (!keep) continue;
        Values v = read_entry(e, static_cast<std::uint64_t>(now), static_cast<std::uint64_t>(expiry));
        Slot *slot = enc.flows->find(v.id);
        if (!slot) return PyErr_NoMemory();
        bool known = slot->round != 0;
        // A count below the last one is an id the cache gave a new flow.
        v.delta = known && v.total >= slot->packets ? v.total - slot->packets : v.total;
        *slot = Slot{v.id, v.total, v.end_ms, LOAD(Entry, exprTime, e), enc.round};
        if (known && v.delta == 0) continue;
        int which = LOAD(Entry, fkey.flags, e) & FC_FLOWKEY_IPV6 ? ipv6 : ipv4;
        unsigned char *at = out[which].extend(size[which]);
        if (!at) return PyErr_NoMemory();
        write_record(at, kTemplate[which], v);
        ++written;
    }
    PyObject *messages = PyList_New(0);
    for (int which = 0; messages && which < 2; ++which)
        if (!frame(*enc.framing, which, out[which], clock, export_s, messages)) Py_CLEAR(messages);
    return messages ? Py_BuildValue("(nN)", written, messages) : nullptr;
}

// encoder.ended(now_ms, clock, export_s): the round's last messages: the
// end records of the flows not seen since the last call, which are
// forgotten, and the open message closed. The next round begins.
PyObject *ended_records(PyObject *self, PyObject *const *args, Py_ssize_t n) noexcept {
    long long now = n == 3 ? PyLong_AsLongLong(args[0]) : -1;
    double clock;
    std::uint32_t export_s;
    if (now < 0 || PyErr_Occurred() || !read_times(args + 1, clock, export_s))
        return arguments::refuse("ipfix_records.ended", "now_ms, clock, export_s");
    auto &enc = *reinterpret_cast<Encoder *>(self);
    Bytes out;
    constexpr std::size_t size = record_size(kTemplate[ended]);
    bool swept = enc.flows->sweep(enc.round, [&](const Slot &s) {
        Values v{};
        v.id = s.id;
        v.end_ms = s.end_ms;
        // Gone once its idle time ran out (a second's rounding allowed):
        // it expired; gone before: something took it out.
        bool expired = static_cast<std::uint64_t>(now) + 1000 >= s.end_ms + std::uint64_t{s.expires_s} * 1000;
        v.reason = expired ? kIdleTimeout : kForcedEnd;
        if (unsigned char *at = out.extend(size)) write_record(at, kTemplate[ended], v);
    });
    if (!swept || out.failed()) return PyErr_NoMemory();
    enc.round = enc.round == UINT32_MAX ? 1 : enc.round + 1;
    PyObject *messages = PyList_New(0);
    Framing &f = *enc.framing;
    if (messages && (!frame(f, ended, out, clock, export_s, messages) ||
                     (f.message.size() && !close_message(f, export_s, messages))))
        Py_CLEAR(messages);
    return messages;
}

// encoder.templates(): ((template id, record size), ...) and the template
// set (set id 2) that describes them, header included.
PyObject *templates(PyObject *, PyObject *) noexcept {
    Bytes set;
    unsigned char *at = set.extend(template_set_length());
    if (!at) return PyErr_NoMemory();
    write_template_set(at);
    PyObject *sizes = PyTuple_New(kTemplates);
    if (!sizes) return nullptr;
    for (int k = 0; k < kTemplates; ++k) {
        const Template &t = kTemplate[k];
        PyTuple_SET_ITEM(sizes, k, Py_BuildValue("(HN)", t.id, PyLong_FromSize_t(record_size(t))));
    }
    return Py_BuildValue("(NN)", sizes, set.object());
}

PyObject *resend_templates(PyObject *self, PyObject *) noexcept {
    reinterpret_cast<Encoder *>(self)->framing->templates_due = true;
    Py_RETURN_NONE;
}

PyObject *sequence(PyObject *self, void *) {
    return PyLong_FromUnsignedLong(reinterpret_cast<Encoder *>(self)->framing->sequence);
}

PyObject *tracked(PyObject *self, void *) {
    return PyLong_FromSize_t(reinterpret_cast<Encoder *>(self)->flows->size());
}

PyMethodDef encoder_methods[] = {
    {"encode", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(encode)), METH_FASTCALL,
     "encode(answer, now_ms, rest, expiry_s, clock, export_s, /)\n--\n\n"
     "(count, messages): count data records of the answer's flows outside rest that are new or had\n"
     "packets since their last record, and the messages they filled; expiry_s is the cache's idle\n"
     "lifetime, clock the seconds the template refresh counts, export_s the headers' export time."},
    {"ended", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(ended_records)), METH_FASTCALL,
     "ended(now_ms, clock, export_s, /)\n--\n\n"
     "The round's last messages: end records of the flows no encode() saw since the last call (they are\n"
     "forgotten), and the open message closed."},
    {"resend_templates", resend_templates, METH_NOARGS,
     "resend_templates()\n--\n\nThe next message leads with the templates."},
    {"templates", templates, METH_NOARGS,
     "templates()\n--\n\n"
     "(((template_id, record_size), ...), template_set): the IPv4, IPv6 and end templates."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef encoder_getset[] = {
    {"tracked", tracked, nullptr, "flows whose last packet count is kept", nullptr},
    {"sequence", sequence, nullptr, "data records the domain's messages carried so far, modulo 2**32", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

int traverse(PyObject *self, visitproc visit, void *arg) {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(reinterpret_cast<Encoder *>(self)->decoder);
    return 0;
}

int clear(PyObject *self) {
    Py_CLEAR(reinterpret_cast<Encoder *>(self)->decoder);
    return 0;
}

void dealloc(PyObject *self) {
    PyTypeObject *t = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    clear(self);
    delete std::exchange(reinterpret_cast<Encoder *>(self)->flows, nullptr);
    delete std::exchange(reinterpret_cast<Encoder *>(self)->framing, nullptr);
    t->tp_free(self);
    Py_DECREF(t);
}

[[gnu::cold, gnu::noinline]] PyObject *refuse_size(Py_ssize_t size) {
    return PyErr_Format(PyExc_ValueError, "messages of %zd bytes cannot hold the templates and a record (%zu to %zu)",
                        size, kSmallestMessage, kMaxMessage);
}

// ipfix_records(decoder, domain=0, size=65535, template_messages=0, template_seconds=0)
PyObject *make(PyTypeObject *t, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"decoder", "domain", "size", "template_messages", "template_seconds", nullptr};
    PyObject *decoder;
    unsigned long long domain = 0, template_messages = 0;
    Py_ssize_t size = kMaxMessage;
    double template_seconds = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O!|KnKd:ipfix_records", const_cast<char **>(keywords),
                                     flow_rows::type(), &decoder, &domain, &size, &template_messages,
                                     &template_seconds))
        return nullptr;
    if (domain > UINT32_MAX)
        return PyErr_Format(PyExc_ValueError, "observation domain %llu is not a 32-bit number", domain);
    if (size < 0 || static_cast<std::size_t>(size) < kSmallestMessage || static_cast<std::size_t>(size) > kMaxMessage)
        return refuse_size(size);
    auto *flows = new (std::nothrow) FlowTable;
    auto *framing = new (std::nothrow) Framing{static_cast<std::uint32_t>(domain), 0, static_cast<std::size_t>(size),
                                               template_messages, 0, template_seconds, 0.0, true, 0, {}};
    auto *enc = flows && framing ? reinterpret_cast<Encoder *>(t->tp_alloc(t, 0)) : nullptr;
    if (!enc) {
        delete flows;
        delete framing;
        return PyErr_Occurred() ? nullptr : PyErr_NoMemory();
    }
    Py_INCREF(decoder);
    enc->decoder = decoder;
    enc->flows = flows;
    enc->framing = framing;
    enc->round = 1;
    return reinterpret_cast<PyObject *>(enc);
}

}  // namespace

PyTypeObject *type() {
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void *>(make)},
        {Py_tp_methods, encoder_methods},
        {Py_tp_getset, encoder_getset},
        {Py_tp_traverse, reinterpret_cast<void *>(traverse)},
        {Py_tp_clear, reinterpret_cast<void *>(clear)},
        {Py_tp_dealloc, reinterpret_cast<void *>(dealloc)},
        {Py_tp_doc, const_cast<char *>(
                        "ipfix_records(decoder, domain=0, size=65535, template_messages=0, template_seconds=0)\n"
                        "The IPFIX messages of flow query answers, checked by decoder (a flow_rows), at most size\n"
                        "bytes, with the packet count of each flow's last record and the domain's sequence number\n"
                        "kept between rounds; templates lead the first message, then every template_messages\n"
                        "messages and every template_seconds (0: never).")},
        {0, nullptr},
    };
    static PyTypeObject *made = nullptr;
    return heap_type::made(made, "_libfc_fields.ipfix_records",
                           sizeof(Encoder), Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, slots);
}

}  // namespace ipfix_records
