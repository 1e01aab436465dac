// The keep-alive ring of "this" walks.

#include "pointer_object_parts.hpp"

namespace pointer_object {

namespace {

// Objects met on a "this" walk that nothing else holds (a property or
// __getattr__ that builds a new object on each read) are kept alive here, so
// the pointer object, and a record it owns, outlive the call that converted
// them. The oldest is released when the ring is full; no call converts
// anywhere near as many arguments as the ring holds.
constexpr int kKeptAlive = 32;
PyObject *kept_alive[kKeptAlive];
int kept_next = 0;

}  // namespace

void keep_alive(PyObject *obj) {
    PyObject *oldest = kept_alive[kept_next];
    kept_alive[kept_next] = obj;
    kept_next = (kept_next + 1) % kKeptAlive;
    Py_XDECREF(oldest);  // may run arbitrary code: the ring is consistent by now
}

}  // namespace pointer_object
