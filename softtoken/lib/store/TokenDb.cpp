// The token database: schema and queries.
#include "TokenDb.h"

#include <sqlite3.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace softskf::store {

namespace {

const char* const kSchema = R"sql(
CREATE TABLE token(
    id INTEGER PRIMARY KEY CHECK (id = 1),
    serial TEXT NOT NULL,
    label TEXT NOT NULL,
    capacity INTEGER NOT NULL,
    dev_auth_key BLOB NOT NULL);
CREATE TABLE applications(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    name TEXT NOT NULL UNIQUE,
    uid BLOB NOT NULL,
    create_file_rights INTEGER NOT NULL);
CREATE TABLE pins(
    app_id INTEGER NOT NULL REFERENCES applications(id) ON DELETE CASCADE,
    pin_type INTEGER NOT NULL,
    salt BLOB NOT NULL,
    verifier BLOB NOT NULL,
    iterations INTEGER NOT NULL,
    max_retries INTEGER NOT NULL,
    remaining_retries INTEGER NOT NULL,
    is_default INTEGER NOT NULL,
    wrapped_app_key BLOB NOT NULL,
    PRIMARY KEY (app_id, pin_type));
CREATE TABLE files(
    app_id INTEGER NOT NULL REFERENCES applications(id) ON DELETE CASCADE,
    name TEXT NOT NULL,
    size INTEGER NOT NULL,
    read_rights INTEGER NOT NULL,
    write_rights INTEGER NOT NULL,
    data BLOB NOT NULL,
    PRIMARY KEY (app_id, name));
CREATE TABLE containers(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    app_id INTEGER NOT NULL REFERENCES applications(id) ON DELETE CASCADE,
    name TEXT NOT NULL,
    UNIQUE (app_id, name));
CREATE TABLE key_pairs(
    container_id INTEGER NOT NULL REFERENCES containers(id) ON DELETE CASCADE,
    signing INTEGER NOT NULL,
    algorithm INTEGER NOT NULL,
    bits INTEGER NOT NULL,
    public_blob BLOB NOT NULL,
    wrapped_private_key BLOB NOT NULL,
    PRIMARY KEY (container_id, signing));
CREATE TABLE certificates(
    container_id INTEGER NOT NULL REFERENCES containers(id) ON DELETE CASCADE,
    signing INTEGER NOT NULL,
    der BLOB NOT NULL,
    PRIMARY KEY (container_id, signing));
)sql";

// Schema 1: per-record KDF parameters and X25519 wrap keys for PINs, a key check per
// application, sealed file data. Columns are added, never changed, so a database of
// schema 0 keeps its rows; their defaults describe the older records.
const char* const kUpgradeTo1 = R"sql(
ALTER TABLE pins ADD COLUMN kdf INTEGER NOT NULL DEFAULT 0;
ALTER TABLE pins ADD COLUMN scrypt_n INTEGER NOT NULL DEFAULT 0;
ALTER TABLE pins ADD COLUMN scrypt_r INTEGER NOT NULL DEFAULT 0;
ALTER TABLE pins ADD COLUMN scrypt_p INTEGER NOT NULL DEFAULT 0;
ALTER TABLE pins ADD COLUMN wrap_public BLOB;
ALTER TABLE pins ADD COLUMN wrap_private BLOB;
ALTER TABLE applications ADD COLUMN key_check BLOB;
ALTER TABLE files ADD COLUMN sealed INTEGER NOT NULL DEFAULT 0;
PRAGMA user_version = 1;
)sql";

// Schema 2: a MAC under the application key over each PIN record's fields that matter.
const char* const kUpgradeTo2 = R"sql(
ALTER TABLE pins ADD COLUMN record_mac BLOB;
PRAGMA user_version = 2;
)sql";

// Schema 3: a checksum per row of what is stored whole (a PIN record but its counter, a
// file's data, a key pair's public half, a certificate), so a damaged row is told from a
// wrong input. Rows of older files get theirs in the upgrade's transaction.
constexpr int64_t kSchemaVersion = 3;
const char* const kUpgradeTo3 = R"sql(
ALTER TABLE pins ADD COLUMN row_check BLOB;
ALTER TABLE files ADD COLUMN row_check BLOB;
ALTER TABLE key_pairs ADD COLUMN row_check BLOB;
ALTER TABLE certificates ADD COLUMN row_check BLOB;
PRAGMA user_version = 3;
)sql";
const char* const kUpgrades[] = {kUpgradeTo1, kUpgradeTo2, kUpgradeTo3};

