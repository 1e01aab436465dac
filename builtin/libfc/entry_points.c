/* The library's exported functions: each hands its arguments to the model
 * and abandons the call through the trap when the model refuses them. */
#include "abandon.h"

#include <stddef.h>

#define EXPORT __attribute__((visibility("default")))

static fcemu_query make_query(hyp_uint32 sip, hyp_uint32 dip, hyp_Bool isV6, hyp_uint32 switchPort,
                              const char *daddr, hyp_uint32 vni, hyp_uint32 ether, hyp_uint32 vlanid,
                              hyp_uint32 proto, const char *innerdaddr, hyp_uint32 tid) {
    fcemu_query query = {0};
    query.values.sip = sip;
    query.values.dip = dip;
    query.values.isV6 = isV6;
    query.values.switchPort = switchPort;
    query.values.vni = vni;
    query.values.ether = ether;
    query.values.vlanid = vlanid;
    query.values.proto = proto;
    query.values.tid = tid;
    query.daddr = daddr;
    query.innerdaddr = innerdaddr;
    return query;
}

EXPORT FC_IOCFlows *FC_GetFlows(hyp_uint32 sip, hyp_uint32 dip, hyp_Bool isV6, hyp_uint32 switchPort,
                                char const *daddr, hyp_uint32 vni, hyp_uint32 ether, hyp_uint32 vlanid,
                                hyp_uint32 proto, char const *innerdaddr, hyp_uint32 tid) {
    fcemu_take_injected_failure("FC_GetFlows");
    fcemu_query query = make_query(sip, dip, isV6, switchPort, daddr, vni, ether, vlanid, proto, innerdaddr, tid);
    FC_IOCFlows *flows = NULL;
    fcemu_abandon_unless_ok(fcemu_model_get_flows(&query, &flows));
    return flows;
}

EXPORT void FC_RemoveFlows(hyp_uint32 sip, hyp_uint32 dip, hyp_Bool isV6, hyp_uint32 switchPort,
                           char const *daddr, hyp_uint32 vni, hyp_uint32 ether, hyp_uint32 vlanid,
                           hyp_uint32 proto, char const *innerdaddr, hyp_uint32 tid) {
    fcemu_take_injected_failure("FC_RemoveFlows");
    fcemu_query query = make_query(sip, dip, isV6, switchPort, daddr, vni, ether, vlanid, proto, innerdaddr, tid);
    fcemu_abandon_unless_ok(fcemu_model_remove_flows(&query));
}

EXPORT FC_CacheStats *FC_GetFlowCacheStats(void) {
    fcemu_take_injected_failure("FC_GetFlowCacheStats");
    FC_CacheStats *stats = NULL;
    fcemu_abandon_unless_ok(fcemu_model_cache_stats(&stats));
    return stats;
}

EXPORT FC_HashStatsIOC *FC_GetFlowCacheHashStats(void) {
    fcemu_take_injected_failure("FC_GetFlowCacheHashStats");
    FC_HashStatsIOC *stats = NULL;
    fcemu_abandon_unless_ok(fcemu_model_hash_stats(&stats));
    return stats;
}

EXPORT FC_IOCInvalEntries *FC_GetInvalTableEntries(void) {
    fcemu_take_injected_failure("FC_GetInvalTableEntries");
    FC_IOCInvalEntries *entries = NULL;
    fcemu_abandon_unless_ok(fcemu_model_inval_entries(&entries));
    return entries;
}

EXPORT void FC_InvalidateFCFlowEntry(hyp_uint32 keyValue, FC_InvalHashKeyType keyType) {
    fcemu_take_injected_failure("FC_InvalidateFCFlowEntry");
    fcemu_abandon_unless_ok(fcemu_model_invalidate_key(keyValue, (int)keyType));
}

EXPORT int FC_InvalidateFlowsIoctl(void) {
    fcemu_take_injected_failure("FC_InvalidateFlowsIoctl");
    int invalidated = -1;
    fcemu_abandon_unless_ok(fcemu_model_invalidate_all(&invalidated));
    return invalidated;
}

