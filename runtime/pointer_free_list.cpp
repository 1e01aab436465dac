// The allocation entries of the pointer object type.

#include <cstring>

#include "pointer_object_parts.hpp"

namespace pointer_object {

namespace {

// The last pointer objects to die are kept for the next ones: a walk over
// flows makes and drops one with every view, and the companion's module
// makes them through this type's allocation entry too. Kept objects are
// plain memory to the interpreter; a sanitized build frees each at once so
// that a use after free stays visible.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kKeptObjects = 0;
#else
constexpr int kKeptObjects = 64;
#endif
void *kept_objects[kKeptObjects ? kKeptObjects : 1];
int kept_count = 0;

}  // namespace

PyObject *allocate(PyTypeObject *t, Py_ssize_t) {
    void *memory = kept_count ? kept_objects[--kept_count] : PyObject_Malloc(sizeof(SwigPyObject));
    if (!memory) return PyErr_NoMemory();
    std::memset(memory, 0, sizeof(SwigPyObject));
    return PyObject_Init(static_cast<PyObject *>(memory), t);
}

void release(void *memory) {
    if (kept_count < kKeptObjects)
        kept_objects[kept_count++] = memory;
    else
        PyObject_Free(memory);
}

}  // namespace pointer_object
