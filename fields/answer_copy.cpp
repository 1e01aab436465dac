// The owned copy of a query answer's flows (answer_copy.hpp).
#include "fields/answer_copy.hpp"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace answer_copy {

namespace {

// The copy's bytes, grown with realloc: the build has no exceptions, so a
// failed allocation is a state the maker turns into MemoryError.
class Bytes {
  public:
    Bytes() = default;
    Bytes(const Bytes &) = delete;
    Bytes &operator=(const Bytes &) = delete;
    ~Bytes() { std::free(data_); }

    bool reserve(std::size_t more) {
        if (size_ + more <= capacity_) return true;
        std::size_t capacity = capacity_ ? 2 * capacity_ : 256 * 1024;
        while (capacity < size_ + more) capacity *= 2;
        char *grown = static_cast<char *>(std::realloc(data_, capacity));
        if (!grown) return false;
        data_ = grown;
        capacity_ = capacity;
        return true;
    }
    // Room reserved before.
    void put(const void *from, std::size_t n) {
        std::memcpy(data_ + size_, from, n);
        size_ += n;
    }
    void zeros(std::size_t n) {
        std::memset(data_ + size_, 0, n);
        size_ += n;
    }
    std::size_t size() const { return size_; }
    char *release() { return std::exchange(data_, nullptr); }

  private:
    char *data_ = nullptr;
    std::size_t size_ = 0, capacity_ = 0;
};

constexpr std::size_t kStatsAt = offsetof(Entry, stats), kStatsEnd = kStatsAt + sizeof(Entry::stats);

bool put_flow(Bytes &into, const FlowEntry &f) {
    std::size_t size = kHeadBytes;
    for (unsigned k = 0; k < f.entities; ++k)
        size += sizeof(BitMap) + sizeof(PortCount) + f.port_count[k] * sizeof(Port);
    if (!into.reserve(size)) return false;
    // The head's entity count is kept as the entry states it: a reader
    // clamps it as it clamps an answer's. The cache's statistics that
    // every entry carries are no flow's, and read by no page writer: left
    // out, they are 10 of the 15 cache lines an entry's head takes.
    into.put(f.entry, kStatsAt);
    into.zeros(kStatsEnd - kStatsAt);
    into.put(f.entry + kStatsEnd, kHeadBytes - kStatsEnd);
    for (unsigned k = 0; k < f.entities; ++k) {
        auto ports = static_cast<PortCount>(f.port_count[k]);
        into.put(&f.actions[k], sizeof(BitMap));
        into.put(&ports, sizeof ports);
        into.put(f.ports[k], f.port_count[k] * sizeof(Port));
    }
    return true;
}

void dealloc(PyObject *self) {
    PyTypeObject *t = Py_TYPE(self);
    std::free(reinterpret_cast<Copy *>(self)->bytes);
    t->tp_free(self);
    Py_DECREF(t);
}

Py_ssize_t length(PyObject *self) { return reinterpret_cast<Copy *>(self)->count; }

// answer_copy(decoder, answer, rest, beside)
PyObject *make(PyTypeObject *t, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"decoder", "answer", "rest", "beside", nullptr};
    PyObject *decoder, *answer, *rest;
    int beside = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O!OO!|p:answer_copy", const_cast<char **>(keywords),
                                     flow_rows::type(), &decoder, &answer, &PyTuple_Type, &rest, &beside))
        return nullptr;
    if (!walk_rest::valid(rest)) {
        PyErr_SetString(PyExc_TypeError, "answer_copy: rest is a tuple of (key index, values) pairs");
        return nullptr;
    }
    if (is_copy(answer)) {
        PyErr_SetString(PyExc_TypeError, "answer_copy: a query answer is copied, not a copy");
        return nullptr;
    }
    Bytes bytes;
    bool full = false;
    Py_ssize_t count = each_flow(decoder, answer, rest, [&](const FlowEntry &f) {
        return put_flow(bytes, f) || !(full = true);
    });
    if (count < 0) return full ? PyErr_NoMemory() : nullptr;
    auto *made = reinterpret_cast<Copy *>(t->tp_alloc(t, 0));
    if (!made) return nullptr;
    made->count = count;
    made->size = bytes.size();
    made->bytes = bytes.release();
    made->beside = beside != 0;
    return reinterpret_cast<PyObject *>(made);
}

}  // namespace

bool rest_fits(PyObject *answer, PyObject *rest) noexcept {
    if (!is_copy(answer) || PyTuple_GET_SIZE(rest) == 0) return true;
    PyErr_SetString(PyExc_ValueError, "a copied answer holds only the flows outside the rest it was copied with");
    return false;
}

PyTypeObject *type() {
    static PyTypeObject *made = nullptr;
    if (made) return made;
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void *>(make)},
        {Py_tp_dealloc, reinterpret_cast<void *>(dealloc)},
        {Py_sq_length, reinterpret_cast<void *>(length)},
        {Py_tp_doc, const_cast<char *>(
                        "answer_copy(decoder, answer, rest, beside=False)\n"
                        "The flows of a query answer outside rest, copied out of the library's buffer (checked\n"
                        "with decoder, a flow_rows): the page writers and top_page read it as they read the\n"
                        "answer; one made beside is rendered on a thread of its own, its result taken later.")},
        {0, nullptr},
    };
    static PyType_Spec spec = {"_libfc_fields.answer_copy", sizeof(Copy), 0, Py_TPFLAGS_DEFAULT, slots};
    made = reinterpret_cast<PyTypeObject *>(PyType_FromSpec(&spec));
    return made;
}

}  // namespace answer_copy
