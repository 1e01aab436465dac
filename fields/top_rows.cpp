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

namespace top_rows {

namespace {

// The table's columns, in top.py's FLOW_COLUMNS order (ID ... EXPIRES).
enum Column : int { id, port, vni, source, destination, proto, actions, packets, rate, age, expires, kColumns };

// The buffers of top.Table.columns(), in its order; the format each must
// have, so a reading of one never goes past its end.
enum Buffer : int { b_ids, b_packets, b_deltas, b_ports, b_vnis, b_actions, b_protos, b_ipv6, b_ages, b_expires,
                    b_addresses, b_address_at, b_tables, kBuffers };
constexpr char kFormats[kBuffers] = {'Q', 'Q', 'Q', 'I', 'I', 'I', 'B', 'B', 'q', 'I', 'B', 'I', 'Q'};

// A table's buffers, held while a call reads them (which also keeps the
// arrays from being resized under it).
class Columns {
  public:
    Columns() = default;
    Columns(const Columns &) = delete;
    Columns &operator=(const Columns &) = delete;
    ~Columns() {
        for (int b = 0; b < held_; ++b) PyBuffer_Release(&views_[b]);
    }

    bool hold(PyObject *tuple) {
        if (!PyTuple_Check(tuple) || PyTuple_GET_SIZE(tuple) != kBuffers)
            return refuse("a tuple of the table's columns");
        for (; held_ < kBuffers; ++held_) {
            Py_buffer &view = views_[held_];
            if (PyObject_GetBuffer(PyTuple_GET_ITEM(tuple, held_), &view, PyBUF_FORMAT | PyBUF_C_CONTIGUOUS) != 0)
                return false;
            char format = view.format ? view.format[view.format[0] == '@' || view.format[0] == '='] : 'B';
            bool wide = format == 'Q' || format == 'q';
            if (format != kFormats[held_] || view.itemsize != (wide ? 8 : format == 'I' ? 4 : 1)) {
                PyBuffer_Release(&view);
                return refuse("columns of the formats top.Table holds");
            }
        }
        count = views_[b_ids].len / 8;
        for (int b = 0; b < kBuffers; ++b)
            if (b != b_addresses && views_[b].len / views_[b].itemsize != count)
                return refuse("columns of one length");
        return true;
    }

    template <class T>
    T at(Buffer b, Py_ssize_t i) const {
        return static_cast<const T *>(views_[b].buf)[i];
    }
    // Rows are written in an order of their own, each a read from every
    // column: they are fetched a few rows ahead.
    void prefetch(Py_ssize_t i) const {
        for (int b = 0; b < kBuffers; ++b)
            if (b != b_addresses) __builtin_prefetch(static_cast<const char *>(views_[b].buf) + i * views_[b].itemsize);
    }
    // A flow's source (which 0) or destination (1) address, or null when
    // the addresses do not hold it.
    const unsigned char *address(Py_ssize_t i, int which, bool v6) const {
        std::size_t size = v6 ? 16 : 4, start = at<std::uint32_t>(b_address_at, i) + which * size;
        if (start + size > static_cast<std::size_t>(views_[b_addresses].len)) return nullptr;
        return static_cast<const unsigned char *>(views_[b_addresses].buf) + start;
    }

    Py_ssize_t count = 0;

  private:
    [[gnu::cold, gnu::noinline]] static bool refuse(const char *needed) {
        PyErr_Format(PyExc_ValueError, "top rows: %s is needed", needed);
        return false;
    }
    Py_buffer views_[kBuffers];
    int held_ = 0;
};

[[gnu::cold, gnu::noinline]] PyObject *refuse_arguments(const char *function, const char *needed) {
    if (!PyErr_Occurred()) PyErr_Format(PyExc_TypeError, "%s(%s)", function, needed);
    return nullptr;
}

// A writable array of positions ('I'), each checked to be a row of the table.
class Positions {
  public:
    Positions() = default;
    Positions(const Positions &) = delete;
    Positions &operator=(const Positions &) = delete;
    ~Positions() {
        if (held_) PyBuffer_Release(&view_);
    }

    bool hold(PyObject *array, Py_ssize_t rows, bool writable) {
        int flags = PyBUF_FORMAT | PyBUF_C_CONTIGUOUS | (writable ? PyBUF_WRITABLE : 0);
        if (PyObject_GetBuffer(array, &view_, flags) != 0) return false;
        held_ = true;
        if (view_.itemsize != 4 || !view_.format || view_.format[std::strlen(view_.format) - 1] != 'I') {
            PyErr_SetString(PyExc_ValueError, "top rows: positions are an array of 'I'");
            return false;
        }
        data = static_cast<std::uint32_t *>(view_.buf);
        size = view_.len / 4;
        for (Py_ssize_t k = 0; k < size; ++k)
            if (data[k] >= static_cast<std::uint64_t>(rows)) {
                PyErr_Format(PyExc_IndexError, "top rows: position %lu of a read of %zd flows",
                             static_cast<unsigned long>(data[k]), rows);
                return false;
            }
        return true;
    }

