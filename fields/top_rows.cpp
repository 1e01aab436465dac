// The rows of `libfc top`: a read's flows, which the package holds in
// compact columns (one array per field), put in order and written as the
// table's lines in C. A frame of every flow of a large cache is a million
// rows: ordering them as Python integers and formatting them cell by cell
// took ten times the walk that read them. The cells are spelt as top.py's
// columns spell them, byte for byte.

#include "fields/top_rows.hpp"

#include <algorithm>
#include <bit>
#include <functional>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "fields/spelling.hpp"
#include "fields/top_columns.hpp"
#include "fields/top_lines.hpp"

namespace top_rows {

namespace {

using namespace top_columns;

// What the cells of a table are spelt from besides its columns, and the
// rate texts of the packet counts met last: most flows of a cache count
// few different numbers of packets between two reads (idle ones none), and
// a rate is spelt by a formatted print.
struct Spelling {
    double elapsed;  // seconds between the reads; 0 for no rate
    std::vector<std::string_view> actions, protocols;
    struct Rate {
        std::uint64_t delta = ~std::uint64_t{0};
        char text[kRateText];
        std::size_t size = 0;
    };
    Rate rates[64];
};

// A cell is written to a scratch buffer or is a view of a name.
struct Scratch {
    char text[128];
    std::size_t size = 0;
    std::string_view view() const { return {text, size}; }
    void clear() { size = 0; }
    void put(char c) {
        if (size < sizeof text) text[size++] = c;
    }
    template <class T>
    void number(T value) {
        size = static_cast<std::size_t>(std::to_chars(text + size, text + sizeof text, value).ptr - text);
    }
};

// The digits of an unsigned number, spelt.
template <class T>
std::size_t digits(T value) {
    std::size_t count = 1;
    for (; value >= 10; value /= 10) ++count;
    return count;
}

// A duration as the listing spells it, "-" before a negative one.
void duration(Scratch &out, std::int64_t value) {
    if (value < 0) out.put('-');
    spelling::duration(out, value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value));
}

// The text of one cell; null data when the row's action text or addresses
// are not in the table (a ValueError is then raised).
std::string_view cell(const Columns &t, Spelling &s, Py_ssize_t i, int c, Scratch &out) {
    out.clear();
    switch (c) {
        case id: out.number(t.at<std::uint64_t>(b_ids, i)); break;
        case port: out.number(t.at<std::uint32_t>(b_ports, i)); break;
        case vni: out.number(t.at<std::uint32_t>(b_vnis, i)); break;
        case source:
        case destination: {
            bool v6 = t.at<std::uint8_t>(b_ipv6, i) != 0;
            const unsigned char *at = t.address(i, c == destination, v6);
            if (!at) return {};
            out.size = v6 ? spelling::ipv6_text(out.text, at) : ipv4_text(out.text, at);
            break;
        }
        case proto: return s.protocols[t.at<std::uint8_t>(b_protos, i)];
        case actions: {
            std::uint32_t k = t.at<std::uint32_t>(b_actions, i);
            if (k >= s.actions.size()) return {};
            return s.actions[k].empty() ? std::string_view("-") : s.actions[k];
        }
        case packets: out.number(t.at<std::uint64_t>(b_packets, i)); break;
        case rate: {
            if (!(s.elapsed > 0)) return "-";
            std::uint64_t delta = t.at<std::uint64_t>(b_deltas, i);
            auto &known = s.rates[delta % 64];
            if (known.delta != delta) {
                known.size = rate_text(known.text, static_cast<double>(delta) / s.elapsed);
                known.delta = delta;
            }
            return {known.text, known.size};
        }
        case age: duration(out, t.at<std::int64_t>(b_ages, i)); break;
        default: duration(out, t.at<std::uint32_t>(b_expires, i));  // a read's flows are all still there
    }
    return out.view();
}

bool read_spelling(PyObject *elapsed, PyObject *action_texts, PyObject *protocol_names, Spelling &s) {
    s.elapsed = elapsed == Py_None ? 0.0 : PyFloat_AsDouble(elapsed);
    if (PyErr_Occurred()) return false;
    if (!ascii_texts(action_texts, s.actions) || !ascii_texts(protocol_names, s.protocols) ||
        s.protocols.size() != 256) {
        PyErr_SetString(PyExc_ValueError, "top rows: action texts and 256 protocol names, ASCII");
        return false;
    }
    return true;
}

// The order of a row by one column: the column's value, then the flow id,
// then the position, as top.Table.sort_key ranks them.
struct Key {
    std::uint64_t value[3];  // addresses: (IPv6, high, low half); others: (value, 0, 0)
    std::uint64_t id;
    std::uint32_t position;
};

bool before(const Key &a, const Key &b) {
    for (int k = 0; k < 3; ++k)
        if (a.value[k] != b.value[k]) return a.value[k] < b.value[k];
    return a.id != b.id ? a.id < b.id : a.position < b.position;
}

// Fills key.value for the row at i by column c; false when the row's
// address or action is not in the table.
bool key_of(const Columns &t, int c, const std::vector<std::uint64_t> &rank, Py_ssize_t i, Key &key) {
    key.value[1] = key.value[2] = 0;
    constexpr std::uint64_t kSign = std::uint64_t{1} << 63;  // signed values ordered as unsigned ones
    switch (c) {
        case id: key.value[0] = t.at<std::uint64_t>(b_ids, i); return true;
        case port: key.value[0] = t.at<std::uint32_t>(b_ports, i); return true;
        case vni: key.value[0] = t.at<std::uint32_t>(b_vnis, i); return true;
        case proto: key.value[0] = t.at<std::uint8_t>(b_protos, i); return true;
        case packets: key.value[0] = t.at<std::uint64_t>(b_packets, i); return true;
        case rate: key.value[0] = t.at<std::uint64_t>(b_deltas, i); return true;
        case age: key.value[0] = static_cast<std::uint64_t>(t.at<std::int64_t>(b_ages, i)) ^ kSign; return true;
        case expires: key.value[0] = t.at<std::uint32_t>(b_expires, i); return true;
        case actions: {
            std::uint32_t k = t.at<std::uint32_t>(b_actions, i);
            if (k >= rank.size()) return false;
            key.value[0] = rank[k];
            return true;
        }
        default: {  // IPv4 before IPv6, each by its value
            bool v6 = t.at<std::uint8_t>(b_ipv6, i) != 0;
            const unsigned char *at = t.address(i, c == destination, v6);
            if (!at) return false;
            key.value[0] = v6;
            key.value[1] = v6 ? big_endian(at, 8) : 0;
            key.value[2] = v6 ? big_endian(at + 8, 8) : big_endian(at, 4);
            return true;
        }
    }
}

// A whole read in order, each key one number of (value, id, position):
// 8 or 16 bytes a row where they fit, instead of a Key's 40.
template <class Number>
void order_whole(const Columns &t, int column, const std::vector<std::uint64_t> &rank, Positions &p, bool descending,
                 std::uint64_t low, int id_bits, int position_bits) {
    std::vector<Number> keys(static_cast<std::size_t>(p.size));
    Key key{};
    for (Py_ssize_t k = 0; k < p.size; ++k) {
        key_of(t, column, rank, p.data[k], key);
        keys[k] = ((static_cast<Number>(key.value[0] - low) << id_bits | t.at<std::uint64_t>(b_ids, p.data[k]))
                   << position_bits) | p.data[k];
    }
    if (descending)
        std::sort(keys.begin(), keys.end(), std::greater<>());
    else
        std::sort(keys.begin(), keys.end());
    std::uint64_t mask = (std::uint64_t{1} << position_bits) - 1;
    for (std::size_t k = 0; k < keys.size(); ++k) p.data[k] = static_cast<std::uint32_t>(keys[k] & mask);
}

}  // namespace

