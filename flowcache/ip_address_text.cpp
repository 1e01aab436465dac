// IPv4 / IPv6 address text through inet_ntop.

#include "flowcache/ip_address_text.hpp"

#include <arpa/inet.h>

#include "runtime/trap.hpp"

PyObject *ip_address_text(const char *bytes, bool v6) noexcept {
    char text[INET6_ADDRSTRLEN];  // 46: the longest IPv6 text and its terminator
    const char *formatted = nullptr;
    auto format = [bytes, v6, &text, &formatted] {
        formatted = inet_ntop(v6 ? AF_INET6 : AF_INET, bytes, text, sizeof text);
    };
    if (trap::armed(format)) return trap::raise_abandoned_call();
    if (!formatted) [[unlikely]]
        return PyErr_SetFromErrno(PyExc_OSError);
    return PyUnicode_FromString(text);
}