    std::uint32_t *data = nullptr;
    Py_ssize_t size = 0;

  private:
    Py_buffer view_;
    bool held_ = false;
};

// Texts by number (action texts, protocol names): ASCII, so that a text's
// length is its width on the screen and a line can be cut by bytes.
bool ascii_texts(PyObject *sequence, std::vector<std::string_view> &into) {
    if (!PyList_Check(sequence) && !PyTuple_Check(sequence)) return false;
    Py_ssize_t size = PySequence_Fast_GET_SIZE(sequence);
    into.resize(static_cast<std::size_t>(size));
    for (Py_ssize_t k = 0; k < size; ++k) {
        PyObject *text = PySequence_Fast_GET_ITEM(sequence, k);
        if (!PyUnicode_Check(text) || !PyUnicode_IS_ASCII(text)) return false;
        into[static_cast<std::size_t>(k)] = std::string_view(static_cast<const char *>(PyUnicode_DATA(text)),
                                                             static_cast<std::size_t>(PyUnicode_GET_LENGTH(text)));
    }
    return true;
}

// What the cells of a table are spelt from besides its columns, and the
// rate texts of the packet counts met last: most flows of a cache count
// few different numbers of packets between two reads (idle ones none), and
// a rate is spelt by a formatted print.
struct Spelling {
    double elapsed;  // seconds between the reads; 0 for no rate
    std::vector<std::string_view> actions, protocols;
    struct Rate {
        std::uint64_t delta = ~std::uint64_t{0};
        char text[32];
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
            if (!v6) {  // as inet_ntop spells it, without its formatted prints
                for (int k = 0; k < 4; ++k) {
                    if (k) out.put('.');
                    out.number(static_cast<unsigned>(at[k]));
                }
                break;
            }
            out.size = spelling::ipv6_text(out.text, at);
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
                // top.rate_text(): the packets counted over the seconds
                // between the reads, one decimal while short.
                double per_second = static_cast<double>(delta) / s.elapsed;
                int size = std::snprintf(out.text, sizeof out.text, per_second < 10000 ? "%.1f" : "%.0f", per_second);
                out.size = size < 0 ? 0 : std::min(static_cast<std::size_t>(size), sizeof out.text - 1);
                if (out.size > sizeof known.text) return out.view();
                std::memcpy(known.text, out.text, out.size);
                known.size = out.size;
                known.delta = delta;
            }
            return {known.text, known.size};
        }
        case age: duration(out, t.at<std::int64_t>(b_ages, i)); break;
        default: duration(out, t.at<std::uint32_t>(b_expires, i));  // a read's flows are all still there
    }
    return out.view();
}

