// The store's checksum per row, computed here as someone who writes the file and knows its
// format would: a planted row with a fitting checksum, for the tests of what such a writer
// gains. Also pins the format: a changed checksum in the store fails the planted tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace softskf::test {

class RowCheckSum
{
public:
    explicit RowCheckSum(const char* table) { field(reinterpret_cast<const uint8_t*>(table), std::strlen(table)); }
    void field(const uint8_t* data, size_t size)
    {
        number(size);
        for (size_t i = 0; i < size; ++i) {
            m_hash = (m_hash ^ data[i]) * 0x100000001b3ULL;
        }
    }
    void number(uint64_t value)
    {
        for (int i = 0; i < 8; ++i) {
            m_hash = (m_hash ^ static_cast<uint8_t>(value >> (56 - 8 * i))) * 0x100000001b3ULL;
        }
    }
    std::vector<uint8_t> value() const
    {
        std::vector<uint8_t> out(8);
        for (int i = 0; i < 8; ++i) {
            out[static_cast<size_t>(i)] = static_cast<uint8_t>(m_hash >> (56 - 8 * i));
        }
        return out;
    }

private:
    uint64_t m_hash = 0xcbf29ce484222325ULL;
};

// Gives every row of the token's database the checksum its fields have now.
inline void fixRowChecks(const std::string& path)
{
    struct Table
    {
        const char* name;
        std::vector<const char*> numbersFirst; // numbers hashed before the blobs
        std::vector<const char*> blobs;
        std::vector<const char*> numbersAfter;
    };
    const Table tables[] = {
        {"pins",
         {"pin_type"},
         {"salt", "verifier", "wrapped_app_key", "wrap_public", "wrap_private", "record_mac"},
         {"kdf", "iterations", "scrypt_n", "scrypt_r", "scrypt_p", "max_retries", "is_default"}},
        {"files", {}, {"data"}, {"sealed"}},
        {"key_pairs", {"algorithm", "bits"}, {"public_blob", "wrapped_private_key"}, {}},
        {"certificates", {}, {"der"}, {}},
    };
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_busy_timeout(db, 10000);
    for (const auto& table : tables) {
        std::string columns = "rowid";
        for (const auto* list : {&table.numbersFirst, &table.blobs, &table.numbersAfter}) {
            for (const char* column : *list) {
                columns += std::string(", ") + column;
            }
        }
        sqlite3_stmt* rows = nullptr;
        sqlite3_prepare_v2(db, ("SELECT " + columns + " FROM " + table.name).c_str(), -1, &rows, nullptr);
        std::vector<std::pair<int64_t, std::vector<uint8_t>>> checks;
        while (sqlite3_step(rows) == SQLITE_ROW) {
            RowCheckSum sum(table.name);
            int column = 1;
            for (size_t i = 0; i < table.numbersFirst.size(); ++i) {
                sum.number(static_cast<uint64_t>(sqlite3_column_int64(rows, column++)));
            }
            for (size_t i = 0; i < table.blobs.size(); ++i, ++column) {
                const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(rows, column));
                sum.field(data, static_cast<size_t>(sqlite3_column_bytes(rows, column)));
            }
            for (size_t i = 0; i < table.numbersAfter.size(); ++i) {
                sum.number(static_cast<uint64_t>(sqlite3_column_int64(rows, column++)));
            }
            checks.emplace_back(sqlite3_column_int64(rows, 0), sum.value());
        }
        sqlite3_finalize(rows);
        for (const auto& [rowid, check] : checks) {
            sqlite3_stmt* update = nullptr;
            sqlite3_prepare_v2(db, (std::string("UPDATE ") + table.name + " SET row_check = ? WHERE rowid = ?").c_str(),
                               -1, &update, nullptr);
            sqlite3_bind_blob(update, 1, check.data(), static_cast<int>(check.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int64(update, 2, rowid);
            sqlite3_step(update);
            sqlite3_finalize(update);
        }
    }
    sqlite3_close(db);
}

} // namespace softskf::test
