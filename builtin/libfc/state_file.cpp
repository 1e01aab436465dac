// The shared state file: location, mapping, locking, validation, rebuild.

#include "state_file.hpp"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "check.hpp"
#include "flow_table.hpp"
#include "options.hpp"

namespace fcemu {
namespace {

constexpr char kMagic[8] = {'F', 'C', 'E', 'M', 'U', 'S', 'T', '1'};
constexpr const char *kStateFileName = "flowcache.state";

// flock() does not exclude threads sharing the descriptor, so threads of
// this process queue here first.
pthread_mutex_t process_lock = PTHREAD_MUTEX_INITIALIZER;

struct Attachment {
    int fd = -1;
    StateFile *file = nullptr;
    dev_t device = 0;
    ino_t inode = 0;
    pid_t owner = 0;                    // a forked child shares the descriptor's lock: it reopens
    std::uint64_t mapped = 0;           // bytes mapped at file
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

bool state_path(char *path, std::size_t size) {
    char directory[PATH_MAX];
    const char *configured = std::getenv("FC_EMU_DIR");
    if (configured && *configured)
        std::snprintf(directory, sizeof directory, "%s", configured);
    else
        std::snprintf(directory, sizeof directory, "/tmp/fcemu-%u", static_cast<unsigned>(getuid()));
    if (mkdir(directory, 0700) != 0 && errno != EEXIST) return false;
    return std::snprintf(path, size, "%s/%s", directory, kStateFileName) < static_cast<int>(size);
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

// Maps the whole file at its present size, which another process may have
// changed since this one last held the lock.
fcemu_status map_file(std::uint64_t size) {
    if (attached.file && attached.mapped == size) return FCEMU_OK;
    unmap();
    void *map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, attached.fd, 0);
    if (map == MAP_FAILED) return fail(FCEMU_NO_STATE, "cannot map the flow cache state file %s: %s", attached.path, std::strerror(errno));
    attached.file = static_cast<StateFile *>(map);
    attached.mapped = size;
    return FCEMU_OK;
}

// Keeps the current mapping while the same file still lies at the path;
// otherwise maps the file now there (creating it when needed).
fcemu_status attach() {
    char path[PATH_MAX];
    if (!state_path(path, sizeof path))
        return fail(FCEMU_NO_STATE, "cannot use the flow cache state directory: %s", std::strerror(errno));
    struct stat now_at_path;
    if (attached.fd >= 0 && attached.owner == getpid() && std::strcmp(path, attached.path) == 0 &&
        stat(path, &now_at_path) == 0 && now_at_path.st_dev == attached.device && now_at_path.st_ino == attached.inode)
        return FCEMU_OK;
    detach();
    int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return fail(FCEMU_NO_STATE, "cannot open the flow cache state file %s: %s", path, std::strerror(errno));
    struct stat opened;
    if (fstat(fd, &opened) != 0) {
        int error = errno;
        close(fd);
        return fail(FCEMU_NO_STATE, "cannot open the flow cache state file %s: %s", path, std::strerror(error));
    }
    attached.fd = fd;
    attached.device = opened.st_dev;
    attached.inode = opened.st_ino;
    attached.owner = getpid();
    std::snprintf(attached.path, sizeof attached.path, "%s", path);
    return FCEMU_OK;
}

// Empties the state and writes the header and the defaults.  Flow records
// are read only below each table's high-water mark, so a file of the right
// size keeps them and only the part before them is cleared; any other file
// is cut to nothing and grown back, which zeroes it and leaves the records
// sparse.
fcemu_status build_empty(std::uint32_t tables, std::uint32_t entries) {
    struct stat now;
    Layout layout = layout_for(tables, entries);
    if (fstat(attached.fd, &now) != 0 || static_cast<std::uint64_t>(now.st_size) != layout.file_size) {
        unmap();
        if (ftruncate(attached.fd, 0) != 0 || ftruncate(attached.fd, static_cast<off_t>(layout.file_size)) != 0)
            return fail(FCEMU_NO_STATE, "cannot size the flow cache state file %s: %s", attached.path, std::strerror(errno));
    }
    if (fcemu_status status = map_file(layout.file_size)) return status;
    StateFile *file = attached.file;
    std::memset(static_cast<void *>(file), 0, layout.records_offset);
    set_default_options(file->state);
    file->state.next_flow_id = 1;
    file->state.global_conf_gen = 1;
    file->header = expected_header(tables, entries);
    return FCEMU_OK;
}

// Why the locked file cannot be used as it is, or null when it can.
const char *damage(bool &fresh) {
    struct stat now;
    fresh = false;
    if (fstat(attached.fd, &now) != 0) return "unreadable";
    if (now.st_size == 0) {
        fresh = true;
        return "new";
    }
    auto size = static_cast<std::uint64_t>(now.st_size);
    if (size < sizeof(StateFile)) return "truncated";
    if (map_file(size) != FCEMU_OK) return "unmappable";
    const Header &header = attached.file->header;
    if (!sizes_allowed(header.tables, header.entries_per_table)) return "corrupt";
    Header expected = expected_header(header.tables, header.entries_per_table);
    if (std::memcmp(&header, &expected, sizeof expected) != 0) return "corrupt";
    if (size < header.file_size) return "truncated";
    if (size != header.file_size) return "of the wrong size";
    return nullptr;
}

}  // namespace

std::uint64_t now_ms() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

StateAccess::StateAccess() {
    pthread_mutex_lock(&process_lock);
    status_ = attach();
    if (status_ != FCEMU_OK) return;
    while (flock(attached.fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            status_ = fail(FCEMU_NO_STATE, "cannot lock the flow cache state file %s: %s", attached.path, std::strerror(errno));
            return;
        }
    }
    locked_ = true;
    bool fresh;
    if (const char *problem = damage(fresh)) {
        if (!fresh) std::fprintf(stderr, "libfc: state file %s was %s; rebuilt empty\n", attached.path, problem);
        status_ = build_empty(FCEMU_DEFAULT_TABLES, FCEMU_DEFAULT_TABLE_ENTRIES);
        if (status_ != FCEMU_OK) return;
    }
    file_ = attached.file;
    begin_change(*file_);
    now_ = now_ms();
    expire_idle_flows(*file_, now_);
}

StateAccess::~StateAccess() {
    if (file_) end_change(*file_);
    if (locked_) flock(attached.fd, LOCK_UN);
    pthread_mutex_unlock(&process_lock);
}

fcemu_status StateAccess::rebuild(std::uint32_t tables, std::uint32_t entries) {
    if (status_ != FCEMU_OK) return status_;
    status_ = build_empty(tables, entries);
    file_ = status_ == FCEMU_OK ? attached.file : nullptr;
    if (file_) begin_change(*file_);
    return status_;
}

}  // namespace fcemu