[[gnu::cold, gnu::noinline]] PyObject *refuse_row(Py_ssize_t i) {
    PyErr_Format(PyExc_ValueError, "top rows: the flow at %zd has an action text or address the table lacks", i);
    return nullptr;
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

std::uint64_t big_endian(const unsigned char *at, int size) {
    std::uint64_t value = 0;
    for (int k = 0; k < size; ++k) value = value << 8 | at[k];
    return value;
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
    long column = n == 6 ? PyLong_AsLong(args[1]) : -1;
    int descending = n == 6 ? PyObject_IsTrue(args[3]) : -1;
    Py_ssize_t count = n == 6 ? PyLong_AsSsize_t(args[4]) : -1;
    if (n != 6 || column < 0 || column >= kColumns || descending < 0 || PyErr_Occurred() || !PyTuple_Check(args[5]))
        return refuse_arguments("top_order", "columns, column, positions, descending, count, action_rank");
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
    if (n != 5) return refuse_arguments("top_widths", "columns, positions, elapsed, action_texts, protocol_names");
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
    PyObject *made = PyTuple_New(kColumns);
    for (int c = 0; made && c < kColumns; ++c) {
        PyObject *width = PyLong_FromSize_t(widest[c]);
        if (!width) Py_CLEAR(made);
        else PyTuple_SET_ITEM(made, c, width);
    }
    return made;
}

// top_lines(columns, positions, elapsed, action_texts, protocol_names,
// kept, widths, numeric, limit): a line per position, each ending in a
// newline, as top.table_lines lays a row out: the kept columns padded to
// their widths (numbers to the right), two spaces apart, no trailing
// space, at most `limit` characters.
PyObject *lines(PyObject *, PyObject *const *args, Py_ssize_t n) noexcept {
    Columns t;
    Positions p;
    Spelling s;
    Py_ssize_t limit = n == 9 ? PyLong_AsSsize_t(args[8]) : -1;
    if (n != 9 || limit < 0 || PyErr_Occurred() || !PyTuple_Check(args[5]) || !PyTuple_Check(args[6]) ||
        !PyTuple_Check(args[7]) || PyTuple_GET_SIZE(args[6]) != kColumns || PyTuple_GET_SIZE(args[7]) != kColumns)
        return refuse_arguments("top_lines", "columns, positions, elapsed, action_texts, protocol_names, kept, "
                                             "widths, numeric, limit");
    if (!t.hold(args[0]) || !p.hold(args[1], t.count, false) || !read_spelling(args[2], args[3], args[4], s))
        return nullptr;
    int kept[kColumns], kept_count = 0;
    std::size_t width[kColumns];
    bool numeric[kColumns];
    for (int c = 0; c < kColumns; ++c) {
        width[c] = static_cast<std::size_t>(PyLong_AsSsize_t(PyTuple_GET_ITEM(args[6], c)));
        numeric[c] = PyObject_IsTrue(PyTuple_GET_ITEM(args[7], c)) == 1;
    }
    for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(args[5]) && k < kColumns; ++k) {
        long c = PyLong_AsLong(PyTuple_GET_ITEM(args[5], k));
        if (c < 0 || c >= kColumns) return refuse_arguments("top_lines", "kept columns of the table");
        kept[kept_count++] = static_cast<int>(c);
    }
    if (PyErr_Occurred() || kept_count != PyTuple_GET_SIZE(args[5])) return nullptr;
    // No cell is wider than its column (the widths come from top_widths of
    // these rows or more): a line's room is known before it is written, and
    // a cell that were wider would be cut to it.
    std::size_t room = 1;
    for (int k = 0; k < kept_count; ++k) room += width[kept[k]] + (k ? 2 : 0);
    auto *text = static_cast<char *>(PyMem_Malloc(room * static_cast<std::size_t>(p.size) + 1));
    if (!text) return PyErr_NoMemory();
    std::size_t size = 0;
    Scratch scratch;
    constexpr Py_ssize_t kAhead = 8;
    for (Py_ssize_t r = 0; r < p.size; ++r) {
        if (r + kAhead < p.size) t.prefetch(p.data[r + kAhead]);
        char *line = text + size;
        std::size_t used = 0;
        for (int k = 0; k < kept_count; ++k) {
            int c = kept[k];
            std::string_view cell_text = cell(t, s, p.data[r], c, scratch);
            if (!cell_text.data()) {
                PyMem_Free(text);
                return refuse_row(p.data[r]);
            }
            std::size_t length = std::min(cell_text.size(), width[c]), gap = width[c] - length;
            if (k) std::memset(line + used, ' ', 2), used += 2;
            if (numeric[c]) std::memset(line + used, ' ', gap), used += gap;
            std::memcpy(line + used, cell_text.data(), length), used += length;
            if (!numeric[c]) std::memset(line + used, ' ', gap), used += gap;
        }
        // As Python's rstrip() and then [:limit]: the cut may leave spaces.
        while (used && line[used - 1] == ' ') --used;
        size += std::min(used, static_cast<std::size_t>(limit));
        text[size++] = '\n';
    }
    PyObject *made = PyUnicode_DecodeASCII(text, static_cast<Py_ssize_t>(size), nullptr);
    PyMem_Free(text);
    return made;
}

namespace {

// A group of a fold: its raw value (a number, or an address's bytes) and
// the sums of its flows.
struct Group {
    std::uint64_t value[2];
    unsigned size;  // 0: a number; 4 or 16: an address's bytes
    std::uint64_t flows;
    unsigned __int128 packets, deltas;  // a sum of 64-bit counts needs more
};

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

// A group's value: its number, or its address's text as the listings spell it.
PyObject *group_value(const Group &g) {
    if (!g.size) return PyLong_FromUnsignedLongLong(g.value[0]);
    unsigned char address[16];
    for (unsigned k = 0; k < g.size; ++k) {
        std::uint64_t half = g.size == 4 ? g.value[1] : g.value[k / 8];
        unsigned from = g.size == 4 ? 3 - k : 7 - k % 8;
        address[k] = static_cast<unsigned char>(half >> (8 * from));
    }
    Scratch text;
    if (g.size == 16) {
        text.size = spelling::ipv6_text(text.text, address);
    } else {
        for (int k = 0; k < 4; ++k) {
            if (k) text.put('.');
            text.number(static_cast<unsigned>(address[k]));
        }
    }
    return PyUnicode_DecodeASCII(text.text, static_cast<Py_ssize_t>(text.size), nullptr);
}

PyObject *group_tuple(const Group &g) {
    PyObject *raw = group_value(g);
    PyObject *packets = wide_number(g.packets), *deltas = wide_number(g.deltas);
    PyObject *made = raw && packets && deltas ? Py_BuildValue("(OKOO)", raw, static_cast<unsigned long long>(g.flows),
                                                              packets, deltas) : nullptr;
    Py_XDECREF(raw), Py_XDECREF(packets), Py_XDECREF(deltas);
    return made;
}

}  // namespace

