// Conversion and bounds check of the indexing methods' index argument.

#include "flowcache/index_argument.hpp"

#include "runtime/convert.hpp"
#include "runtime/errors.hpp"

namespace flowcache {

bool index_argument(PyObject *obj, const char *method, int *out) {
    if (int rc = convert::to_integer(obj, out)) {
        errors::argument(rc, method, 2, "int");
        return false;
    }
    return true;
}

bool index_out_of_range(const char *method, int index, long long count) {
    if (count <= 0)
        PyErr_Format(PyExc_IndexError, "%s: index %d out of range (no entries)", method, index);
    else
        PyErr_Format(PyExc_IndexError, "%s: index %d out of range 0..%lld", method, index, count - 1);
    return false;
}

}  // namespace flowcache
