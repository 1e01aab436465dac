// The library-call trap and its four exported words.

#include "trap.hpp"

extern "C" {
LIBFC_EXPORT jmp_buf exception_buffer;
LIBFC_EXPORT int exception_status;
LIBFC_EXPORT PyObject *exceptionType;
LIBFC_EXPORT char *exceptionMsg;
}

namespace trap {

// This must stay a plain function that is never inlined: _setjmp records this
// frame, which has to stay alive for the whole library call, and a jump back
// into it skips every C++ destructor of the frames in between. So nothing in
// this frame, or in the call it makes, may own an object with a destructor.
__attribute__((noinline)) int run(void (*call)(void *), void *context) {
    exception_status = _setjmp(exception_buffer);
    if (exception_status == 0) call(context);
    return exception_status;
}

PyObject *raise_abandoned_call() {
    if (exceptionType && exceptionMsg)
        PyErr_SetString(exceptionType, exceptionMsg);
    else
        PyErr_SetString(PyExc_RuntimeError, "library call abandoned without naming an exception");
    return nullptr;
}

}  // namespace trap
