// The swigvarlink type behind "cvar" and the one variable it carries.

#include "cvar.hpp"

#include <cstdlib>
#include <cstring>

extern "C" LIBFC_EXPORT const int hyp_ModuleCurrentID = 0;

namespace cvar {
namespace {

struct Entry {
    char *name;
    Getter get;
    Setter set;
    Entry *next;
};

struct VarLink {
    PyObject_HEAD
    Entry *vars;
};
static_assert(sizeof(VarLink) == 24);

VarLink *as_link(PyObject *op) { return reinterpret_cast<VarLink *>(op); }

Entry *find(PyObject *op, const char *name) {
    for (Entry *e = as_link(op)->vars; e; e = e->next)
        if (std::strcmp(e->name, name) == 0) return e;
    return nullptr;
}

PyObject *get_attr(PyObject *op, char *name) {
    Entry *e = find(op, name);
    PyObject *result = e ? e->get() : nullptr;
    if (!result && !PyErr_Occurred()) PyErr_SetString(PyExc_NameError, "Unknown C global variable");
    return result;
}

// Assignment and deletion (value null). A variable's setter answers 0 or 1
// (failure); the interpreter's slot convention for failure is -1, which
// every version reads as an error with the exception set.
int set_attr(PyObject *op, char *name, PyObject *value) {
    Entry *e = find(op, name);
    if (e && e->set(value) == 0) return 0;
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_NameError, "Unknown C global variable");
    return -1;
}

PyObject *repr(PyObject *) { return PyUnicode_InternFromString("<Swig global variables>"); }

PyObject *str(PyObject *op) {
    PyObject *text = PyUnicode_FromString("(");
    for (Entry *e = as_link(op)->vars; e && text; e = e->next) {
        PyObject *piece = PyUnicode_FromFormat(e->next ? "%s, " : "%s", e->name);
        PyObject *joined = piece ? PyUnicode_Concat(text, piece) : nullptr;
        Py_XDECREF(piece);
        Py_SETREF(text, joined);
    }
    if (!text) return nullptr;
    PyObject *close = PyUnicode_FromString(")");
    PyObject *joined = close ? PyUnicode_Concat(text, close) : nullptr;
    Py_XDECREF(close);
    Py_DECREF(text);
    return joined;
}

void dealloc(PyObject *op) {
    Entry *e = as_link(op)->vars;
    while (e) {
        Entry *next = e->next;
        std::free(e->name);
        std::free(e);
        e = next;
    }
    Py_TYPE(op)->tp_free(op);
}

PyTypeObject type_object = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "swigvarlink",
    .tp_basicsize = sizeof(VarLink),
    .tp_dealloc = dealloc,
    .tp_getattr = get_attr,
    .tp_setattr = set_attr,
    .tp_repr = repr,
    .tp_str = str,
    .tp_flags = 0,
    .tp_doc = "Swig var link object",
};

PyObject *instance = nullptr;

PyObject *get_module_current_id() { return PyLong_FromLong(hyp_ModuleCurrentID); }

int set_module_current_id(PyObject *) {
    PyErr_SetString(PyExc_AttributeError, "Variable hyp_ModuleCurrentID is read-only.");
    return 1;
}

}  // namespace

PyObject *object() {
    if (!instance) {
        if (!PyType_HasFeature(&type_object, Py_TPFLAGS_READY) && PyType_Ready(&type_object) < 0) return nullptr;
        VarLink *link = PyObject_New(VarLink, &type_object);
        if (!link) return nullptr;
        link->vars = nullptr;
        instance = reinterpret_cast<PyObject *>(link);
    }
    return instance;
}

bool add(const char *name, Getter get, Setter set) {
    PyObject *op = object();
    if (!op) return false;
    auto *entry = static_cast<Entry *>(std::malloc(sizeof(Entry)));
    char *copy = static_cast<char *>(std::malloc(std::strlen(name) + 1));
    if (!entry || !copy) {
        std::free(entry);
        std::free(copy);
        return false;
    }
    std::strcpy(copy, name);
    *entry = {copy, get, set, as_link(op)->vars};
    as_link(op)->vars = entry;
    return true;
}

bool add_module_current_id() {
    return add("hyp_ModuleCurrentID", get_module_current_id, set_module_current_id);
}

}  // namespace cvar
