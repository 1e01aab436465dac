// The groups of `libfc top`: a read's flows folded by one field (a number,
// or an address by its bytes) into packed sums, which a frame picks its
// screenful of groups from in order. A read of a million flows folds into
// as many as a few hundred thousand groups by address: made as Python
// tuples and texts, and sorted as such, they took longer than a key may.

#include "fields/top_groups.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

namespace top_groups {

namespace {

using namespace top_columns;

PyObject *wide_number(unsigned __int128 value) {
    auto high = static_cast<std::uint64_t>(value >> 64), low = static_cast<std::uint64_t>(value);
    if (!high) return PyLong_FromUnsignedLongLong(low);
    PyObject *top = PyLong_FromUnsignedLongLong(high), *shift = PyLong_FromLong(64);
    PyObject *bottom = PyLong_FromUnsignedLongLong(low);
    PyObject *shifted = top && shift ? PyNumber_Lshift(top, shift) : nullptr;
    PyObject *made = shifted && bottom ? PyNumber_Or(shifted, bottom) : nullptr;
    Py_XDECREF(top), Py_XDECREF(shift), Py_XDECREF(bottom), Py_XDECREF(shifted);
    return made;
}

// (value, flows, packets, packet delta): the value a number, or an address's text.
PyObject *group_tuple(const Group &g) {
    char text[spelling::kIPv6Text];
    PyObject *raw = g.size ? PyUnicode_DecodeASCII(text, static_cast<Py_ssize_t>(address_text(g, text)), nullptr)
                           : PyLong_FromUnsignedLongLong(g.value[0]);
    PyObject *packets = wide_number(g.packets()), *deltas = wide_number(g.deltas());
    PyObject *made = raw && packets && deltas ? Py_BuildValue("(OKOO)", raw, static_cast<unsigned long long>(g.flows),
                                                              packets, deltas) : nullptr;
    Py_XDECREF(raw), Py_XDECREF(packets), Py_XDECREF(deltas);
    return made;
}

// The group key of the row at i, its sums empty; false when the table lacks
// the row's address.
bool key_of(const Columns &t, long column, Py_ssize_t i, Group &key) {
    if (column == source || column == destination) {
        bool v6 = t.at<std::uint8_t>(b_ipv6, i) != 0;
        const unsigned char *at = t.address(i, column == destination, v6);
        if (!at) return false;
        key.size = v6 ? 16 : 4;
        key.value[0] = v6 ? big_endian(at, 8) : 0;
        key.value[1] = v6 ? big_endian(at + 8, 8) : big_endian(at, 4);
        return true;
    }
    key.value[0] = column == port ? t.at<std::uint32_t>(b_ports, i)
                   : column == vni ? t.at<std::uint32_t>(b_vnis, i)
                   : column == proto ? t.at<std::uint8_t>(b_protos, i)
                   : column == actions ? t.at<std::uint32_t>(b_actions, i)
                                        : t.at<std::uint64_t>(b_tables, i);
    return true;
}

// Open addressing, a slot per group holding its key and place, at most
// half full. A fold by address meets a new group every few rows, the
// slots and the sums spread over tens of megabytes: each row's slot is
// fetched some rows before it is looked up, and its group's sums some rows
// before they are added to.
class Folding {
  public:
    // Slots for a group every third row, up to 800,000 of them, made at
    // once: placing a few hundred thousand groups again at each doubling
    // took most of a fold by address. (Slots for a group every other row
    // took more memory than the groups.) The groups go to `into`, room for
    // one a row.
    Folding(Py_ssize_t rows, Group *into)
        : groups(into),
          slot_(std::bit_ceil(static_cast<std::size_t>(std::clamp<Py_ssize_t>(rows / 2, 64, 1 << 20))), Slot{}),
          mask_(slot_.size() - 1) {}

    Group *const groups;
    std::size_t count = 0;

    // The place of the key's group, made when new.
    std::uint32_t place(const Group &key, std::uint64_t hash) {
        std::size_t at = first_slot(hash);
        for (; slot_[at].place; at = (at + 1) & mask_) {
            const Slot &s = slot_[at];
            if (s.value[0] == key.value[0] && s.value[1] == key.value[1] && s.size == key.size) return s.place - 1;
        }
        groups[count++] = key;
        auto made = static_cast<std::uint32_t>(count);
        slot_[at] = Slot{{key.value[0], key.value[1]}, static_cast<std::uint32_t>(key.size), made};
        if (4 * count > 3 * slot_.size()) grow();
        return made - 1;
    }
    void prefetch(std::uint64_t hash) const { __builtin_prefetch(&slot_[first_slot(hash)]); }
    // Once every row is placed: the slots of a fold by address are tens of
    // megabytes, let go before the call returns.
    void drop_slots() { std::vector<Slot>().swap(slot_); }

