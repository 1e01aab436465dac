/* Abandoning a call through the library-call trap of the module that loaded
 * this library, when the control interface asked for it. */
#ifndef FAB_ABANDON_H
#define FAB_ABANDON_H

/* If a failure of `function` is pending, clears it and jumps to the trap;
 * otherwise returns.  Called first thing in an entry point, before the store
 * is touched, so a jump leaves nothing half done and crosses no frame of the
 * store or of SQLite. */
void abandon_if_requested(const char *function);

#endif /* FAB_ABANDON_H */
