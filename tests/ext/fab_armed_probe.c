/* Calls a library function by address with a trap armed, as a binding wrapper
 * does, so that tests driving libfabPublic through ctypes can watch a call
 * abandon.  The caller passes the trap words of the module whose buffer the
 * library jumps to (_libfc's), so the jump lands in this frame. */
#include <setjmp.h>
#include <stdint.h>

typedef intptr_t (*call_with_six)(intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t);

/* Returns 0 when the call returned (its result in *result), else the value
 * the library jumped with.  Functions of fewer arguments ignore the rest, as
 * the calling convention of the host lets them. */
__attribute__((visibility("default"))) int fab_armed_call(void *exception_buffer, int *exception_status,
                                                          void *function, const intptr_t args[6], intptr_t *result) {
    jmp_buf *buffer = (jmp_buf *)exception_buffer;
    *exception_status = _setjmp(*buffer);
    if (*exception_status == 0)
        *result = ((call_with_six)function)(args[0], args[1], args[2], args[3], args[4], args[5]);
    return *exception_status;
}
