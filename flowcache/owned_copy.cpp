// Owned copies of container elements: allocated here, remembered as records
// of this module, returned owning.

#include "flowcache/owned_copy.hpp"

#include <cstdlib>
#include <cstring>

#include "runtime/allocations.hpp"
#include "runtime/pointer_object.hpp"
#include "runtime/registry.hpp"
#include "runtime/trap.hpp"

namespace flowcache {

PyObject *owned_copy(const char *source, std::size_t size, int type) {
    void *copy = nullptr;
    auto duplicate = [&copy, source, size] {
        copy = std::malloc(size);
        if (copy) std::memcpy(copy, source, size);
    };
    if (trap::armed(duplicate)) {
        std::free(copy);
        return trap::raise_abandoned_call();
    }
    if (!copy) return PyErr_NoMemory();
    swig_type_info *ty = registry::types[type];
    allocations::remember(copy, ty);
    PyObject *result = pointer_object::make(copy, ty, pointer_object::kOwn);
    if (!result) {
        allocations::forget(copy, ty);
        std::free(copy);
    }
    return result;
}

}  // namespace flowcache
