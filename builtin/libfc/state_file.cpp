// The shared state file: where it lives, whose it must be, how it is
// created, locked, checked and mapped.

#include "state_file.hpp"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include "recovery.hpp"
#include "lock_wait.h"
#include "flow_table.hpp"
#include "options.hpp"
#include "private_dir.hpp"

namespace fcemu {
namespace {

constexpr char kMagic[8] = {'F', 'C', 'E', 'M', 'U', 'S', 'T', '1'};
constexpr const char *kStateFileName = "flowcache.state";
constexpr const char *kResetHint = "'libfc emu reset' rebuilds it empty";

// The file lock is a POSIX record lock, so that a waiter can ask the kernel
// which process holds it.  Such a lock belongs to the process, not to a
// descriptor: threads of this process queue here first, and the state file
// is never opened a second time (closing any descriptor of it would drop
// the lock).
pthread_mutex_t process_lock = PTHREAD_MUTEX_INITIALIZER;

struct Attachment {
    int fd = -1;
    StateFile *file = nullptr;          // mapped once the file checked out at full size
    std::uint64_t mapped = 0;           // bytes mapped at file
    std::uint64_t reserved = 0;         // bytes whose blocks were reserved since it was opened
    dev_t device = 0;
    ino_t inode = 0;
    pid_t owner = 0;                    // a forked child holds none of the parent's locks: it reopens
    char path[PATH_MAX] = {};
};
Attachment attached;

std::uint64_t checksum_of(const Header &header) {
    // FNV-1a over every byte before the checksum itself.
    std::uint64_t hash = 1469598103934665603ull;
    const auto *bytes = reinterpret_cast<const unsigned char *>(&header);
    for (std::size_t i = 0; i < offsetof(Header, checksum); ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
    return hash;
}

Header expected_header(std::uint32_t tables, std::uint32_t entries) {
    Layout layout = layout_for(tables, entries);
    Header header{};
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.version = kVersion;
    header.header_size = sizeof(Header);
    header.file_size = layout.file_size;
    header.tables_offset = layout.tables_offset;
    header.buckets_offset = layout.buckets_offset;
    header.records_offset = layout.records_offset;
    header.tables = tables;
    header.entries_per_table = entries;
    header.buckets_per_table = layout.buckets_per_table;
    header.ways = kWays;
    header.record_size = sizeof(FlowRecord);
    header.cells = kCells;
    header.inval_entities = kInvalEntities;
    header.portsets = kPortsets;
    header.ports = kPorts;
    header.checksum = checksum_of(header);
    return header;
}

// Words a refusal of the state's directory or file (what names which).
fcemu_status refuse_unsafe(const emu::PrivateCheck &check, const char *what, const char *path) {
    switch (check.unsafe) {
    case emu::Unsafe::none:
        return FCEMU_OK;
    case emu::Unsafe::cannot_make:
        return fail(FCEMU_NO_STATE, "cannot create the flow cache state %s %s: %s", what, path, std::strerror(check.error));
    case emu::Unsafe::link:
        return fail(FCEMU_NO_STATE, "refusing the flow cache state %s %s: it is a symbolic link", what, path);
    case emu::Unsafe::is_directory:
    case emu::Unsafe::not_regular:
        return fail(FCEMU_NO_STATE, "refusing the flow cache state %s %s: not a regular file", what, path);
    case emu::Unsafe::foreign_owner:
        return fail(FCEMU_NO_STATE, "refusing the flow cache state %s %s: owned by uid %u, not by this user (uid %u)",
                    what, path, static_cast<unsigned>(check.st.st_uid), static_cast<unsigned>(geteuid()));
    case emu::Unsafe::open_to_others:
        return fail(FCEMU_NO_STATE, "refusing the flow cache state %s %s: writable by group or others (mode %04o)",
                    what, path, static_cast<unsigned>(check.st.st_mode & 07777));
    case emu::Unsafe::cannot_inspect:
        return fail(FCEMU_NO_STATE, "cannot inspect the flow cache state %s %s: %s", what, path,
                    std::strerror(check.error));
    default:
        return fail(FCEMU_NO_STATE, "cannot open the flow cache state %s %s: %s", what, path, std::strerror(check.error));
    }
}

// Opens the state directory, creating it when missing.  The file is then
// opened relative to the checked descriptor, so nothing swapped in at the
// path after the check is ever used.
fcemu_status open_directory(const char *directory, int &fd) {
    fd = -1;
    emu::PrivateCheck check = emu::make_private_directory(directory);
    if (check.unsafe == emu::Unsafe::none) check = emu::open_private_directory(directory, fd);
    return refuse_unsafe(check, "directory", directory);
}

fcemu_status open_file(int directory_fd, const char *path, int &fd, struct stat &st) {
    fd = openat(directory_fd, kStateFileName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return refuse_unsafe(emu::unsafe_because(errno == ELOOP ? emu::Unsafe::link : emu::Unsafe::cannot_open, errno),
                             "file", path);
    emu::PrivateCheck check = emu::inspect_private_file(fd);
    st = check.st;
    fcemu_status status = refuse_unsafe(check, "file", path);
    if (status != FCEMU_OK) close(fd);
    return status;
}

void unmap() {
    if (attached.file) munmap(attached.file, attached.mapped);
    attached.file = nullptr;
    attached.mapped = 0;
}

void detach() {
    unmap();
    if (attached.fd >= 0) close(attached.fd);
    attached = Attachment{};
}

// Keeps the current descriptor while the same file still lies at the path;
// otherwise opens (creating when needed) the file now there.
fcemu_status attach() {
    char directory[PATH_MAX];
    char path[PATH_MAX];
    state_directory(directory, sizeof directory);
    if (std::snprintf(path, sizeof path, "%s/%s", directory, kStateFileName) >= static_cast<int>(sizeof path))
        return fail(FCEMU_NO_STATE, "cannot use the flow cache state directory %.200s...: the path is too long", directory);
    struct stat now_at_path;
    if (attached.fd >= 0 && attached.owner == getpid() && std::strcmp(path, attached.path) == 0 &&
        lstat(path, &now_at_path) == 0 && now_at_path.st_dev == attached.device && now_at_path.st_ino == attached.inode)
        return FCEMU_OK;
    detach();
    int directory_fd = -1;
    fcemu_status status = open_directory(directory, directory_fd);
    if (status != FCEMU_OK) return status;
    int fd = -1;
    struct stat opened {};
    status = open_file(directory_fd, path, fd, opened);
    close(directory_fd);
    if (status != FCEMU_OK) return status;
    attached.fd = fd;
    attached.device = opened.st_dev;
    attached.inode = opened.st_ino;
    attached.owner = getpid();
    std::snprintf(attached.path, sizeof attached.path, "%s", path);
    return FCEMU_OK;
}

double seconds_since(const timespec &start) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - start.tv_sec) + static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
}

// Two one-byte record locks: the state lock, held while a call uses the
// state, and a turnstile, held by the process next in line while it waits
// for the state lock.  A process that has just released the state lock must
// pass the turnstile to take it again, so a waiter gets its turn even when
// the holder takes the lock back at once (traffic installed in batches).
constexpr off_t kStateLock = 0;
constexpr off_t kTurnstile = 1;

bool set_lock(off_t byte, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    return fcntl(attached.fd, F_SETLK, &lock) == 0;
}

pid_t holder_of(off_t byte) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = byte;
    probe.l_len = 1;
    return fcntl(attached.fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK ? probe.l_pid : 0;
}

// Who holds the state lock (or, when it is free, the turnstile), for a
// message: "pid N", or "another process" when the kernel cannot say (it
// left, or lives in another pid namespace).
const char *lock_holder() {
    static char text[32];
    pid_t pid = holder_of(kStateLock);
    if (pid <= 0) pid = holder_of(kTurnstile);
    if (pid > 0)
        std::snprintf(text, sizeof text, "pid %d", static_cast<int>(pid));
    else
        std::snprintf(text, sizeof text, "another process");
    return text;
}

// Ctrl-C while waiting for the lock.  The caller's handler (the
// interpreter's) only notes a signal and acts once the call returns, and a
// signal that lands between two pauses would not cut the next one short, so
// the wait could run its full time.  During the wait SIGINT therefore goes
// through a handler of ours that notes it and passes it on, and each pause
// is a pselect that lets SIGINT in only while it sleeps: a signal is seen
// either before a pause or by it.  Waits take turns in the process
// (process_lock), so one wait at a time owns the handler.
volatile sig_atomic_t interrupted;
struct sigaction caller_action;

void note_interrupt(int sig, siginfo_t *info, void *context) {
    interrupted = 1;
    if (caller_action.sa_flags & SA_SIGINFO) {
        if (caller_action.sa_sigaction) caller_action.sa_sigaction(sig, info, context);
    } else if (caller_action.sa_handler != SIG_DFL && caller_action.sa_handler != SIG_IGN) {
        caller_action.sa_handler(sig);
    }
}

class InterruptWatch {
public:
    InterruptWatch() {
        interrupted = 0;
        sigset_t only_interrupt;
        sigemptyset(&only_interrupt);
        sigaddset(&only_interrupt, SIGINT);
        pthread_sigmask(SIG_BLOCK, &only_interrupt, &original_mask_);
        watching_ = sigaction(SIGINT, nullptr, &caller_action) == 0 && caller_action.sa_handler != SIG_IGN;
        if (watching_) {
            struct sigaction ours {};
            ours.sa_sigaction = note_interrupt;
            ours.sa_flags = SA_SIGINFO;
            sigfillset(&ours.sa_mask);
            watching_ = sigaction(SIGINT, &ours, nullptr) == 0;
        }
        // A thread that kept SIGINT blocked keeps it so: another thread takes
        // the signal, and the next turn of the wait sees it noted.
        sleeping_mask_ = original_mask_;
        if (sigismember(&original_mask_, SIGINT) != 1) sigdelset(&sleeping_mask_, SIGINT);
    }
    ~InterruptWatch() {
        if (watching_) sigaction(SIGINT, &caller_action, nullptr);
        pthread_sigmask(SIG_SETMASK, &original_mask_, nullptr);
        // A program that left SIGINT to its default action ends as it would have.
        if (watching_ && interrupted && caller_action.sa_handler == SIG_DFL && !(caller_action.sa_flags & SA_SIGINFO))
            raise(SIGINT);
    }
    InterruptWatch(const InterruptWatch &) = delete;
    InterruptWatch &operator=(const InterruptWatch &) = delete;