    static std::uint64_t hash_of(const Group &key) {
        std::uint64_t x = key.value[0] ^ (key.value[1] * 0x9e3779b97f4a7c15ULL) ^ key.size;
        x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
        x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
        return x ^ (x >> 31);
    }

  private:
    struct Slot {
        std::uint64_t value[2];
        std::uint32_t size, place;  // place + 1; 0: empty
    };
    std::size_t first_slot(std::uint64_t hash) const { return static_cast<std::size_t>(hash) & mask_; }
    void grow() {  // every group placed again
        std::vector<Slot>(2 * slot_.size(), Slot{}).swap(slot_);
        mask_ = slot_.size() - 1;
        for (std::size_t g = 0; g < count; ++g) {
            std::size_t to = first_slot(hash_of(groups[g]));
            while (slot_[to].place) to = (to + 1) & mask_;
            const Group &key = groups[g];
            slot_[to] = Slot{{key.value[0], key.value[1]}, static_cast<std::uint32_t>(key.size),
                             static_cast<std::uint32_t>(g + 1)};
        }
    }
    std::vector<Slot> slot_;
    std::size_t mask_;
};

// A row on its way through a fold: its key and hash made (its slot
// fetched), then its group's place found (its sums fetched).
struct Pending {
    Group key;
    std::uint64_t hash;
    std::uint32_t place;
    Py_ssize_t row;
};
constexpr Py_ssize_t kAhead = 8;  // rows between the stages, a power of two

// The texts of a fold's address groups, which ties of the ordering are
// broken by (as Python compares the group values): packed end to end, a
// third of what a slot of the longest text each took.
class Texts {
  public:
    // Spelt only for a fold by address: a number's group has no text.
    Texts(std::span<const Group> groups, bool spelt) : end_(spelt ? groups.size() + 1 : 0) {
        if (!spelt) return;
        text_.reserve(groups.size() * 14);  // about an IPv4 address's text
        char spelt_text[spelling::kIPv6Text];
        for (std::size_t g = 0; g < groups.size(); ++g) {
            text_.insert(text_.end(), spelt_text, spelt_text + address_text(groups[g], spelt_text));
            end_[g + 1] = static_cast<std::uint32_t>(text_.size());
        }
    }
    std::string_view operator[](std::uint32_t g) const { return {text_.data() + end_[g], end_[g + 1] - end_[g]}; }

