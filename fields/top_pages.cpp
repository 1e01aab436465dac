// The reads of `libfc top`: each query answer's flows taken into top's
// compact columns in one call, without a Flow object per flow, and a read's
// flows matched with the read before it (by hash table and flow id) for the
// packets counted in between. A read of a million flows made and dropped a
// million Flow objects and looked each up in a dict of the read before.

#include "fields/top_pages.hpp"

#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "fields/answer_copy.hpp"
#include "fields/flow_hash.hpp"
#include "fields/flow_rows.hpp"
#include "fields/page_job.hpp"
#include "fields/snapshot_lines.hpp"
#include "fields/top_columns.hpp"
#include "fields/walk_rest.hpp"

namespace top_pages {

namespace {

using answer_copy::FlowEntry;
using flow_rows::BitMap;
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

// A flow's actions, entity by entity without repeats, are told by the bits
// each entity adds to those before it: the key of its action text is those
// bit maps, the empty ones left out. A page's keys are told apart as it is
// read, which needs no interpreter lock (a cache holds few different ones,
// the last few met remembered without a lookup), and given their text's
// position when the page is made, in the order first met: from
// known_actions, or learn_actions for a key it lacks.
class Actions {
  public:
    // The page's number for the flow's key.
    std::uint32_t local(const FlowEntry &f) {
        Key key;
        BitMap seen = 0;
        for (unsigned k = 0; k < f.entities; ++k) {
            BitMap added = f.actions[k] & ~seen;
            seen |= added;
            if (added) key.bits[key.size++] = added;
        }
        for (const Recent &recent : recent_)
            if (recent.key.size == key.size && std::memcmp(recent.key.bits, key.bits, key.bytes()) == 0)
                return recent.local;
        auto [at, added] = numbers_.try_emplace(std::string(reinterpret_cast<const char *>(key.bits), key.bytes()),
                                                static_cast<std::uint32_t>(keys_.size()));
        if (added) keys_.push_back(key);
        recent_[next_++ % kRecent] = Recent{key, at->second};
        return at->second;
    }

    // The position of each of the page's keys, by its number; false with an exception.
    bool positions(PyObject *known, PyObject *learn, std::vector<std::uint32_t> &into) const {
        for (const Key &key : keys_) {
            PyObject *bytes = PyBytes_FromStringAndSize(reinterpret_cast<const char *>(key.bits),
                                                        static_cast<Py_ssize_t>(key.bytes()));
            if (!bytes) return false;
            PyObject *found = PyDict_GetItemWithError(known, bytes);
            if (found) Py_INCREF(found);
            else if (!PyErr_Occurred()) found = PyObject_CallOneArg(learn, bytes);
            Py_DECREF(bytes);
            long index = found ? PyLong_AsLong(found) : -1;
            Py_XDECREF(found);
            if (index < 0 || index > 0xffffffffL) {
                if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "top_page: learn_actions gave no position");
                return false;
            }
            into.push_back(static_cast<std::uint32_t>(index));
        }
        return true;
    }

  private:
    struct Key {
        BitMap bits[kEntityCapacity];
        unsigned size = 0;
        std::size_t bytes() const { return size * sizeof(BitMap); }
    };
    static constexpr int kRecent = 8;
    struct Recent {
        Key key{{}, ~0u};  // matches no key
        std::uint32_t local = 0;
    };
    std::vector<Key> keys_;
    std::unordered_map<std::string, std::uint32_t> numbers_;
    Recent recent_[kRecent];
    unsigned next_ = 0;
};

void take(Page &page, const FlowEntry &f, std::uint64_t age_s, std::uint32_t address_base, Actions &actions) {
    const char *e = f.entry;
    page.put(c_ids, static_cast<std::uint64_t>(LOAD(Entry, flowId, e)));
    page.put(c_packets, static_cast<std::uint64_t>(LOAD(Entry, pktCount, e)));
    page.put(c_tables, static_cast<std::uint64_t>(LOAD(Entry, tblId, e)));
    page.put(c_ports, static_cast<std::uint32_t>(LOAD(Entry, fkey.portID, e)));
    page.put(c_vnis, static_cast<std::uint32_t>(LOAD(Entry, fkey.vni, e)));
    page.put(c_actions, actions.local(f));
    page.put(c_protos, static_cast<std::uint8_t>(LOAD(Entry, fkey.proto, e)));
    bool v6 = LOAD(Entry, fkey.flags, e) & FC_FLOWKEY_IPV6;
    page.put(c_ipv6, static_cast<std::uint8_t>(v6));
    page.put(c_ages, static_cast<std::int64_t>(age_s));
    page.put(c_expires, static_cast<std::uint32_t>(LOAD(Entry, exprTime, e)));
    auto &addresses = page.column[c_addresses];
    page.put(c_address_at, static_cast<std::uint32_t>(address_base + addresses.size()));
    std::size_t size = v6 ? 16 : 4;
    const char *src = v6 ? FIELD_AT(Entry, fkey.ipKey.ipv6Key.sip, e) : FIELD_AT(Entry, fkey.ipKey.ipv4Key.sip, e);
    const char *dst = v6 ? FIELD_AT(Entry, fkey.ipKey.ipv6Key.dip, e) : FIELD_AT(Entry, fkey.ipKey.ipv4Key.dip, e);
    addresses.insert(addresses.end(), src, src + size);
    addresses.insert(addresses.end(), dst, dst + size);
}

}  // namespace

