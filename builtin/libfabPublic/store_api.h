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

/* What an iteration walks: the entries (switch or port handles, data items)
 * as they stood when the walk began, so that a callback may change the store
 * without disturbing the walk.  The array is malloc'd; release it with
 * store_snapshot_release. */
typedef struct fab_snapshot {
    void **entries;
    size_t count;
} fab_snapshot;

#define FAB_API(result, name, params, args) result store_##name params FAB_NOEXCEPT;
#define FAB_API_VOID(name, params, args) void store_##name params FAB_NOEXCEPT;
#define FAB_FOR_EACH(name, params, snapshot, snapshot_params, args) \
    fab_snapshot store_##snapshot snapshot_params FAB_NOEXCEPT;
#include "api_functions.def"
#undef FAB_API
#undef FAB_API_VOID
#undef FAB_FOR_EACH

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
