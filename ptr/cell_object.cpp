// The cell type of _libfc_ptr: memory the cell owns (or an object it keeps
// alive) and the non-owning pointer object other modules read as "this".

#include "cell_object.hpp"

#include <cstdlib>

#include "runtime/pointer_object.hpp"

namespace cells {

namespace {

struct Cell {
    PyObject_HEAD
    PyObject *pointer;  // a bare, non-owning pointer object; null once released
    void *memory;       // owned, or null
    std::size_t size;   // bytes of memory; 0 for a reference cell (no bytes of its own)
    PyObject *kept;     // a strong reference the pointer addresses, or null
};

Cell *as_cell_struct(PyObject *op) { return reinterpret_cast<Cell *>(op); }

// The objects live reference cells address. Few are alive at a time (one per
// walk in progress), so a small array scanned from the end will do.
PyObject **live_references = nullptr;
Py_ssize_t live_count = 0;
Py_ssize_t live_capacity = 0;

bool remember_reference(PyObject *target) {
    if (live_count == live_capacity) {
        Py_ssize_t capacity = live_capacity ? 2 * live_capacity : 8;
        auto *grown = static_cast<PyObject **>(PyMem_Realloc(live_references, capacity * sizeof(PyObject *)));
        if (!grown) return false;
        live_references = grown;
        live_capacity = capacity;
    }
    live_references[live_count++] = target;
    return true;
}

void forget_reference(PyObject *target) {
    for (Py_ssize_t i = live_count; i-- > 0;)
        if (live_references[i] == target) {
            live_references[i] = live_references[--live_count];
            return;
        }
}

void dealloc(PyObject *op) {
    release(op);
    PyObject_Free(op);
}

PyObject *get_this(PyObject *op, void *) {
    Cell *self = as_cell_struct(op);
    if (!self->pointer) {
        PyErr_SetString(PyExc_AttributeError, "this cell was deleted");
        return nullptr;
    }
    Py_INCREF(self->pointer);
    return self->pointer;
}

PyObject *repr(PyObject *op) {
    Cell *self = as_cell_struct(op);
    if (!self->pointer) return PyUnicode_FromString("<deleted cell>");
    return PyUnicode_FromFormat("<cell %R>", self->pointer);
}

PyGetSetDef getset[] = {
    {"this", get_this, nullptr, "the pointer object other modules convert", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject type_object = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "_libfc_ptr.cell",
    .tp_basicsize = sizeof(Cell),
    .tp_dealloc = dealloc,
    .tp_repr = repr,
    .tp_getattro = PyObject_GenericGetAttr,
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_doc = "C memory that a library writes an output into, freed with this object",
    .tp_getset = getset,
};

PyObject *new_cell(void *address, swig_type_info *ty, void *memory, std::size_t size, PyObject *kept) {
    PyTypeObject *t = type();
    if (!t) return nullptr;
    PyObject *pointer = pointer_object::make(address, ty, pointer_object::kBare);
    if (!pointer) return nullptr;
    Cell *self = PyObject_New(Cell, t);
    if (!self) {
        Py_DECREF(pointer);
        return nullptr;
    }
    self->pointer = pointer;
    self->memory = memory;
    self->size = size;
    self->kept = kept;
    Py_XINCREF(kept);
    return reinterpret_cast<PyObject *>(self);
}

}  // namespace

PyTypeObject *type() {
    static bool ready = false;
    if (!ready) {
        if (PyType_Ready(&type_object) < 0) return nullptr;
        ready = true;
    }
    return &type_object;
}

PyObject *make_block(std::size_t size, swig_type_info *ty) {
    void *memory = std::calloc(1, size);
    if (!memory) return PyErr_NoMemory();
    PyObject *cell = new_cell(memory, ty, memory, size, nullptr);
    if (!cell) std::free(memory);
    return cell;
}

PyObject *make_reference(PyObject *target, swig_type_info *ty) {
    if (!remember_reference(target)) return PyErr_NoMemory();
    PyObject *cell = new_cell(target, ty, nullptr, 0, target);
    if (!cell) forget_reference(target);
    return cell;
}

bool is_live_reference(const void *address) {
    for (Py_ssize_t i = live_count; i-- > 0;)
        if (live_references[i] == address) return true;
    return false;
}

PyObject *as_cell(PyObject *obj) {
    if (Py_TYPE(obj) != &type_object || !as_cell_struct(obj)->pointer) return nullptr;
    return obj;
}

std::size_t size(PyObject *cell) { return as_cell_struct(cell)->size; }

void release(PyObject *op) {
    Cell *self = as_cell_struct(op);
    std::free(self->memory);
    self->memory = nullptr;
    self->size = 0;
    Py_CLEAR(self->pointer);
    if (self->kept) forget_reference(self->kept);
    Py_CLEAR(self->kept);
}

}  // namespace cells
