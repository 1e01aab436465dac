// Where the store's file lives and whether it may be used.  The default
// location is a directory only this user can write; any store file, default
// or named by FAB_EMU_DB, is used only when no other user could have planted
// it or could change it: no file of another user, no link, no directory that
// others may write to.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "status.hpp"

namespace fab {

// The store's path now: $FAB_EMU_DB, else fabemu.db in the private directory
// ($XDG_RUNTIME_DIR/libfc when that is usable, else <tmp>/libfc-<euid>, made
// with mode 0700 when missing).
std::string store_path();

// Checks the store's directory, the file (when there is one) and the files
// SQLite keeps beside it.  Returns the file's lstat, or nothing when there is
// no file yet.  Anything unsafe is refused: StoreError, and one line naming
// the path and what is wrong.
std::optional<struct stat> inspect_store(const std::string &path);

// The same rules for the file a descriptor we opened reaches; its fstat.
struct stat check_store_file(int fd, const std::string &path);

// A descriptor closed when it goes out of scope.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) close(fd);
    }
};

// Fails with `status` after reporting why the store at `path` cannot be used.
// Reports go to standard error, one line per file however many calls run
// into it.
[[noreturn]] void refuse(HYP_ReturnStatus status, const std::string &path, const std::string &why);

}  // namespace fab
