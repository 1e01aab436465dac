// The groups of `libfc top`: a read's flows folded by one field in C, kept
// as packed sums, the groups a frame shows picked from them in order, and
// their lines written from the fold.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>
#include <vector>

#include "fields/spelling.hpp"
#include "fields/top_columns.hpp"
#include "runtime/python.hpp"

namespace top_groups {

// A group of a fold: its raw value and the sums of its flows. A fold is
// these, packed, in the order each value was first met: 48 bytes, where
// 128-bit sums made them 64 and a fold by address of a million flows
// some hundreds of thousands of them.
struct Group {
    std::uint64_t value[2];  // a number: (it, 0); an address: (high, low) half, IPv4 in the low one
    std::uint32_t size;      // 0: a number; 4 or 16: an address's bytes
    std::uint32_t flows;     // of at most 2^32 rows, as their positions are
    // Sums of at most 2^32 64-bit counts: 96 bits each.
    std::uint64_t packets_low, deltas_low;
    std::uint32_t packets_high, deltas_high;

    unsigned __int128 packets() const { return static_cast<unsigned __int128>(packets_high) << 64 | packets_low; }
    unsigned __int128 deltas() const { return static_cast<unsigned __int128>(deltas_high) << 64 | deltas_low; }
    void add(std::uint64_t packets_counted, std::uint64_t delta) {
        ++flows;
        packets_high += __builtin_add_overflow(packets_low, packets_counted, &packets_low);
        deltas_high += __builtin_add_overflow(deltas_low, delta, &deltas_low);
    }
};
static_assert(std::is_trivially_copyable_v<Group> && sizeof(Group) == 48);

// What a group is ordered by, and its cells, top.py's group columns: KEY,
// FLOWS, PACKETS, RATE (the packet delta) and SHARE (the flows over the
// flows of the selection).
enum By : long { by_key, by_flows, by_packets, by_delta, by_share, kGroupColumns };

// An address group's text as the listings spell it: at most kIPv6Text bytes.
inline std::size_t address_text(const Group &g, char *out) {
    unsigned char address[16];
    if (g.size == 16) {
        for (unsigned k = 0; k < 16; ++k) address[k] = static_cast<unsigned char>(g.value[k / 8] >> (8 * (7 - k % 8)));
        return spelling::ipv6_text(out, address);
    }
    for (unsigned k = 0; k < 4; ++k) address[k] = static_cast<unsigned char>(g.value[1] >> (8 * (3 - k)));
    return top_columns::ipv4_text(out, address);
}

// The groups of the bytearray top_fold made (or of any bytes), held for
// the length of a call, which also keeps it from being resized: read in
// place when aligned as a Group is (as the interpreter's allocators leave
// them), else from a copy. The groups a call reads are checked to be of a
// kind a fold makes (hold_places) before any is spelt.
class HeldFold {
  public:
    // A group's place, and where its text ends among the texts of all of
    // them, are 32-bit numbers.
    static constexpr std::size_t kMostGroups = UINT32_MAX / spelling::kIPv6Text;

    bool hold(PyObject *fold, const char *function) {
        if (!PyByteArray_Check(fold) && !PyBytes_Check(fold)) return refuse(function);
        if (!buffer_.hold(fold, PyBUF_SIMPLE)) return false;
        const Py_buffer &view = buffer_.view;
        std::size_t size = static_cast<std::size_t>(view.len) / sizeof(Group);
        if (view.len % static_cast<Py_ssize_t>(sizeof(Group)) || size > kMostGroups) return refuse(function);
        if (reinterpret_cast<std::uintptr_t>(view.buf) % alignof(Group) == 0) {
            groups = {static_cast<const Group *>(view.buf), size};
        } else {
            copied_.resize(size);
            std::memcpy(static_cast<void *>(copied_.data()), view.buf, size * sizeof(Group));
            groups = copied_;
        }
        return true;
    }
    // A fold holds numbers or addresses of either family, never both.
    bool checked(const Group &g) const {
        return (g.size == 4 || g.size == 16 || g.size == 0) && (g.size == 0) == (groups[0].size == 0);
    }
    [[gnu::cold, gnu::noinline]] static bool refuse(const char *function) {
        if (!PyErr_Occurred()) PyErr_Format(PyExc_ValueError, "%s: a fold top_fold made is needed", function);
        return false;
    }

    // The places of the groups a call goes through (an array of 'I'; None:
    // every group in the fold's order), each checked to be a group of the
    // fold and of a kind a fold makes.
    bool hold_places(PyObject *array, const char *function) {
        every_ = array == Py_None;
        if (every_) {
            size = static_cast<Py_ssize_t>(groups.size());
        } else {
            if (!places_.hold(array, 'I', false, function)) return false;
            size = places_.size;
        }
        for (Py_ssize_t k = 0; k < size; ++k) {
            std::uint32_t place = (*this)[k];
            if (place >= groups.size()) {
                PyErr_Format(PyExc_IndexError, "%s: place %lu of a fold of %zu groups", function,
                             static_cast<unsigned long>(place), groups.size());
                return false;
            }
            if (!checked(groups[place])) return refuse(function);
        }
        return true;
    }
    std::uint32_t operator[](Py_ssize_t k) const {
        return every_ ? static_cast<std::uint32_t>(k) : places_.data<std::uint32_t>()[k];
    }
    const Group &at(Py_ssize_t k) const { return groups[(*this)[k]]; }

    std::span<const Group> groups;
    Py_ssize_t size = 0;  // of the places held

  private:
    top_columns::HeldBuffer buffer_;
    std::vector<Group> copied_;
    top_columns::Held places_;
    bool every_ = true;
};

// top_fold(columns, positions, column)
PyObject *fold(PyObject *module, PyObject *const *args, Py_ssize_t n) noexcept;
// top_pick(fold, by, descending, count)
PyObject *pick(PyObject *module, PyObject *const *args, Py_ssize_t n) noexcept;
// top_group_rows(fold, places)
PyObject *rows(PyObject *module, PyObject *const *args, Py_ssize_t n) noexcept;
// top_group_widths(fold, places, elapsed, key_cells, count)
PyObject *widths(PyObject *module, PyObject *const *args, Py_ssize_t n) noexcept;
// top_group_lines(fold, places, elapsed, key_cells, count, layout)
PyObject *lines(PyObject *module, PyObject *const *args, Py_ssize_t n) noexcept;

}  // namespace top_groups
