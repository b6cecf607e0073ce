// A thin layer over one SQLite connection: prepared statements with bound
// parameters (no SQL text is ever built from values), transactions that roll
// back unless committed, and errors as StoreError with SQLite's reason.
#pragma once

#include "FleetModel.h"

#include <cstdint>
#include <optional>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace Manager {

// A database failure (read-only file, full disk, locked too long, ...); the
// change it interrupted was rolled back.
struct StoreError : FleetError
{
    using FleetError::FleetError;
};

class Database
{
public:
    // Opens (creating when missing) the file; ":memory:" for a private one.
    explicit Database(const std::string& path);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    sqlite3* handle() const { return db_; }
    const std::string& path() const { return path_; }
    // Runs fixed SQL text (schema, pragmas); never for values.
    void execute(const char* sql);
    [[noreturn]] void fail(const std::string& doing) const;

private:
    sqlite3* db_ = nullptr;
    std::string path_;
};

class Statement
{
public:
    Statement(Database& database, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, const std::string& text);
    Statement& bind(int index, std::int64_t number);
    Statement& bind(int index, int number) { return bind(index, static_cast<std::int64_t>(number)); }
    Statement& bind(int index, double number);
    Statement& bindNull(int index);
    // True while there is a row; false when done.
    bool step();
    // Runs a statement that returns no rows.
    void run();

    std::string text(int column) const;
    std::int64_t integer(int column) const;
    double real(int column) const;
    bool isNull(int column) const;

private:
    Database& database_;
    sqlite3_stmt* statement_ = nullptr;
};

// BEGIN IMMEDIATE for changes (the write lock is taken at once, so that two
// writers never deadlock on upgrading), BEGIN for consistent reads. Rolls
// back when destroyed without commit().
class Transaction
{
public:
    enum class Kind
    {
        Read,
        Write,
    };
    Transaction(Database& database, Kind kind);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

private:
    Database& database_;
    bool open_ = false;
};

} // namespace Manager
