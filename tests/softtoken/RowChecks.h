// The store's checksum per row, computed here as someone who writes the file and knows its
// format would: a planted row with a fitting checksum, for the tests of what such a writer
// gains. Also pins the format: a changed checksum in the store fails the planted tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <sqlite3.h>
#include <string>

namespace softskf::test {

// row_check(table, field...): FNV-1a 64 over the table's name and each field, a number as
// 8 bytes big-endian and a blob (NULL as empty) as its 8-byte length and its bytes.
inline void rowCheckFunction(sqlite3_context* context, int count, sqlite3_value** values)
{
    uint64_t hash = 0xcbf29ce484222325ULL;
    const auto number = [&hash](uint64_t value) {
        for (int i = 0; i < 8; ++i) {
            hash = (hash ^ static_cast<uint8_t>(value >> (56 - 8 * i))) * 0x100000001b3ULL;
        }
    };
    for (int i = 0; i < count; ++i) {
        if (sqlite3_value_type(values[i]) == SQLITE_INTEGER) {
            number(static_cast<uint64_t>(sqlite3_value_int64(values[i])));
            continue;
        }
        const auto* bytes = static_cast<const uint8_t*>(sqlite3_value_blob(values[i]));
        const auto size = static_cast<size_t>(sqlite3_value_bytes(values[i]));
        number(size);
        for (size_t k = 0; k < size; ++k) {
            hash = (hash ^ bytes[k]) * 0x100000001b3ULL;
        }
    }
    uint8_t out[8];
    for (int i = 0; i < 8; ++i) {
        out[i] = static_cast<uint8_t>(hash >> (56 - 8 * i));
    }
    sqlite3_result_blob(context, out, sizeof out, SQLITE_TRANSIENT);
}

// Gives every row of the token's database the checksum its fields have now.
inline void fixRowChecks(const std::string& path)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_busy_timeout(db, 10000);
    sqlite3_create_function(db, "row_check", -1, SQLITE_UTF8, nullptr, rowCheckFunction, nullptr, nullptr);
    sqlite3_exec(db,
                 "UPDATE pins SET row_check = row_check(CAST('pins' AS BLOB), pin_type, salt, verifier,"
                 " wrapped_app_key, wrap_public, wrap_private, record_mac, kdf, iterations, scrypt_n, scrypt_r,"
                 " scrypt_p, max_retries, is_default);"
                 "UPDATE files SET row_check = row_check(CAST('files' AS BLOB), data, sealed);"
                 "UPDATE key_pairs SET row_check = row_check(CAST('key_pairs' AS BLOB), algorithm, bits, public_blob,"
                 " wrapped_private_key);"
                 "UPDATE certificates SET row_check = row_check(CAST('certificates' AS BLOB), der);",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

} // namespace softskf::test
