/*
 * How long a call of either built-in library waits for another process's
 * lock on its state (the flow cache's state file, the switch store) before
 * it gives up.  Five seconds unless $FC_EMU_LOCK_WAIT_MS gives another
 * number of milliseconds (0 gives up at once): scripts that would rather
 * fail fast than wait, and tests of the wait itself, set it.
 */
#ifndef EMU_LOCK_WAIT_H
#define EMU_LOCK_WAIT_H

#include <errno.h>
#include <stdlib.h>

#define EMU_LOCK_WAIT_DEFAULT_MS 5000

/* The wait in milliseconds; a value that is not a whole number from 0 to
 * one hour is ignored. */
static inline long emu_lock_wait_ms(void) {
    const char *text = getenv("FC_EMU_LOCK_WAIT_MS");
    if (!text || !*text) return EMU_LOCK_WAIT_DEFAULT_MS;
    char *end;
    errno = 0;
    long ms = strtol(text, &end, 10);
    if (errno || *end || ms < 0 || ms > 3600000) return EMU_LOCK_WAIT_DEFAULT_MS;
    return ms;
}

#endif
