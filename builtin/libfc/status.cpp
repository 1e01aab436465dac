// Failure messages of the model.

#include "status.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {
// Per thread, as the switch store's texts are: a call failing in one thread
// must not change the message another thread is about to raise or read.
thread_local char message[512];
thread_local char quote_buffer[96];
}  // namespace

extern "C" const char *fcemu_status_message(void) { return message; }

namespace fcemu {

fcemu_status fail(fcemu_status status, const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    return status;
}

const char *quoted(const char *text) {
    if (!text) return "NULL";
    std::snprintf(quote_buffer, sizeof quote_buffer, "'%.80s%s'", text, std::strlen(text) > 80 ? "..." : "");
    return quote_buffer;
}

}  // namespace fcemu
