// The rule both built-in libraries hold their state's place to: a directory
// and files of this user's that no one else may write, so that no other
// user can plant, replace or change what the state is read from.  Checks
// are made on opened descriptors (or relative to one), never on a path
// looked at again later.  Each library words the refusals in its own terms.
#pragma once

#include <sys/stat.h>

#include <cstddef>

namespace emu {

enum class Unsafe {
    none,
    cannot_make,         // the directory was missing and mkdir failed (error)
    missing,             // nothing at the path
    link,                // a symbolic link where the directory or file belongs
    not_directory,       // the directory's path names something else
    path_not_directory,  // a part of the path before it is not a directory
    is_directory,        // a directory where the file belongs
    not_regular,         // neither directory nor regular file
    foreign_owner,       // st.st_uid is another user's
    open_to_others,      // group or others may write (st.st_mode)
    cannot_open,         // open failed otherwise (error)
    cannot_inspect,      // fstat failed (error)
};

struct PrivateCheck {
    Unsafe unsafe = Unsafe::none;
    int error = 0;        // errno behind cannot_make, missing, cannot_open, cannot_inspect
    struct stat st {};    // what was checked, when it could be inspected
};

// $XDG_RUNTIME_DIR/libfc when the runtime directory is this user's alone
// (sudo may keep another user's), else <tmp>/libfc-<euid>.  Both libraries'
// state lies there, side by side.
void default_private_directory(char *out, std::size_t size);

// Makes directory (mode 0700) when it is missing.
PrivateCheck make_private_directory(const char *directory);

// Opens directory without following a link at its end and checks what the
// descriptor reaches; fd is left open only when nothing is unsafe.
PrivateCheck open_private_directory(const char *directory, int &fd);

// A file's own rule, for what an lstat or fstat of it gave.
PrivateCheck check_private_file(const struct stat &st);

// The same for the file a descriptor reaches.
PrivateCheck inspect_private_file(int fd);

// A failed call's check, for a caller that made the call itself.
PrivateCheck unsafe_because(Unsafe why, int error);

}  // namespace emu
