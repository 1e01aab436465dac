// The SQLite database that holds the store: where it is, opening it with the
// schema, statements and transactions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace fab {

using Bytes = std::vector<unsigned char>;

// The connection to read the store through: the file FAB_EMU_DB names now
// (see store_path.hpp), opened read-only, so that reading never creates,
// converts or writes anything.  While there is no file yet (or an empty one),
// an empty store in memory stands in for it.  Opened again when the variable
// or the file changes.  Throws StoreError when the file cannot be used (not
// ours, not safe, corrupt, locked beyond the wait, from another schema).
sqlite3 *database();

// The connection to change the store through: the file opened for writing,
// created (mode 0600) with its schema when missing.
sqlite3 *database_for_writing();

// Closes the connection and forgets every handle; the next call opens the
// file again.
void close_database();

// A prepared statement, finalised when it goes out of scope.  Failures of
// SQLite throw StoreError with the matching status.
class Statement {
public:
    Statement(sqlite3 *db, const char *sql);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    Statement &bind(int index, std::string_view text);
    Statement &bind(int index, const void *data, size_t size);  // a blob
    Statement &bind(int index, int64_t value);
    Statement &bind_null(int index);

    bool step();  // true while a row is available
    void run();   // steps a statement that returns no row

    std::string text(int column) const;
    Bytes blob(int column) const;
    int64_t integer(int column) const;
    bool is_null(int column) const;

private:
    sqlite3 *db_;
    sqlite3_stmt *stmt_ = nullptr;
};

// One change of the store: BEGIN IMMEDIATE at construction, ROLLBACK at
// destruction unless commit() ran.  Every change is one transaction, so a
// process killed half way leaves the previous state.
class Transaction {
public:
    explicit Transaction(sqlite3 *db);
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    void commit();

private:
    sqlite3 *db_;
    bool done_ = false;
};

// Throws StoreError for an SQLite result code that is an error.
void check(sqlite3 *db, int code);

}  // namespace fab