// top_order(columns, column, positions, descending, count, action_rank):
// sorts the positions in place by the column (the first `count` of them
// only, when count is not negative, by a bounded selection); how many
// positions lead the array in order.
PyObject *order(PyObject *, PyObject *const *args, Py_ssize_t n) noexcept {
    long column = -1;
    int descending = -1;
    Py_ssize_t count = -1;
    bool converted = n == 6 && arguments::integer(args[1], column) && arguments::truth(args[3], descending) &&
                     arguments::size(args[4], count);
    if (!converted || column < 0 || column >= kColumns || !PyTuple_Check(args[5]))
        return arguments::refuse("top_order", "columns, column, positions, descending, count, action_rank");
    std::vector<std::uint64_t> rank(static_cast<std::size_t>(PyTuple_GET_SIZE(args[5])));
    for (std::size_t k = 0; k < rank.size(); ++k) {
        rank[k] = PyLong_AsUnsignedLongLong(PyTuple_GET_ITEM(args[5], static_cast<Py_ssize_t>(k)));
        if (PyErr_Occurred()) return nullptr;
    }
    Columns t;
    Positions p;
    if (!t.hold(args[0]) || !p.hold(args[2], t.count, true)) return nullptr;
    auto wanted = static_cast<std::size_t>(count < 0 || count > p.size ? p.size : count);
    bool whole = wanted == static_cast<std::size_t>(p.size);
    // A first look: every row's key can be made, and how many bits each
    // part of it needs.
    Key key{};
    std::uint64_t low = ~std::uint64_t{0}, high = 0, ids = 0;
    for (Py_ssize_t k = 0; k < p.size; ++k) {
        if (!key_of(t, static_cast<int>(column), rank, p.data[k], key)) return refuse_row(p.data[k]);
        low = std::min(low, key.value[0]), high = std::max(high, key.value[0]);
        ids = std::max(ids, t.at<std::uint64_t>(b_ids, p.data[k]));
    }
    int value_bits = std::bit_width(high - low), id_bits = std::bit_width(ids);
    int position_bits = std::bit_width(static_cast<std::uint64_t>(t.count));
    bool compact = whole && column != source && column != destination && value_bits + id_bits + position_bits <= 128;
    // The keys are the call's own: they are ordered without the interpreter.
    Py_BEGIN_ALLOW_THREADS
    if (compact && value_bits + id_bits + position_bits <= 64)
        order_whole<std::uint64_t>(t, static_cast<int>(column), rank, p, descending, low, id_bits, position_bits);
    else if (compact)
        order_whole<unsigned __int128>(t, static_cast<int>(column), rank, p, descending, low, id_bits, position_bits);
    else {
        auto first = [descending](const Key &a, const Key &b) { return descending ? before(b, a) : before(a, b); };
        std::vector<Key> keys;
        keys.reserve(wanted);
        for (Py_ssize_t k = 0; k < p.size; ++k) {
            key.position = p.data[k];
            key.id = t.at<std::uint64_t>(b_ids, key.position);
            key_of(t, static_cast<int>(column), rank, key.position, key);
            if (whole || keys.size() < wanted) {
                keys.push_back(key);
                if (!whole) std::push_heap(keys.begin(), keys.end(), first);  // the last one shown on top
            } else if (wanted && first(key, keys.front())) {
                std::pop_heap(keys.begin(), keys.end(), first);
                keys.back() = key;
                std::push_heap(keys.begin(), keys.end(), first);
            }
        }
        if (whole)
            std::sort(keys.begin(), keys.end(), first);
        else
            std::sort_heap(keys.begin(), keys.end(), first);
        for (std::size_t k = 0; k < keys.size(); ++k) p.data[k] = keys[k].position;
    }
    Py_END_ALLOW_THREADS
    return PyLong_FromSize_t(wanted);
}

