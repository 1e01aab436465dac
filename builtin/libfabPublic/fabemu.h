/*
 * Control interface of the built-in libfabPublic, for tests and demos: empty
 * the store, fill it with a deterministic population, and make the next call
 * of a library function abandon through the library-call trap.
 *
 * The store lives in the SQLite database named by the environment variable
 * FAB_EMU_DB (default /tmp/fabemu-<uid>.db), read again on every call: point
 * it elsewhere and the next call opens that file, which invalidates every
 * switch, port and item handle issued so far.
 */
#ifndef FABEMU_H
#define FABEMU_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _object PyObject;

/* Empties the store: no switches, ports or properties.  Returns a
 * HYP_ReturnStatus (0 on success). */
int fabemu_reset(void);

/* Replaces the store with `switches` switches of `ports_per_switch` ports
 * each, with aliases, port data, host, global and uplink properties under the
 * HYP_FABPROP_* names.  The same arguments always give the same store.
 * Returns a HYP_ReturnStatus (0 on success). */
int fabemu_populate(unsigned int switches, unsigned int ports_per_switch, unsigned int seed);

/* The next call of `function` (its exported name, for example
 * "DVSHYP_SwitchAdd") does nothing and abandons through the trap: it leaves
 * `type` (RuntimeError when NULL) and a copy of `message` in the trap words
 * and jumps with `value`.  Value 0 cancels a pending failure of that function.
 * Panic never abandons: it is called with the trap disarmed.  Only a caller
 * that armed the trap may make such a call. */
void fabemu_fail_next(const char *function, int value, PyObject *type, const char *message);

#ifdef __cplusplus
}
#endif

#endif /* FABEMU_H */
