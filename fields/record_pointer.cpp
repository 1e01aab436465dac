#include "fields/record_pointer.hpp"

namespace record_pointer {

PyTypeObject *type = nullptr;

void learn(PyObject *pointer) {
    if (type || !pointer || !pointer_object::is_pointer_object(pointer) ||
        PyType_HasFeature(Py_TYPE(pointer), Py_TPFLAGS_HEAPTYPE))
        return;
    type = Py_TYPE(pointer);
}

}  // namespace record_pointer
