// One token's database: the schema and every query the soft token makes. The caller
// opens a Transaction around each change; this class never commits on its own.
#pragma once

#include "Sqlite.h"

#include "ossl/Secure.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace softskf::store {

// A record whose fields no version of the store writes: changed by someone else.
class DamagedRecord : public StoreError
{
public:
    using StoreError::StoreError;
};

// Bytes zeroed before their memory goes back: the device authentication key.
using WipedBytes = ossl::SecureBytes;

struct TokenRecord
{
    std::string serial;
    std::string label;
    uint32_t capacity = 0;
    WipedBytes devAuthKey;
};

struct AppRecord
{
    int64_t id = 0;
    std::string name;
    std::vector<uint8_t> uid; // random, so a recreated application is another one
    uint32_t createFileRights = 0;
    // A short MAC of the current application key; empty on a record not yet converged.
    std::vector<uint8_t> keyCheck;
};

// How a PIN becomes its keys; kept per record so the cost can be raised later.
enum class PinKdf : uint32_t {
    Pbkdf2 = 0, // older records: PBKDF2-HMAC-SHA256 with `iterations`
    Scrypt = 1,
};

struct PinRecord
{
    std::vector<uint8_t> salt;
    std::vector<uint8_t> verifier;
    PinKdf kdf = PinKdf::Scrypt;
    uint32_t iterations = 0;
    uint64_t scryptN = 0;
    uint32_t scryptR = 0;
    uint32_t scryptP = 0;
    uint32_t maxRetries = 0;
    uint32_t remainingRetries = 0;
    bool isDefault = true;
    // The application key: wrapped to wrapPublic, or (older records, wrapPublic empty)
    // sealed under this PIN's wrapping key.
    std::vector<uint8_t> wrappedAppKey;
    std::vector<uint8_t> wrapPublic; // X25519, in the clear so the other PIN can wrap to it
    std::vector<uint8_t> wrapPrivate; // its private half, sealed under this PIN's wrapping key
    // MAC under the application key over the fields above but the counter; empty on a
    // record of an older version, until its first verification.
    std::vector<uint8_t> recordMac;
};

struct FileRecord
{
    std::string name;
    uint32_t size = 0;
    uint32_t readRights = 0;
    uint32_t writeRights = 0;
    bool sealed = false; // the data is sealed under the application key
};

struct SealedKeyRow
{
    int64_t containerId = 0;
    bool signing = false;
    std::vector<uint8_t> wrappedPrivateKey;
};

struct ContainerRecord
{
    int64_t id = 0;
    int64_t appId = 0;
    std::string name;
};

struct KeyPairRecord
{
    uint32_t algorithm = 0; // SGD_RSA or SGD_SM2_1 / SGD_SM2_3
    uint32_t bits = 0;
    std::vector<uint8_t> publicBlob;
    std::vector<uint8_t> wrappedPrivateKey;
};

// What each object costs in the token's capacity, besides its own bytes.
constexpr uint32_t kApplicationCost = 512;
constexpr uint32_t kFileOverhead = 64;
constexpr uint32_t kContainerCost = 128;
// What sealing adds to a file's bytes, at most (nonce and tag).
constexpr uint32_t kMaxSealingOverhead = 64;

class TokenDb
{
public:
    // Creates a new token database (mode 0600, WAL); fails when the file exists.
    static void create(const std::string& path, const TokenRecord& token);
    // Refuses (StoreError) a file whose schema holds anything this store did not create,
    // before writing to it; every later write transaction checks the same again.
    explicit TokenDb(const std::string& path);

    Database& database() { return m_db; }
    // Moves every committed page into the database file and empties the WAL, so old
    // versions of rewritten rows are gone from disk; call after a PIN or key change,
    // outside any transaction. Never throws: the change before it is committed. A reader
    // that holds its snapshot past a short wait leaves it to retryPendingCheckpoint().
    void checkpoint();
    // The truncation a reader held back, tried again without waiting; cheap when none is.
    void retryPendingCheckpoint();

    // Every stored object whose checksum does not match, named for a person ("container
    // C's signature key"); empty for a whole token.
    std::vector<std::string> damagedObjects();

    TokenRecord token();
    void setLabel(const std::string& label);
    void setDevAuthKey(const WipedBytes& key);
    uint64_t usedBytes();
    uint32_t freeBytes();

    std::vector<std::string> applicationNames();
    std::optional<AppRecord> application(const std::string& name);
    std::optional<AppRecord> application(int64_t id);
    int64_t insertApplication(const AppRecord& app);
    void deleteApplication(int64_t id);
    void setKeyCheck(int64_t appId, const std::vector<uint8_t>& check);

    // Throws DamagedRecord, naming the PIN, for a record whose checksum does not match.
    PinRecord pin(int64_t appId, uint32_t pinType);
    void putPin(int64_t appId, uint32_t pinType, const PinRecord& pin);
    // Only the retry counter: the cheap check made before each use of a private key.
    uint32_t remainingRetries(int64_t appId, uint32_t pinType);
    void setRemainingRetries(int64_t appId, uint32_t pinType, uint32_t remaining);

    std::vector<std::string> fileNames(int64_t appId);
    std::optional<FileRecord> file(int64_t appId, const std::string& name);
    void insertFile(int64_t appId, const FileRecord& file);
    void deleteFile(int64_t appId, const std::string& name);
    // Throws DamagedRecord, before reading it, for data longer than the file's size and its
    // sealing take.
    std::vector<uint8_t> fileData(int64_t appId, const FileRecord& file);
    // Raw stored bytes: sealed when the record says so.
    void setFileData(int64_t appId, const std::string& name, const std::vector<uint8_t>& data, bool sealed);

    std::vector<std::string> containerNames(int64_t appId);
    std::optional<ContainerRecord> container(int64_t appId, const std::string& name);
    std::optional<ContainerRecord> container(int64_t id);
    uint32_t containerCount(int64_t appId);
    int64_t insertContainer(int64_t appId, const std::string& name);
    void deleteContainer(int64_t id);

    std::optional<KeyPairRecord> keyPair(int64_t containerId, bool signing);
    void putKeyPair(int64_t containerId, bool signing, const KeyPairRecord& pair);
    // Every sealed private key of the application, for sealing again under a new key.
    std::vector<SealedKeyRow> sealedKeys(int64_t appId);
    void setSealedKey(int64_t containerId, bool signing, const std::vector<uint8_t>& wrappedPrivateKey);
    // SGD algorithm of the container's first pair, 0 when it holds none.
    uint32_t containerAlgorithm(int64_t containerId);

    std::optional<std::vector<uint8_t>> certificate(int64_t containerId, bool signing);
    void putCertificate(int64_t containerId, bool signing, const std::vector<uint8_t>& der);

private:
    static constexpr int kCheckpointWaitMs = 1000;
    static constexpr int kCheckpointStepMs = 50;

    // Brings a database made by an older version up to the current schema, in place.
    void upgradeSchema();
    // Gives every row of an older file its checksum, inside the upgrade's transaction.
    void fillRowChecks();
    // checked: throws DamagedRecord when the row's checksum does not match.
    PinRecord pinRow(int64_t appId, uint32_t pinType, bool checked);
    void requireKnownSchema();
    bool truncateWal(int waitMs);
    Database m_db;
    int64_t m_checkedSchemaCookie = -1;
    bool m_truncationPending = false;
};

} // namespace softskf::store
