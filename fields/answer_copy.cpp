// The owned copy of a query answer's flows (answer_copy.hpp).
#include "fields/answer_copy.hpp"

#include <cstdlib>
#include <cstring>

#include "fields/heap_type.hpp"

namespace answer_copy {

namespace {

void dealloc(PyObject *self) {
    PyTypeObject *t = Py_TYPE(self);
    std::free(reinterpret_cast<Copy *>(self)->bytes);
    t->tp_free(self);
    Py_DECREF(t);
}

Py_ssize_t length(PyObject *self) { return reinterpret_cast<Copy *>(self)->count; }

// answer_copy(decoder, answer, rest, beside)
PyObject *make(PyTypeObject *, PyObject *args, PyObject *kwargs) {
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
    Builder builder;
    Py_ssize_t count = each_flow(decoder, answer, rest, [&](const FlowEntry &f) { return builder.add(f); });
    if (count < 0) return PyErr_Occurred() ? nullptr : PyErr_NoMemory();  // else: no room for a flow
    return builder.made(beside != 0);
}

}  // namespace

bool Builder::add(const FlowEntry &f) {
    char *to = bytes_.room(kHeadBytes + entities_size(f));
    if (!to) return false;
    // The head's entity count is kept as the entry states it: a reader
    // clamps it as it clamps an answer's. The cache's statistics that
    // every entry carries are no flow's, and read by no reader of copies:
    // neither read nor written, they are 10 of the 15 cache lines an
    // entry's head takes (their bytes in a copy are whatever the buffer
    // held: a copy never leaves this module's readers).
    constexpr std::size_t kStatsAt = offsetof(Entry, stats), kStatsEnd = kStatsAt + sizeof(Entry::stats);
    std::memcpy(to, f.entry, kStatsAt);
    std::memcpy(to + kStatsEnd, f.entry + kStatsEnd, kHeadBytes - kStatsEnd);
    put_entities(to + kHeadBytes, f);
    ++count_;
    return true;
}

PyObject *Builder::made(bool beside) {
    if (bytes_.failed()) return PyErr_NoMemory();
    PyTypeObject *t = type();
    auto *copy = t ? reinterpret_cast<Copy *>(t->tp_alloc(t, 0)) : nullptr;
    if (!copy) return nullptr;
    copy->count = count_;
    copy->size = bytes_.size();
    copy->bytes = bytes_.release();
    copy->beside = beside;
    return reinterpret_cast<PyObject *>(copy);
}

bool rest_fits(PyObject *answer, PyObject *rest) noexcept {
    if (!(is_copy(answer) || flow_hold::is_hold(answer)) || PyTuple_GET_SIZE(rest) == 0) return true;
    PyErr_SetString(PyExc_ValueError, "a copied answer or a hold holds only the flows outside the rest they were made with");
    return false;
}

PyTypeObject *type() {
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void *>(make)},
        {Py_tp_dealloc, reinterpret_cast<void *>(dealloc)},
        {Py_sq_length, reinterpret_cast<void *>(length)},
        {Py_tp_doc, const_cast<char *>(
                        "answer_copy(decoder, answer, rest, beside=False)\n"
                        "The flows of a query answer outside rest, copied out of the library's buffer (checked\n"
                        "with decoder, a flow_rows): the page writers, top_page, top_flows and the decoder read\n"
                        "it as they read the answer; one made beside is rendered on the worker thread, its page\n"
                        "taken later.")},
        {0, nullptr},
    };
    static PyTypeObject *made = nullptr;
    return heap_type::made(made, "_libfc_fields.answer_copy", sizeof(Copy), Py_TPFLAGS_DEFAULT, slots);
}

}  // namespace answer_copy
