// Opening the store's SQLite file with its schema; statements and transactions.

#include "database.hpp"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "handles.hpp"
#include "lock_wait.h"
#include "status.hpp"
#include "store_call.hpp"
#include "store_path.hpp"

namespace fab {
namespace {

// A file is this store only when SQLite's header carries our application id
// ("FABE") and our schema version; anything else is another program's
// database (or an older layout) and is refused before SQLite opens it.
constexpr uint32_t kApplicationId = 0x46414245;
constexpr int kSchemaVersion = 2;

// The busy handler's step while another process holds the store's lock;
// the whole wait before HYP_BUSY is emu_lock_wait_ms().
constexpr int kBusyStepMs = 10;

// Port data and uplink data are properties whose owner is the port id or the
// uplink number; host and global properties have the empty owner.
constexpr const char *kSchema = R"sql(
CREATE TABLE switches(
    id          TEXT PRIMARY KEY,
    alias       TEXT UNIQUE,
    class_name  TEXT NOT NULL,
    portset     TEXT NOT NULL UNIQUE,
    version     INTEGER NOT NULL,
    max_ports   INTEGER NOT NULL,
    associated  INTEGER NOT NULL DEFAULT 0);
CREATE TABLE ports(
    switch_id   TEXT NOT NULL REFERENCES switches(id) ON DELETE CASCADE,
    port_id     TEXT NOT NULL,
    alias       TEXT NOT NULL DEFAULT '',
    external_id TEXT NOT NULL DEFAULT '',
    connect_id  INTEGER NOT NULL,
    type        INTEGER NOT NULL,
    state       BLOB NOT NULL,
    PRIMARY KEY(switch_id, port_id));
CREATE TABLE properties(
    switch_id   TEXT NOT NULL REFERENCES switches(id) ON DELETE CASCADE,
    scope       INTEGER NOT NULL,
    owner       TEXT NOT NULL,
    name        TEXT NOT NULL,
    prop_type   INTEGER NOT NULL,
    value       BLOB NOT NULL,
    PRIMARY KEY(switch_id, scope, owner, name));
PRAGMA application_id = 1178681925;
PRAGMA user_version = 2;
)sql";
static_assert(kApplicationId == 1178681925 && kSchemaVersion == 2, "the schema text repeats both numbers");

// The tables and their columns, in order, as the schema makes them.
constexpr const char *kTables = "ports(switch_id,port_id,alias,external_id,connect_id,type,state) "
                                "properties(switch_id,scope,owner,name,prop_type,value) "
                                "switches(id,alias,class_name,portset,version,max_ports,associated) ";

struct Connection {
    sqlite3 *db = nullptr;
    std::string path;
    bool writable = false;
    bool stand_in = false;  // an empty store in memory: no file, or an empty one
    bool has_file = false;
    dev_t device = 0;
    ino_t inode = 0;
    bool stale = false;  // to be opened again before the next use
};

Connection &connection() {
    static Connection instance;
    return instance;
}

HYP_ReturnStatus status_for(int code) {
    switch (code & 0xff) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED: return cancel_requested() ? HYP_ABORTED : HYP_BUSY;
        case SQLITE_INTERRUPT: return HYP_ABORTED;
        case SQLITE_NOMEM: return HYP_NO_MEMORY;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH: return HYP_READ_ONLY;
        case SQLITE_FULL: return HYP_NO_SPACE;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
        case SQLITE_FORMAT: return HYP_INVALID_METADATA;
        case SQLITE_IOERR:
        case SQLITE_CANTOPEN: return HYP_IO_ERROR;
        case SQLITE_CONSTRAINT: return HYP_EXISTS;
        case SQLITE_TOOBIG: return HYP_LIMIT_EXCEEDED;
        default: return HYP_FAILURE;
    }
}

// SQLite's busy handler: waits in short steps, so that a cancellation ends
// the wait at once and the whole wait stays bounded.
int wait_while_busy(void *, int attempts) {
    if (cancel_requested() || attempts * kBusyStepMs >= emu_lock_wait_ms()) return 0;
    sqlite3_sleep(kBusyStepMs);
    return 1;
}

// SQLite's progress handler: a long statement stops when cancelled.
int stop_if_cancelled(void *) { return cancel_requested() ? 1 : 0; }