// top_widths(columns, positions, elapsed, action_texts, protocol_names):
// the length of each column's longest cell at the positions (None: every
// row, read in the order they lie, the quickest).
PyObject *widths(PyObject *, PyObject *const *args, Py_ssize_t n) noexcept {
    Columns t;
    Positions p;
    Spelling s;
    if (n != 5) return arguments::refuse("top_widths", "columns, positions, elapsed, action_texts, protocol_names");
    bool every = args[1] == Py_None;
    if (!t.hold(args[0]) || (!every && !p.hold(args[1], t.count, false)) ||
        !read_spelling(args[2], args[3], args[4], s))
        return nullptr;
    Py_ssize_t rows = every ? t.count : p.size;
    // The numbers' columns are as wide as their largest number; an IPv4
    // address's text is counted, the other cells are spelt.
    std::size_t widest[kColumns] = {};
    std::uint64_t largest[kColumns] = {};
    Scratch scratch;
    for (Py_ssize_t k = 0; k < rows; ++k) {
        Py_ssize_t i = every ? k : p.data[k];
        largest[id] = std::max<std::uint64_t>(largest[id], t.at<std::uint64_t>(b_ids, i));
        largest[port] = std::max<std::uint64_t>(largest[port], t.at<std::uint32_t>(b_ports, i));
        largest[vni] = std::max<std::uint64_t>(largest[vni], t.at<std::uint32_t>(b_vnis, i));
        largest[packets] = std::max<std::uint64_t>(largest[packets], t.at<std::uint64_t>(b_packets, i));
        bool v6 = t.at<std::uint8_t>(b_ipv6, i) != 0;
        for (int c : {int(source), int(destination), int(proto), int(actions), int(rate), int(age), int(expires)}) {
            const unsigned char *at = c <= destination ? t.address(i, c == destination, v6) : nullptr;
            std::size_t size;
            if (at && !v6) {
                size = 3 + digits(at[0]) + digits(at[1]) + digits(at[2]) + digits(at[3]);
            } else {
                std::string_view text = cell(t, s, i, c, scratch);
                if (!text.data()) return refuse_row(i);
                size = text.size();
            }
            widest[c] = std::max(widest[c], size);
        }
    }
    for (int c : {int(id), int(port), int(vni), int(packets)}) widest[c] = rows ? digits(largest[c]) : 0;
    return top_lines::widths_tuple(widest, kColumns);
}

