/* An allocator shim for out-of-memory tests, loaded with LD_PRELOAD into a
 * child interpreter: once the process calls failing_malloc_start(), the
 * LIBFC_FAIL_MALLOC-th call of malloc, calloc or realloc from then on fails
 * (just that one), so a test can walk N over every allocation a call makes.
 * Before the start the interpreter's own start-up is left alone.  With
 * LIBFC_FAIL_MALLOC_FROM (':'-separated parts of library paths) only calls
 * made from code in those libraries count, so the interpreter's own
 * allocations around the call never take the failure. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

/* The project builds with hidden visibility; these must be seen. */
#define SHIM_EXPORT __attribute__((visibility("default")))

/* glibc's own allocator, under the names it exports beside malloc, calloc and realloc. */
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *block, size_t size);

static long countdown = -1; /* allocations left before the failing one; -1 when idle */
static int fired;
static char callers[512]; /* LIBFC_FAIL_MALLOC_FROM as read at the start */

/* Whether the allocation was asked for by code in one of the chosen libraries. */
static int counted(void *caller) {
    if (!callers[0]) return 1;
    Dl_info info;
    if (!dladdr(caller, &info) || !info.dli_fname) return 0;
    char list[sizeof callers];
    memcpy(list, callers, sizeof list);
    for (char *save, *part = strtok_r(list, ":", &save); part; part = strtok_r(NULL, ":", &save))
        if (strstr(info.dli_fname, part)) return 1;
    return 0;
}

static int should_fail(void *caller) {
    if (countdown < 0 || !counted(caller)) return 0;
    if (countdown-- == 0) {
        fired = 1;
        return 1;
    }
    return 0;
}

SHIM_EXPORT void failing_malloc_start(void) {
    const char *n = getenv("LIBFC_FAIL_MALLOC");
    const char *from = getenv("LIBFC_FAIL_MALLOC_FROM");
    callers[0] = '\0';
    if (from) strncat(callers, from, sizeof callers - 1);
    countdown = n ? atol(n) - 1 : -1;
    fired = 0;
}

/* Ends the walk's step: no later allocation fails; whether this one's did. */
SHIM_EXPORT int failing_malloc_stop(void) {
    countdown = -1;
    return fired;
}

SHIM_EXPORT void *malloc(size_t size) {
    return should_fail(__builtin_return_address(0)) ? NULL : __libc_malloc(size);
}

SHIM_EXPORT void *calloc(size_t count, size_t size) {
    return should_fail(__builtin_return_address(0)) ? NULL : __libc_calloc(count, size);
}

SHIM_EXPORT void *realloc(void *block, size_t size) {
    return should_fail(__builtin_return_address(0)) ? NULL : __libc_realloc(block, size);
}