[[noreturn]] void fail_open(sqlite3 *db, const std::string &path, int code) {
    std::string why = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    sqlite3_close_v2(db);
    HYP_ReturnStatus status = status_for(code);
    if (status == HYP_BUSY || status == HYP_ABORTED) fail(status);  // nothing wrong with the file
    refuse(status, path, why);
}

sqlite3 *open_sqlite(const std::string &path, bool writable) {
    sqlite3 *db = nullptr;
    int flags = (writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOFOLLOW;
    if (int code = sqlite3_open_v2(path.c_str(), &db, flags, nullptr); code != SQLITE_OK) fail_open(db, path, code);
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_handler(db, wait_while_busy, nullptr);
    sqlite3_progress_handler(db, 10000, stop_if_cancelled, nullptr);
    // FULL makes a reported commit survive a crash of the machine, not only
    // of this process.  The journal stays SQLite's default rollback journal:
    // a reader then needs no file beside the store and no write access.
    // Both settings matter only to a writer, and a reader must not run them:
    // they read the schema, which fails on a store whose writer died before
    // open_for_reading can have the change rolled back.
    if (!writable) return db;
    if (int code = sqlite3_exec(db, "PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;", nullptr, nullptr, nullptr);
        code != SQLITE_OK)
        fail_open(db, path, code);
    return db;
}

void exec_or_fail(sqlite3 *db, const std::string &path, const char *sql) {
    if (int code = sqlite3_exec(db, sql, nullptr, nullptr, nullptr); code != SQLITE_OK) fail_open(db, path, code);
}

// A descriptor closed on every way out of the checks.
uint32_t big_endian(const unsigned char *p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

// Reads SQLite's header through our own descriptor: true when the file holds
// our store, false when it is empty.  Anything else is refused before SQLite
// opens the file, so nothing in another program's database can change.
bool holds_store(int fd, const std::string &path) {
    unsigned char header[100];
    ssize_t n = pread(fd, header, sizeof header, 0);
    if (n < 0) refuse(HYP_IO_ERROR, path, std::string("cannot read it: ") + std::strerror(errno));
    if (n == 0) return false;
    if (n < static_cast<ssize_t>(sizeof header) || std::memcmp(header, "SQLite format 3", 16) != 0)
        refuse(HYP_INVALID_METADATA, path, "it is not an SQLite database");
    char number[16];
    if (uint32_t id = big_endian(header + 68); id != kApplicationId) {
        std::snprintf(number, sizeof number, "0x%08x", id);
        refuse(HYP_INVALID_METADATA, path,
               std::string("it is another program's SQLite database (application id ") + number +
                   "), not a switch-state store");
    }
    if (uint32_t version = big_endian(header + 60); version != kSchemaVersion)
        refuse(HYP_VERSION_MISMATCH_MAJOR, path,
               "it has schema version " + std::to_string(version) + "; this library reads version " +
                   std::to_string(kSchemaVersion));
    // Bytes 18 and 19 are 2 in write-ahead mode, where a reader would have to
    // create files beside the store.
    if (header[18] != 1 || header[19] != 1) refuse(HYP_INVALID_METADATA, path, "it uses write-ahead logging");
    return true;
}

struct CheckedFile {
    dev_t device;
    ino_t inode;
    bool holds_store;
};

// Opens the file with O_NOFOLLOW (creating it 0600 when `create`), checks
// what the descriptor reaches, and closes it again before SQLite opens the
// path: the directory admits no other writer, so SQLite opens this very
// file.  (Our descriptor must be closed first: closing any descriptor of a
// file drops the process's POSIX locks on it, SQLite's included.)
CheckedFile check_opened(const std::string &path, bool writable, bool create) {
    int flags = (writable ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_CLOEXEC | (create ? O_CREAT | O_EXCL : 0);
    Descriptor file{open(path.c_str(), flags, 0600)};
    if (file.fd < 0) {
        int error = errno;
        if (create && error == EEXIST) return check_opened(path, writable, false);  // another process made it
        if (error == ELOOP) refuse(HYP_NO_PERMISSION, path, "it is a symbolic link");
        if (error == EROFS || (writable && error == EACCES))
            refuse(HYP_READ_ONLY, path, std::string("cannot open it for writing: ") + std::strerror(error));
        refuse(error == EACCES ? HYP_NO_PERMISSION : HYP_IO_ERROR, path,
               std::string("cannot open it: ") + std::strerror(error));
    }
    if (create && fchmod(file.fd, 0600) != 0)  // whatever the umask
        refuse(HYP_IO_ERROR, path, std::string("cannot set its mode: ") + std::strerror(errno));
    struct stat st = check_store_file(file.fd, path);
    return CheckedFile{st.st_dev, st.st_ino, !create && holds_store(file.fd, path)};
}

// The tables as "name(columns) " for each, in name order; empty when none.
std::string table_layout(sqlite3 *db, const std::string &path) {
    sqlite3_stmt *stmt = nullptr;
    const char *sql = "SELECT m.name, group_concat(c.name) FROM sqlite_master AS m, pragma_table_info(m.name) AS c "
                      "WHERE m.type = 'table' GROUP BY m.name ORDER BY m.name";
    int code = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    std::string layout;
    while (code == SQLITE_OK && (code = sqlite3_step(stmt)) == SQLITE_ROW) {
        layout += reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0));
        layout += '(';
        layout += reinterpret_cast<const char *>(sqlite3_column_text(stmt, 1));
        layout += ") ";
        code = SQLITE_OK;
    }
    sqlite3_finalize(stmt);
    if (code != SQLITE_DONE) fail_open(db, path, code);
    return layout;
}

// A process that died during a change left a hot journal behind; it is
// played back by the next connection that may write, which a reader then
// opens for a moment.  On a read-only file system nobody can: refused.
void roll_back_interrupted_change(const std::string &path) {
    sqlite3 *db = nullptr;
    int code = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr);
    if (code == SQLITE_OK) {
        sqlite3_busy_handler(db, wait_while_busy, nullptr);
        code = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    }
    std::string why = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    sqlite3_close_v2(db);
    if (code != SQLITE_OK)
        refuse(status_for(code), path, "a change was interrupted and cannot be rolled back here: " + why);
}

