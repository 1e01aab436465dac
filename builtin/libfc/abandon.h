/*
 * Abandoning a library call through the loading module's trap.  Only the
 * FC_* entry points use this, and only from their own C frame: the binding
 * calls them with the trap armed, and no C++ frame lies between that frame
 * and the arming one.
 */
#ifndef FCEMU_ABANDON_H
#define FCEMU_ABANDON_H

#include "model.h"

/* Abandons the call when fcemu_fail_next named this function. */
void fcemu_take_injected_failure(const char *function);

/* Abandons the call unless status is FCEMU_OK.  Returns only when it may
 * not jump (the library was loaded without the trap words): the entry
 * point then returns its empty result. */
void fcemu_abandon_unless_ok(fcemu_status status);

#endif /* FCEMU_ABANDON_H */
