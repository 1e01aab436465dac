/*
 * Abandoning a library call through the trap of the module that loaded the
 * library: the shared part of both built-in libraries.
 *
 * The module arms its trap (a jump buffer and two words for the exception
 * type and message) before each call into a library function.  An entry
 * point abandons by filling those words and jumping.  Only the C entry
 * points do so, from their own frame, before or after the model has done
 * its work: no C++ frame lies between the jump and the arming frame.
 *
 * A test asks for a failure with emu_fail_next (each library exports it
 * under its own name); the named function's next call then abandons.
 */
#ifndef EMU_TRAP_H
#define EMU_TRAP_H

typedef struct _object PyObject;

#define EMU_HIDDEN __attribute__((visibility("hidden")))

/* Records a failure for the next call of `function` (its exported name):
 * jump value, exception type and message as given (NULL kept as NULL).
 * A zero value cancels that function's pending failure; a NULL function
 * cancels them all. */
EMU_HIDDEN void emu_fail_next(const char *function, int value, PyObject *type, const char *message);

/* Abandons the call when a failure of `function` is pending, first thing
 * in an entry point; otherwise returns.  Without trap words in the process
 * (a library loaded on its own) it says so on stderr and returns. */
EMU_HIDDEN void emu_abandon_if_requested(const char *function);

/* Abandons the call with jump value 1 and a copy of `message`, unless the
 * process has no trap words: then it returns and the entry point returns its
 * empty result. */
EMU_HIDDEN void emu_abandon(PyObject *type, const char *message);

/* The interpreter's exception types, resolved when the library loads into
 * one (NULL otherwise). */
EMU_HIDDEN PyObject *emu_value_error(void);
EMU_HIDDEN PyObject *emu_os_error(void);
EMU_HIDDEN PyObject *emu_memory_error(void);
EMU_HIDDEN PyObject *emu_runtime_error(void);

#endif /* EMU_TRAP_H */
