// The sequence base type: len(), bounded indexing, slicing and iteration of
// the records that hold a counted run of items, in C. A record's SEQUENCE
// line names the element lines (fields/element_layouts.hpp) its items come
// from, so a flow dump walks its entries, action entities and ports without
// a Python frame per item.

#include "fields/sequence.hpp"

#include <climits>
#include <cstdint>
#include <cstring>

#include "fields/element_layouts.hpp"
#include "fields/heap_type.hpp"
#include "fields/record_base.hpp"
#include "fields/record_pointer.hpp"
#include "runtime/python_compat.hpp"
#include "runtime/registry.hpp"
#include "runtime/type_cache.hpp"
#include "runtime/variable_parts.hpp"

namespace sequence {

namespace {

// A class's run of items: its record's sequence line, with _libfc's item
// methods it names and where the class's instances keep their slots.
struct Run {
    PyObject *count_field;  // interned name of the count field, or None when every element is in use
    PyObject *iter_item;    // (record, index) -> the item in place
    PyObject *index_item;   // (record, index) -> the item indexing returns
    Py_ssize_t capacity;    // 0: the items follow the record in its buffer
    // Where iter_item finds its items, when they are views or values the
    // iterator can make itself; null otherwise.
    const element_layouts::Layout *iter_layout;
    Py_ssize_t this_offset;  // of the class's "this" slot; 0 when it has none
    Py_ssize_t holder_offset;  // of its "_holder" slot; 0 when it has none
};

// A class's record type and slots are fixed when the class is made.
TypeCache<Run, 64, false> runs;

PyObject *interned(const char *text, PyObject **cache) {
    if (!*cache) *cache = PyUnicode_InternFromString(text);
    return *cache;
}

// The sequence line of the record whose registered class is t or one of its
// bases; null when there is none.
const element_layouts::Sequence *sequence_line(PyTypeObject *t) {
    PyObject *mro = t->tp_mro;
    for (Py_ssize_t i = 0; mro && i < PyTuple_GET_SIZE(mro); ++i)
        for (const element_layouts::Sequence &s : element_layouts::sequences()) {
            const SwigPyClassInfo *info = registry::types[s.record_type]->class_info;
            if (info && info->cls == PyTuple_GET_ITEM(mro, i)) return &s;
        }
    return nullptr;
}

void release(const Run &run) {
    Py_DECREF(run.count_field);
    Py_DECREF(run.iter_item);
    Py_DECREF(run.index_item);
}

// The run of t, worked out when t is first met.
const Run *run_of(PyTypeObject *t) {
    if (const Run *known = runs.find(t)) return known;
    const element_layouts::Sequence *line = sequence_line(t);
    if (!line) {
        PyErr_Format(PyExc_TypeError, "%s records hold no counted run of items", t->tp_name);
        return nullptr;
    }
    PyObject *module = PyImport_ImportModule("_libfc");
    if (!module) return nullptr;
    PyObject *iter_item = PyObject_GetAttrString(module, line->iter->element.method);
    PyObject *index_item = iter_item ? PyObject_GetAttrString(module, line->index->element.method) : nullptr;
    Py_DECREF(module);
    if (!index_item) {
        Py_XDECREF(iter_item);
        return nullptr;
    }
    PyObject *count_field = line->count_field ? PyUnicode_InternFromString(line->count_field) : (Py_INCREF(Py_None), Py_None);
    if (!count_field) {
        Py_DECREF(iter_item);
        Py_DECREF(index_item);
        return nullptr;
    }
    Py_ssize_t this_offset = pointer_object::this_slot_offset(t);
    Run run{count_field,
            iter_item,
            index_item,
            static_cast<Py_ssize_t>(line->index->element.length),
            line->iter->in_place ? line->iter : nullptr,
            this_offset > 0 ? this_offset : 0,
            record_pointer::holder_offset(t)};
    return runs.store(t, run, release);
}

// Whether the record's object owns it (thisown), as the count of a run that
// follows the record depends on it.
int owns_record(PyObject *self) {
    static PyObject *name = nullptr;
    if (!interned("thisown", &name)) return -1;
    PyObject *value = PyObject_GetAttr(self, name);
    if (!value) return -1;
    int truth = PyObject_IsTrue(value);
    Py_DECREF(value);
    return truth;
}

// Items of the variable part the library stated when it handed out the
// buffer behind self; -1 when that is not known (a buffer from elsewhere,
// whose count field alone must be trusted).
Py_ssize_t reported_items(PyObject *self, Py_ssize_t this_offset) {
    if (this_offset <= 0) return -1;
    if (!record_pointer::type) record_pointer::learn_from(self, this_offset);
    SwigPyObject *p = record_pointer::in_slot(self, this_offset);
    if (!p || !record_pointer::type) return -1;
    std::uint32_t extent = pointer_object::known_extent(reinterpret_cast<PyObject *>(p), record_pointer::type);
    const variable_parts::Part *part = extent ? variable_parts::of(p->descriptor) : nullptr;
    return part ? static_cast<Py_ssize_t>(variable_parts::items_within(*part, extent)) : -1;
}

Py_ssize_t length_of(PyObject *self, const Run *run) {
    if (run->count_field == Py_None) return run->capacity;
    if (run->capacity == 0) {
        // Made here (new_X or from_bytes): only the header was allocated,
        // whatever its count says, so no item follows it.
        int owned = owns_record(self);
        if (owned) return owned < 0 ? -1 : 0;
    }
    PyObject *count = PyObject_GetAttr(self, run->count_field);
    if (!count) return -1;
    Py_ssize_t n = PyNumber_AsSsize_t(count, PyExc_OverflowError);
    Py_DECREF(count);
    if (n == -1 && PyErr_Occurred()) return -1;
    if (n < 0) {
        PyErr_SetString(PyExc_ValueError, "__len__() should return >= 0");
        return -1;
    }
    if (run->capacity) return n > run->capacity ? run->capacity : n;
    Py_ssize_t reported = reported_items(self, run->this_offset);
    return reported >= 0 && n > reported ? reported : n;
}

// item(self, i). The module's item methods take an argument tuple: they are
// called through their entry point, with *args reused from the previous
// item when nothing else kept it (a fresh one otherwise).
PyObject *item_at(PyObject *item, PyObject *self, Py_ssize_t i, PyObject **args = nullptr) {
    PyObject *index = PyLong_FromSsize_t(i);
    if (!index) return nullptr;
    if (args && PyCFunction_Check(item) && PyCFunction_GET_FLAGS(item) == METH_VARARGS) {
        if (*args && Py_REFCNT(*args) == 1) {
            PyObject *previous = PyTuple_GET_ITEM(*args, 1);
            PyTuple_SET_ITEM(*args, 1, index);
            Py_DECREF(previous);
        } else {
            Py_XDECREF(*args);
            *args = PyTuple_Pack(2, self, index);
            Py_DECREF(index);
            if (!*args) return nullptr;
        }
        return PyCFunction_GET_FUNCTION(item)(PyCFunction_GET_SELF(item), *args);
    }
    PyObject *argv[] = {self, index};
    PyObject *result = PyObject_Vectorcall(item, argv, 2, nullptr);
    Py_DECREF(index);
    return result;
}

Py_ssize_t length(PyObject *self) {
    const Run *run = run_of(Py_TYPE(self));
    return run ? length_of(self, run) : -1;
}

PyObject *index_error(PyObject *self, PyObject *index, Py_ssize_t n) {
    PyObject *name = PyObject_GetAttrString(reinterpret_cast<PyObject *>(Py_TYPE(self)), "__name__");
    if (!name) return nullptr;
    PyErr_Format(PyExc_IndexError, "%S index %S out of range (%zd items)", name, index, n);
    Py_DECREF(name);
    return nullptr;
}

PyObject *slice_items(PyObject *self, const Run *run, PyObject *slice, Py_ssize_t n) {
    Py_ssize_t start, stop, step;
    if (PySlice_Unpack(slice, &start, &stop, &step) < 0) return nullptr;
    Py_ssize_t count = PySlice_AdjustIndices(n, &start, &stop, step);
    PyObject *list = PyList_New(count);
    if (!list) return nullptr;
    PyObject *args = nullptr;
    for (Py_ssize_t k = 0, i = start; k < count; ++k, i += step) {
        PyObject *item = record_pointer::tie(item_at(run->index_item, self, i, &args), self, run->this_offset, run->holder_offset);
        if (!item) {
            Py_XDECREF(args);
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SET_ITEM(list, k, item);
    }
    Py_XDECREF(args);
    return list;
}

PyObject *subscript(PyObject *self, PyObject *index) {
    const Run *run = run_of(Py_TYPE(self));
    if (!run) return nullptr;
    Py_ssize_t n = length_of(self, run);
    if (n < 0) return nullptr;
    if (PySlice_Check(index)) return slice_items(self, run, index, n);
    PyObject *position = PyNumber_Index(index);
    if (!position) return nullptr;
    int overflow = 0;
    long long i = PyLong_AsLongLongAndOverflow(position, &overflow);
    if (i == -1 && PyErr_Occurred()) {
        Py_DECREF(position);
        return nullptr;
    }
    if (i < 0 && !overflow) i += n;
    if (overflow || i < 0 || i >= n) {
        index_error(self, position, n);
        Py_DECREF(position);
        return nullptr;
    }
    Py_DECREF(position);
    return record_pointer::tie(item_at(run->index_item, self, static_cast<Py_ssize_t>(i)), self, run->this_offset, run->holder_offset);
}

// The iterator: the length is taken when the first item is asked for, as a
// generator over range(len(record)) would.
struct Iterator {
    PyObject_HEAD
    PyObject *record;
    PyObject *item;
    PyObject *args;     // the argument tuple of the last item call, or null
    // Where the items lie, when the iterator may make them itself, and the
    // offset of the record's "this" slot (copied: the class's cached run
    // may be replaced while the iterator lives).
    const element_layouts::Layout *layout;
    Py_ssize_t this_offset;
    Py_ssize_t holder_offset;
    // The record whose counted items the item method has accepted: one it
    // did not allocate, so the count field alone bounds its items.
    const char *accepted;
    // For items that follow the record in its buffer: the pointer object
    // last found behind the record (held, so its address is not reused)
    // and the items its buffer was handed out with, -1 when not known.
    bool follows_record;
    PyObject *examined;
    Py_ssize_t reported;
    Py_ssize_t next;    // position of the next item
    Py_ssize_t left;    // items still to come; -1 until the first is asked for
    bool reversed;
};

PyTypeObject *iterator_type = nullptr;

// The record behind the iterated object when its item at the iterator's
// position can be made here exactly as the item method would make it, else
// null. The method takes its index as a C int, and refuses larger ones.
char *direct_record(const Iterator *it) {
    const element_layouts::Layout &l = *it->layout;
    char *record = record_pointer::address_in_slot(it->record, it->this_offset, l.element.record_type);
    if (!record || it->next > INT_MAX) return nullptr;
    if (l.count && record != it->accepted) return nullptr;
    long long held = element_layouts::items_in(l, record);
    return it->next < held ? record : nullptr;
}

// Whether the item at the iterator's position lies inside what the buffer
// behind the record was handed out with (IndexError raised when not): the
// count field may have been raised since, or another buffer put behind the
// record. Looked up again only when the pointer object changes.
bool within_reported(Iterator *it) {
    if (!it->follows_record) return true;
    PyObject *pointer = it->this_offset > 0 ? record_pointer::slot_value(it->record, it->this_offset) : nullptr;
    if (pointer != it->examined) {
        Py_XINCREF(pointer);
        Py_XSETREF(it->examined, pointer);
        it->reported = reported_items(it->record, it->this_offset);
    }
    if (it->reported < 0 || it->next < it->reported) return true;
    PyErr_Format(PyExc_IndexError, "index %zd past the %zd items the buffer was handed out with", it->next,
                 it->reported);
    return false;
}

// The item at the iterator's position. The item method is asked when the
// item cannot be made here; once it has accepted an item of a counted run,
// the rest of that record's run is read here while the record stays the same.
PyObject *direct_item(Iterator *it) {
    const element_layouts::Layout &l = *it->layout;
    char *record = direct_record(it);
    if (!record) {
        PyObject *item = item_at(it->item, it->record, it->next, &it->args);
        if (item && l.count)
            it->accepted = record_pointer::address_in_slot(it->record, it->this_offset, l.element.record_type);
        return item;
    }
    char *at = element::element_at(l.element, record, static_cast<int>(it->next));
    if (l.value) return l.value(at);
    return record_pointer::view(at, registry::types[l.view_type]);
}

PyObject *iterator_next(PyObject *op) {
    auto *it = reinterpret_cast<Iterator *>(op);
    if (!it->record) return nullptr;
    if (it->left < 0) {
        Py_ssize_t n = length(it->record);
        if (n < 0) {
            Py_CLEAR(it->record);
            return nullptr;
        }
        it->left = n;
        it->next = it->reversed ? n - 1 : 0;
    }
    if (it->left == 0) {
        Py_CLEAR(it->record);
        return nullptr;
    }
    PyObject *item = nullptr;
    if (within_reported(it))
        item = it->layout ? direct_item(it) : item_at(it->item, it->record, it->next, &it->args);
    if (!it->layout || !it->layout->value) item = record_pointer::tie(item, it->record, it->this_offset, it->holder_offset);
    if (!item) {
        Py_CLEAR(it->record);
        return nullptr;
    }
    --it->left;
    it->next += it->reversed ? -1 : 1;
    return item;
}

int iterator_traverse(PyObject *op, visitproc visit, void *arg) {
    auto *it = reinterpret_cast<Iterator *>(op);
    Py_VISIT(it->record);
    Py_VISIT(it->item);
    Py_VISIT(it->args);
    Py_VISIT(it->examined);
    return 0;
}

void iterator_dealloc(PyObject *op) {
    auto *it = reinterpret_cast<Iterator *>(op);
    PyTypeObject *tp = Py_TYPE(op);
    PyObject_GC_UnTrack(op);
    Py_CLEAR(it->record);
    Py_CLEAR(it->item);
    Py_CLEAR(it->args);
    Py_CLEAR(it->examined);
    PyObject_GC_Del(op);
    Py_DECREF(tp);
}

PyObject *make_iterator(PyObject *self, bool reversed) {
    const Run *run = run_of(Py_TYPE(self));
    if (!run) return nullptr;
    auto *it = PyObject_GC_New(Iterator, iterator_type);
    if (!it) return nullptr;
    Py_INCREF(self);
    Py_INCREF(run->iter_item);
    it->record = self;
    it->item = run->iter_item;
    it->args = nullptr;
    it->layout = run->this_offset ? run->iter_layout : nullptr;
    it->this_offset = run->this_offset;
    it->holder_offset = run->holder_offset;
    if (it->layout && !record_pointer::type)
        record_pointer::learn_from(self, run->this_offset);
    it->accepted = nullptr;
    it->follows_record = run->count_field != Py_None && run->capacity == 0;
    it->examined = nullptr;
    it->reported = -1;
    it->next = 0;
    it->left = -1;
    it->reversed = reversed;
    PyObject_GC_Track(reinterpret_cast<PyObject *>(it));
    return reinterpret_cast<PyObject *>(it);
}

PyObject *iterate(PyObject *self) { return make_iterator(self, false); }

PyObject *reversed_items(PyObject *self, PyObject *) { return make_iterator(self, true); }

PyTypeObject *make_iterator_type() {
    static PyType_Slot slots[] = {
        {Py_tp_iter, reinterpret_cast<void *>(PyObject_SelfIter)},
        {Py_tp_iternext, reinterpret_cast<void *>(iterator_next)},
        {Py_tp_traverse, reinterpret_cast<void *>(iterator_traverse)},
        {Py_tp_dealloc, reinterpret_cast<void *>(iterator_dealloc)},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "_libfc_fields.sequence_iterator", sizeof(Iterator), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, slots,
    };
    return reinterpret_cast<PyTypeObject *>(PyType_FromSpec(&spec));
}

}  // namespace

PyTypeObject *type() {
    if (!iterator_type && !(iterator_type = make_iterator_type())) return nullptr;
    static PyMethodDef methods[] = {
        {"__reversed__", reversed_items, METH_NOARGS, "the items, last first"},
        {nullptr, nullptr, 0, nullptr},
    };
    static PyType_Slot slots[] = {
        {Py_sq_length, reinterpret_cast<void *>(length)},
        {Py_mp_length, reinterpret_cast<void *>(length)},
        {Py_mp_subscript, reinterpret_cast<void *>(subscript)},
        {Py_tp_iter, reinterpret_cast<void *>(iterate)},
        // Mixed in before the record base, whose assignment the classes keep.
        {Py_tp_setattro, reinterpret_cast<void *>(record_base::setattro)},
        {Py_tp_methods, methods},
        {Py_tp_doc, const_cast<char *>("len(), bounded indexing and iteration of a counted run of items")},
        {0, nullptr},
    };
    static PyTypeObject *made = nullptr;
    return heap_type::made(made, "_libfc_fields.sequence",
                           sizeof(PyObject), Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, slots);
}

}  // namespace sequence
