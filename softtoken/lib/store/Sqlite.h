// A small owning wrapper over SQLite: one connection, prepared statements and explicit
// transactions. Errors become StoreError exceptions; SQLITE_BUSY after the busy timeout
// is one of them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace softskf::store {

// How long a statement waits for another connection's lock before it fails.
constexpr int kBusyTimeoutMs = 10000;

class StoreError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The store's file cannot be written: its mode, or a read-only mount.
class ReadOnlyStore : public StoreError
{
public:
    using StoreError::StoreError;
};

// The device that holds the store has no space left.
class StoreFull : public StoreError
{
public:
    using StoreError::StoreError;
};

class Statement;
class CachedQuery;

class Database
{
public:
    // Opens (creating when asked) the file; busy timeout, foreign keys and SQLite's defensive
    // mode are always on, and the file's schema is not trusted to call functions.
    Database(const std::string& path, bool create);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void exec(const char* sql);
    Statement prepare(const char* sql);
    // A statement prepared once per connection and kept; for the queries every call makes.
    // The query is reset when the returned object goes, so no read stays open.
    CachedQuery cached(const char* sql);
    int64_t lastInsertId() const;
    sqlite3* raw() const { return m_db; }
    // Run by every Transaction once it holds the write lock; throwing refuses the write.
    void setWriteGuard(std::function<void()> guard) { m_writeGuard = std::move(guard); }

private:
    friend class Transaction;
    sqlite3* m_db = nullptr;
    std::string m_path;
    std::function<void()> m_writeGuard;
    std::unordered_map<std::string, std::unique_ptr<Statement>> m_cache;
};

class Statement
{
public:
    // path: the database's file, named in errors a person can act on.
    Statement(sqlite3* db, const char* sql, std::string path = {});
    ~Statement();
    Statement(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement& operator=(Statement&&) = delete;

    Statement& bind(int index, int64_t value);
    Statement& bind(int index, const std::string& value);
    Statement& bind(int index, const std::vector<uint8_t>& value);
    Statement& bindBlob(int index, const uint8_t* data, size_t size);

    // Returns true while a row is available.
    bool step();
    void run(); // steps once and expects no row

    int64_t integer(int column) const;
    std::string text(int column) const;
    std::vector<uint8_t> blob(int column) const;
    size_t columnSize(int column) const;

    // Back to the start with no values bound, ending the read it held.
    void reset();

private:
    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
    std::string m_path;
};

// A kept statement in use; resets it when it goes, also when a step threw.
class CachedQuery
{
public:
    explicit CachedQuery(Statement& statement)
        : m_statement(statement)
    {
    }
    ~CachedQuery() { m_statement.reset(); }
    CachedQuery(const CachedQuery&) = delete;
    CachedQuery& operator=(const CachedQuery&) = delete;
    Statement* operator->() { return &m_statement; }
    Statement& operator*() { return m_statement; }

private:
    Statement& m_statement;
};

// One read transaction around several queries: one snapshot and one read lock for all
// of them instead of one each. Does nothing inside a transaction already open.
class ReadSnapshot
{
public:
    explicit ReadSnapshot(Database& db);
    ~ReadSnapshot();
    ReadSnapshot(const ReadSnapshot&) = delete;
    ReadSnapshot& operator=(const ReadSnapshot&) = delete;

private:
    Database& m_db;
    bool m_open = false;
};

// BEGIN IMMEDIATE so a writer takes the lock up front and waits on the busy timeout
// instead of failing half-way. Rolls back unless committed.
class Transaction
{
public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

private:
    Database& m_db;
    bool m_open = true;
};

} // namespace softskf::store
