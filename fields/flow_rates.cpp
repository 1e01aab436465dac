// The rates of `flows --watch` (flow_rates.hpp).
#include "fields/flow_rates.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

#include "fields/flow_hash.hpp"
#include "fields/heap_type.hpp"

namespace flow_rates {

namespace {

// Packet counts by flow id: open addressing over a power of two of slots,
// kept at most half full; as Python's dict of the same, a flow shown twice
// keeps its last count. A slot is its id and count alone (a million flows'
// slots take 32 MB): the largest id marks an empty slot, and a flow of that
// id is kept beside. No exceptions in this build: a failed allocation marks
// the table failed and it keeps no more.
class Counts {
  public:
    Counts() = default;
    Counts(const Counts &) = delete;
    Counts &operator=(const Counts &) = delete;
    ~Counts() { std::free(slots_); }

    void put(std::uint64_t id, std::uint64_t packets) {
        if (id == kEmpty) {
            last_packets_ = packets, has_last_ = true;
            return;
        }
        if (2 * (size_ + 1) > capacity_ && !grow(capacity_ ? 2 * capacity_ : 1024)) return;
        Slot &s = slots_[find(id)];
        if (s.id == kEmpty) s.id = id, ++size_;
        s.packets = packets;
    }
    // The count kept for id, or false.
    bool get(std::uint64_t id, std::uint64_t &packets) const {
        if (id == kEmpty) return has_last_ && (packets = last_packets_, true);
        if (!capacity_) return false;
        const Slot &s = slots_[find(id)];
        return s.id == id && (packets = s.packets, true);
    }
    void swap(Counts &other) {
        std::swap(slots_, other.slots_);
        std::swap(capacity_, other.capacity_);
        std::swap(size_, other.size_);
        std::swap(last_packets_, other.last_packets_);
        std::swap(has_last_, other.has_last_);
        std::swap(failed_, other.failed_);
    }
    // Empty, with room for as many flows as `like` holds: a listing's
    // flows are about the last one's, and a table grown a slot at a time
    // holds its old slots and its new ones at once.
    void clear(const Counts &like) {
        size_ = 0;
        has_last_ = failed_ = false;
        if (capacity_ >= like.capacity_) {
            std::fill(slots_, slots_ + capacity_, Slot{kEmpty, 0});
            return;
        }
        std::free(slots_);
        slots_ = nullptr, capacity_ = 0;
        grow(like.capacity_);
    }
    bool failed() const { return failed_; }

  private:
    struct Slot {
        std::uint64_t id, packets;
    };
    static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
    // A listing tells flows apart by id alone.
    std::size_t find(std::uint64_t id) const {
        std::size_t at = static_cast<std::size_t>(flow_hash::of(0, id)) & (capacity_ - 1);
        while (slots_[at].id != kEmpty && slots_[at].id != id) at = (at + 1) & (capacity_ - 1);
        return at;
    }
    [[gnu::noinline]] bool grow(std::size_t capacity) {
        if (failed_) return false;
        auto *slots = static_cast<Slot *>(std::malloc(capacity * sizeof(Slot)));
        if (!slots) return !(failed_ = true);
        std::fill(slots, slots + capacity, Slot{kEmpty, 0});
        std::swap(slots, slots_);
        std::swap(capacity, capacity_);
        size_ = 0;
        for (std::size_t i = 0; i < capacity; ++i)
            if (slots[i].id != kEmpty) slots_[find(slots[i].id)] = slots[i], ++size_;
        std::free(slots);
        return true;
    }

    Slot *slots_ = nullptr;
    std::size_t capacity_ = 0, size_ = 0;
    std::uint64_t last_packets_ = 0;  // of the flow of id kEmpty, when has_last_
    bool has_last_ = false, failed_ = false;
};

struct Rates {
    PyObject_HEAD
    Counts *before, *now;  // the listing before's counts, this listing's
    double elapsed;        // seconds between the two listings' starts; 0: no rates yet
};

Rates &rates_of(PyObject *self) { return *reinterpret_cast<Rates *>(self); }

void dealloc(PyObject *self) {
    PyTypeObject *t = Py_TYPE(self);
    delete rates_of(self).before;
    delete rates_of(self).now;
    t->tp_free(self);
    Py_DECREF(t);
}

PyObject *make(PyTypeObject *t, PyObject *args, PyObject *kwargs) {
    if (!PyArg_ParseTuple(args, ":flow_rates") || (kwargs && PyDict_GET_SIZE(kwargs))) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "flow_rates() takes no arguments");
        return nullptr;
    }
    auto *before = new (std::nothrow) Counts, *now = new (std::nothrow) Counts;
    auto *r = before && now ? reinterpret_cast<Rates *>(t->tp_alloc(t, 0)) : nullptr;
    if (!r) {
        delete before;
        delete now;
        return PyErr_Occurred() ? nullptr : PyErr_NoMemory();
    }
    r->before = before;
    r->now = now;
    return reinterpret_cast<PyObject *>(r);
}

// rates.next(elapsed): a listing starts, elapsed seconds (None: unknown)
// after the one before, whose counts its flows' rates are taken against.
PyObject *next(PyObject *self, PyObject *elapsed) noexcept {
    double seconds = elapsed == Py_None ? 0 : PyFloat_AsDouble(elapsed);
    if (seconds == -1 && PyErr_Occurred()) return nullptr;
    Rates &r = rates_of(self);
    r.before->swap(*r.now);
    r.now->clear(*r.before);
    // Rates over no time (or a clock gone back) are none, as unknown ones.
    r.elapsed = std::isfinite(seconds) && seconds > 0 ? seconds : 0;
    Py_RETURN_NONE;
}

PyMethodDef methods[] = {
    {"next", next, METH_O,
     "next($self, elapsed, /)\n--\n\n"
     "A listing starts, elapsed seconds (None: not known) after the one before: a writer given the\n"
     "rates spells each flow's packets per second since that listing, and keeps its count for the next."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

bool rate(PyObject *self, std::uint64_t id, std::uint64_t packets, double &per_second) noexcept {
    Rates &r = rates_of(self);
    r.now->put(id, packets);
    std::uint64_t before;
    if (!r.elapsed || !r.before->get(id, before) || packets < before) return false;
    per_second = static_cast<double>(packets - before) / r.elapsed;
    return true;
}

bool failed(PyObject *self) noexcept { return rates_of(self).now->failed(); }

PyTypeObject *type() {
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void *>(make)},
        {Py_tp_dealloc, reinterpret_cast<void *>(dealloc)},
        {Py_tp_methods, methods},
        {Py_tp_doc, const_cast<char *>(
                        "flow_rates()\n"
                        "The packet counts of each listing's flows by flow id, for the next listing's rates:\n"
                        "a flow_text writer made with them spells each flow's packets per second since the\n"
                        "listing before (next()).")},
        {0, nullptr},
    };
    static PyTypeObject *made = nullptr;
    return heap_type::made(made, "_libfc_fields.flow_rates", sizeof(Rates), Py_TPFLAGS_DEFAULT, slots);
}

}  // namespace flow_rates
