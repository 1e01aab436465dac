/* The store's side of the library: one store_<name> function per library
 * function, plus the few calls the C entry layer needs for iteration and
 * release.  The store is C++ behind these C declarations; every function
 * here returns normally (it never jumps and lets no C++ exception out), so
 * the entry layer can decide about the trap once the store is consistent. */
#ifndef FAB_STORE_API_H
#define FAB_STORE_API_H

#include <stddef.h>

#include "libfabPublic.h"

#ifdef __cplusplus
extern "C" {
#define FAB_NOEXCEPT noexcept
#else
#define FAB_NOEXCEPT
#endif

#define FAB_API(result, name, params, args) result store_##name params FAB_NOEXCEPT;
#include "api_functions.def"
#undef FAB_API

void store_DVSHYP_DataFree(void *data) FAB_NOEXCEPT;
void store_DVSData_Free(DVSDataHandle data) FAB_NOEXCEPT;

/* What an iteration walks: the entries (switch or port handles, data items)
 * as they stood when the walk began, so that a callback may change the store
 * without disturbing the walk.  The array is malloc'd; release it with
 * store_snapshot_release. */
typedef struct fab_snapshot {
    void **entries;
    size_t count;
} fab_snapshot;

fab_snapshot store_switch_snapshot(void) FAB_NOEXCEPT;
fab_snapshot store_port_snapshot(DVSwitchHandle sw) FAB_NOEXCEPT;
fab_snapshot store_host_prop_snapshot(DVSwitchHandle sw) FAB_NOEXCEPT;
fab_snapshot store_global_prop_snapshot(DVSwitchHandle sw) FAB_NOEXCEPT;
fab_snapshot store_port_data_snapshot(DVSPortHandle port) FAB_NOEXCEPT;
void store_snapshot_release(fab_snapshot *snapshot) FAB_NOEXCEPT;

/* The control interface's store side (see fabemu.h). */
int store_reset(void) FAB_NOEXCEPT;
int store_populate(unsigned int switches, unsigned int ports_per_switch, unsigned int seed) FAB_NOEXCEPT;
void store_cancel(void) FAB_NOEXCEPT;
const char *store_file_path(void) FAB_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* FAB_STORE_API_H */
