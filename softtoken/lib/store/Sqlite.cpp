// The SQLite wrapper: connection, statements and transactions.
#include "Sqlite.h"

#include "StorePaths.h"

#include <sqlite3.h>

#include <cerrno>
#include <limits>
#include <string>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace softskf::store {

// The driver runs inside other programs, and some bring an SQLite of their own that exports
// part of SQLite's names (Firefox's libmozsqlite3). Calls bound by name then go to that
// library, and a function it lacks to the system's, whose statements and connections differ:
// the first bind crashes the program. So the store calls only functions every full SQLite
// exports, as NSS's own database code does: no sqlite3_bind_text64, sqlite3_bind_blob64,
// sqlite3_close_v2 or sqlite3_wal_checkpoint_v2.
namespace {

std::string folderOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool deviceIsFull(const std::string& path)
{
    struct statvfs info
    {
    };
    return statvfs(folderOf(path).c_str(), &info) == 0 && info.f_bavail == 0;
}

// What a person can act on: a full device or a read-only file is said as such, with the
// place; anything else keeps SQLite's words.
[[noreturn]] void fail(sqlite3* db, const std::string& what, int rc = SQLITE_OK, const std::string& path = {})
{
    const int primary = rc & 0xff;
    if (primary == SQLITE_FULL
        || ((primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN) && !path.empty() && deviceIsFull(path))) {
        throw StoreFull("no space left on the device that holds the store (" + folderOf(path) + ")");
    }
    if (primary == SQLITE_READONLY) {
        throw ReadOnlyStore("the token's file is read-only (" + path + ")");
    }
    throw StoreError(what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

// A -wal or -shm beside the file that its owner cannot write (left by an older version
// that opened a read-only token) would keep every later writer out: given its owner's
// write right back. Only a regular file of this user is touched.
void restoreCompanionMode(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    struct stat info
    {
    };
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid() && !(info.st_mode & S_IWUSR)) {
        fchmod(fd, 0600);
    }
    close(fd);
}

// SQLite takes lengths as int; the store's values stay far below that (file data is held to
// the token's capacity), and a larger one is refused rather than cut.
int boundLength(size_t size)
{
    if (size > static_cast<size_t>(std::numeric_limits<int>::max())) {
        throw StoreError("a value of " + std::to_string(size) + " bytes is too large to store");
    }
    return static_cast<int>(size);
}

} // namespace

Database::Database(const std::string& path, bool create)
    : m_path(path)
{
    // No link is followed, for the database or its companions: a planted link would have
    // SQLite write its journal into another file.
    for (const char* suffix : {"", "-wal", "-shm"}) {
        requireRegularOrAbsent(path + suffix);
    }
    for (const char* suffix : {"-wal", "-shm"}) {
        restoreCompanionMode(path + suffix);
    }
    // SQLite would open a file it cannot write read-only, and then make a -wal and -shm of
    // the file's mode that shut out every writer after the mode is back: refused first.
    // (A check of the file rather than sqlite3_db_readonly, which not every SQLite a host
    // program brings exports.)
    if (!create && faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT) {
        throw ReadOnlyStore("the token's file is read-only (" + path + ")");
    }
    const int flags
        = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW;
    if (sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr) != SQLITE_OK) {
        std::string message = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close(m_db);
        m_db = nullptr;
        if (deviceIsFull(path)) {
            throw StoreFull("no space left on the device that holds the store (" + folderOf(path) + ")");
        }
        throw StoreError("cannot open " + path + ": " + message);
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    sqlite3_extended_result_codes(m_db, 1);
    // The file is data, not code: no schema change through ordinary statements, no
    // function called from a trigger or view the file brings with it.
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    exec("PRAGMA trusted_schema = OFF");
    exec("PRAGMA foreign_keys = ON");
}

Database::~Database()
{
    m_cache.clear(); // finalize the kept statements before the connection closes
    sqlite3_close(m_db);
}

void Database::exec(const char* sql)
{
    char* error = nullptr;
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &error);
    sqlite3_free(error); // sqlite3_errmsg says the same
    if (rc != SQLITE_OK) {
        fail(m_db, "sql failed", rc, m_path);
    }
}

