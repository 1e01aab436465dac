// Failure path of the flow records' index checks.

#include "flowcache/flow_method_arguments.hpp"

namespace flow_methods {

bool index_out_of_range(const char *method, int index, long long count) {
    if (count <= 0)
        PyErr_Format(PyExc_IndexError, "%s: index %d out of range (no entries)", method, index);
    else
        PyErr_Format(PyExc_IndexError, "%s: index %d out of range 0..%lld", method, index, count - 1);
    return false;
}

}  // namespace flow_methods
