// Access to the shared state file: find or create it, map it, lock it
// against other processes and threads, and rebuild it empty when it is
// damaged.
#pragma once

#include <cstdint>

#include "state_layout.hpp"
#include "status.hpp"

namespace fcemu {

std::uint64_t now_ms();

// Holds the state locked for one library call.  On construction it attaches
// to the file named by FC_EMU_DIR (again when that or the file changed),
// validates it and expires idle flows; status() tells whether that worked.
class StateAccess {
public:
    StateAccess();
    ~StateAccess();
    StateAccess(const StateAccess &) = delete;
    StateAccess &operator=(const StateAccess &) = delete;

    fcemu_status status() const { return status_; }
    StateFile *file() const { return file_; }
    CacheState &state() const { return file_->state; }
    std::uint64_t now() const { return now_; }

    // Empties everything and restores the defaults, with tables of entries
    // flows (sizes within the limits).  The file stays; file() may move.
    fcemu_status rebuild(std::uint32_t tables, std::uint32_t entries);

private:
    fcemu_status status_;
    StateFile *file_ = nullptr;
    std::uint64_t now_ = 0;
    bool locked_ = false;
};

}  // namespace fcemu
