// The store's lock, the cancellation generation, and the status an entry
// point returns for an exception.

#include "store_call.hpp"

#include <atomic>
#include <cstdint>
#include <exception>
#include <mutex>
#include <new>

#include "guarded.hpp"

namespace fab {
namespace {

std::recursive_mutex &store_mutex() {
    static std::recursive_mutex instance;
    return instance;
}

// A cancellation is a new generation: a call compares the generation now with
// the one at its start, so a request reaches exactly the calls running when
// it was made and needs no clearing afterwards.
std::atomic<uint64_t> cancel_generation{0};

thread_local int call_depth = 0;
thread_local uint64_t generation_at_start = 0;

}  // namespace

StoreCall::StoreCall() {
    store_mutex().lock();
    if (call_depth++ == 0) generation_at_start = cancel_generation.load();
}

StoreCall::~StoreCall() {
    --call_depth;
    store_mutex().unlock();
}

void request_cancel() noexcept { cancel_generation.fetch_add(1); }

bool cancel_requested() noexcept { return cancel_generation.load() != generation_at_start; }

HYP_ReturnStatus status_of_exception() noexcept {
    // Rethrown through an exception_ptr, the road fail() takes (see status.hpp).
    try {
        std::rethrow_exception(std::current_exception());
    } catch (const StoreError &error) {
        return error.status;
    } catch (const std::bad_alloc &) {
        return HYP_NO_MEMORY;
    } catch (...) {
        return HYP_FAILURE;
    }
}

}  // namespace fab
