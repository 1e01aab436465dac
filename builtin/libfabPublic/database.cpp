// Opening the store's SQLite file with its schema; statements and transactions.

#include "database.hpp"

#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "handles.hpp"
#include "status.hpp"

namespace fab {
namespace {

// Bumped when the tables change shape; a file from a newer schema is refused
// rather than misread.
constexpr int kSchemaVersion = 1;

// Port data and uplink data are properties whose owner is the port id or the
// uplink number; host and global properties have the empty owner.
constexpr const char *kSchema = R"sql(
CREATE TABLE IF NOT EXISTS switches(
    id          TEXT PRIMARY KEY,
    alias       TEXT UNIQUE,
    class_name  TEXT NOT NULL,
    portset     TEXT NOT NULL UNIQUE,
    version     INTEGER NOT NULL,
    max_ports   INTEGER NOT NULL,
    associated  INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS ports(
    switch_id   TEXT NOT NULL REFERENCES switches(id) ON DELETE CASCADE,
    port_id     TEXT NOT NULL,
    alias       TEXT NOT NULL DEFAULT '',
    external_id TEXT NOT NULL DEFAULT '',
    connect_id  INTEGER NOT NULL,
    type        INTEGER NOT NULL,
    state       BLOB NOT NULL,
    PRIMARY KEY(switch_id, port_id));
CREATE TABLE IF NOT EXISTS properties(
    switch_id   TEXT NOT NULL REFERENCES switches(id) ON DELETE CASCADE,
    scope       INTEGER NOT NULL,
    owner       TEXT NOT NULL,
    name        TEXT NOT NULL,
    prop_type   INTEGER NOT NULL,
    value       BLOB NOT NULL,
    PRIMARY KEY(switch_id, scope, owner, name));
)sql";

struct Connection {
    sqlite3 *db = nullptr;
    std::string path;
    std::string reported_path;  // the file whose failure was already written to stderr
};

Connection &connection() {
    static Connection instance;
    return instance;
}

std::string configured_path() {
    if (const char *path = std::getenv("FAB_EMU_DB"); path && *path) return path;
    return "/tmp/fabemu-" + std::to_string(getuid()) + ".db";
}

HYP_ReturnStatus status_for(int code) {
    switch (code & 0xff) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED: return HYP_BUSY;
        case SQLITE_NOMEM: return HYP_NO_MEMORY;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH: return kReadOnly;
        case SQLITE_FULL: return kNoSpace;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
        case SQLITE_FORMAT: return kInvalidMetadata;
        case SQLITE_IOERR:
        case SQLITE_CANTOPEN: return kIoError;
        case SQLITE_CONSTRAINT: return HYP_EXISTS;
        case SQLITE_TOOBIG: return HYP_LIMIT_EXCEEDED;
        default: return HYP_FAILURE;
    }
}

// One line on stderr per unusable file, however many calls run into it.
void report_unusable(const std::string &path, const char *why) {
    Connection &c = connection();
    if (c.reported_path == path) return;
    c.reported_path = path;
    std::fprintf(stderr, "fabemu: cannot use the store %s: %s\n", path.c_str(), why);
}

[[noreturn]] void fail_open(sqlite3 *db, const std::string &path, int code) {
    report_unusable(path, db ? sqlite3_errmsg(db) : sqlite3_errstr(code));
    sqlite3_close_v2(db);
    fail(status_for(code));
}

void exec_or_fail(sqlite3 *db, const std::string &path, const char *sql) {
    if (int code = sqlite3_exec(db, sql, nullptr, nullptr, nullptr); code != SQLITE_OK) fail_open(db, path, code);
}

int schema_version(sqlite3 *db, const std::string &path) {
    sqlite3_stmt *stmt = nullptr;
    int code = sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &stmt, nullptr);
    if (code == SQLITE_OK) code = sqlite3_step(stmt);
    int version = code == SQLITE_ROW ? sqlite3_column_int(stmt, 0) : -1;
    sqlite3_finalize(stmt);
    if (version < 0) fail_open(db, path, code);
    return version;
}

sqlite3 *open_store(const std::string &path) {
    sqlite3 *db = nullptr;
    int code = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (code != SQLITE_OK) fail_open(db, path, code);
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, 5000);  // another process may be writing
    // WAL keeps readers off the writer's back; FULL makes a reported commit
    // survive a crash of the machine, not only of this process.
    exec_or_fail(db, path, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;");
    int version = schema_version(db, path);
    if (version > kSchemaVersion) {
        report_unusable(path, "written by a newer schema");
        sqlite3_close_v2(db);
        fail(kVersionMismatchMajor);
    }
    if (version < kSchemaVersion) {
        exec_or_fail(db, path, "BEGIN IMMEDIATE");
        std::string create = std::string(kSchema) + "PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
        if (int rc = sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr); rc != SQLITE_OK) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            fail_open(db, path, rc);
        }
        exec_or_fail(db, path, "COMMIT");
    }
    return db;
}

}  // namespace

sqlite3 *database() {
    Connection &c = connection();
    std::string path = configured_path();
    if (c.db && c.path == path) return c.db;
    close_database();
    c.db = open_store(path);
    c.path = path;
    return c.db;
}

void close_database() {
    Connection &c = connection();
    if (c.db) sqlite3_close_v2(c.db);
    c.db = nullptr;
    c.path.clear();
    forget_handles();  // they name rows of the store that was open
}

void check(sqlite3 *db, int code) {
    if (code == SQLITE_OK || code == SQLITE_ROW || code == SQLITE_DONE) return;
    HYP_ReturnStatus status = status_for(code);
    if (status == kInvalidMetadata) report_unusable(connection().path, sqlite3_errmsg(db));
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
    if (!done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit() {
    check(db_, sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr));
    done_ = true;
}

}  // namespace fab
