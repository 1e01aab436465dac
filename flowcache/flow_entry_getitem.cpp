// FC_FlowEntryIOC___getitem__: a view of one of an entry's four action
// entities (all four slots exist whatever numActionEntities says).

#include <cstddef>

#include "flowcache/flow_method_arguments.hpp"
#include "flowcache/flowcache_query_methods.hpp"
#include "runtime/pointer_object.hpp"
#include "runtime/trap.hpp"
#include "runtime/type_ids.hpp"

PyObject *FC_FlowEntryIOC_action_entity(PyObject *, PyObject *args) noexcept {
    constexpr const char *kMethod = "FC_FlowEntryIOC___getitem__";
    constexpr int kSlots = sizeof(FC_FlowEntryIOC::actionEntity) / sizeof(FC_ActionEntityIOC);
    PyObject *argv[2];
    if (!unpack_args<2>(args, kMethod, argv)) return nullptr;
    char *entry;
    int index;
    if (!flow_methods::record_argument(argv[0], ty::p_FC_FlowEntryIOC, kMethod, "FC_FlowEntryIOC *", &entry) ||
        !flow_methods::int_argument(argv[1], kMethod, 2, &index) ||
        !flow_methods::index_in_range(kMethod, index, kSlots))
        return nullptr;
    char *entity = nullptr;
    auto locate = [entry, index, &entity] {
        entity = entry + offsetof(FC_FlowEntryIOC, actionEntity) + index * sizeof(FC_ActionEntityIOC);
    };
    if (trap::armed(locate)) return trap::raise_abandoned_call();
    return pointer_object::make(entity, registry::types[ty::p_FC_ActionEntityIOC], 0);
}
