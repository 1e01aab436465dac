// The store's lock and the cancellation generation.

#include "store_call.hpp"

#include <atomic>
#include <cstdint>
#include <mutex>

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

}  // namespace fab
