// FC_IOCFlows_get_flow: a view of one entry inside a query result; it lives
// only as long as the buffer does.

#include "flowcache/flow_method_arguments.hpp"
#include "flowcache/flowcache_query_methods.hpp"
#include "flowcache/flows_entries.hpp"
#include "runtime/pointer_object.hpp"
#include "runtime/trap.hpp"
#include "runtime/type_ids.hpp"

PyObject *FC_IOCFlows_entry_view(PyObject *, PyObject *args) noexcept {
    constexpr const char *kMethod = "FC_IOCFlows_get_flow";
    PyObject *argv[2];
    if (!unpack_args<2>(args, kMethod, argv)) return nullptr;
    char *flows;
    int index;
    if (!flow_methods::record_argument(argv[0], ty::p_FC_IOCFlows, kMethod, "FC_IOCFlows *", &flows) ||
        !flow_methods::int_argument(argv[1], kMethod, 2, &index) ||
        !flow_methods::index_in_range(kMethod, index, flows_entry_count(flows)))
        return nullptr;
    char *entry = nullptr;
    auto locate = [flows, index, &entry] { entry = flows_entry(flows, index); };
    if (trap::armed(locate)) return trap::raise_abandoned_call();
    return pointer_object::make(entry, registry::types[ty::p_FC_FlowEntryIOC], 0);
}
