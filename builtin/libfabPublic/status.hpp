// The exception that carries a status out of the store's inner layers.
#pragma once

#include <exception>

#include "libfabPublic.h"

namespace fab {

// Thrown inside the store and turned back into the status by guarded(): the
// store's frames own strings and statements, and an exception unwinds them
// properly, which a jump would not.
struct StoreError {
    HYP_ReturnStatus status;
};

// Raised without a throw expression on purpose: a throw calls __cxa_throw,
// which AddressSanitizer intercepts and cannot forward when the sanitizer is
// preloaded into an interpreter that loads libstdc++ only later with us, as
// the sanitized test runs do.  Rethrowing an exception_ptr takes another road
// into the same unwinder.
[[noreturn]] inline void fail(HYP_ReturnStatus status) {
    std::rethrow_exception(std::make_exception_ptr(StoreError{status}));
}

}  // namespace fab
