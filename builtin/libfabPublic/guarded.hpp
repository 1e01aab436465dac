// guarded(): the store's boundary towards the C entry layer.  Each store
// function runs its body under the store's lock and turns whatever the body
// throws into a status or a fallback value.
#pragma once

#include <new>

#include "status.hpp"
#include "store_call.hpp"

namespace fab {

template <class Body>
HYP_ReturnStatus guarded(Body &&body) noexcept {
    try {
        StoreCall call;
        return body();
    } catch (const StoreError &error) {
        return error.status;
    } catch (const std::bad_alloc &) {
        return HYP_NO_MEMORY;
    } catch (...) {
        return HYP_FAILURE;
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
