// guarded(): the store's boundary towards the C entry layer.
#pragma once

#include <new>

#include "status.hpp"

namespace fab {

template <class Body>
HYP_ReturnStatus guarded(Body &&body) noexcept {
    try {
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
        return body();
    } catch (...) {
        return fallback;
    }
}

}  // namespace fab
