// One call into the store: the library's lock, held for the whole call, and
// the cancellation of long work that fabemu_cancel asks for.
#pragma once

namespace fab {

// Held by every store function from start to return.  The lock is recursive:
// some functions are made of others.  Handles, data blocks, containers and
// the SQLite connection are shared by all threads and reached only under it;
// the caller's callbacks (walks) run outside it.
class StoreCall {
public:
    StoreCall();
    ~StoreCall();
    StoreCall(const StoreCall &) = delete;
    StoreCall &operator=(const StoreCall &) = delete;
};

// Asks every call now running to stop its long work (a population, a wait for
// another process's lock, a long statement).  A call stops at its next check
// and returns HYP_ABORTED with nothing changed; a call that starts later is
// not affected.
void request_cancel() noexcept;

// Has a cancellation been asked for since the outermost call of this thread
// began?
bool cancel_requested() noexcept;

}  // namespace fab
