// Status codes the store returns beyond those named in hyp_kernel_types.h,
// and the exception that carries a status out of the store's inner layers.
#pragma once

#include <exception>

#include "libfabPublic.h"

namespace fab {

inline constexpr HYP_ReturnStatus status_of(unsigned value) { return static_cast<HYP_ReturnStatus>(value); }

inline constexpr HYP_ReturnStatus kInvalidName = status_of(0x0BAD000D);
inline constexpr HYP_ReturnStatus kIoError = status_of(0x0BAD000A);
inline constexpr HYP_ReturnStatus kReadOnly = status_of(0x0BAD0022);
inline constexpr HYP_ReturnStatus kVersionMismatchMajor = status_of(0x0BAD002C);
inline constexpr HYP_ReturnStatus kIsConnected = status_of(0x0BAD002D);
inline constexpr HYP_ReturnStatus kIsDisconnected = status_of(0x0BAD002E);
inline constexpr HYP_ReturnStatus kInvalidMetadata = status_of(0x0BAD0099);
inline constexpr HYP_ReturnStatus kNoSpace = status_of(0x0BAD00D7);
inline constexpr HYP_ReturnStatus kChecksumMismatch = status_of(0x0BAD003A);
inline constexpr HYP_ReturnStatus kNotADirectory = status_of(0x0BAD0054);
inline constexpr HYP_ReturnStatus kIsADirectory = status_of(0x0BAD0055);
inline constexpr HYP_ReturnStatus kNoPermission = status_of(0x0BAD005B);
inline constexpr HYP_ReturnStatus kAborted = status_of(0x0BAD00E0);

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
