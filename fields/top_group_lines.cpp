// The lines of `libfc top`'s groups, written from a fold in C: a frame of
// every group of a million flows folded by address is some 350,000 lines,
// which as Python tuples and cells spelt twice (to measure, to write) took
// longer and more memory than the read itself. The cells are spelt as
// top.py's group columns spell them, byte for byte.

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

#include "fields/top_columns.hpp"
#include "fields/top_groups.hpp"
#include "fields/top_lines.hpp"

namespace top_groups {

namespace {

using top_columns::kRateText;

// What a group's cells are spelt from besides the fold.
struct Spelling {
    double elapsed;  // seconds between the reads; 0 for no rate
    bool named;      // keys spelt by name (protocols), else as numbers
    std::vector<std::string_view> names;
    double count;  // the flows a share is of
};

bool read_spelling(PyObject *const *args, Spelling &s) {
    s.elapsed = args[0] == Py_None ? 0.0 : PyFloat_AsDouble(args[0]);
    s.named = args[1] != Py_None;
    Py_ssize_t count = PyLong_AsSsize_t(args[2]);
    if (PyErr_Occurred()) return false;
    s.count = static_cast<double>(count);
    if ((s.named && !top_columns::ascii_texts(args[1], s.names)) || count <= 0) {
        PyErr_SetString(PyExc_ValueError, "top groups: key cells (None or ASCII names) and a flow count over 0");
        return false;
    }
    return true;
}

// The texts of the values met last, each spelt by a formatted print: the
// groups of a fold count few different numbers of flows, and of packets
// between two reads.
class Remembered {
  public:
    template <class Spell>
    std::string_view text(unsigned __int128 value, Spell &&spell) {
        Known &known = known_[static_cast<std::size_t>(value % 32)];
        if (!known.size || known.value != value) known.size = spell(known.text), known.value = value;
        return {known.text, known.size};
    }

  private:
    struct Known {
        unsigned __int128 value;
        std::size_t size = 0;
        char text[kRateText];
    };
    Known known_[32];
};

// A cell is written to `text`, or is a view of a name or of a remembered text.
struct Cells {
    Remembered rates, shares;
    char text[kRateText];

    std::string_view number(unsigned __int128 value) {
        if (!(value >> 64))
            return {text, static_cast<std::size_t>(
                              std::to_chars(text, text + sizeof text, static_cast<std::uint64_t>(value)).ptr - text)};
        char *at = text + sizeof text;
        for (; value; value /= 10) *--at = static_cast<char>('0' + static_cast<int>(value % 10));
        return {at, static_cast<std::size_t>(text + sizeof text - at)};
    }