    bool interrupted_now() const { return interrupted != 0; }

    // Sleeps ns nanoseconds with SIGINT let in; false when it came.
    bool pause(long ns) const {
        timespec pause{0, ns};
        pselect(0, nullptr, nullptr, nullptr, &pause, &sleeping_mask_);
        return interrupted == 0;
    }

private:
    sigset_t original_mask_;   // the thread's mask before the wait
    sigset_t sleeping_mask_;   // the same, SIGINT let in unless it was blocked
    bool watching_ = false;
};

// One attempt at the lock: through the turnstile (kept once taken), then
// the state lock itself.
bool take_lock(bool &in_line) {
    if (!in_line) in_line = set_lock(kTurnstile, F_WRLCK);
    if (!in_line || !set_lock(kStateLock, F_WRLCK)) return false;
    set_lock(kTurnstile, F_UNLCK);
    return true;
}

// Takes the state lock, waiting at most emu_lock_wait_ms().  A signal
// caught while waiting (Ctrl-C) ends the wait at once, so that its handler
// runs when the call returns instead of seconds later.  (No trap jump can
// cross this frame: the library jumps only from its entry points.)
fcemu_status lock_file() {
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    long pause_ns = 1000000;
    bool in_line = false;               // this process holds the turnstile
    if (take_lock(in_line)) return FCEMU_OK;  // no wait, no handler to set
    const long wait_ms = emu_lock_wait_ms();
    InterruptWatch watch;
    for (;;) {
        if (take_lock(in_line)) return FCEMU_OK;
        fcemu_status status = FCEMU_OK;
        if (errno != EACCES && errno != EAGAIN && errno != EINTR)
            status = fail(FCEMU_NO_STATE, "cannot lock the flow cache state file %s: %s", attached.path, std::strerror(errno));
        else if (seconds_since(start) * 1000 >= wait_ms)
            status = fail(FCEMU_NO_STATE, "the flow cache state file %s is locked by %s (gave up after %g s)",
                          attached.path, lock_holder(), wait_ms / 1000.0);
        else if (watch.interrupted_now() || !watch.pause(pause_ns))
            status = fail(FCEMU_NO_STATE, "interrupted while waiting for the lock on the flow cache state file %s (held by %s)",
                          attached.path, lock_holder());
        if (status != FCEMU_OK) {
            if (in_line) set_lock(kTurnstile, F_UNLCK);
            return status;
        }
        pause_ns = pause_ns < 16000000 ? pause_ns * 2 : pause_ns;
    }
}

void unlock_file() { set_lock(kStateLock, F_UNLCK); }

__attribute__((format(printf, 1, 2), cold))
fcemu_status refuse_damaged(const char *format, ...) {
    char problem[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(problem, sizeof problem, format, args);
    va_end(args);
    return fail(FCEMU_NO_STATE, "the flow cache state file %s %s; %s", attached.path, problem, kResetHint);
}

// Checks the locked file before its mapping is touched: only a file that
// holds every byte its header promises is ever mapped, and its size (which
// follows from the table sizes in the header) is returned in size_out.  A
// file whose header is all zero was never finished (created just now, or a
// build cut short) and holds nothing to lose: fresh asks the caller to
// build it.
fcemu_status check_file(bool &fresh, std::uint64_t &size_out) {
    fresh = false;
    struct stat now;
    Header header{};
    ssize_t got = fstat(attached.fd, &now) == 0 ? pread(attached.fd, &header, sizeof header, 0) : -1;
    if (got < 0) return fail(FCEMU_NO_STATE, "cannot read the flow cache state file %s: %s", attached.path, std::strerror(errno));
    const auto *bytes = reinterpret_cast<const unsigned char *>(&header);
    fresh = true;
    for (ssize_t i = 0; i < got && fresh; ++i) fresh = bytes[i] == 0;
    if (fresh) return FCEMU_OK;
    auto size = static_cast<unsigned long long>(now.st_size);
    if (got < static_cast<ssize_t>(sizeof header)) return refuse_damaged("is truncated (%llu bytes)", size);
    if (std::memcmp(header.magic, kMagic, sizeof kMagic) != 0) return refuse_damaged("is not a flow cache state file");
    if (header.version > kVersion)
        return refuse_damaged("has format version %u, newer than this library's %u", header.version, kVersion);
    if (header.checksum != checksum_of(header)) return refuse_damaged("fails its check (header checksum)");
    if (size < header.file_size)
        return refuse_damaged("is truncated (%llu bytes, its header says %llu)", size,
                              static_cast<unsigned long long>(header.file_size));
    if (header.version != kVersion || !sizes_allowed(header.tables, header.entries_per_table))
        return refuse_damaged("fails its check (format version %u, another layout)", header.version);
    Header expected = expected_header(header.tables, header.entries_per_table);
    if (std::memcmp(&header, &expected, sizeof expected) != 0)
        return refuse_damaged("fails its check (format version %u, another layout)", header.version);
    if (size != header.file_size)
        return refuse_damaged("fails its check (%llu bytes, its header says %llu)", size,
                              static_cast<unsigned long long>(header.file_size));
    size_out = header.file_size;
    return FCEMU_OK;
}

// Reserves every block of the file, growing it to full size, so that no
// write through the mapping can fault on a full disk.  On failure the file
// is cut back to the size it had: the state it held is left as it was.
fcemu_status reserve_blocks(std::uint64_t size) {
    struct stat before;
    if (fstat(attached.fd, &before) != 0)
        return fail(FCEMU_NO_STATE, "cannot inspect the flow cache state file %s: %s", attached.path, std::strerror(errno));
    // Walking a file that already has every block costs as much as
    // reserving them (on tmpfs), so that case is recognised first.
    bool whole = static_cast<std::uint64_t>(before.st_size) >= size &&
                 static_cast<std::uint64_t>(before.st_blocks) * 512 >= size;
    int error = whole ? 0 : posix_fallocate(attached.fd, 0, static_cast<off_t>(size));
    if (error != 0) {
        struct stat after;
        if (fstat(attached.fd, &after) == 0 && after.st_size != before.st_size) {
            if (ftruncate(attached.fd, before.st_size) != 0) {
                // Nothing more to undo: the size is checked on every use.
            }
        }
        return fail(FCEMU_NO_STATE, "no room for the flow cache state file %s (%llu bytes): %s", attached.path,
                    static_cast<unsigned long long>(size), std::strerror(error));
    }
    attached.reserved = size;
    return FCEMU_OK;
}

// Maps the whole file at its present size, which another process may have
// changed since this one last held the lock.
fcemu_status map_file(std::uint64_t size) {
    if (attached.file && attached.mapped == size) return FCEMU_OK;
    unmap();
    void *map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, attached.fd, 0);
    if (map == MAP_FAILED)
        return fail(FCEMU_NO_STATE, "cannot map the flow cache state file %s: %s", attached.path, std::strerror(errno));
    attached.file = static_cast<StateFile *>(map);
    attached.mapped = size;
    return FCEMU_OK;
}

// Makes a checked file of size bytes usable: its blocks reserved (once per
// opening and size; a file made by an older library may be sparse) and
// mapped.
fcemu_status prepare_file(std::uint64_t size) {
    fcemu_status status = attached.reserved == size ? FCEMU_OK : reserve_blocks(size);
    return status != FCEMU_OK ? status : map_file(size);
}

// Empties the state for tables of entries flows and writes the defaults.
// The blocks of the new size are reserved before anything is written, so a
// full disk leaves the old state as it was.  Then the header is zeroed, the
// file cut to size and the header written last: a build cut short leaves a
// zero header, which the next call builds again.  Flow records are read
// only below each table's high-water mark, so only the part before them is
// cleared.
fcemu_status build_empty(std::uint32_t tables, std::uint32_t entries) {
    Layout layout = layout_for(tables, entries);
    fcemu_status status = reserve_blocks(layout.file_size);
    if (status != FCEMU_OK) return status;
    static const Header zero{};
    struct stat now;
    if (pwrite(attached.fd, &zero, sizeof zero, 0) != static_cast<ssize_t>(sizeof zero) || fstat(attached.fd, &now) != 0 ||
        (static_cast<std::uint64_t>(now.st_size) > layout.file_size &&
         ftruncate(attached.fd, static_cast<off_t>(layout.file_size)) != 0))
        return fail(FCEMU_NO_STATE, "cannot size the flow cache state file %s: %s", attached.path, std::strerror(errno));
    status = map_file(layout.file_size);
    if (status != FCEMU_OK) return status;
    StateFile *file = attached.file;
    std::memset(static_cast<void *>(file), 0, layout.records_offset);
    set_default_options(file->state);
    file->state.next_flow_id = 1;
    file->state.global_conf_gen = 1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    file->header = expected_header(tables, entries);
    return FCEMU_OK;
}

}  // namespace

std::uint64_t now_ms() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

void state_directory(char *out, std::size_t size) {
    const char *configured = std::getenv("FC_EMU_DIR");
    if (configured && *configured) {
        std::snprintf(out, size, "%s", configured);
        return;
    }
    emu::default_private_directory(out, size);
}

StateAccess::StateAccess(Purpose purpose, std::uint32_t tables, std::uint32_t entries) {
    pthread_mutex_lock(&process_lock);
    status_ = attach();
    if (status_ != FCEMU_OK) return;
    status_ = lock_file();
    if (status_ != FCEMU_OK) return;
    locked_ = true;
    bool fresh = false;
    std::uint64_t size = 0;
    if (purpose == use) {
        status_ = check_file(fresh, size);
        if (status_ != FCEMU_OK) return;
    }
    if (purpose == reset)
        status_ = build_empty(tables, entries);
    else if (fresh)
        status_ = build_empty(FCEMU_DEFAULT_TABLES, FCEMU_DEFAULT_TABLE_ENTRIES);
    else
        status_ = prepare_file(size);
    if (status_ != FCEMU_OK) return;
    file_ = attached.file;
    // Only now, with the lock held and the file known sound, is the writer
    // mark looked at: a mark left by a writer that died is repaired here.
    begin_change(*file_);
    now_ = now_ms();
    if (purpose == use) expire_idle_flows(*file_, now_);
}

StateAccess::~StateAccess() {
    if (file_) end_change(*file_);
    if (locked_) unlock_file();
    pthread_mutex_unlock(&process_lock);
}

}  // namespace fcemu
