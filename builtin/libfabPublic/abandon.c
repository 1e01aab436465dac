/* The trap words, reached by name in the module that loaded this library,
 * and the pending failures that fabemu_fail_next records. */
#include "abandon.h"

#include <setjmp.h>
#include <stdio.h>
#include <string.h>

#include "fabemu.h"

/* Weak, so that the library still loads (and simply never jumps) in a
 * process without the binding module, such as a plain C test program. */
extern jmp_buf exception_buffer __attribute__((weak));
extern PyObject *exceptionType __attribute__((weak));
extern char *exceptionMsg __attribute__((weak));
/* The interpreter's RuntimeError, for a failure requested without a type. */
extern PyObject *PyExc_RuntimeError __attribute__((weak));

enum { kMaxPending = 8, kNameMax = 64, kMessageMax = 256 };

typedef struct pending_failure {
    char function[kNameMax];
    int value;
    PyObject *type;
    char message[kMessageMax];
} pending_failure;

static pending_failure pending[kMaxPending];

/* exceptionMsg points here after a jump: the module reads it after our frame
 * is gone, so it cannot live on the stack. */
static char message_after_jump[kMessageMax];

static void copy_text(char *to, size_t size, const char *from) {
    size_t n = from ? strnlen(from, size - 1) : 0;
    if (n) memcpy(to, from, n);
    to[n] = '\0';
}

static pending_failure *find_pending(const char *function) {
    for (int i = 0; i < kMaxPending; ++i)
        if (pending[i].value != 0 && strcmp(pending[i].function, function) == 0) return &pending[i];
    return NULL;
}

__attribute__((visibility("default"))) void fabemu_fail_next(const char *function, int value, PyObject *type,
                                                             const char *message) {
    if (!function || strlen(function) >= kNameMax) return;
    pending_failure *slot = find_pending(function);
    for (int i = 0; !slot && i < kMaxPending; ++i)
        if (pending[i].value == 0) slot = &pending[i];
    if (!slot) {
        fprintf(stderr, "fabemu: too many pending failures; %s will not fail\n", function);
        return;
    }
    copy_text(slot->function, sizeof slot->function, function);
    slot->value = value;
    slot->type = type;
    copy_text(slot->message, sizeof slot->message, message ? message : "");
}

void abandon_if_requested(const char *function) {
    pending_failure *slot = find_pending(function);
    if (!slot) return;
    int value = slot->value;
    slot->value = 0;
    if (!&exception_buffer || !&exceptionType || !&exceptionMsg) {
        fprintf(stderr, "fabemu: no library-call trap in this process; %s goes on\n", function);
        return;
    }
    copy_text(message_after_jump, sizeof message_after_jump, slot->message);
    exceptionType = slot->type ? slot->type : (&PyExc_RuntimeError ? PyExc_RuntimeError : NULL);
    exceptionMsg = message_after_jump;
    longjmp(exception_buffer, value);
}
