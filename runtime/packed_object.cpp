// The SwigPyPacked type: a private copy of some bytes and their descriptor.

#include "packed_object.hpp"

#include "hex_text.hpp"

#include <cstdlib>
#include <cstring>

namespace packed_object {
namespace {

SwigPyPacked *as_packed(PyObject *op) { return reinterpret_cast<SwigPyPacked *>(op); }

// "_" and two hex digits per byte, or an empty text when that would not fit
// in 1024 bytes (the type name is then shown alone).
bool packed_text(const SwigPyPacked *self, char *out, size_t capacity) {
    if (2 * self->size + 2 > capacity) return false;
    *out = '_';
    *write_hex(out + 1, self->pack, self->size) = '\0';
    return true;
}

const char *name_of(const SwigPyPacked *self) {
    return self->descriptor ? self->descriptor->name : "";
}

PyObject *repr(PyObject *op) {
    char text[1024];
    SwigPyPacked *self = as_packed(op);
    if (packed_text(self, text, sizeof text))
        return PyUnicode_FromFormat("<Swig Packed at %s%s>", text, name_of(self));
    return PyUnicode_FromFormat("<Swig Packed %s>", name_of(self));
}

PyObject *str(PyObject *op) {
    char text[1024];
    SwigPyPacked *self = as_packed(op);
    if (packed_text(self, text, sizeof text))
        return PyUnicode_FromFormat("%s%s", text, name_of(self));
    return PyUnicode_FromString(name_of(self));
}

void dealloc(PyObject *op) {
    std::free(as_packed(op)->pack);
    Py_TYPE(op)->tp_free(op);
}

PyTypeObject type_object = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "SwigPyPacked",
    .tp_basicsize = sizeof(SwigPyPacked),
    .tp_dealloc = dealloc,
    .tp_repr = repr,
    .tp_str = str,
    .tp_getattro = PyObject_GenericGetAttr,
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_doc = "Swig object carries a C/C++ instance pointer",
};

bool ready = false;

}  // namespace

PyTypeObject *type() {
    if (!ready) {
        if (PyType_Ready(&type_object) < 0) return nullptr;
        ready = true;
    }
    return &type_object;
}

PyObject *make(const void *data, size_t size, swig_type_info *ty) {
    PyTypeObject *t = type();
    if (!t) return nullptr;
    void *copy = std::malloc(size ? size : 1);
    if (!copy) return PyErr_NoMemory();
    std::memcpy(copy, data, size);
    SwigPyPacked *self = PyObject_New(SwigPyPacked, t);
    if (!self) {
        std::free(copy);
        return nullptr;
    }
    self->pack = copy;
    self->descriptor = ty;
    self->size = size;
    return reinterpret_cast<PyObject *>(self);
}

}  // namespace packed_object
