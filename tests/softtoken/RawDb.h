// A plain SQLite connection to a token's database for tests, as someone writing the store
// behind the library's back has: none of the store's checks.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace softskf::test {

class RawDb
{
public:
    explicit RawDb(const std::string& path)
    {
        EXPECT_EQ(sqlite3_open(path.c_str(), &m_db), SQLITE_OK) << path;
        sqlite3_busy_timeout(m_db, 10000);
    }
    ~RawDb() { sqlite3_close(m_db); }
    RawDb(const RawDb&) = delete;
    RawDb& operator=(const RawDb&) = delete;

    void exec(const std::string& sql)
    {
        char* error = nullptr;
        EXPECT_EQ(sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << sql << ": " << error;
        sqlite3_free(error);
    }
    // Every column of the first row, as bytes.
    std::vector<std::vector<uint8_t>> row(const std::string& sql)
    {
        sqlite3_stmt* statement = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sql;
        std::vector<std::vector<uint8_t>> columns;
        if (statement && sqlite3_step(statement) == SQLITE_ROW) {
            for (int column = 0; column < sqlite3_column_count(statement); ++column) {
                const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(statement, column));
                columns.emplace_back(data, data + sqlite3_column_bytes(statement, column));
            }
        }
        sqlite3_finalize(statement);
        return columns;
    }

private:
    sqlite3* m_db = nullptr;
};

} // namespace softskf::test
