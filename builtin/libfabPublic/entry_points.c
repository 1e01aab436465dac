/* The exported functions of libfabPublic: a thin C layer over the store.
 * Each entry first lets a requested failure abandon the call (before the store
 * is touched), then hands over to the store, which always returns.  So a jump
 * to the trap only ever leaves from these C frames, never from a frame of the
 * store (C++ objects with destructors) or of SQLite. */
#include <stdlib.h>

#include "trap.h"
#include "fabemu.h"
#include "store_api.h"

#define FAB_API(result, name, params, args) \
    result name params {                    \
        emu_abandon_if_requested(#name);        \
        return store_##name args;           \
    }
#include "api_functions.def"
#undef FAB_API

void DVSHYP_DataFree(void *data) {
    emu_abandon_if_requested("DVSHYP_DataFree");
    store_DVSHYP_DataFree(data);
}

void DVSData_Free(DVSDataHandle data) {
    emu_abandon_if_requested("DVSData_Free");
    store_DVSData_Free(data);
}

/* Calls cb for each entry until it returns 0.  The callback is the caller's
 * code: it runs from this C frame, with no store frame below it. */
static void walk(fab_snapshot snapshot, char (*cb)(void *, void *), void *ctx) {
    for (size_t i = 0; cb && i < snapshot.count; ++i)
        if (!cb(snapshot.entries[i], ctx)) break;
    store_snapshot_release(&snapshot);
}

void DVSState_SwitchForEach(DVSwitchCallback cb, void *ctx) {
    emu_abandon_if_requested("DVSState_SwitchForEach");
    walk(store_switch_snapshot(), cb, ctx);
}

void DVSState_PortForEach(DVSwitchHandle sw, DVSPortCallback cb, void *ctx) {
    emu_abandon_if_requested("DVSState_PortForEach");
    walk(store_port_snapshot(sw), cb, ctx);
}

void DVSState_HostPropForEach(DVSwitchHandle sw, DVSPortDataCallback cb, void *ctx) {
    emu_abandon_if_requested("DVSState_HostPropForEach");
    walk(store_host_prop_snapshot(sw), cb, ctx);
}

void DVSState_GlobalPropForEach(DVSwitchHandle sw, DVSPortDataCallback cb, void *ctx) {
    emu_abandon_if_requested("DVSState_GlobalPropForEach");
    walk(store_global_prop_snapshot(sw), cb, ctx);
}

void DVSState_PortDataForEach(DVSPortHandle port, DVSPortDataCallback cb, void *ctx) {
    emu_abandon_if_requested("DVSState_PortDataForEach");
    walk(store_port_data_snapshot(port), cb, ctx);
}

__attribute__((visibility("default"))) int fabemu_reset(void) { return store_reset(); }

__attribute__((visibility("default"))) int fabemu_populate(unsigned int switches, unsigned int ports_per_switch,
                                                           unsigned int seed) {
    return store_populate(switches, ports_per_switch, seed);
}

__attribute__((visibility("default"))) void fabemu_cancel(void) { store_cancel(); }

__attribute__((visibility("default"))) const char *fabemu_store_path(void) { return store_file_path(); }

__attribute__((visibility("default"))) const unsigned int fabemu_max_switches = FABEMU_MAX_SWITCHES;
__attribute__((visibility("default"))) const unsigned int fabemu_max_ports_per_switch = FABEMU_MAX_PORTS_PER_SWITCH;
__attribute__((visibility("default"))) const unsigned int fabemu_max_ports = FABEMU_MAX_PORTS;

/* Without a type the failure is the interpreter's RuntimeError, and the
 * message is empty rather than absent. */
void fabemu_fail_next(const char *function, int value, PyObject *type, const char *message) {
    if (!function) return; /* this control function cancels by value, one function at a time */
    emu_fail_next(function, value, type ? type : emu_runtime_error(), message ? message : "");
}