Statement Database::prepare(const char* sql)
{
    return Statement(m_db, sql, m_path);
}

CachedQuery Database::cached(const char* sql)
{
    auto& slot = m_cache[sql];
    if (!slot) {
        slot = std::make_unique<Statement>(m_db, sql, m_path);
    }
    return CachedQuery(*slot);
}

int64_t Database::lastInsertId() const
{
    return sqlite3_last_insert_rowid(m_db);
}

Statement::Statement(sqlite3* db, const char* sql, std::string path)
    : m_db(db)
    , m_path(std::move(path))
{
    if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK) {
        fail(db, "cannot prepare statement");
    }
}

Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

Statement::Statement(Statement&& other) noexcept
    : m_db(other.m_db)
    , m_stmt(other.m_stmt)
    , m_path(std::move(other.m_path))
{
    other.m_stmt = nullptr;
}

Statement& Statement::bind(int index, int64_t value)
{
    if (sqlite3_bind_int64(m_stmt, index, value) != SQLITE_OK) {
        fail(m_db, "cannot bind");
    }
    return *this;
}

Statement& Statement::bind(int index, const std::string& value)
{
    if (sqlite3_bind_text(m_stmt, index, value.data(), boundLength(value.size()), SQLITE_TRANSIENT) != SQLITE_OK) {
        fail(m_db, "cannot bind");
    }
    return *this;
}

Statement& Statement::bind(int index, const std::vector<uint8_t>& value)
{
    return bindBlob(index, value.data(), value.size());
}

Statement& Statement::bindBlob(int index, const uint8_t* data, size_t size)
{
    // A zero-length blob must still be a blob, not NULL.
    static const uint8_t empty = 0;
    if (sqlite3_bind_blob(m_stmt, index, size ? data : &empty, boundLength(size), SQLITE_TRANSIENT) != SQLITE_OK) {
        fail(m_db, "cannot bind");
    }
    return *this;
}

bool Statement::step()
{
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    fail(m_db, "statement failed", rc, m_path);
}

void Statement::run()
{
    while (step()) { }
}

int64_t Statement::integer(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

std::string Statement::text(int column) const
{
    const auto* data = sqlite3_column_text(m_stmt, column);
    const size_t size = columnSize(column);
    return data ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
}

std::vector<uint8_t> Statement::blob(int column) const
{
    const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(m_stmt, column));
    const size_t size = columnSize(column);
    return data ? std::vector<uint8_t>(data, data + size) : std::vector<uint8_t>();
}

size_t Statement::columnSize(int column) const
{
    const int size = sqlite3_column_bytes(m_stmt, column);
    return size > 0 ? static_cast<size_t>(size) : 0;
}

void Statement::reset()
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

ReadSnapshot::ReadSnapshot(Database& db)
    : m_db(db)
{
    if (sqlite3_get_autocommit(m_db.raw())) {
        m_db.cached("BEGIN")->run();
        m_open = true;
    }
}

ReadSnapshot::~ReadSnapshot()
{
    if (!m_open) {
        return;
    }
    try {
        m_db.cached("COMMIT")->run();
    } catch (...) {
        // A snapshot left open would hide every later change: end it whatever it takes.
        sqlite3_exec(m_db.raw(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

Transaction::Transaction(Database& db)
    : m_db(db)
{
    m_db.exec("BEGIN IMMEDIATE");
    if (!m_db.m_writeGuard) {
        return;
    }
    // The write lock is held: what the guard finds stays so until the commit.
    try {
        m_db.m_writeGuard();
    } catch (...) {
        sqlite3_exec(m_db.raw(), "ROLLBACK", nullptr, nullptr, nullptr); // no destructor runs
        throw;
    }
}

Transaction::~Transaction()
{
    if (m_open) {
        try {
            m_db.exec("ROLLBACK");
        } catch (...) {
            // Nothing left to do: SQLite rolls back on its own when the statement failed.
        }
    }
}

void Transaction::commit()
{
    m_db.exec("COMMIT");
    m_open = false;
}

} // namespace softskf::store
