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

/* Functions of the kinds the operation template handles, for its tests. */
static unsigned int calls;

__attribute__((visibility("default"))) unsigned int probe_calls(void) { return calls; }

__attribute__((visibility("default"))) unsigned int probe_add(unsigned int a, int b, char flag) {
    ++calls;
    return a + (unsigned int)b + (unsigned char)flag;
}

__attribute__((visibility("default"))) const char *probe_echo(const char *first, const char *second) {
    ++calls;
    return first ? first : second;
}

__attribute__((visibility("default"))) void probe_store(swigtest_Probe *probe, unsigned int value) {
    ++calls;
    if (probe) probe->u32 = value;
}

__attribute__((visibility("default"))) swigtest_Probe *probe_same(swigtest_Probe *probe) {
    ++calls;
    return probe;
}
