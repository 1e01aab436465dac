/* A stand-in for a native library: it reaches the trap words of the module
 * that loaded it by name, as the real libraries do. */
#include <setjmp.h>
#include <stddef.h>

#include "swigtest_records.h"

extern jmp_buf exception_buffer;
extern void *exceptionType;
extern char *exceptionMsg;

static char message_copy[256];

__attribute__((visibility("default"))) int trap_probe_call(int value, void *type, const char *message) {
    if (value == 0) return 0;
    exceptionType = type;
    exceptionMsg = NULL;
    if (message) {
        size_t i = 0;
        for (; message[i] && i + 1 < sizeof message_copy; ++i) message_copy[i] = message[i];
        message_copy[i] = '\0';
        exceptionMsg = message_copy;
    }
    longjmp(exception_buffer, value);
}