    // The text of one cell; null data when a key is not among the names.
    std::string_view of(const Group &g, int column, const Spelling &s) {
        switch (column) {
            case by_key:
                if (g.size) return {text, address_text(g, text)};
                if (!s.named) return number(g.value[0]);
                return g.value[0] < s.names.size() ? s.names[g.value[0]] : std::string_view();
            case by_flows: return number(g.flows);
            case by_packets: return number(g.packets());
            case by_delta:
                // top.rate_text(): the packets counted over the seconds between the reads.
                if (!(s.elapsed > 0)) return "-";
                return rates.text(g.deltas(), [&](char(&out)[kRateText]) {
                    return top_columns::rate_text(out, static_cast<double>(g.deltas()) / s.elapsed);
                });
            default:
                // "%.1f%%" of 100 times (flows / count), as Python rounds it.
                return shares.text(g.flows, [&](char(&out)[kRateText]) {
                    int size = std::snprintf(out, sizeof out, "%.1f%%", 100 * (static_cast<double>(g.flows) / s.count));
                    return size < 0 ? std::size_t{0} : std::min(static_cast<std::size_t>(size), sizeof out - 1);
                });
        }
    }
};

[[gnu::cold, gnu::noinline]] PyObject *refuse_key(const Group &g) {
    PyErr_Format(PyExc_ValueError, "top groups: no key cell for %llu", static_cast<unsigned long long>(g.value[0]));
    return nullptr;
}

}  // namespace

// top_group_widths(fold, places, elapsed, key_cells, count): the length of
// each group column's longest cell at the places (None: every group).
PyObject *widths(PyObject *, PyObject *const *args, Py_ssize_t n) noexcept {
    HeldFold fold;
    Spelling s;
    if (n != 5) return arguments::refuse("top_group_widths", "fold, places, elapsed, key_cells, count");
    if (!fold.hold(args[0], "top_group_widths") || !fold.hold_places(args[1], "top_group_widths") ||
        !read_spelling(args + 2, s))
        return nullptr;
    // The numbers' cells are as wide as the largest number's, a share's as
    // the largest count's, and a rate's as the largest rate's of those
    // spelt with a decimal or of the others: the rest are spelt.
    std::size_t widest[kGroupColumns] = {};
    unsigned __int128 packets = 0, short_deltas = 0, deltas = 0;
    std::uint64_t value = 0;
    std::uint32_t flows = 0;
    const Group *longest_short = nullptr, *longest = nullptr;
    Cells cells;
    for (Py_ssize_t k = 0; k < fold.size; ++k) {
        const Group &g = fold.at(k);
        if (g.size || s.named) {
            std::string_view key = cells.of(g, by_key, s);
            if (!key.data()) return refuse_key(g);
            widest[by_key] = std::max(widest[by_key], key.size());
        }
        value = std::max(value, g.value[0]), flows = std::max(flows, g.flows);
        packets = std::max(packets, g.packets());
        unsigned __int128 delta = g.deltas();
        bool short_rate = s.elapsed > 0 && static_cast<double>(delta) / s.elapsed < 10000;
        if (short_rate && (!longest_short || delta > short_deltas)) longest_short = &g, short_deltas = delta;
        if (!longest || delta > deltas) longest = &g, deltas = delta;
    }
    if (fold.size) {
        Group largest{};
        largest.value[0] = value, largest.flows = flows;
        if (!fold.at(0).size && !s.named) widest[by_key] = cells.of(largest, by_key, s).size();
        widest[by_flows] = cells.number(flows).size();
        widest[by_packets] = cells.number(packets).size();
        for (const Group *g : {longest_short, longest})
            if (g) widest[by_delta] = std::max(widest[by_delta], cells.of(*g, by_delta, s).size());
        widest[by_share] = cells.of(largest, by_share, s).size();
    }
    return top_lines::widths_tuple(widest, kGroupColumns);
}

// top_group_lines(fold, places, elapsed, key_cells, count, layout): a line
// per place, each ending in a newline, laid out as top.table_text lays out a
// group's row.
PyObject *lines(PyObject *, PyObject *const *args, Py_ssize_t n) noexcept {
    HeldFold fold;
    Spelling s;
    if (n != 6)
        return arguments::refuse("top_group_lines", "fold, places, elapsed, key_cells, count, layout");
    if (!fold.hold(args[0], "top_group_lines") || !fold.hold_places(args[1], "top_group_lines") ||
        !read_spelling(args + 2, s))
        return nullptr;
    Cells cells[kGroupColumns];
    // The fold and the names are held for the call, as the flows' lines
    // hold their columns.
    return top_lines::written_lines(
        args[5], kGroupColumns, fold.size,
        [&](Py_ssize_t k, const table_line::Layout &l, std::string_view *cell) {
            for (int i = 0; i < l.kept_count; ++i) {
                int c = l.kept[i];
                if (!(cell[c] = cells[c].of(fold.at(k), c, s)).data()) return false;
            }
            return true;
        },
        // A group whose key has no cell.
        [&](Py_ssize_t k) { return refuse_key(fold.at(k)); });
}

}  // namespace top_groups
