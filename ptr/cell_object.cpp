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
    PyObject *kept;     // a strong reference the pointer addresses, or null
};

Cell *as_cell_struct(PyObject *op) { return reinterpret_cast<Cell *>(op); }

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

PyObject *new_cell(void *address, swig_type_info *ty, void *memory, PyObject *kept) {
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
    PyObject *cell = new_cell(memory, ty, memory, nullptr);
    if (!cell) std::free(memory);
    return cell;
}

PyObject *make_reference(PyObject *target, swig_type_info *ty) {
    return new_cell(target, ty, nullptr, target);
}

PyObject *as_cell(PyObject *obj) {
    if (Py_TYPE(obj) != &type_object || !as_cell_struct(obj)->pointer) return nullptr;
    return obj;
}

void release(PyObject *op) {
    Cell *self = as_cell_struct(op);
    std::free(self->memory);
    self->memory = nullptr;
    Py_CLEAR(self->pointer);
    Py_CLEAR(self->kept);
}

}  // namespace cells