EXPORT void FC_IOCSetConfigOption(FC_ConfigOptionTypeIOC type, hyp_uint32 value) {
    fcemu_take_injected_failure("FC_IOCSetConfigOption");
    fcemu_abandon_unless_ok(fcemu_model_set_option((int)type, value));
}

EXPORT hyp_uint32 FC_IOCGetConfigOption(FC_ConfigOptionTypeIOC type) {
    fcemu_take_injected_failure("FC_IOCGetConfigOption");
    hyp_uint32 value = 0;
    fcemu_abandon_unless_ok(fcemu_model_get_option((int)type, &value));
    return value;
}

EXPORT void FC_SetPortProp(char const *switchName, char const *portName, FC_DVSPortEnableDir dir) {
    fcemu_take_injected_failure("FC_SetPortProp");
    fcemu_abandon_unless_ok(fcemu_model_set_port_prop(switchName, portName, (int)dir));
}

EXPORT void FC_SetHostProp(char const *switchName, char const *propName, hyp_Bool enable) {
    fcemu_take_injected_failure("FC_SetHostProp");
    fcemu_abandon_unless_ok(fcemu_model_set_host_prop(switchName, propName, enable != 0));
}

EXPORT char const *FC_GetPortsetStatus(char const *portsetName) {
    fcemu_take_injected_failure("FC_GetPortsetStatus");
    const char *text = NULL;
    fcemu_abandon_unless_ok(fcemu_model_portset_status(portsetName, 0, &text));
    return text;
}

EXPORT char const *FC_GetPortsetMcastStatus(char const *portsetName) {
    fcemu_take_injected_failure("FC_GetPortsetMcastStatus");
    const char *text = NULL;
    fcemu_abandon_unless_ok(fcemu_model_portset_status(portsetName, 1, &text));
    return text;
}

EXPORT char const *FC_GetFlowCacheEnabled(char const *switchName, char const *portName) {
    fcemu_take_injected_failure("FC_GetFlowCacheEnabled");
    const char *text = NULL;
    fcemu_abandon_unless_ok(fcemu_model_port_status(switchName, portName, &text));
    return text;
}

/* The control interface never jumps: tests call it without an armed trap. */

EXPORT int fcemu_reset(void) {
    return fcemu_reset_sized(FCEMU_DEFAULT_TABLES, FCEMU_DEFAULT_TABLE_ENTRIES);
}

EXPORT int fcemu_reset_sized(unsigned int tables, unsigned int entries) {
    switch (fcemu_model_reset(tables, entries)) {
    case FCEMU_OK: return 0;
    case FCEMU_BAD_VALUE: return -2;
    default: return -1;
    }
}

EXPORT int fcemu_add_flow(const FC_FlowEntryIOC *entry) {
    return fcemu_model_add_flow(entry) == FCEMU_OK ? 0 : -1;
}

EXPORT int fcemu_traffic(unsigned int flows, unsigned int seed) {
    return fcemu_traffic_from(0, flows, seed);
}

EXPORT int fcemu_traffic_from(unsigned int first, unsigned int flows, unsigned int seed) {
    fcemu_traffic_result result;
    return fcemu_model_traffic(first, flows, seed, &result) == FCEMU_OK ? (int)result.installed : -1;
}

EXPORT int fcemu_traffic_report(unsigned int flows, unsigned int seed, fcemu_traffic_result *result) {
    return fcemu_traffic_report_from(0, flows, seed, result);
}

EXPORT int fcemu_traffic_report_from(unsigned int first, unsigned int flows, unsigned int seed,
                                     fcemu_traffic_result *result) {
    fcemu_traffic_result ignored;
    return fcemu_model_traffic(first, flows, seed, result ? result : &ignored) == FCEMU_OK ? 0 : -1;
}

EXPORT int fcemu_check(char *report, size_t size) {
    int problems = 0;
    return fcemu_model_check(report, report ? size : 0, &problems) == FCEMU_OK ? problems : -1;
}
