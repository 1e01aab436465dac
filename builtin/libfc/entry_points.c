/* The library's exported functions: each hands its arguments to the model
 * and abandons the call through the trap when the model refuses them. */
#include <stddef.h>

#include "fcemu.h"
#include "model.h"
#include "trap.h"

#define EXPORT __attribute__((visibility("default")))

/* The model's refusal, raised as the exception its kind calls for. */
static void abandon_unless_ok(fcemu_status status) {
    PyObject *type;
    switch (status) {
    case FCEMU_OK: return;
    case FCEMU_BAD_VALUE: type = emu_value_error(); break;
    case FCEMU_NO_STATE: type = emu_os_error(); break;
    case FCEMU_NO_MEMORY: type = emu_memory_error(); break;
    default: type = emu_runtime_error(); break;
    }
    emu_abandon(type, fcemu_status_message());
}

/* The flow functions' filter, from the parameters of the same names. */
#define FLOW_QUERY                                                                                   \
    (&(fcemu_query){.values = {.sip = sip, .dip = dip, .isV6 = isV6, .switchPort = switchPort, .vni = vni, \
                               .ether = ether, .vlanid = vlanid, .proto = proto, .tid = tid},             \
                    .daddr = daddr,                                                                      \
                    .innerdaddr = innerdaddr})

#define FC_API(type, name, params, initial, call) \
    EXPORT type name params {                     \
        emu_abandon_if_requested(#name);          \
        type result = initial;                    \
        abandon_unless_ok(call);                  \
        return result;                            \
    }
#define FC_API_VOID(name, params, call)  \
    EXPORT void name params {            \
        emu_abandon_if_requested(#name); \
        abandon_unless_ok(call);         \
    }
#include "api_functions.def"
#undef FC_API
#undef FC_API_VOID

EXPORT void fcemu_fail_next(const char *function, int value, PyObject *type, const char *message) {
    emu_fail_next(function, value, type, message);
}

EXPORT const unsigned int fcemu_entries_per_bucket = FCEMU_ENTRIES_PER_BUCKET;

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