  private:
    std::vector<char> text_;
    std::vector<std::uint32_t> end_;  // where each group's text ends, after a leading 0
};

// The groups' places in order: by the column, ties by the value (numbers
// by number, addresses by text), all of it turned around when descending,
// as top.ordered orders the groups' rows; the first `wanted` only.
std::vector<std::uint32_t> order(std::span<const Group> groups, long by, bool descending, std::size_t wanted) {
    Texts texts(groups, !groups.empty() && groups[0].size);
    auto before = [&](std::uint32_t a, std::uint32_t b) {
        const Group &x = groups[a], &y = groups[b];
        unsigned __int128 u = 0, v = 0;
        if (by == by_flows || by == by_share) u = x.flows, v = y.flows;
        else if (by == by_packets) u = x.packets(), v = y.packets();
        else if (by == by_delta) u = x.deltas(), v = y.deltas();
        if (u != v) return u < v;
        return x.size ? texts[a] < texts[b] : x.value[0] < y.value[0];
    };
    auto first = [&](std::uint32_t a, std::uint32_t b) { return descending ? before(b, a) : before(a, b); };
    std::vector<std::uint32_t> places(groups.size());
    for (std::size_t g = 0; g < places.size(); ++g) places[g] = static_cast<std::uint32_t>(g);
    if (wanted < places.size()) {
        std::partial_sort(places.begin(), places.begin() + static_cast<std::ptrdiff_t>(wanted), places.end(), first);
        places.resize(wanted);
    } else {
        std::sort(places.begin(), places.end(), first);
    }
    return places;
}

}  // namespace

// top_fold(columns, positions, column): the rows at the positions (None:
// every row) folded by a column's value (an action text's position for
// ACTIONS); column is top.py's index of it (TABLE for the hash table). The
// groups, packed in the bytearray given back, are read by top_pick.
PyObject *fold(PyObject *, PyObject *const *args, Py_ssize_t n) noexcept {
    long column = n == 3 ? PyLong_AsLong(args[2]) : -1;
    if (n != 3 || PyErr_Occurred() ||
        !(column == port || column == vni || column == source || column == destination || column == proto ||
          column == actions || column == kTable))
        return arguments::refuse("top_fold", "columns, positions, column");
    Columns t;
    Selection rows;
    if (!t.hold(args[0]) || !rows.hold(args[1], t)) return nullptr;
    Py_ssize_t size = rows.size(t), refused = -1;  // a row whose address the table lacks
    // The columns are held and the groups are the call's own: a fold of a
    // whole read lets the screen's thread answer keys meanwhile. Row k is
    // keyed at step k, placed at step k + kAhead and summed at k + 2 kAhead,
    // the latest first: the row keyed in a step takes the summed one's entry.
    // A fold by a number makes few groups, which stay in the cache: only
    // one by address is sized for many and fetched ahead.
    // The groups are made in place in the bytearray given back, room for a
    // group a row of which only the pages written are ever resident: a
    // fold by address kept its groups twice over, a vector grown by
    // doubling and then its copy.
    bool by_address = column == source || column == destination;
    PyObject *made = PyByteArray_FromStringAndSize(nullptr, size * static_cast<Py_ssize_t>(sizeof(Group)));
    if (!made) return nullptr;
    Folding folding(by_address ? size : 0, reinterpret_cast<Group *>(PyByteArray_AS_STRING(made)));
    Py_BEGIN_ALLOW_THREADS
    auto add = [&t](Group &g, Py_ssize_t row) {
        g.add(t.at<std::uint64_t>(b_packets, row), t.at<std::uint64_t>(b_deltas, row));
    };
    Pending pending[2 * kAhead];
    for (Py_ssize_t step = 0; !by_address && step < size; ++step) {
        Group key{};
        key_of(t, column, rows[step], key);
        add(folding.groups[folding.place(key, Folding::hash_of(key))], rows[step]);
    }
    for (Py_ssize_t step = 0; by_address && step < size + 2 * kAhead && refused < 0; ++step) {
        if (step >= 2 * kAhead) {
            const Pending &p = pending[(step - 2 * kAhead) % (2 * kAhead)];
            add(folding.groups[p.place], p.row);
        }
        if (step >= kAhead && step - kAhead < size) {
            Pending &p = pending[(step - kAhead) % (2 * kAhead)];
            p.place = folding.place(p.key, p.hash);
            __builtin_prefetch(&folding.groups[p.place]);
        }
        if (step < size) {
            Pending &p = pending[step % (2 * kAhead)];
            p.row = rows[step];
            p.key = Group{};
            if (!key_of(t, column, p.row, p.key)) refused = p.row;
            p.hash = Folding::hash_of(p.key);
            folding.prefetch(p.hash);
        }
    }
    folding.drop_slots();
    Py_END_ALLOW_THREADS
    if (refused >= 0 || PyByteArray_Resize(made, static_cast<Py_ssize_t>(folding.count * sizeof(Group)))) {
        Py_DECREF(made);
        return refused >= 0 ? refuse_row(refused) : nullptr;
    }
    return made;
}

// top_pick(fold, by, descending, count): (groups, places) of a fold: the
// places (the bytes of 32-bit numbers) of the first `count` of its groups
// (every one when negative) in order by one of top.py's group columns (KEY
// ... SHARE), which top_group_rows and top_group_lines take.
PyObject *pick(PyObject *, PyObject *const *args, Py_ssize_t n) noexcept {
    long by = -1;
    int descending = -1;
    Py_ssize_t count = 0;
    bool converted = n == 4 && arguments::integer(args[1], by) && arguments::truth(args[2], descending) &&
                     arguments::size(args[3], count);
    if (!converted || by < by_key || by > by_share)
        return arguments::refuse("top_pick", "fold, by, descending, count");
    HeldFold fold;
    if (!fold.hold(args[0], "top_pick") || !fold.hold_places(Py_None, "top_pick")) return nullptr;
    std::span<const Group> groups = fold.groups;
    std::size_t wanted = count < 0 ? groups.size() : std::min(groups.size(), static_cast<std::size_t>(count));
    std::vector<std::uint32_t> places;
    Py_BEGIN_ALLOW_THREADS
    places = order(groups, by, descending, wanted);
    Py_END_ALLOW_THREADS
    return Py_BuildValue("(nN)", static_cast<Py_ssize_t>(groups.size()),
                         PyBytes_FromStringAndSize(reinterpret_cast<const char *>(places.data()),
                                                   static_cast<Py_ssize_t>(places.size() * sizeof places[0])));
}

// top_group_rows(fold, places): the groups at the places (None: every
// group, in the fold's order), a (value, flows, packets, packet delta)
// tuple each: the value a number, or an address's text. Only for what a
// caller goes through group by group: a frame's lines are written from
// the fold.
PyObject *rows(PyObject *, PyObject *const *args, Py_ssize_t n) noexcept {
    HeldFold fold;
    if (n != 2) return arguments::refuse("top_group_rows", "fold, places");
    if (!fold.hold(args[0], "top_group_rows") || !fold.hold_places(args[1], "top_group_rows")) return nullptr;
    PyObject *made = PyList_New(fold.size);
    for (Py_ssize_t k = 0; made && k < fold.size; ++k) {
        PyObject *item = group_tuple(fold.at(k));
        if (!item) Py_CLEAR(made);
        else PyList_SET_ITEM(made, k, item);
    }
    return made;
}

}  // namespace top_groups
