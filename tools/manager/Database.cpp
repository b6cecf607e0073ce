// SQLite calls of rvx-manager's store.
#include "Database.h"

#include <sqlite3.h>

namespace Manager {

namespace {

// A wait of this long for another process's write lock (the command line
// while the service runs) before a change gives up.
constexpr int kBusyTimeoutMs = 5000;

} // namespace

Database::Database(const std::string& path) : path_(path)
{
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError("cannot open the database " + path + ": " + why);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
}

Database::~Database()
{
    sqlite3_close_v2(db_);
}

void Database::fail(const std::string& doing) const
{
    const int code = sqlite3_errcode(db_);
    std::string why = sqlite3_errmsg(db_);
    if ((code & 0xFF) == SQLITE_FULL)
        why = "the disk is full";
    else if ((code & 0xFF) == SQLITE_READONLY)
        why = "the database is read-only (" + why + ")";
    throw StoreError("database " + path_ + ": " + doing + " failed: " + why + "; nothing was changed");
}

void Database::execute(const char* sql)
{
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        sqlite3_free(message);
        fail("running \"" + std::string(sql).substr(0, 40) + "\"");
    }
}

Statement::Statement(Database& database, const char* sql) : database_(database)
{
    if (sqlite3_prepare_v2(database.handle(), sql, -1, &statement_, nullptr) != SQLITE_OK)
        database.fail("preparing a statement");
}

Statement::~Statement()
{
    sqlite3_finalize(statement_);
}

Statement& Statement::bind(int index, const std::string& text)
{
    if (sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) != SQLITE_OK)
        database_.fail("binding a value");
    return *this;
}

Statement& Statement::bind(int index, std::int64_t number)
{
    if (sqlite3_bind_int64(statement_, index, number) != SQLITE_OK)
        database_.fail("binding a value");
    return *this;
}

Statement& Statement::bind(int index, double number)
{
    if (sqlite3_bind_double(statement_, index, number) != SQLITE_OK)
        database_.fail("binding a value");
    return *this;
}

Statement& Statement::bindNull(int index)
{
    if (sqlite3_bind_null(statement_, index) != SQLITE_OK)
        database_.fail("binding a value");
    return *this;
}

bool Statement::step()
{
    const int result = sqlite3_step(statement_);
    if (result == SQLITE_ROW)
        return true;
    if (result == SQLITE_DONE)
        return false;
    database_.fail("a statement");
}

void Statement::run()
{
    while (step()) {
    }
}

std::string Statement::text(int column) const
{
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement_, column));
    const int size = sqlite3_column_bytes(statement_, column);
    return bytes ? std::string(bytes, static_cast<std::size_t>(size)) : std::string();
}

std::int64_t Statement::integer(int column) const
{
    return sqlite3_column_int64(statement_, column);
}

double Statement::real(int column) const
{
    return sqlite3_column_double(statement_, column);
}

bool Statement::isNull(int column) const
{
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

Transaction::Transaction(Database& database, Kind kind) : database_(database)
{
    database_.execute(kind == Kind::Write ? "BEGIN IMMEDIATE" : "BEGIN");
    open_ = true;
}

Transaction::~Transaction()
{
    if (open_)
        sqlite3_exec(database_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit()
{
    database_.execute("COMMIT");
    open_ = false;
}

} // namespace Manager
