// The compact columns of a `libfc top` read (one array per field, as
// top.Table holds them) and the positions of rows in them, held for the
// length of a call by the C functions that order, fold, filter and write a
// read's rows.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "fields/arguments.hpp"
#include "fields/spelling.hpp"
#include "runtime/python.hpp"

namespace top_columns {

// The table's columns, in top.py's FLOW_COLUMNS order (ID ... EXPIRES).
enum Column : int { id, port, vni, source, destination, proto, actions, packets, rate, age, expires, kColumns };
constexpr long kTable = kColumns;  // top.py's TABLE: a row's place after the table's columns

// The buffers of top.Table.columns(), in its order; the format each must
// have, so a reading of one never goes past its end.
enum Buffer : int { b_ids, b_packets, b_deltas, b_ports, b_vnis, b_actions, b_protos, b_ipv6, b_ages, b_expires,
                    b_addresses, b_address_at, b_tables, kBuffers };
constexpr char kFormats[kBuffers] = {'Q', 'Q', 'Q', 'I', 'I', 'I', 'B', 'B', 'q', 'I', 'B', 'I', 'Q'};

[[gnu::cold, gnu::noinline]] inline bool refuse_columns(const char *needed) {
    PyErr_Format(PyExc_ValueError, "top rows: %s is needed", needed);
    return false;
}


[[gnu::cold, gnu::noinline]] inline PyObject *refuse_row(Py_ssize_t i) {
    PyErr_Format(PyExc_ValueError, "top rows: the flow at %zd has an action text or address the table lacks", i);
    return nullptr;
}

// An object's buffer, held for the length of a call (which also keeps an
// array from being resized under it), and let go when the call ends.
class HeldBuffer {
  public:
    HeldBuffer() = default;
    HeldBuffer(const HeldBuffer &) = delete;
    HeldBuffer &operator=(const HeldBuffer &) = delete;
    ~HeldBuffer() {
        if (held_) PyBuffer_Release(&view);
    }
    bool hold(PyObject *object, int flags) { return held_ = PyObject_GetBuffer(object, &view, flags) == 0; }
    Py_buffer view;

  private:
    bool held_ = false;
};

// A table's buffers, held while a call reads them.
class Columns {
  public:
    bool hold(PyObject *tuple) {
        if (!PyTuple_Check(tuple) || PyTuple_GET_SIZE(tuple) != kBuffers)
            return refuse_columns("a tuple of the table's columns");
        for (int b = 0; b < kBuffers; ++b) {
            if (!held_[b].hold(PyTuple_GET_ITEM(tuple, b), PyBUF_FORMAT | PyBUF_C_CONTIGUOUS)) return false;
            const Py_buffer &view = held_[b].view;
            char format = view.format ? view.format[view.format[0] == '@' || view.format[0] == '='] : 'B';
            bool wide = format == 'Q' || format == 'q';
            if (format != kFormats[b] || view.itemsize != (wide ? 8 : format == 'I' ? 4 : 1))
                return refuse_columns("columns of the formats top.Table holds");
        }
        count = held_[b_ids].view.len / 8;
        for (int b = 0; b < kBuffers; ++b)
            if (b != b_addresses && held_[b].view.len / held_[b].view.itemsize != count)
                return refuse_columns("columns of one length");
        return true;
    }

    template <class T>
    T at(Buffer b, Py_ssize_t i) const {
        return static_cast<const T *>(held_[b].view.buf)[i];
    }
    // Rows are written in an order of their own, each a read from every
    // column: they are fetched a few rows ahead.
    void prefetch(Py_ssize_t i) const {
        for (int b = 0; b < kBuffers; ++b)
            if (b != b_addresses) __builtin_prefetch(static_cast<const char *>(held_[b].view.buf) + i * held_[b].view.itemsize);
    }
    // A row's addresses, once its place among them (prefetch) has come.
    void prefetch_addresses(Py_ssize_t i) const {
        std::size_t start = at<std::uint32_t>(b_address_at, i);
        if (start < static_cast<std::size_t>(held_[b_addresses].view.len))
            __builtin_prefetch(static_cast<const char *>(held_[b_addresses].view.buf) + start);
    }
    // A flow's source (which 0) or destination (1) address, or null when
    // the addresses do not hold it.
    const unsigned char *address(Py_ssize_t i, int which, bool v6) const {
        std::size_t size = v6 ? 16 : 4, start = at<std::uint32_t>(b_address_at, i) + which * size;
        if (start + size > static_cast<std::size_t>(held_[b_addresses].view.len)) return nullptr;
        return static_cast<const unsigned char *>(held_[b_addresses].view.buf) + start;
    }

    Py_ssize_t count = 0;

  private:
    HeldBuffer held_[kBuffers];
};

// A buffer of items of one format ('I' or 'Q'), held for the length of a call.
class Held {
  public:
    // who names the call in the message when the buffer is of another format.
    bool hold(PyObject *object, char format, bool writable, const char *who) {
        if (!buffer_.hold(object, PyBUF_FORMAT | PyBUF_C_CONTIGUOUS | (writable ? PyBUF_WRITABLE : 0))) return false;
        const Py_buffer &view = buffer_.view;
        Py_ssize_t itemsize = format == 'I' ? 4 : 8;
        if (!view.format || view.format[std::strlen(view.format) - 1] != format || view.itemsize != itemsize) {
            PyErr_Format(PyExc_ValueError, "%s: arrays of '%c' are needed", who, format);
            return false;
        }
        size = view.len / itemsize;
        return true;
    }
    template <class T>
    T *data() const {
        return static_cast<T *>(buffer_.view.buf);
    }
    Py_ssize_t size = 0;

  private:
    HeldBuffer buffer_;
};

// An array of positions ('I'), each checked to be a row of the table.
class Positions {
  public:
    bool hold(PyObject *array, Py_ssize_t rows, bool writable) {
        if (!held_.hold(array, 'I', writable, "top rows: positions")) return false;
        data = held_.data<std::uint32_t>();
        size = held_.size;
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
    Held held_;
};

// The rows a call goes through: those at the positions, or every row when
// the positions are None.
struct Selection {
    bool every = true;
    Positions positions;

    bool hold(PyObject *array, const Columns &t) {
        every = array == Py_None;
        return every || positions.hold(array, t.count, false);
    }
    Py_ssize_t size(const Columns &t) const { return every ? t.count : positions.size; }
    Py_ssize_t operator[](Py_ssize_t k) const { return every ? k : positions.data[k]; }
};

inline std::uint64_t big_endian(const unsigned char *at, int size) {
    std::uint64_t value = 0;
    for (int k = 0; k < size; ++k) value = value << 8 | at[k];
    return value;
}

// The listings' spelling of an IPv4 address, which the writers here share.
using spelling::ipv4_text;

// Texts by number (action texts, protocol names): ASCII, so that a text's
// length is its width on the screen and a line can be cut by bytes.
inline bool ascii_texts(PyObject *sequence, std::vector<std::string_view> &into) {
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

// A packet rate as cli/_output.rate_text() spells it, one decimal while
// short (a huge one in all its digits, as Python's %-format writes it):
// their count. Both tables' rate cells are spelt here, so a flow and its
// group cannot read differently.
constexpr std::size_t kRateText = 320;  // the largest double's 309 digits and more
inline std::size_t rate_text(char (&out)[kRateText], double per_second) {
    int size = std::snprintf(out, sizeof out, per_second < 10000 ? "%.1f" : "%.0f", per_second);
    return size < 0 ? 0 : std::min(static_cast<std::size_t>(size), sizeof out - 1);
}

}  // namespace top_columns