// top_lines(columns, positions, elapsed, action_texts, protocol_names,
// layout): a line per position, each ending in a newline, as top.py lays a
// row out (the fitter's table_line layout).
PyObject *lines(PyObject *, PyObject *const *args, Py_ssize_t n) noexcept {
    Columns t;
    Positions p;
    Spelling s;
    if (n != 6)
        return arguments::refuse("top_lines", "columns, positions, elapsed, action_texts, protocol_names, layout");
    if (!t.hold(args[0]) || !p.hold(args[1], t.count, false) || !read_spelling(args[2], args[3], args[4], s))
        return nullptr;
    Scratch scratch[kColumns];
    // A row's columns are fetched 2 kAhead rows before it is written, its
    // addresses (whose place is in a column) kAhead rows before. Everything
    // read is held for the call: the columns' buffers, the texts in the
    // arguments.
    constexpr Py_ssize_t kAhead = 8;
    return top_lines::written_lines(
        args[5], kColumns, p.size,
        [&](Py_ssize_t r, const table_line::Layout &l, std::string_view *cell) {
            if (r + 2 * kAhead < p.size) t.prefetch(p.data[r + 2 * kAhead]);
            if (r + kAhead < p.size) t.prefetch_addresses(p.data[r + kAhead]);
            for (int k = 0; k < l.kept_count; ++k) {
                int c = l.kept[k];
                if (!(cell[c] = top_rows::cell(t, s, p.data[r], c, scratch[c])).data()) return false;
            }
            return true;
        },
        // A row whose action text or addresses the table lacks.
        [&](Py_ssize_t r) { return refuse_row(p.data[r]); });
}

}  // namespace top_rows
