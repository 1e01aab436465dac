/* The trap words, reached by name in the module that loaded the library, and
 * the failures that a test asked for. */
#include "trap.h"

#include <setjmp.h>
#include <stdio.h>
#include <string.h>

/* Weak, so that the library still loads (and simply never jumps) in a
 * process without the binding module, such as a plain C test program. */
extern jmp_buf exception_buffer __attribute__((weak));
extern PyObject *exceptionType __attribute__((weak));
extern char *exceptionMsg __attribute__((weak));

extern PyObject *PyExc_ValueError __attribute__((weak));
extern PyObject *PyExc_OSError __attribute__((weak));
extern PyObject *PyExc_MemoryError __attribute__((weak));
extern PyObject *PyExc_RuntimeError __attribute__((weak));

PyObject *emu_value_error(void) { return &PyExc_ValueError ? PyExc_ValueError : NULL; }
PyObject *emu_os_error(void) { return &PyExc_OSError ? PyExc_OSError : NULL; }
PyObject *emu_memory_error(void) { return &PyExc_MemoryError ? PyExc_MemoryError : NULL; }
PyObject *emu_runtime_error(void) { return &PyExc_RuntimeError ? PyExc_RuntimeError : NULL; }

enum { kMaxPending = 8, kNameMax = 64, kMessageMax = 256 };

typedef struct pending_failure {
    char function[kNameMax];
    int value; /* 0: a free slot */
    PyObject *type;
    int has_message;
    char message[kMessageMax];
} pending_failure;

static pending_failure pending[kMaxPending];

/* exceptionMsg points here after a jump: the module reads it once our frame
 * is gone, so it cannot live on the stack. */
static char message_after_jump[512];

static void copy_text(char *to, size_t size, const char *from) {
    size_t n = from ? strnlen(from, size - 1) : 0;
    if (n) memcpy(to, from, n);
    to[n] = '\0';
}

static int have_trap(void) { return &exception_buffer && &exceptionType && &exceptionMsg; }

static void jump(int value, PyObject *type, const char *message) {
    copy_text(message_after_jump, sizeof message_after_jump, message);
    exceptionType = type;
    exceptionMsg = message ? message_after_jump : NULL;
    longjmp(exception_buffer, value);
}

static pending_failure *find_pending(const char *function) {
    for (int i = 0; i < kMaxPending; ++i)
        if (pending[i].value != 0 && strcmp(pending[i].function, function) == 0) return &pending[i];
    return NULL;
}

void emu_fail_next(const char *function, int value, PyObject *type, const char *message) {
    if (!function) {
        memset(pending, 0, sizeof pending);
        return;
    }
    if (strlen(function) >= kNameMax) return; /* no exported name is that long */
    pending_failure *slot = find_pending(function);
    if (value == 0) {
        if (slot) slot->value = 0;
        return;
    }
    for (int i = 0; !slot && i < kMaxPending; ++i)
        if (pending[i].value == 0) slot = &pending[i];
    if (!slot) {
        fprintf(stderr, "emulator: too many pending failures; %s will not fail\n", function);
        return;
    }
    copy_text(slot->function, sizeof slot->function, function);
    slot->value = value;
    slot->type = type;
    slot->has_message = message != NULL;
    copy_text(slot->message, sizeof slot->message, message);
}

void emu_abandon_if_requested(const char *function) {
    pending_failure *slot = find_pending(function);
    if (!slot) return;
    int value = slot->value;
    slot->value = 0;
    if (!have_trap()) {
        fprintf(stderr, "emulator: no library-call trap in this process; %s goes on\n", function);
        return;
    }
    /* The slot is free again; its text stays intact until the next request,
     * and jump() copies it first anyway. */
    jump(value, slot->type, slot->has_message ? slot->message : NULL);
}

void emu_abandon(PyObject *type, const char *message) {
    if (have_trap()) jump(1, type, message);
}