namespace {

PyObject *new_reference(PyObject *o) {
    Py_INCREF(o);
    return o;
}

// One page of a read, rendered as a page_job: the loop fills the columns
// (over a copy, without the interpreter lock), the action texts' positions
// are found when the page is made.
class TopPage final : public page_job::Job {
  public:
    TopPage(PyObject *const *args, long long now_ms, std::uint32_t base, bool counts_only)
        : decoder_(new_reference(args[0])), answer_(new_reference(args[1])), rest_(new_reference(args[3])),
          known_(new_reference(args[5])), learn_(new_reference(args[6])), now_ms_(now_ms), base_(base),
          counts_only_(counts_only) {}
    ~TopPage() override {
        for (PyObject *held : {decoder_, answer_, rest_, known_, learn_}) Py_DECREF(held);
    }
    void run() noexcept override {
        count_ = answer_copy::each_aged_flow(decoder_, answer_, now_ms_, rest_,
                                             [&](const FlowEntry &f, std::uint64_t age_s) {
                                                 add(f, age_s);
                                                 return true;
                                             });
    }
    bool needs_lock(PyObject *answer) const noexcept override { return !snapshot_lines::is_reader(answer); }
    PyObject *finish() noexcept override {
        if (count_ < 0) return nullptr;
        std::vector<std::uint32_t> positions;
        if (!actions_.positions(known_, learn_, positions)) return nullptr;
        std::vector<char> &actions = page_.column[c_actions];
        for (std::size_t at = 0; at < actions.size(); at += sizeof(std::uint32_t)) {
            std::uint32_t local;
            std::memcpy(&local, actions.data() + at, sizeof local);
            std::memcpy(actions.data() + at, &positions[local], sizeof local);
        }
        if (base_ + page_.column[c_addresses].size() > 0xffffffffULL) {
            PyErr_SetString(PyExc_OverflowError, "top_page: a read's addresses outgrow their offsets");
            return nullptr;
        }
        PyObject *columns = PyTuple_New(kColumns);
        for (int c = 0; columns && c < kColumns; ++c) {
            const std::vector<char> &values = page_.column[c];
            PyObject *bytes = PyBytes_FromStringAndSize(values.data(), static_cast<Py_ssize_t>(values.size()));
            if (!bytes) Py_CLEAR(columns);
            else PyTuple_SET_ITEM(columns, c, bytes);
        }
        return columns ? Py_BuildValue("(nN)", count_, columns) : nullptr;
    }

  private:
    void add(const FlowEntry &f, std::uint64_t age_s) {
        if (counts_only_) {
            page_.put(c_ids, static_cast<std::uint64_t>(LOAD(Entry, flowId, f.entry)));
            page_.put(c_packets, static_cast<std::uint64_t>(LOAD(Entry, pktCount, f.entry)));
            page_.put(c_tables, static_cast<std::uint64_t>(LOAD(Entry, tblId, f.entry)));
        } else {
            take(page_, f, age_s, base_, actions_);
        }
    }

    PyObject *decoder_, *answer_, *rest_, *known_, *learn_;
    long long now_ms_;
    std::uint32_t base_;
    bool counts_only_;
    Py_ssize_t count_ = -1;
    Page page_;
    Actions actions_;
};

}  // namespace

