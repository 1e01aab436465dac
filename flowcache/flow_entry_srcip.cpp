// FC_FlowEntryIOC_get_srcip_entry: the source address of an entry's key. The
// IPv4 and IPv6 source addresses start at the same place in the key's union,
// so only the length read depends on the caller's isV6.

#include <cstddef>

#include "flowcache/flow_method_arguments.hpp"
#include "flowcache/flowcache_query_methods.hpp"
#include "flowcache/ip_address_text.hpp"
#include "runtime/type_ids.hpp"

PyObject *FC_FlowEntryIOC_srcip_text(PyObject *, PyObject *args) noexcept {
    constexpr const char *kMethod = "FC_FlowEntryIOC_get_srcip_entry";
    PyObject *argv[2];
    if (!unpack_args<2>(args, kMethod, argv)) return nullptr;
    char *entry;
    int is_v6;
    if (!flow_methods::record_argument(argv[0], ty::p_FC_FlowEntryIOC, kMethod, "FC_FlowEntryIOC *", &entry) ||
        !flow_methods::int_argument(argv[1], kMethod, 2, &is_v6))
        return nullptr;
    constexpr std::size_t source = offsetof(FC_FlowEntryIOC, fkey) + offsetof(FC_FlowKey, ipKey);
    static_assert(offsetof(FC_FlowKey_ipKey, ipv4Key.sip) == offsetof(FC_FlowKey_ipKey, ipv6Key.sip));
    return ip_address_text(entry + source, is_v6 != 0);
}