// Opens the store at path for reading; null when the file holds no store yet.
sqlite3 *open_for_reading(const std::string &path) {
    for (int attempt = 0;; ++attempt) {
        sqlite3 *db = open_sqlite(path, false);
        int code = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
        if (code == SQLITE_READONLY_ROLLBACK && attempt == 0) {
            sqlite3_close_v2(db);
            roll_back_interrupted_change(path);
            continue;
        }
        if (code != SQLITE_OK) fail_open(db, path, code);
        std::string layout = table_layout(db, path);
        if (layout.empty()) {  // a creation that never committed
            sqlite3_close_v2(db);
            return nullptr;
        }
        if (layout != kTables) {
            sqlite3_close_v2(db);
            refuse(HYP_INVALID_METADATA, path, "its tables are not those of a switch-state store");
        }
        return db;
    }
}

// Opens the store at path for writing, giving a new file its schema.
sqlite3 *open_for_writing(const std::string &path) {
    sqlite3 *db = open_sqlite(path, true);
    if (table_layout(db, path).empty()) {
        // Another process may be making the same file: the check is repeated
        // under the write lock.
        exec_or_fail(db, path, "BEGIN IMMEDIATE");
        int code = table_layout(db, path).empty() ? sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr) : SQLITE_OK;
        if (code == SQLITE_OK) code = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        if (code != SQLITE_OK) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            fail_open(db, path, code);
        }
    }
    if (table_layout(db, path) != kTables) {
        sqlite3_close_v2(db);
        refuse(HYP_INVALID_METADATA, path, "its tables are not those of a switch-state store");
    }
    return db;
}

sqlite3 *open_stand_in() {
    sqlite3 *db = nullptr;
    int code = sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY, nullptr);
    if (code == SQLITE_OK) code = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) {
        sqlite3_close_v2(db);
        fail(status_for(code));
    }
    sqlite3_extended_result_codes(db, 1);
    return db;
}

void close_connection(Connection &c) {
    if (c.db) sqlite3_close_v2(c.db);
    c = Connection{};
}