// top_page(decoder, answer, now_ms, rest, address_base, known_actions,
// learn_actions, counts_only): (count, columns) of the answer's flows
// outside rest (or of a snapshot's lines, as flow_text's writers take
// them), each column the bytes of its values, in top.Table.take()'s order;
// known_actions maps an action key to its text's position and
// learn_actions(key) adds a key it lacks. A read that only counts takes
// ids, packets and tables (the other columns are empty).
PyObject *page(PyObject *, PyObject *const *args, Py_ssize_t n) noexcept {
    long long now_ms = -1;
    unsigned long long base = 0;
    int counts_only = -1;
    bool converted = n == 8 && arguments::integer(args[2], now_ms) && arguments::integer(args[4], base) &&
                     arguments::truth(args[7], counts_only);
    if (!converted || !walk_rest::valid(args[3]) || base > 0xffffffffULL || !PyDict_Check(args[5]) ||
        !PyCallable_Check(args[6]) || !PyObject_TypeCheck(args[0], flow_rows::type()))
        return arguments::refuse("top_page", "decoder, answer, now_ms, rest, address_base, known_actions, "
                                            "learn_actions, counts_only");
    if (!answer_copy::rest_fits(args[1], args[3])) return nullptr;
    return page_job::render(new (std::nothrow) TopPage(args, now_ms, static_cast<std::uint32_t>(base), counts_only),
                            args[1]);
}

// top_match(before_tables, before_ids, before_packets, tables, ids, packets,
// deltas): fills deltas with the packets each flow counted since the read
// before (all of them for a flow that read did not hold; none for a count
// that went back); the bytes of the positions ('I') of the flows of the
// read before that this one no longer holds, in order.
PyObject *match(PyObject *, PyObject *const *args, Py_ssize_t n) noexcept {
    if (n != 7) return arguments::refuse("top_match", "before_tables, before_ids, before_packets, tables, ids, "
                                                     "packets, deltas");
    top_columns::Held before_tables, before_ids, before_packets, tables, ids, packets, deltas;
    const char *who = "top_match";
    if (!before_tables.hold(args[0], 'Q', false, who) || !before_ids.hold(args[1], 'Q', false, who) ||
        !before_packets.hold(args[2], 'Q', false, who) || !tables.hold(args[3], 'Q', false, who) ||
        !ids.hold(args[4], 'Q', false, who) || !packets.hold(args[5], 'Q', false, who) ||
        !deltas.hold(args[6], 'Q', true, who))
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
    std::vector<std::uint32_t> slot;
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
    // The reads walk the cache in one order: a flow is most often the one
    // after the flow met last, and the slots (megabytes, met in no order)
    // are made only once a flow is not, each row's fetched some rows ahead.
    bool placed = false;
    auto place_every_row = [&] {
        slot.assign(slots, 0);
        constexpr Py_ssize_t kAhead = 8;
        for (Py_ssize_t i = 0; i < earlier; ++i) {
            if (i + kAhead < earlier) __builtin_prefetch(&slot[first_slot(flow_hash::of(bt[i + kAhead], bi[i + kAhead]))]);
            std::size_t at = first_slot(flow_hash::of(bt[i], bi[i]));
            while (slot[at]) at = next(at);
            slot[at] = static_cast<std::uint32_t>(i + 1);
        }
        placed = true;
    };
    std::size_t after = 0;  // the row of the read before that follows the one met last
    for (Py_ssize_t i = 0; i < now; ++i) {
        std::uint32_t found = 0;
        if (after < static_cast<std::size_t>(earlier) && bi[after] == id[i] && bt[after] == t[i] && !met[after]) {
            found = static_cast<std::uint32_t>(after + 1);
        } else {
            if (!placed) place_every_row();
            for (std::size_t at = first_slot(flow_hash::of(t[i], id[i])); slot[at]; at = next(at)) {
                std::uint32_t k = slot[at] - 1;
                if (bi[k] == id[i] && bt[k] == t[i] && !met[k]) {
                    found = slot[at];
                    break;
                }
            }
        }
        if (!found) {
            d[i] = p[i];
            continue;
        }
        met[found - 1] = true;
        after = found;
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
