// FC_ActionEntityIOC___getitem__: one destination port of an action entity
// (any of the 4096 slots; dstPortsNum tells how many are in use).

#include <cstddef>
#include <cstring>

#include "flowcache/flow_method_arguments.hpp"
#include "flowcache/flowcache_query_methods.hpp"
#include "runtime/trap.hpp"
#include "runtime/type_ids.hpp"

PyObject *FC_ActionEntityIOC_dport(PyObject *, PyObject *args) noexcept {
    constexpr const char *kMethod = "FC_ActionEntityIOC___getitem__";
    constexpr int kSlots = sizeof(FC_ActionEntityIOC::dport) / sizeof(hyp_SwitchPortID);
    PyObject *argv[2];
    if (!unpack_args<2>(args, kMethod, argv)) return nullptr;
    char *entity;
    int index;
    if (!flow_methods::record_argument(argv[0], ty::p_FC_ActionEntityIOC, kMethod, "FC_ActionEntityIOC *", &entity) ||
        !flow_methods::int_argument(argv[1], kMethod, 2, &index) ||
        !flow_methods::index_in_range(kMethod, index, kSlots))
        return nullptr;
    hyp_SwitchPortID port = 0;
    auto read = [entity, index, &port] {
        // The record is packed: the ports are not 4-byte aligned.
        std::memcpy(&port, entity + offsetof(FC_ActionEntityIOC, dport) + index * sizeof port, sizeof port);
    };
    if (trap::armed(read)) return trap::raise_abandoned_call();
    return PyLong_FromUnsignedLong(port);
}
