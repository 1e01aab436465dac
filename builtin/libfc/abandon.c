/* Abandoning a call: fill the trap's type and message words, then jump. */
#include "abandon.h"

#include <setjmp.h>
#include <stddef.h>
#include <string.h>

/* The trap words belong to the module that loads the library; they are
 * resolved from it at load time.  Weak, so that a process without them
 * (the library loaded on its own) gets errors as empty results instead of
 * a failed load. */
extern jmp_buf exception_buffer __attribute__((weak));
extern PyObject *exceptionType __attribute__((weak));
extern char *exceptionMsg __attribute__((weak));

/* Exception types come from the interpreter the library is loaded into. */
extern PyObject *PyExc_ValueError __attribute__((weak));
extern PyObject *PyExc_OSError __attribute__((weak));
extern PyObject *PyExc_MemoryError __attribute__((weak));
extern PyObject *PyExc_RuntimeError __attribute__((weak));

static struct {
    char function[64];
    int value;
    PyObject *type;
    int has_message;
    char message[256];
} injected;

/* The message must outlive the jump: the module reads it afterwards. */
static char abandon_message[512];

static void copy_text(char *to, size_t size, const char *from) {
    size_t length = from ? strnlen(from, size - 1) : 0;
    if (length) memcpy(to, from, length);
    to[length] = '\0';
}

static PyObject *interpreter_type(PyObject **weak_word) {
    return weak_word ? *weak_word : NULL;
}

static void jump(int value, PyObject *type, const char *message) {
    if (!&exception_buffer || !&exceptionType || !&exceptionMsg) return;
    copy_text(abandon_message, sizeof abandon_message, message);
    exceptionType = type;
    exceptionMsg = message ? abandon_message : NULL;
    longjmp(exception_buffer, value ? value : 1);
}

__attribute__((visibility("default")))
void fcemu_fail_next(const char *function, int value, PyObject *type, const char *message) {
    copy_text(injected.function, sizeof injected.function, function);
    injected.value = value;
    injected.type = type;
    injected.has_message = message != NULL;
    copy_text(injected.message, sizeof injected.message, message);
}

void fcemu_take_injected_failure(const char *function) {
    if (injected.function[0] == '\0' || strcmp(injected.function, function) != 0) return;
    injected.function[0] = '\0';
    jump(injected.value, injected.type, injected.has_message ? injected.message : NULL);
}

void fcemu_abandon_unless_ok(fcemu_status status) {
    PyObject *type;
    switch (status) {
    case FCEMU_OK: return;
    case FCEMU_BAD_VALUE: type = interpreter_type(&PyExc_ValueError); break;
    case FCEMU_NO_STATE: type = interpreter_type(&PyExc_OSError); break;
    case FCEMU_NO_MEMORY: type = interpreter_type(&PyExc_MemoryError); break;
    default: type = interpreter_type(&PyExc_RuntimeError); break;
    }
    jump(1, type, fcemu_status_message());
}
