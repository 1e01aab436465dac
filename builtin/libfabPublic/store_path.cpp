// The store's location and the checks made before any file is opened.

#include "store_path.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <climits>
#include <cstring>

#include "private_dir.hpp"

namespace fab {
namespace {

std::string mode_text(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "0%03o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Words a refusal of the store's directory or of a file in it; `what` names
// the file checked.  Callers build its words only once something is unsafe:
// every call of the library passes here.
[[noreturn, gnu::cold]] void refuse_unsafe(const emu::PrivateCheck &check, const std::string &path,
                                           const std::string &what, const std::string &directory) {
    const std::string error = check.error ? std::strerror(check.error) : "";
    const std::string uid = std::to_string(check.st.st_uid);
    switch (check.unsafe) {
    case emu::Unsafe::cannot_make:
        refuse(HYP_IO_ERROR, path, "cannot make the directory " + directory + ": " + error);
    case emu::Unsafe::missing:
        refuse(HYP_IO_ERROR, path, "its directory " + directory + " does not exist");
    case emu::Unsafe::path_not_directory:
        refuse(HYP_NOT_A_DIRECTORY, path, "a part of " + directory + " is not a directory");
    case emu::Unsafe::not_directory:
        refuse(HYP_NOT_A_DIRECTORY, path, directory + " is not a directory");
    case emu::Unsafe::link:
        refuse(HYP_NO_PERMISSION, path, what + " is a symbolic link");
    case emu::Unsafe::is_directory:
        refuse(HYP_IS_A_DIRECTORY, path, what + " is a directory");
    case emu::Unsafe::not_regular:
        refuse(HYP_INVALID_METADATA, path, what + " is not a regular file");
    case emu::Unsafe::foreign_owner:
        refuse(HYP_NO_PERMISSION, path,
               what + " belongs to user " + uid + ", not to this user (" + std::to_string(geteuid()) + ")");
    case emu::Unsafe::open_to_others:
        refuse(HYP_NO_PERMISSION, path, what + " is writable by other users (mode " + mode_text(check.st.st_mode) + ")");
    case emu::Unsafe::none:
    case emu::Unsafe::cannot_open:
    case emu::Unsafe::cannot_inspect:
        break;
    }
    refuse(HYP_IO_ERROR, path, "cannot inspect " + what + ": " + error);
}

bool unsafe(const emu::PrivateCheck &check) { return check.unsafe != emu::Unsafe::none; }

std::string directory_of(const std::string &path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string &path) { return path.substr(path.rfind('/') + 1); }

struct Reports {
    std::string reported_path;  // the file whose problem was already written to stderr
};

Reports &reports() {
    static Reports instance;
    return instance;
}

}  // namespace

std::string store_path() {
    if (const char *path = std::getenv("FAB_EMU_DB"); path && *path) return path;
    // The same private directory as the built-in flow cache's; what it is
    // like is checked with the store's path afterwards, so a directory
    // someone else made under our name is refused, not used.
    char directory[PATH_MAX];
    emu::default_private_directory(directory, sizeof directory);
    std::string path = std::string(directory) + "/fabemu.db";
    if (emu::PrivateCheck made = emu::make_private_directory(directory); unsafe(made))
        refuse_unsafe(made, path, "it", directory);
    return path;
}

std::optional<struct stat> inspect_store(const std::string &path) {
    const std::string directory = directory_of(path);
    // Files in it are looked at relative to the checked descriptor.
    Descriptor opened;
    if (emu::PrivateCheck checked = emu::open_private_directory(directory.c_str(), opened.fd); unsafe(checked))
        refuse_unsafe(checked, path, "its directory " + directory, directory);
    // SQLite's journal and the write-ahead files would be opened (and a hot
    // journal played back into the store) without asking us.
    const std::string name = name_of(path);
    for (const char *suffix : {"-journal", "-wal", "-shm"}) {
        struct stat side;
        if (fstatat(opened.fd, (name + suffix).c_str(), &side, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (emu::PrivateCheck checked = emu::check_private_file(side); unsafe(checked))
            refuse_unsafe(checked, path, "its file " + path + suffix, directory);
    }
    struct stat st;
    if (fstatat(opened.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return std::nullopt;
        refuse(HYP_IO_ERROR, path, std::string("cannot inspect it: ") + std::strerror(errno));
    }
    if (emu::PrivateCheck checked = emu::check_private_file(st); unsafe(checked))
        refuse_unsafe(checked, path, "it", directory);
    return st;
}

struct stat check_store_file(int fd, const std::string &path) {
    emu::PrivateCheck check = emu::inspect_private_file(fd);
    if (unsafe(check)) refuse_unsafe(check, path, "it", directory_of(path));
    return check.st;
}

void refuse(HYP_ReturnStatus status, const std::string &path, const std::string &why) {
    Reports &r = reports();
    if (r.reported_path != path) {
        r.reported_path = path;
        std::string line = why;  // one line, whatever SQLite's text holds
        std::replace(line.begin(), line.end(), '\n', ' ');
        std::fprintf(stderr, "fabemu: cannot use the store %s: %s\n", path.c_str(), line.c_str());
    }
    fail(status);
}

}  // namespace fab