// top_fold(columns, positions, column): the rows at the positions (None:
// every row) folded by a column's value, a (value, flows, packets, packet
// delta) tuple each, in the order each value was first met: a number (an
// action text's position for ACTIONS) or an address's text; column is
// top.py's index of it (TABLE for the hash table).
PyObject *fold(PyObject *, PyObject *const *args, Py_ssize_t n) noexcept {
    long column = n == 3 ? PyLong_AsLong(args[2]) : -1;
    constexpr long kTable = kColumns;  // top.py's TABLE: a row's place after the table's columns
    if (n != 3 || PyErr_Occurred() ||
        !(column == port || column == vni || column == source || column == destination || column == proto ||
          column == actions || column == kTable))
        return refuse_arguments("top_fold", "columns, positions, column");
    Columns t;
    Positions p;
    bool every = args[1] == Py_None;
    if (!t.hold(args[0]) || (!every && !p.hold(args[1], t.count, false))) return nullptr;
    Py_ssize_t rows = every ? t.count : p.size;
    std::vector<Group> groups;
    std::vector<std::uint32_t> slot(64, 0);  // a group's place + 1, at most half full
    Py_ssize_t refused = -1;  // a row whose address the table lacks
    // The columns are held and the groups are the call's own: a fold of a
    // whole read lets the screen's thread answer keys meanwhile.
    Py_BEGIN_ALLOW_THREADS
    for (Py_ssize_t k = 0; k < rows; ++k) {
        Py_ssize_t i = every ? k : p.data[k];
        Group key{};
        if (column == source || column == destination) {
            bool v6 = t.at<std::uint8_t>(b_ipv6, i) != 0;
            const unsigned char *at = t.address(i, column == destination, v6);
            if (!at) {
                refused = i;
                break;
            }
            key.size = v6 ? 16 : 4;
            key.value[0] = v6 ? big_endian(at, 8) : 0;
            key.value[1] = v6 ? big_endian(at + 8, 8) : big_endian(at, 4);
        } else {
            key.value[0] = column == port ? t.at<std::uint32_t>(b_ports, i)
                           : column == vni ? t.at<std::uint32_t>(b_vnis, i)
                           : column == proto ? t.at<std::uint8_t>(b_protos, i)
                           : column == actions ? t.at<std::uint32_t>(b_actions, i)
                                                : t.at<std::uint64_t>(b_tables, i);
        }
        auto first_slot = [&slot](const Group &g) {
            std::uint64_t hash = g.value[0] * 0x9e3779b97f4a7c15ULL ^ g.value[1] * 0xc2b2ae3d27d4eb4fULL;
            return static_cast<std::size_t>(hash ^ hash >> 29) & (slot.size() - 1);
        };
        std::size_t at = first_slot(key), place;
        for (; slot[at]; at = (at + 1) & (slot.size() - 1)) {
            const Group &g = groups[slot[at] - 1];
            if (g.value[0] == key.value[0] && g.value[1] == key.value[1] && g.size == key.size) break;
        }
        if (slot[at]) {
            place = slot[at] - 1;
        } else {
            place = groups.size();
            groups.push_back(key);
            slot[at] = static_cast<std::uint32_t>(groups.size());
            if (2 * groups.size() > slot.size()) {  // grown: every group placed again
                std::vector<std::uint32_t>(2 * slot.size(), 0).swap(slot);
                for (std::size_t g = 0; g < groups.size(); ++g) {
                    std::size_t to = first_slot(groups[g]);
                    while (slot[to]) to = (to + 1) & (slot.size() - 1);
                    slot[to] = static_cast<std::uint32_t>(g + 1);
                }
            }
        }
        Group &g = groups[place];
        ++g.flows;
        g.packets += t.at<std::uint64_t>(b_packets, i);
        g.deltas += t.at<std::uint64_t>(b_deltas, i);
    }
    Py_END_ALLOW_THREADS
    if (refused >= 0) return refuse_row(refused);
    PyObject *made = PyList_New(static_cast<Py_ssize_t>(groups.size()));
    for (std::size_t g = 0; made && g < groups.size(); ++g) {
        PyObject *item = group_tuple(groups[g]);
        if (!item) Py_CLEAR(made);
        else PyList_SET_ITEM(made, static_cast<Py_ssize_t>(g), item);
    }
    return made;
}

}  // namespace top_rows
