// FC_IOCFlows___getitem__: an owned copy of one entry of a query result, so
// the script keeps it after the library reuses or frees the buffer. The copy
// is remembered like a constructed record, so delete_FC_FlowEntryIOC or the
// last owner frees it exactly once.

#include <cstdlib>
#include <cstring>

#include "flowcache/flow_method_arguments.hpp"
#include "flowcache/flowcache_query_methods.hpp"
#include "flowcache/flows_entries.hpp"
#include "runtime/allocations.hpp"
#include "runtime/pointer_object.hpp"
#include "runtime/trap.hpp"
#include "runtime/type_ids.hpp"

PyObject *FC_IOCFlows_copy_entry(PyObject *, PyObject *args) noexcept {
    constexpr const char *kMethod = "FC_IOCFlows___getitem__";
    PyObject *argv[2];
    if (!unpack_args<2>(args, kMethod, argv)) return nullptr;
    char *flows;
    int index;
    if (!flow_methods::record_argument(argv[0], ty::p_FC_IOCFlows, kMethod, "FC_IOCFlows *", &flows) ||
        !flow_methods::int_argument(argv[1], kMethod, 2, &index) ||
        !flow_methods::index_in_range(kMethod, index, flows_entry_count(flows)))
        return nullptr;
    void *copy = nullptr;
    auto duplicate = [flows, index, &copy] {
        copy = std::malloc(sizeof(FC_FlowEntryIOC));
        if (copy) std::memcpy(copy, flows_entry(flows, index), sizeof(FC_FlowEntryIOC));
    };
    if (trap::armed(duplicate)) {
        std::free(copy);
        return trap::raise_abandoned_call();
    }
    if (!copy) [[unlikely]]
        return PyErr_NoMemory();
    swig_type_info *entry_type = registry::types[ty::p_FC_FlowEntryIOC];
    allocations::remember(copy, entry_type);
    PyObject *result = pointer_object::make(copy, entry_type, pointer_object::kOwn);
    if (!result) [[unlikely]] {
        allocations::forget(copy, entry_type);
        std::free(copy);
    }
    return result;
}