// A 64-bit FNV-1a over length-prefixed fields: any changed byte changes it. Against damage
// (a flipped bit, a torn write), not against someone who writes the file: they can write
// the checksum too.
class RowCheck
{
public:
    explicit RowCheck(const char* table) { add(std::string(table)); }
    RowCheck& add(const std::vector<uint8_t>& field)
    {
        number(field.size());
        bytes(field.data(), field.size());
        return *this;
    }
    RowCheck& add(const std::string& field)
    {
        number(field.size());
        bytes(reinterpret_cast<const uint8_t*>(field.data()), field.size());
        return *this;
    }
    RowCheck& number(uint64_t value)
    {
        uint8_t encoded[8];
        for (int i = 0; i < 8; ++i) {
            encoded[i] = static_cast<uint8_t>(value >> (56 - 8 * i));
        }
        bytes(encoded, sizeof encoded);
        return *this;
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
    void bytes(const uint8_t* data, size_t size)
    {
        for (size_t i = 0; i < size; ++i) {
            m_hash = (m_hash ^ data[i]) * 0x100000001b3ULL;
        }
    }
    uint64_t m_hash = 0xcbf29ce484222325ULL;
};

std::vector<uint8_t> pinCheck(uint32_t pinType, const PinRecord& pin)
{
    RowCheck check("pins");
    check.number(pinType);
    for (const auto* field :
         {&pin.salt, &pin.verifier, &pin.wrappedAppKey, &pin.wrapPublic, &pin.wrapPrivate, &pin.recordMac}) {
        check.add(*field);
    }
    for (const uint64_t value :
         {uint64_t{static_cast<uint32_t>(pin.kdf)}, uint64_t{pin.iterations}, pin.scryptN, uint64_t{pin.scryptR},
          uint64_t{pin.scryptP}, uint64_t{pin.maxRetries}, uint64_t{pin.isDefault}}) {
        check.number(value);
    }
    return check.value();
}

std::vector<uint8_t> fileCheck(const std::vector<uint8_t>& data, bool sealed)
{
    return RowCheck("files").add(data).number(sealed ? 1 : 0).value();
}

std::vector<uint8_t> pairCheck(uint32_t algorithm, uint32_t bits, const std::vector<uint8_t>& publicBlob,
                               const std::vector<uint8_t>& wrappedPrivateKey)
{
    return RowCheck("key_pairs").number(algorithm).number(bits).add(publicBlob).add(wrappedPrivateKey).value();
}

std::vector<uint8_t> certificateCheck(const std::vector<uint8_t>& der)
{
    return RowCheck("certificates").add(der).value();
}

const char* pinName(uint32_t pinType)
{
    return pinType == 0 ? "SO PIN" : "user PIN"; // the SKF types: 0 the SO's, 1 the user's
}

// The token's capacity, for checks of stored lengths inside a query.
#define TOKEN_CAPACITY_SQL "(SELECT capacity FROM token WHERE id = 1)"

// Largest retry count an application is made with.
constexpr int64_t kMaxRetries = 255;

// sqlite_master as text rows, sorted: every object, the automatic indexes included.
std::vector<std::string> schemaRows(sqlite3* db)
{
    Statement statement(db, "SELECT type, name, tbl_name, COALESCE(sql, '') FROM sqlite_master ORDER BY 1, 2");
    std::vector<std::string> rows;
    while (statement.step()) {
        rows.push_back(statement.text(0) + '\x1f' + statement.text(1) + '\x1f' + statement.text(2) + '\x1f'
                       + statement.text(3));
    }
    return rows;
}

// The schema each version of the store has, made by the same statements in memory.
const std::vector<std::string>& expectedSchema(int64_t version)
{
    static const auto all = [] {
        std::array<std::vector<std::string>, kSchemaVersion + 1> schemas;
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY, nullptr) != SQLITE_OK
            || sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            throw StoreError("cannot build the expected schema");
        }
        schemas[0] = schemaRows(db);
        for (int64_t version = 1; version <= kSchemaVersion; ++version) {
            if (sqlite3_exec(db, kUpgrades[version - 1], nullptr, nullptr, nullptr) != SQLITE_OK) {
                sqlite3_close(db);
                throw StoreError("cannot build the expected schema");
            }
            schemas[static_cast<size_t>(version)] = schemaRows(db);
        }
        sqlite3_close(db);
        return schemas;
    }();
    return all.at(static_cast<size_t>(version));
}

int64_t schemaVersion(Database& db)
{
    auto statement = db.prepare("PRAGMA user_version");
    return statement.step() ? statement.integer(0) : 0;
}

// Freed pages are zeroed, so a deleted or rewritten row leaves no copy in the file.
void secureDelete(Database& db)
{
    db.exec("PRAGMA secure_delete = ON");
}

