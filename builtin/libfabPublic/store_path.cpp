// The store's location and the checks made before any file is opened.

#include "store_path.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fab {
namespace {

std::string mode_text(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "0%03o", static_cast<unsigned>(mode & 07777));
    return text;
}

bool writable_by_others(mode_t mode) { return (mode & (S_IWGRP | S_IWOTH)) != 0; }

// A directory we may keep the store in: ours or root's, and writable by
// nobody else, so that no other user can put or replace a file in it.
void check_directory(const std::string &directory, const std::string &path) {
    struct stat st;
    if (stat(directory.c_str(), &st) != 0) {
        int error = errno;
        if (error == ENOENT) refuse(HYP_IO_ERROR, path, "its directory " + directory + " does not exist");
        if (error == ENOTDIR) refuse(HYP_NOT_A_DIRECTORY, path, "a part of " + directory + " is not a directory");
        refuse(HYP_IO_ERROR, path, "cannot inspect its directory " + directory + ": " + std::strerror(error));
    }
    if (!S_ISDIR(st.st_mode)) refuse(HYP_NOT_A_DIRECTORY, path, directory + " is not a directory");
    if (st.st_uid != geteuid() && st.st_uid != 0)
        refuse(HYP_NO_PERMISSION, path, "its directory " + directory + " belongs to user " + std::to_string(st.st_uid));
    if (writable_by_others(st.st_mode))
        refuse(HYP_NO_PERMISSION, path,
               "its directory " + directory + " is writable by other users (mode " + mode_text(st.st_mode) + ")");
}

// The rules for the store and the files beside it; `what` names the one
// checked in the message.
void check_file(const struct stat &st, const std::string &path, const std::string &what) {
    if (S_ISLNK(st.st_mode)) refuse(HYP_NO_PERMISSION, path, what + " is a symbolic link");
    if (S_ISDIR(st.st_mode)) refuse(HYP_IS_A_DIRECTORY, path, what + " is a directory");
    if (!S_ISREG(st.st_mode)) refuse(HYP_INVALID_METADATA, path, what + " is not a regular file");
    if (st.st_uid != geteuid())
        refuse(HYP_NO_PERMISSION, path,
               what + " belongs to user " + std::to_string(st.st_uid) + ", not to this user (" +
                   std::to_string(geteuid()) + ")");
    if (writable_by_others(st.st_mode))
        refuse(HYP_NO_PERMISSION, path, what + " is writable by other users (mode " + mode_text(st.st_mode) + ")");
}

std::string directory_of(const std::string &path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Makes (mode 0700) or finds the private directory; what it is like is
// checked with the store's path afterwards, so a directory someone else made
// under our name is refused, not used.
std::string private_directory(const std::string &directory) {
    if (mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST)
        refuse(HYP_IO_ERROR, directory + "/fabemu.db",
               "cannot make the directory " + directory + ": " + std::strerror(errno));
    struct stat st;
    if (lstat(directory.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        refuse(HYP_NO_PERMISSION, directory + "/fabemu.db", "its directory " + directory + " is a symbolic link");
    return directory;
}

bool usable_runtime_directory(const char *directory) {
    struct stat st;
    return directory && directory[0] == '/' && lstat(directory, &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == geteuid() && !writable_by_others(st.st_mode);
}

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
    // The same private directory as the built-in flow cache's.
    std::string directory;
    if (const char *runtime = std::getenv("XDG_RUNTIME_DIR"); usable_runtime_directory(runtime)) {
        directory = std::string(runtime) + "/libfc";
    } else {
        const char *tmp = std::getenv("TMPDIR");
        if (!tmp || tmp[0] != '/') tmp = "/tmp";
        directory = std::string(tmp) + "/libfc-" + std::to_string(geteuid());
    }
    return private_directory(directory) + "/fabemu.db";
}

std::optional<struct stat> inspect_store(const std::string &path) {
    check_directory(directory_of(path), path);
    // SQLite's journal and the write-ahead files would be opened (and a hot
    // journal played back into the store) without asking us.
    for (const char *suffix : {"-journal", "-wal", "-shm"}) {
        struct stat side;
        if (lstat((path + suffix).c_str(), &side) == 0) check_file(side, path, "its file " + path + suffix);
    }
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return std::nullopt;
        refuse(HYP_IO_ERROR, path, std::string("cannot inspect it: ") + std::strerror(errno));
    }
    check_file(st, path, "it");
    return st;
}

void check_store_file(const struct stat &file, const std::string &path) { check_file(file, path, "it"); }

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
