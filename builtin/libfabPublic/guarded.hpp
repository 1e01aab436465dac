// guarded(): the store's boundary towards the C entry layer.  Each store
// function runs its body under the store's lock and turns whatever the body
// throws into a status or a fallback value.
#pragma once

#include "status.hpp"
#include "store_call.hpp"

namespace fab {

// The status of the exception being handled: a StoreError's own,
// HYP_NO_MEMORY for a failed allocation, HYP_FAILURE for anything else. Only
// called inside a catch block; one copy serves every entry point, so each
// guarded() instance carries a single handler.
HYP_ReturnStatus status_of_exception() noexcept;

template <class Body>
HYP_ReturnStatus guarded(Body &&body) noexcept {
    try {
        StoreCall call;
        return body();
    } catch (...) {
        return status_of_exception();
    }
}

// For functions whose result is a value rather than a status: any failure
// gives `fallback` (a null handle, a null text, zero).
template <class Result, class Body>
Result guarded_value(Result fallback, Body &&body) noexcept {
    try {
        StoreCall call;
        return body();
    } catch (...) {
        return fallback;
    }
}

}  // namespace fab
