/* Calls a library function with the loading module's trap armed, as a
 * wrapper of the module would, so that tests can reach the library's
 * refusals through ctypes.  The caller passes the module's jump buffer and
 * status word; every argument travels as a 64-bit integer, which the
 * platform's calling convention hands over unchanged for the integer and
 * pointer arguments of the library's functions. */
#include <setjmp.h>
#include <stdint.h>

typedef uint64_t (*any_function)(uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t,
                                 uint64_t, uint64_t, uint64_t, uint64_t, uint64_t);

__attribute__((visibility("default")))
int armed_call(jmp_buf *buffer, int *status, void *function, const uint64_t *args, uint64_t *result) {
    int jumped = setjmp(*buffer);
    *status = jumped;
    if (jumped == 0)
        *result = ((any_function)function)(args[0], args[1], args[2], args[3], args[4], args[5],
                                           args[6], args[7], args[8], args[9], args[10]);
    return jumped;
}
