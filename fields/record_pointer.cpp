#include "fields/record_pointer.hpp"

namespace record_pointer {

PyTypeObject *type = nullptr;

void learn_from(PyObject *obj, Py_ssize_t this_offset) {
    PyObject *pointer = slot_value(obj, this_offset);
    if (type || !pointer || !pointer_object::is_pointer_object(pointer) ||
        PyType_HasFeature(Py_TYPE(pointer), Py_TPFLAGS_HEAPTYPE))
        return;
    type = Py_TYPE(pointer);
}

}  // namespace record_pointer