// The device authentication key has to stay usable for SM4, so it cannot be hashed. It is
// kept masked, which keeps it out of plain sight in the file; it is no protection against
// someone who also has this code.
WipedBytes masked(WipedBytes key)
{
    static const uint8_t pad[16]
        = {0x9d, 0x41, 0xe7, 0x2a, 0x5c, 0xb3, 0x08, 0x76, 0xf1, 0x3e, 0xc4, 0x69, 0x17, 0xa8, 0x52, 0xdb};
    for (size_t i = 0; i < key.size(); ++i) {
        key[i] ^= pad[i % sizeof pad];
    }
    return key;
}

std::vector<std::string> names(Statement& statement)
{
    std::vector<std::string> result;
    while (statement.step()) {
        result.push_back(statement.text(0));
    }
    return result;
}

} // namespace

void TokenDb::create(const std::string& path, const TokenRecord& token)
{
    // Built under a temporary name in the same folder (made 0600 by mkstemp, so SQLite's
    // -wal and -shm take that mode) and linked to its own name only when committed: a
    // crash on the way leaves no empty token behind, and link() never replaces one.
    const auto slash = path.find_last_of('/');
    std::string temporary = (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/.new-XXXXXX";
    const int fd = mkostemp(&temporary[0], O_CLOEXEC);
    if (fd < 0) {
        throw StoreError("cannot create a file beside " + path + ": " + std::strerror(errno));
    }
    close(fd);
    const auto removeTemporary = [&temporary] {
        unlink(temporary.c_str());
        unlink((temporary + "-wal").c_str());
        unlink((temporary + "-shm").c_str());
    };
    const WipedBytes maskedKey = masked(token.devAuthKey);
    try {
        {
            Database db(temporary, false);
            db.exec("PRAGMA journal_mode = WAL");
            secureDelete(db);
            Transaction transaction(db);
            db.exec(kSchema);
            for (const char* upgrade : kUpgrades) {
                db.exec(upgrade);
            }
            db.prepare("INSERT INTO token(id, serial, label, capacity, dev_auth_key) VALUES (1, ?, ?, ?, ?)")
                .bind(1, token.serial)
                .bind(2, token.label)
                .bind(3, static_cast<int64_t>(token.capacity))
                .bindBlob(4, maskedKey.data(), maskedKey.size())
                .run();
            transaction.commit();
            db.exec("PRAGMA wal_checkpoint(TRUNCATE)");
        } // closed: the whole token is in the main file
        if (link(temporary.c_str(), path.c_str()) != 0) {
            throw StoreError("cannot create " + path + ": " + std::strerror(errno));
        }
    } catch (...) {
        removeTemporary();
        throw;
    }
    removeTemporary();
}

TokenDb::TokenDb(const std::string& path)
    : m_db(path, false)
{
    // Checked before anything is written: a refused file is left exactly as it was.
    {
        ReadSnapshot snapshot(m_db);
        requireKnownSchema();
    }
    m_db.setWriteGuard([this] { requireKnownSchema(); });
    // A kill loses nothing in WAL mode; FULL also keeps a retry counter through power loss.
    m_db.exec("PRAGMA journal_mode = WAL");
    m_db.exec("PRAGMA synchronous = FULL");
    secureDelete(m_db);
    upgradeSchema();
}

void TokenDb::requireKnownSchema()
{
    // The schema's own counter moves with every change to it: compared again only then.
    int64_t current = -1;
    {
        auto cookie = m_db.cached("PRAGMA schema_version");
        current = cookie->step() ? cookie->integer(0) : -1;
    }
    if (current == m_checkedSchemaCookie) {
        return;
    }
    const int64_t version = schemaVersion(m_db);
    // A newer version's file is refused too: its version number is no proof of its schema.
    if (version < 0 || version > kSchemaVersion || schemaRows(m_db.raw()) != expectedSchema(version)) {
        throw StoreError("the token database holds objects this store did not create");
    }
    m_checkedSchemaCookie = current;
}

void TokenDb::upgradeSchema()
{
    if (schemaVersion(m_db) >= kSchemaVersion) {
        return;
    }
    Transaction transaction(m_db);
    // Another process may have done part of it meanwhile; the guard checked what is there.
    for (int64_t version = schemaVersion(m_db); version < kSchemaVersion; ++version) {
        m_db.exec(kUpgrades[version]);
        if (version + 1 == 3) {
            fillRowChecks();
        }
    }
    transaction.commit();
}

void TokenDb::fillRowChecks()
{
    std::vector<std::pair<int64_t, uint32_t>> pins;
    for (auto rows = m_db.prepare("SELECT app_id, pin_type FROM pins"); rows.step();) {
        pins.emplace_back(rows.integer(0), static_cast<uint32_t>(rows.integer(1)));
    }
    for (const auto& [appId, pinType] : pins) {
        m_db.prepare("UPDATE pins SET row_check = ? WHERE app_id = ? AND pin_type = ?")
            .bind(1, pinCheck(pinType, pinRow(appId, pinType, false)))
            .bind(2, appId)
            .bind(3, int64_t{pinType})
            .run();
    }
    for (auto rows = m_db.prepare("SELECT rowid, data, sealed FROM files"); rows.step();) {
        m_db.prepare("UPDATE files SET row_check = ? WHERE rowid = ?")
            .bind(1, fileCheck(rows.blob(1), rows.integer(2) != 0))
            .bind(2, rows.integer(0))
            .run();
    }
    for (auto rows = m_db.prepare("SELECT rowid, algorithm, bits, public_blob, wrapped_private_key FROM key_pairs");
         rows.step();) {
        m_db.prepare("UPDATE key_pairs SET row_check = ? WHERE rowid = ?")
            .bind(1,
                  pairCheck(static_cast<uint32_t>(rows.integer(1)), static_cast<uint32_t>(rows.integer(2)),
                            rows.blob(3), rows.blob(4)))
            .bind(2, rows.integer(0))
            .run();
    }
    for (auto rows = m_db.prepare("SELECT rowid, der FROM certificates"); rows.step();) {
        m_db.prepare("UPDATE certificates SET row_check = ? WHERE rowid = ?")
            .bind(1, certificateCheck(rows.blob(1)))
            .bind(2, rows.integer(0))
            .run();
    }
}

std::vector<std::string> TokenDb::damagedObjects()
{
    std::vector<std::string> damaged;
    const auto note = [&damaged](const std::string& what, const auto& read) {
        try {
            read();
        } catch (const DamagedRecord&) {
            damaged.push_back(what);
        }
    };
    for (const auto& appName : applicationNames()) {
        const auto app = application(appName);
        const std::string where = "application " + appName + "'s ";
        for (const uint32_t pinType : {0u, 1u}) {
            note(where + pinName(pinType) + " record", [&] { pin(app->id, pinType); });
        }
        for (const auto& name : fileNames(app->id)) {
            note(where + "file " + name, [&] { fileData(app->id, *file(app->id, name)); });
        }
        for (const auto& name : containerNames(app->id)) {
            const auto id = container(app->id, name)->id;
            for (const bool signing : {true, false}) {
                const std::string which = signing ? "signature" : "encryption";
                note("container " + name + "'s " + which + " key", [&] { keyPair(id, signing); });
                note("container " + name + "'s " + which + " certificate", [&] { certificate(id, signing); });
            }
        }
    }
    return damaged;
}

bool TokenDb::truncateWal(int waitMs)
{
    // The pragma rather than sqlite3_wal_checkpoint_v2, which not every SQLite a host program
    // brings exports (see Sqlite.cpp); its first column says whether a reader held it back.
    sqlite3_busy_timeout(m_db.raw(), waitMs);
    bool truncated = false;
    try {
        auto statement = m_db.prepare("PRAGMA wal_checkpoint(TRUNCATE)");
        truncated = statement.step() && statement.integer(0) == 0;
    } catch (const StoreError&) {
        // Busy or locked: not truncated this time.
    }
    sqlite3_busy_timeout(m_db.raw(), kBusyTimeoutMs);
    return truncated;
}

void TokenDb::checkpoint()
{
    // Readers hold a snapshot for one call's short transaction only, so a short wait sees
    // them go. One that stays longer leaves the truncation to the next call made here,
    // instead of holding this change back for the whole busy timeout. The change is
    // committed whatever happens.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kCheckpointWaitMs);
    do {
        if (truncateWal(kCheckpointStepMs)) {
            m_truncationPending = false;
            return;
        }
    } while (std::chrono::steady_clock::now() < deadline);
    m_truncationPending = true;
}

void TokenDb::retryPendingCheckpoint()
{
    if (m_truncationPending && truncateWal(0)) {
        m_truncationPending = false;
    }
}

TokenRecord TokenDb::token()
{
    auto statement = m_db.prepare("SELECT serial, label, capacity, dev_auth_key FROM token WHERE id = 1");
    if (!statement.step()) {
        throw StoreError("the token database has no token record");
    }
    auto stored = statement.blob(3);
    WipedBytes key(stored.begin(), stored.end());
    explicit_bzero(stored.data(), stored.size());
    const int64_t capacity = statement.integer(2);
    if (capacity < 0 || capacity > int64_t{UINT32_MAX}) {
        throw DamagedRecord("the token record's capacity is out of range");
    }
    return {statement.text(0), statement.text(1), static_cast<uint32_t>(capacity), masked(std::move(key))};
}

void TokenDb::setLabel(const std::string& label)
{
    m_db.prepare("UPDATE token SET label = ? WHERE id = 1").bind(1, label).run();
}

void TokenDb::setDevAuthKey(const WipedBytes& key)
{
    const WipedBytes maskedKey = masked(key);
    m_db.prepare("UPDATE token SET dev_auth_key = ? WHERE id = 1")
        .bindBlob(1, maskedKey.data(), maskedKey.size())
        .run();
}

uint64_t TokenDb::usedBytes()
{
    auto statement
        = m_db.prepare("SELECT (SELECT COUNT(*) FROM applications) * ?1"
                       " + (SELECT COALESCE(SUM(size + ?2), 0) FROM files)"
                       " + (SELECT COUNT(*) FROM containers) * ?3"
                       " + (SELECT COALESCE(SUM(length(public_blob) + length(wrapped_private_key)), 0) FROM key_pairs)"
                       " + (SELECT COALESCE(SUM(length(der)), 0) FROM certificates)");
    statement.bind(1, int64_t{kApplicationCost}).bind(2, int64_t{kFileOverhead}).bind(3, int64_t{kContainerCost});
    statement.step();
    return static_cast<uint64_t>(statement.integer(0));
}

uint32_t TokenDb::freeBytes()
{
    const uint64_t capacity = token().capacity;
    const uint64_t used = usedBytes();
    return used >= capacity ? 0 : static_cast<uint32_t>(capacity - used);
}

std::vector<std::string> TokenDb::applicationNames()
{
    auto statement = m_db.prepare("SELECT name FROM applications ORDER BY id");
    return names(statement);
}

std::optional<AppRecord> TokenDb::application(const std::string& name)
{
    auto statement
        = m_db.prepare("SELECT id, name, uid, create_file_rights, key_check FROM applications WHERE name = ?");
    statement.bind(1, name);
    if (!statement.step()) {
        return std::nullopt;
    }
    return AppRecord{statement.integer(0), statement.text(1), statement.blob(2),
                     static_cast<uint32_t>(statement.integer(3)), statement.blob(4)};
}

std::optional<AppRecord> TokenDb::application(int64_t id)
{
    auto statement = m_db.cached("SELECT id, name, uid, create_file_rights, key_check FROM applications WHERE id = ?");
    statement->bind(1, id);
    if (!statement->step()) {
        return std::nullopt;
    }
    return AppRecord{statement->integer(0), statement->text(1), statement->blob(2),
                     static_cast<uint32_t>(statement->integer(3)), statement->blob(4)};
}

int64_t TokenDb::insertApplication(const AppRecord& app)
{
    m_db.prepare("INSERT INTO applications(name, uid, create_file_rights, key_check) VALUES (?, ?, ?, ?)")
        .bind(1, app.name)
        .bind(2, app.uid)
        .bind(3, int64_t{app.createFileRights})
        .bind(4, app.keyCheck)
        .run();
    return m_db.lastInsertId();
}

void TokenDb::deleteApplication(int64_t id)
{
    m_db.prepare("DELETE FROM applications WHERE id = ?").bind(1, id).run();
}

void TokenDb::setKeyCheck(int64_t appId, const std::vector<uint8_t>& check)
{
    m_db.prepare("UPDATE applications SET key_check = ? WHERE id = ?").bind(1, check).bind(2, appId).run();
}

PinRecord TokenDb::pin(int64_t appId, uint32_t pinType)
{
    return pinRow(appId, pinType, true);
}

PinRecord TokenDb::pinRow(int64_t appId, uint32_t pinType, bool checked)
{
    auto statement
        = m_db.prepare("SELECT salt, verifier, iterations, max_retries, remaining_retries, is_default, wrapped_app_key,"
                       " kdf, scrypt_n, scrypt_r, scrypt_p, wrap_public, wrap_private, record_mac, row_check"
                       " FROM pins WHERE app_id = ? AND pin_type = ?");
    statement.bind(1, appId).bind(2, int64_t{pinType});
    if (!statement.step()) {
        throw StoreError("the application has no PIN record");
    }
    const int64_t maxRetries = statement.integer(3);
    const int64_t remaining = statement.integer(4);
    const int64_t kdf = statement.integer(7);
    // Counts no application is made with would make the retry limit whatever the file says.
    if (maxRetries < 1 || maxRetries > kMaxRetries || remaining < 0 || remaining > maxRetries
        || (kdf != int64_t(PinKdf::Pbkdf2) && kdf != int64_t(PinKdf::Scrypt))) {
        throw DamagedRecord("a PIN record's counts are out of range");
    }
    PinRecord pin;
    pin.salt = statement.blob(0);
    pin.verifier = statement.blob(1);
    pin.iterations = static_cast<uint32_t>(statement.integer(2));
    pin.maxRetries = static_cast<uint32_t>(statement.integer(3));
    pin.remainingRetries = static_cast<uint32_t>(statement.integer(4));
    pin.isDefault = statement.integer(5) != 0;
    pin.wrappedAppKey = statement.blob(6);
    pin.kdf = static_cast<PinKdf>(statement.integer(7));
    pin.scryptN = static_cast<uint64_t>(statement.integer(8));
    pin.scryptR = static_cast<uint32_t>(statement.integer(9));
    pin.scryptP = static_cast<uint32_t>(statement.integer(10));
    pin.wrapPublic = statement.blob(11);
    pin.wrapPrivate = statement.blob(12);
    pin.recordMac = statement.blob(13);
    if (checked && statement.blob(14) != pinCheck(pinType, pin)) {
        throw DamagedRecord(std::string("the ") + pinName(pinType) + "'s record is damaged");
    }
    return pin;
}

void TokenDb::putPin(int64_t appId, uint32_t pinType, const PinRecord& pin)
{
    m_db.prepare("INSERT OR REPLACE INTO pins(app_id, pin_type, salt, verifier, iterations, max_retries,"
                 " remaining_retries, is_default, wrapped_app_key, kdf, scrypt_n, scrypt_r, scrypt_p, wrap_public,"
                 " wrap_private, record_mac, row_check) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
        .bind(1, appId)
        .bind(2, int64_t{pinType})
        .bind(3, pin.salt)
        .bind(4, pin.verifier)
        .bind(5, int64_t{pin.iterations})
        .bind(6, int64_t{pin.maxRetries})
        .bind(7, int64_t{pin.remainingRetries})
        .bind(8, int64_t{pin.isDefault ? 1 : 0})
        .bind(9, pin.wrappedAppKey)
        .bind(10, int64_t{static_cast<uint32_t>(pin.kdf)})
        .bind(11, static_cast<int64_t>(pin.scryptN))
        .bind(12, int64_t{pin.scryptR})
        .bind(13, int64_t{pin.scryptP})
        .bind(14, pin.wrapPublic)
        .bind(15, pin.wrapPrivate)
        .bind(16, pin.recordMac)
        .bind(17, pinCheck(pinType, pin))
        .run();
}

uint32_t TokenDb::remainingRetries(int64_t appId, uint32_t pinType)
{
    auto statement = m_db.cached("SELECT remaining_retries FROM pins WHERE app_id = ? AND pin_type = ?");
    statement->bind(1, appId).bind(2, int64_t{pinType});
    if (!statement->step()) {
        throw StoreError("the application has no PIN record");
    }
    return static_cast<uint32_t>(statement->integer(0));
}

void TokenDb::setRemainingRetries(int64_t appId, uint32_t pinType, uint32_t remaining)
{
    m_db.prepare("UPDATE pins SET remaining_retries = ? WHERE app_id = ? AND pin_type = ?")
        .bind(1, int64_t{remaining})
        .bind(2, appId)
        .bind(3, int64_t{pinType})
        .run();
}

std::vector<std::string> TokenDb::fileNames(int64_t appId)
{
    auto statement = m_db.prepare("SELECT name FROM files WHERE app_id = ? ORDER BY rowid");
    statement.bind(1, appId);
    return names(statement);
}

std::optional<FileRecord> TokenDb::file(int64_t appId, const std::string& name)
{
    auto statement = m_db.prepare("SELECT f.name, f.size, f.read_rights, f.write_rights, f.sealed, t.capacity"
                                  " FROM files f, token t WHERE t.id = 1 AND f.app_id = ? AND f.name = ?");
    statement.bind(1, appId).bind(2, name);
    if (!statement.step()) {
        return std::nullopt;
    }
    // No file is made larger than the token: a larger size was written by someone else.
    const int64_t size = statement.integer(1);
    if (size < 0 || size > statement.integer(5)) {
        throw DamagedRecord("a file's size is out of range");
    }
    return FileRecord{statement.text(0), static_cast<uint32_t>(size), static_cast<uint32_t>(statement.integer(2)),
                      static_cast<uint32_t>(statement.integer(3)), statement.integer(4) != 0};
}

void TokenDb::insertFile(int64_t appId, const FileRecord& file)
{
    m_db.prepare("INSERT INTO files(app_id, name, size, read_rights, write_rights, data, row_check)"
                 " VALUES (?, ?, ?, ?, ?, zeroblob(?), ?)")
        .bind(1, appId)
        .bind(2, file.name)
        .bind(3, int64_t{file.size})
        .bind(4, int64_t{file.readRights})
        .bind(5, int64_t{file.writeRights})
        .bind(6, int64_t{file.size})
        .bind(7, fileCheck(std::vector<uint8_t>(file.size), false))
        .run();
}

void TokenDb::deleteFile(int64_t appId, const std::string& name)
{
    m_db.prepare("DELETE FROM files WHERE app_id = ? AND name = ?").bind(1, appId).bind(2, name).run();
}

std::vector<uint8_t> TokenDb::fileData(int64_t appId, const FileRecord& file)
{
    // length() of a blob reads no more than its header: the length is checked before a
    // byte of the data is read.
    auto length = m_db.prepare("SELECT length(data) FROM files WHERE app_id = ? AND name = ?");
    length.bind(1, appId).bind(2, file.name);
    if (!length.step()) {
        return {};
    }
    if (length.integer(0) > int64_t{file.size} + kMaxSealingOverhead) {
        throw DamagedRecord("a file's data is longer than the file");
    }
    auto statement = m_db.prepare("SELECT data, sealed, row_check FROM files WHERE app_id = ? AND name = ?");
    statement.bind(1, appId).bind(2, file.name);
    if (!statement.step()) {
        return {};
    }
    auto data = statement.blob(0);
    if (statement.blob(2) != fileCheck(data, statement.integer(1) != 0)) {
        throw DamagedRecord("file " + file.name + " is damaged");
    }
    return data;
}

void TokenDb::setFileData(int64_t appId, const std::string& name, const std::vector<uint8_t>& data, bool sealed)
{
    m_db.prepare("UPDATE files SET data = ?, sealed = ?, row_check = ? WHERE app_id = ? AND name = ?")
        .bind(1, data)
        .bind(2, int64_t{sealed ? 1 : 0})
        .bind(3, fileCheck(data, sealed))
        .bind(4, appId)
        .bind(5, name)
        .run();
}

std::vector<std::string> TokenDb::containerNames(int64_t appId)
{
    auto statement = m_db.prepare("SELECT name FROM containers WHERE app_id = ? ORDER BY id");
    statement.bind(1, appId);
    return names(statement);
}

std::optional<ContainerRecord> TokenDb::container(int64_t appId, const std::string& name)
{
    auto statement = m_db.prepare("SELECT id, app_id, name FROM containers WHERE app_id = ? AND name = ?");
    statement.bind(1, appId).bind(2, name);
    if (!statement.step()) {
        return std::nullopt;
    }
    return ContainerRecord{statement.integer(0), statement.integer(1), statement.text(2)};
}

std::optional<ContainerRecord> TokenDb::container(int64_t id)
{
    auto statement = m_db.cached("SELECT id, app_id, name FROM containers WHERE id = ?");
    statement->bind(1, id);
    if (!statement->step()) {
        return std::nullopt;
    }
    return ContainerRecord{statement->integer(0), statement->integer(1), statement->text(2)};
}

uint32_t TokenDb::containerCount(int64_t appId)
{
    auto statement = m_db.prepare("SELECT COUNT(*) FROM containers WHERE app_id = ?");
    statement.bind(1, appId);
    statement.step();
    return static_cast<uint32_t>(statement.integer(0));
}

int64_t TokenDb::insertContainer(int64_t appId, const std::string& name)
{
    m_db.prepare("INSERT INTO containers(app_id, name) VALUES (?, ?)").bind(1, appId).bind(2, name).run();
    return m_db.lastInsertId();
}

void TokenDb::deleteContainer(int64_t id)
{
    m_db.prepare("DELETE FROM containers WHERE id = ?").bind(1, id).run();
}

std::optional<KeyPairRecord> TokenDb::keyPair(int64_t containerId, bool signing)
{
    // A pair larger than the token was written by someone else: it is not read (a blob in
    // a result column is loaded whole), and so not there.
    auto statement = m_db.cached("SELECT algorithm, bits, public_blob, wrapped_private_key, row_check FROM key_pairs"
                                 " WHERE container_id = ? AND signing = ?"
                                 " AND length(public_blob) + length(wrapped_private_key) <= " TOKEN_CAPACITY_SQL);
    statement->bind(1, containerId).bind(2, int64_t{signing ? 1 : 0});
    if (!statement->step()) {
        return std::nullopt;
    }
    KeyPairRecord pair{static_cast<uint32_t>(statement->integer(0)), static_cast<uint32_t>(statement->integer(1)),
                       statement->blob(2), statement->blob(3)};
    if (statement->blob(4) != pairCheck(pair.algorithm, pair.bits, pair.publicBlob, pair.wrappedPrivateKey)) {
        throw DamagedRecord(std::string("the ") + (signing ? "signature" : "encryption") + " key pair is damaged");
    }
    return pair;
}

void TokenDb::putKeyPair(int64_t containerId, bool signing, const KeyPairRecord& pair)
{
    m_db.prepare("INSERT OR REPLACE INTO key_pairs(container_id, signing, algorithm, bits, public_blob,"
                 " wrapped_private_key, row_check) VALUES (?, ?, ?, ?, ?, ?, ?)")
        .bind(1, containerId)
        .bind(2, int64_t{signing ? 1 : 0})
        .bind(3, int64_t{pair.algorithm})
        .bind(4, int64_t{pair.bits})
        .bind(5, pair.publicBlob)
        .bind(6, pair.wrappedPrivateKey)
        .bind(7, pairCheck(pair.algorithm, pair.bits, pair.publicBlob, pair.wrappedPrivateKey))
        .run();
}

std::vector<SealedKeyRow> TokenDb::sealedKeys(int64_t appId)
{
    auto statement = m_db.prepare("SELECT k.container_id, k.signing, k.wrapped_private_key FROM key_pairs k"
                                  " JOIN containers c ON c.id = k.container_id WHERE c.app_id = ?");
    statement.bind(1, appId);
    std::vector<SealedKeyRow> rows;
    while (statement.step()) {
        rows.push_back({statement.integer(0), statement.integer(1) != 0, statement.blob(2)});
    }
    return rows;
}

void TokenDb::setSealedKey(int64_t containerId, bool signing, const std::vector<uint8_t>& wrappedPrivateKey)
{
    auto row
        = m_db.prepare("SELECT algorithm, bits, public_blob FROM key_pairs WHERE container_id = ? AND signing = ?");
    row.bind(1, containerId).bind(2, int64_t{signing ? 1 : 0});
    if (!row.step()) {
        return;
    }
    const auto check = pairCheck(static_cast<uint32_t>(row.integer(0)), static_cast<uint32_t>(row.integer(1)),
                                 row.blob(2), wrappedPrivateKey);
    m_db.prepare("UPDATE key_pairs SET wrapped_private_key = ?, row_check = ? WHERE container_id = ? AND signing = ?")
        .bind(1, wrappedPrivateKey)
        .bind(2, check)
        .bind(3, containerId)
        .bind(4, int64_t{signing ? 1 : 0})
        .run();
}

uint32_t TokenDb::containerAlgorithm(int64_t containerId)
{
    auto statement = m_db.prepare("SELECT algorithm FROM key_pairs WHERE container_id = ? LIMIT 1");
    statement.bind(1, containerId);
    return statement.step() ? static_cast<uint32_t>(statement.integer(0)) : 0;
}

std::optional<std::vector<uint8_t>> TokenDb::certificate(int64_t containerId, bool signing)
{
    auto statement = m_db.prepare("SELECT length(der) > " TOKEN_CAPACITY_SQL " FROM certificates"
                                  " WHERE container_id = ? AND signing = ?");
    statement.bind(1, containerId).bind(2, int64_t{signing ? 1 : 0});
    if (!statement.step()) {
        return std::nullopt;
    }
    if (statement.integer(0) != 0) {
        throw DamagedRecord("a certificate is larger than the token"); // checked before it is read
    }
    auto der = m_db.prepare("SELECT der, row_check FROM certificates WHERE container_id = ? AND signing = ?");
    der.bind(1, containerId).bind(2, int64_t{signing ? 1 : 0});
    if (!der.step()) {
        return std::nullopt;
    }
    auto bytes = der.blob(0);
    if (der.blob(1) != certificateCheck(bytes)) {
        throw DamagedRecord(std::string("the ") + (signing ? "signature" : "encryption") + " certificate is damaged");
    }
    return bytes;
}

void TokenDb::putCertificate(int64_t containerId, bool signing, const std::vector<uint8_t>& der)
{
    m_db.prepare("INSERT OR REPLACE INTO certificates(container_id, signing, der, row_check) VALUES (?, ?, ?, ?)")
        .bind(1, containerId)
        .bind(2, int64_t{signing ? 1 : 0})
        .bind(3, der)
        .bind(4, certificateCheck(der))
        .run();
}

} // namespace softskf::store
