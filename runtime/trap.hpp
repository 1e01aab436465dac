// Library-call trap: a jump buffer that the libraries may jump back to when
// they abandon a call, after naming an exception type and a message.
#pragma once

#include <csetjmp>
#include <type_traits>

#include "python.hpp"

// Exported by name so that libraries loaded beside the module can reach them.
extern "C" {
extern LIBFC_EXPORT jmp_buf exception_buffer;
extern LIBFC_EXPORT int exception_status;
extern LIBFC_EXPORT PyObject *exceptionType;
extern LIBFC_EXPORT char *exceptionMsg;
}

namespace trap {

// Arms the trap and runs call(context). Returns 0 when the call returned, or
// the non-zero value the library jumped with.
int run(void (*call)(void *), void *context);

// For a wrapper that calls no library code after all (a record made from
// or returned to a kept block): exception_status ends as after an armed call
// that returned. The buffer is left alone: after any armed call it describes
// a frame that no longer exists, and no library code runs that could jump.
inline void settle() { exception_status = 0; }

// Raises what the library left in exceptionType and exceptionMsg; returns null.
LIBFC_COLD PyObject *raise_abandoned_call();

// Runs body() under the trap. A library jump unwinds body's frame without
// running destructors, so body must own nothing that needs one: its captures
// are references and plain values, and it only calls C functions.
template <class Body>
inline int armed(Body &body) {
    static_assert(std::is_trivially_destructible_v<Body>,
                  "a library jump would skip this object's destructor");
    return run([](void *context) { (*static_cast<Body *>(context))(); }, &body);
}

}  // namespace trap
