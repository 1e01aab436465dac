/*
 * Control interface of the built-in libfabPublic, for tests and demos: empty
 * the store, fill it with a deterministic population, and make the next call
 * of a library function abandon through the library-call trap.
 *
 * The store lives in the SQLite database named by the environment variable
 * FAB_EMU_DB, read again on every call: point it elsewhere and the next call
 * opens that file, which invalidates every switch, port and item handle
 * issued so far.  By default it is fabemu.db in the private directory the
 * built-in flow cache uses too: $XDG_RUNTIME_DIR/libfc when that directory is
 * set, ours and writable by nobody else, else <tmp>/libfc-<euid> ($TMPDIR or
 * /tmp), made with mode 0700 when missing.
 *
 * A store file is used only when no other user can have planted or change
 * it: a regular file (no symbolic link) of the effective user, writable by
 * nobody else, in a directory of this user or root that nobody else may
 * write to; the same holds for the journal SQLite keeps beside it.  A new
 * store is created with mode 0600.  A file that is not a store of this
 * library (another program's database, another schema, not SQLite at all)
 * is refused and left untouched.  Functions that only read open the file
 * read-only and create nothing: a missing file reads as an empty store, and
 * a store on a read-only file or file system can be read.  Every refusal
 * returns a failure status and writes one line naming the file and what is
 * wrong to standard error (once per file).
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

/* The largest population fabemu_populate makes: at most FABEMU_MAX_SWITCHES
 * switches, FABEMU_MAX_PORTS_PER_SWITCH ports each and FABEMU_MAX_PORTS ports
 * in all (about a minute of work).  The same numbers are exported as the
 * constants below, for callers that cannot read this header: a caller holding
 * wider integers than unsigned int must compare against them before the call,
 * since a larger count would arrive cut to 32 bits. */
#define FABEMU_MAX_SWITCHES 1024u
#define FABEMU_MAX_PORTS_PER_SWITCH 4096u
#define FABEMU_MAX_PORTS 262144u
extern const unsigned int fabemu_max_switches;
extern const unsigned int fabemu_max_ports_per_switch;
extern const unsigned int fabemu_max_ports;

/* Replaces the store with `switches` switches of `ports_per_switch` ports
 * each, with aliases, port data, host, global and uplink properties under the
 * HYP_FABPROP_* names.  The same arguments always give the same store.
 * Counts above the maxima give HYP_LIMIT_EXCEEDED and change nothing.  The
 * old store stays until the new one is complete: a population cancelled or
 * interrupted leaves it as it was.  Returns a HYP_ReturnStatus (0 on success). */
int fabemu_populate(unsigned int switches, unsigned int ports_per_switch, unsigned int seed);

/* Asks every library call now running, in any thread, to stop its long work:
 * a population, the wait for another process's lock on the store (at most
 * five seconds otherwise, or $FC_EMU_LOCK_WAIT_MS milliseconds), a long
 * read.  The call returns HYP_ABORTED within a few milliseconds with
 * nothing changed.  Calls that start afterwards are
 * not affected, so a caller that may ask before the call has begun asks again
 * until it returns.  Safe to call from any thread, never blocks.
 *
 * Ctrl-C, for example: run fabemu_populate in a thread that leaves the
 * interpreter lock (as ctypes does), wait for it in short steps, and on
 * KeyboardInterrupt call fabemu_cancel until the thread ends. */
void fabemu_cancel(void);

/* The store's file for the current environment: $FAB_EMU_DB, else fabemu.db
 * in the private directory (made when missing).  NULL when that directory
 * cannot be used (the reason went to standard error).  The text stays valid
 * until the calling thread's next call. */
const char *fabemu_store_path(void);

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
