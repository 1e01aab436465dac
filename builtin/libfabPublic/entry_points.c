/* The exported functions of libfabPublic: a thin C layer over the store.
 * Each entry first lets a requested failure abandon the call (before the store
 * is touched), then hands over to the store, which always returns.  So a jump
 * to the trap only ever leaves from these C frames, never from a frame of the
 * store (C++ objects with destructors) or of SQLite. */
#include <stdlib.h>

#include "trap.h"
#include "fabemu.h"
#include "store_api.h"

/* Calls cb for each entry until it returns 0.  The callback is the caller's
 * code: it runs from this C frame, with no store frame below it. */
static void walk(fab_snapshot snapshot, char (*cb)(void *, void *), void *ctx) {
    for (size_t i = 0; cb && i < snapshot.count; ++i)
        if (!cb(snapshot.entries[i], ctx)) break;
    store_snapshot_release(&snapshot);
}

#define FAB_API(result, name, params, args) \
    result name params {                    \
        emu_abandon_if_requested(#name);    \
        return store_##name args;           \
    }
#define FAB_API_VOID(name, params, args) \
    void name params {                   \
        emu_abandon_if_requested(#name); \
        store_##name args;               \
    }
#define FAB_FOR_EACH(name, params, snapshot, snapshot_params, args) \
    void name params {                                              \
        emu_abandon_if_requested(#name);                            \
        walk(store_##snapshot args, cb, ctx);                       \
    }
#include "api_functions.def"
#undef FAB_API
#undef FAB_API_VOID
#undef FAB_FOR_EACH

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