sqlite3 *connect(bool for_writing) {
    Connection &c = connection();
    std::string path = store_path();
    std::optional<struct stat> file = inspect_store(path);
    bool same_file = c.db && c.path == path && c.has_file == file.has_value() &&
                     (!file || (c.device == file->st_dev && c.inode == file->st_ino));
    // A stand-in for an empty file lasts while the file stays empty.
    bool current = same_file && !c.stale && !(c.stand_in && file && file->st_size != 0);
    if (current && (c.writable || !for_writing)) return c.db;

    // The same file opened again (to write, or afresh) keeps its handles;
    // the rows of another file are other rows.
    close_connection(c);
    if (!same_file) forget_handles();
    c.path = path;
    if (!file && !for_writing) {
        c.db = open_stand_in();
        c.stand_in = true;
        return c.db;
    }
    CheckedFile checked = check_opened(path, for_writing, !file);
    sqlite3 *db = nullptr;
    if (for_writing) db = open_for_writing(path);
    else if (checked.holds_store) db = open_for_reading(path);
    // The file may have been replaced between our look and SQLite's open
    // only by this user; still, what SQLite opened must be what we checked.
    struct stat now;
    if (lstat(path.c_str(), &now) != 0 || now.st_dev != checked.device || now.st_ino != checked.inode) {
        sqlite3_close_v2(db);
        fail(HYP_BUSY);
    }
    c.has_file = true;
    c.device = checked.device;
    c.inode = checked.inode;
    c.writable = for_writing;
    c.stand_in = db == nullptr;
    c.db = db ? db : open_stand_in();
    return c.db;
}

}  // namespace

sqlite3 *database() { return connect(false); }

sqlite3 *database_for_writing() { return connect(true); }

void close_database() {
    close_connection(connection());
    forget_handles();  // they name rows of the store that was open
}

void check(sqlite3 *db, int code) {
    if (code == SQLITE_OK || code == SQLITE_ROW || code == SQLITE_DONE) return;
    Connection &c = connection();
    if (code == SQLITE_READONLY_ROLLBACK) {
        // A writer died while this reader had the file open: the next call
        // opens it again, which rolls the change back.
        c.stale = true;
        fail(HYP_BUSY);
    }
    HYP_ReturnStatus status = status_for(code);
    if (status == HYP_INVALID_METADATA) refuse(status, c.path, sqlite3_errmsg(db));
    fail(status);
}

Statement::Statement(sqlite3 *db, const char *sql) : db_(db) {
    check(db_, sqlite3_prepare_v2(db_, sql, -1, &stmt_, nullptr));
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement &Statement::bind(int index, std::string_view text) {
    check(db_, sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
    return *this;
}

Statement &Statement::bind(int index, const void *data, size_t size) {
    // A zero-length blob is still a blob, not NULL: the columns are NOT NULL.
    static const unsigned char empty = 0;
    check(db_, sqlite3_bind_blob(stmt_, index, size ? data : &empty, static_cast<int>(size), SQLITE_TRANSIENT));
    return *this;
}

Statement &Statement::bind(int index, int64_t value) {
    check(db_, sqlite3_bind_int64(stmt_, index, value));
    return *this;
}

Statement &Statement::bind_null(int index) {
    check(db_, sqlite3_bind_null(stmt_, index));
    return *this;
}

bool Statement::step() {
    int code = sqlite3_step(stmt_);
    check(db_, code);
    return code == SQLITE_ROW;
}

void Statement::run() {
    while (step()) {
    }
}

std::string Statement::text(int column) const {
    auto *data = reinterpret_cast<const char *>(sqlite3_column_text(stmt_, column));
    return data ? std::string(data, sqlite3_column_bytes(stmt_, column)) : std::string();
}

Bytes Statement::blob(int column) const {
    auto *data = static_cast<const unsigned char *>(sqlite3_column_blob(stmt_, column));
    return data ? Bytes(data, data + sqlite3_column_bytes(stmt_, column)) : Bytes();
}

int64_t Statement::integer(int column) const { return sqlite3_column_int64(stmt_, column); }

bool Statement::is_null(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

Transaction::Transaction(sqlite3 *db) : db_(db) {
    check(db_, sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr));
}

Transaction::~Transaction() {
    if (done_) return;
    // A rollback can fail (SQLite needs memory to parse it). The transaction
    // would then stay open, holding the write lock and showing its half-made
    // change to every later call, each of which would fail to begin its own:
    // the connection is opened again before the next use instead, and
    // closing it rolls the change back.
    if (sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr) != SQLITE_OK && !sqlite3_get_autocommit(db_))
        connection().stale = true;
}

void Transaction::commit() {
    check(db_, sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr));
    done_ = true;
}

}  // namespace fab
