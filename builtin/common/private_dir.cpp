// Private directories and files, checked through descriptors.

#include "private_dir.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace emu {
namespace {

// Ours, and writable by nobody else.  A directory of root's is refused too
// unless we are root: the state is a user's own, never kept in a place
// shared with whoever else root lets in.
Unsafe owner_and_mode(const struct stat &st) {
    if (st.st_uid != geteuid()) return Unsafe::foreign_owner;
    if (st.st_mode & (S_IWGRP | S_IWOTH)) return Unsafe::open_to_others;
    return Unsafe::none;
}

}  // namespace

PrivateCheck unsafe_because(Unsafe why, int error) {
    PrivateCheck check;
    check.unsafe = why;
    check.error = error;
    return check;
}

void default_private_directory(char *out, std::size_t size) {
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st;
    if (runtime && runtime[0] == '/' && lstat(runtime, &st) == 0 && S_ISDIR(st.st_mode) &&
        owner_and_mode(st) == Unsafe::none) {
        std::snprintf(out, size, "%s/libfc", runtime);
        return;
    }
    const char *temporary = std::getenv("TMPDIR");
    if (!temporary || temporary[0] != '/') temporary = "/tmp";
    std::snprintf(out, size, "%s/libfc-%u", temporary, static_cast<unsigned>(geteuid()));
}

PrivateCheck make_private_directory(const char *directory) {
    if (mkdir(directory, 0700) != 0 && errno != EEXIST) return unsafe_because(Unsafe::cannot_make, errno);
    return {};
}

PrivateCheck open_private_directory(const char *directory, int &fd) {
    fd = open(directory, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // The kernel says ELOOP or ENOTDIR for a link here, ENOTDIR also for
        // a file at the path or on the way to it: lstat tells them apart.
        int error = errno;
        struct stat at_path;
        bool seen = lstat(directory, &at_path) == 0;
        if (seen && S_ISLNK(at_path.st_mode)) return unsafe_because(Unsafe::link, error);
        if (error == ENOENT) return unsafe_because(Unsafe::missing, error);
        if (error == ENOTDIR) return unsafe_because(seen ? Unsafe::not_directory : Unsafe::path_not_directory, error);
        return unsafe_because(Unsafe::cannot_open, error);
    }
    PrivateCheck check;
    if (fstat(fd, &check.st) != 0)
        check = unsafe_because(Unsafe::cannot_inspect, errno);
    else
        check.unsafe = owner_and_mode(check.st);
    if (check.unsafe != Unsafe::none) {
        close(fd);
        fd = -1;
    }
    return check;
}

PrivateCheck check_private_file(const struct stat &st) {
    PrivateCheck check;
    check.st = st;
    if (S_ISLNK(st.st_mode)) check.unsafe = Unsafe::link;
    else if (S_ISDIR(st.st_mode)) check.unsafe = Unsafe::is_directory;
    else if (!S_ISREG(st.st_mode)) check.unsafe = Unsafe::not_regular;
    else check.unsafe = owner_and_mode(st);
    return check;
}

PrivateCheck inspect_private_file(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return unsafe_because(Unsafe::cannot_inspect, errno);
    return check_private_file(st);
}

}  // namespace emu
