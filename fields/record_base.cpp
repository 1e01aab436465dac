// The record classes' C base: assignment that refuses names which are no
// field with a message naming the nearest one (see record_base.hpp).

#include "fields/record_base.hpp"

#include "fields/heap_type.hpp"
#include "runtime/python_compat.hpp"

namespace record_base {

int setattro(PyObject *obj, PyObject *name, PyObject *value) noexcept {
    int rc = PyObject_GenericSetAttr(obj, name, value);
    if (rc == 0 || !PyUnicode_Check(name) || !PyErr_ExceptionMatches(PyExc_AttributeError)) return rc;
    // A name the class has (a read-only field, a method) keeps the refusal
    // the interpreter worded for it.
    if (compat::class_attribute(Py_TYPE(obj), name)) return rc;
    static PyObject *hook_name = nullptr;
    if (!hook_name && !(hook_name = PyUnicode_InternFromString("_unknown_attribute_"))) return -1;
    PyObject *exc_type, *exc_value, *exc_tb;
    PyErr_Fetch(&exc_type, &exc_value, &exc_tb);
    PyObject *hook = PyObject_GetAttr(reinterpret_cast<PyObject *>(Py_TYPE(obj)), hook_name);
    PyObject *result = hook ? PyObject_CallFunctionObjArgs(hook, obj, name, nullptr) : nullptr;
    Py_XDECREF(hook);
    if (result || (!hook && PyErr_ExceptionMatches(PyExc_AttributeError))) {
        // No hook, or one that raised nothing: the interpreter's refusal stands.
        Py_XDECREF(result);
        PyErr_Clear();
        PyErr_Restore(exc_type, exc_value, exc_tb);
        return -1;
    }
    Py_XDECREF(exc_type);
    Py_XDECREF(exc_value);
    Py_XDECREF(exc_tb);
    return -1;
}

PyTypeObject *type() {
    static PyType_Slot slots[] = {
        {Py_tp_setattro, reinterpret_cast<void *>(setattro)},
        {Py_tp_doc, const_cast<char *>("base of the record classes: assignment to fields only")},
        {0, nullptr},
    };
    static PyTypeObject *made = nullptr;
    return heap_type::made(made, "_libfc_fields.record_base",
                           sizeof(PyObject), Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, slots);
}

}  // namespace record_base
