/* Panic: the binding calls it with the trap disarmed, so it must return.  It
 * writes the text to standard error as one line and goes on; the store keeps
 * running, since nothing in it is left inconsistent by a caller's panic. */
#include <stdarg.h>
#include <stdio.h>

#include "libfabPublic.h"

void Panic(char const *fmt, ...) {
    if (!fmt) fmt = "(no text)";
    va_list args;
    va_start(args, fmt);
    fputs("fabemu: Panic: ", stderr);
    /* The binding passes the caller's text as the format with one null
     * argument; a '%s' in it would read that null, so only the text of
     * formats that print no argument is expanded, the rest is written as is. */
    int takes_arguments = 0;
    for (const char *p = fmt; *p; ++p)
        if (p[0] == '%') {
            if (p[1] == '%') ++p;
            else takes_arguments = 1;
        }
    if (takes_arguments) fputs(fmt, stderr);
    else vfprintf(stderr, fmt, args);
    va_end(args);
    fputc('\n', stderr);
    fflush(stderr);
}
