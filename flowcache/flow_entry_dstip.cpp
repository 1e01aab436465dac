// FC_FlowEntryIOC_get_dstip_entry: the destination address of an entry's key,
// from the union member the caller's isV6 names (the two members' dip fields
// lie at different places).

#include <cstddef>

#include "flowcache/flow_method_arguments.hpp"
#include "flowcache/flowcache_query_methods.hpp"
#include "flowcache/ip_address_text.hpp"
#include "runtime/type_ids.hpp"

PyObject *FC_FlowEntryIOC_dstip_text(PyObject *, PyObject *args) noexcept {
    constexpr const char *kMethod = "FC_FlowEntryIOC_get_dstip_entry";
    PyObject *argv[2];
    if (!unpack_args<2>(args, kMethod, argv)) return nullptr;
    char *entry;
    int is_v6;
    if (!flow_methods::record_argument(argv[0], ty::p_FC_FlowEntryIOC, kMethod, "FC_FlowEntryIOC *", &entry) ||
        !flow_methods::int_argument(argv[1], kMethod, 2, &is_v6))
        return nullptr;
    constexpr std::size_t key = offsetof(FC_FlowEntryIOC, fkey) + offsetof(FC_FlowKey, ipKey);
    constexpr std::size_t v4 = key + offsetof(FC_FlowKey_ipKey, ipv4Key.dip);
    constexpr std::size_t v6 = key + offsetof(FC_FlowKey_ipKey, ipv6Key.dip);
    return ip_address_text(entry + (is_v6 ? v6 : v4), is_v6 != 0);
}
