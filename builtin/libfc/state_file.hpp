// Access to the shared state file: find it in a directory only this user
// can write, create it with its blocks reserved, lock it against other
// processes and threads (for a bounded time), check it, and map it.
#pragma once

#include <cstdint>

#include "state_layout.hpp"
#include "status.hpp"

namespace fcemu {

std::uint64_t now_ms();

// Writes the state directory the current environment names into out:
// FC_EMU_DIR, else $XDG_RUNTIME_DIR/libfc, else <tmp>/libfc-<euid>.
void state_directory(char *out, std::size_t size);

// Holds the state locked for one library call.  On construction it attaches
// to the file in the state directory (again when that or the file changed),
// checks both, repairs what a writer that died left half changed, and
// either expires idle flows (use) or empties the state and restores the
// defaults with tables of entries flows (reset; sizes within the limits).
// Only a reset rebuilds a file that fails its check; use refuses it.
// status() tells whether that worked.
class StateAccess {
public:
    enum Purpose { use, reset };

    explicit StateAccess(Purpose purpose = use, std::uint32_t tables = FCEMU_DEFAULT_TABLES,
                         std::uint32_t entries = FCEMU_DEFAULT_TABLE_ENTRIES);
    ~StateAccess();
    StateAccess(const StateAccess &) = delete;
    StateAccess &operator=(const StateAccess &) = delete;

    fcemu_status status() const { return status_; }
    StateFile *file() const { return file_; }
    CacheState &state() const { return file_->state; }
    std::uint64_t now() const { return now_; }

private:
    fcemu_status status_;
    StateFile *file_ = nullptr;
    std::uint64_t now_ = 0;
    bool locked_ = false;
};

}  // namespace fcemu
