// The soft token's core: devices, applications, PINs, files, containers, key pairs and
// certificates of the tokens in the store, behind the handle table. Thread-safe: one
// mutex guards everything except the event wait, which has its own, so a wait blocked
// on one thread never stops calls on another. Failures throw SkfError.
#pragma once

#include "DeviceEvents.h"
#include "HandleTable.h"
#include "PinRecords.h"
#include "PresenceWatch.h"
#include "SecurityState.h"
#include "SkfError.h"
#include "crypto/PinSecret.h"
#include "crypto/Secure.h"
#include "store/StorePaths.h"
#include "store/TokenDb.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace softskf::crypto {
class KeyPair;
}

namespace softskf::core {

struct DeviceSession;
struct AppSession;
struct ContainerSession;

struct PinInfo
{
    ULONG maxRetries = 0;
    ULONG remainingRetries = 0;
    bool isDefault = false;
};

class Core
{
public:
    static Core& instance();
    // At unload: empties each token's WAL and closes the databases no handle holds.
    static void shutdown();
    // Around a fork (see CoreDevices.cpp); forkedChild runs in the child, its only thread.
    static void beforeFork();
    static void afterForkInParent();
    static void forkedChild();
    // How many parsed private keys are held (for tests: none outlives a login).
    size_t parsedKeyCount();

    // Devices.
    std::vector<std::string> enumDevices(bool presentOnly);
    HANDLE connect(const std::string& deviceName);
    void disconnect(HANDLE device);
    ULONG deviceState(const std::string& deviceName);
    void setLabel(HANDLE device, const std::string& label);
    DEVINFO deviceInfo(HANDLE device);
    void lockDevice(HANDLE device, ULONG timeoutMs);
    void unlockDevice(HANDLE device);
    void generateRandom(HANDLE device, uint8_t* out, size_t size);
    void deviceAuth(HANDLE device, const uint8_t* data, size_t size);
    void changeDeviceAuthKey(HANDLE device, const uint8_t* key, size_t size);
    ULONG waitForEvent(char* name, ULONG* nameLength, ULONG* event);
    void cancelWait();

    // Applications and PINs.
    HANDLE createApplication(HANDLE device, const std::string& name, const crypto::SecureString& adminPin,
                             ULONG adminRetries, const crypto::SecureString& userPin, ULONG userRetries,
                             ULONG createFileRights);
    std::vector<std::string> enumApplications(HANDLE device);
    void deleteApplication(HANDLE device, const std::string& name);
    HANDLE openApplication(HANDLE device, const std::string& name);
    void closeApplication(HANDLE application);
    PinInfo pinInfo(HANDLE application, ULONG pinType);
    // Each returns the SAR code and sets the remaining retries for PIN results.
    ULONG verifyPin(HANDLE application, ULONG pinType, const crypto::SecureString& pin, ULONG& remaining);
    ULONG changePin(HANDLE application, ULONG pinType, const crypto::SecureString& oldPin,
                    const crypto::SecureString& newPin, ULONG& remaining);
    ULONG unblockPin(HANDLE application, const crypto::SecureString& adminPin, const crypto::SecureString& newUserPin,
                     ULONG& remaining);
    void clearSecureState(HANDLE application);

    // Files.
    void createFile(HANDLE application, const std::string& name, ULONG size, ULONG readRights, ULONG writeRights);
    void deleteFile(HANDLE application, const std::string& name);
    std::vector<std::string> enumFiles(HANDLE application);
    FILEATTRIBUTE fileInfo(HANDLE application, const std::string& name);
    std::vector<uint8_t> readFile(HANDLE application, const std::string& name, ULONG offset, ULONG size);
    void writeFile(HANDLE application, const std::string& name, ULONG offset, const uint8_t* data, ULONG size);

    // Containers, key pairs and certificates.
    HANDLE createContainer(HANDLE application, const std::string& name);
    void deleteContainer(HANDLE application, const std::string& name);
    HANDLE openContainer(HANDLE application, const std::string& name);
    void closeContainer(HANDLE container);
    std::vector<std::string> enumContainers(HANDLE application);
    ULONG containerType(HANDLE container);
    ECCPUBLICKEYBLOB generateEccKeyPair(HANDLE container, ULONG algorithm);
    RSAPUBLICKEYBLOB generateRsaKeyPair(HANDLE container, ULONG bits);
    void importEccKeyPair(HANDLE container, const ENVELOPEDKEYBLOB& envelope);
    void importRsaKeyPair(HANDLE container, ULONG symmetricAlgorithm, const uint8_t* wrappedKey, size_t wrappedSize,
                          const uint8_t* encryptedKey, size_t encryptedSize);
    std::vector<uint8_t> exportPublicKey(HANDLE container, bool signing);
    void importCertificate(HANDLE container, bool signing, const uint8_t* der, size_t size);
    std::vector<uint8_t> exportCertificate(HANDLE container, bool signing);

    // Session keys, hashes, MACs and agreements: the handles SKF_CloseHandle closes.
    void closeHandle(HANDLE handle);

    // Cryptographic services (CoreCrypto.cpp, CoreCipher.cpp, CoreAgreement.cpp).
    void requireDevice(HANDLE device);
    std::vector<uint8_t> rsaSign(HANDLE container, const uint8_t* data, size_t size);
    ECCSIGNATUREBLOB eccSign(HANDLE container, const uint8_t* digest, size_t size);
    HANDLE rsaExportSessionKey(HANDLE container, ULONG algorithm, const RSAPUBLICKEYBLOB& key,
                               std::vector<uint8_t>& wrapped);
    HANDLE eccExportSessionKey(HANDLE container, ULONG algorithm, const ECCPUBLICKEYBLOB& key,
                               std::vector<uint8_t>& cipherBlob);
    HANDLE importSessionKey(HANDLE container, ULONG algorithm, const uint8_t* wrapped, size_t size);
    HANDLE setSymmetricKey(HANDLE device, const uint8_t* key, ULONG algorithm);
    void cipherInit(HANDLE key, const BLOCKCIPHERPARAM& param, bool encrypt);
    // One step of a cipher under the length convention; the state moves on only when the
    // result was delivered.
    enum class Step { Whole, Update, Final };
    ULONG cipherStep(HANDLE key, bool encrypt, Step step, const uint8_t* in, size_t size, uint8_t* out, ULONG* length);
    HANDLE digestInit(HANDLE device, ULONG algorithm, const ECCPUBLICKEYBLOB* key, const uint8_t* id, size_t idSize);
    ULONG digestStep(HANDLE hash, Step step, const uint8_t* in, size_t size, uint8_t* out, ULONG* length);
    HANDLE macInit(HANDLE key, const BLOCKCIPHERPARAM& param);
    ULONG macStep(HANDLE mac, Step step, const uint8_t* in, size_t size, uint8_t* out, ULONG* length);
    HANDLE agreementInit(HANDLE container, ULONG algorithm, ECCPUBLICKEYBLOB& ephemeral, const uint8_t* id,
                         size_t idSize);
    HANDLE agreementRespond(HANDLE container, ULONG algorithm, const ECCPUBLICKEYBLOB& sponsorKey,
                            const ECCPUBLICKEYBLOB& sponsorEphemeral, ECCPUBLICKEYBLOB& ephemeral, const uint8_t* id,
                            size_t idSize, const uint8_t* sponsorId, size_t sponsorIdSize);
    HANDLE agreementFinish(HANDLE agreement, const ECCPUBLICKEYBLOB& responderKey,
                           const ECCPUBLICKEYBLOB& responderEphemeral, const uint8_t* responderId, size_t idSize);

private:
    Core() = default;

    // A device handle checked live and still plugged in (same insertion).
    struct DeviceRef
    {
        DeviceSession& session;
        store::TokenDb& db;
    };
    struct AppRef
    {
        DeviceSession& device;
        store::TokenDb& db;
        AppSession& session;
        store::AppRecord record;
    };
    struct ContainerRef
    {
        AppRef app;
        store::ContainerRecord record;
    };

    const store::StorePaths& paths();
    // The paths after the store's folders were found private; SAR_FILEERR otherwise.
    const store::StorePaths& checkedPaths();
    bool tokenExists(const std::string& serial);
    std::shared_ptr<store::TokenDb> openToken(const std::string& serial);
    DeviceRef device(HANDLE handle);
    // The object of a live handle of this kind whose token is still plugged in: a handle
    // below a pulled token answers SAR_DEVICE_REMOVED like the token's own handles.
    template <typename T> T& live(HANDLE handle, HandleKind kind)
    {
        auto* object = m_handles.find<T>(handle, kind);
        if (!object) {
            fail(SAR_INVALIDHANDLEERR);
        }
        device(m_handles.rootOf(handle));
        return *object;
    }
    // Closes a live handle below a device (and its children); SAR_DEVICE_REMOVED when its
    // token was pulled.
    void closeBelow(HANDLE handle);
    // With a snapshot, its read transaction is opened before the first query, so the
    // caller's later queries share it.
    AppRef application(HANDLE handle, std::optional<store::ReadSnapshot>* snapshot = nullptr);
    ContainerRef container(HANDLE handle, std::optional<store::ReadSnapshot>* snapshot = nullptr);
    const AppSecurity* security(const AppRef& app);
    void requireUser(const AppRef& app);
    bool allowed(const AppRef& app, ULONG rights);
    // The file's record when it exists and the caller may write it (deleting needs that too).
    store::FileRecord writableFile(AppRef& app, const std::string& name);
    // The file's whole content, opened when sealed; damaged content fails with SAR_FAIL.
    crypto::SecureBytes fileContent(AppRef& app, const store::FileRecord& file);
    void requireRoom(store::TokenDb& db, uint64_t bytes);
    // A PIN found equal to its record: what a later transaction needs to open the key in
    // force from the record as it is then, without hashing the PIN again.
    struct VerifiedPin
    {
        ULONG pinType = 0;
        store::PinRecord record; // the record as compared (or as upgraded)
        crypto::PinSecret secret;
        crypto::SecureBytes appKey;
        // The first verified record of an older application: its plain protected files
        // are to be sealed by the caller that replaces the record.
        bool legacy = false;
    };
    // Spends one try, compares, and on success resets the counter and brings an outdated
    // record to today's format (unless converge is false: the caller replaces it). A
    // record replaced meanwhile by another process is never written over: when only its
    // wrapped key moved (the other PIN changed) it is settled as it is now; when its
    // secret changed it is compared again, with no further try.
    ULONG checkPin(const AppRef& app, ULONG pinType, const crypto::SecureString& pin, ULONG& remaining,
                   VerifiedPin& verified, bool converge = true);
    // Compares again with the record now in force, spending no try: the caller's PIN
    // matched the record that was replaced.
    ULONG recheckPin(const AppRef& app, const crypto::SecureString& pin, ULONG& remaining, VerifiedPin& verified,
                     bool converge);
    ULONG comparePin(const AppRef& app, ULONG pinType, const crypto::SecureString& pin, store::PinRecord record,
                     bool spent, ULONG& remaining, VerifiedPin& verified, bool converge);
    // The record before its hash runs, with one try spent; nullopt when none is left.
    std::optional<store::PinRecord> spendTry(const AppRef& app, ULONG pinType);
    enum class PinOutcome { Verified, VerifiedLegacy, Replaced, Damaged };
    // The write after a matching PIN, in one transaction that first checks the record
    // still has the secret verified: counter reset, bindings checked, the record upgraded.
    // Replaced hands back the record now in force.
    PinOutcome settlePin(const AppRef& app, const crypto::SecureString& pin, VerifiedPin& verified, bool converge,
                         store::PinRecord& replacement);
    // Protected files sealed again from oldKey under key; plain rows only when sealPlain
    // (an older application's first key) or when never written.
    void sealProtectedFiles(const AppRef& app, const crypto::SecureBytes& oldKey, const crypto::SecureBytes& key,
                            bool sealPlain);
    // Gives pinType a new record for pin and, when the other PIN's record can take it, the
    // application a fresh key: private keys and protected files sealed again, all in one
    // transaction, then the WAL emptied. The old key is opened in that transaction from
    // the verified PIN's record in force. Returns the key now in force, or nullopt when
    // the verified PIN's secret was replaced meanwhile (nothing written).
    std::optional<crypto::SecureBytes> replacePin(const AppRef& app, ULONG pinType, const crypto::SecureString& pin,
                                                  ULONG retries, const VerifiedPin& by, bool sealPlainFiles);
    // The application key the verified PIN's current record opens, checked against the
    // application's key check; SAR_FAIL when it opens none.
    crypto::SecureBytes keyInForce(const AppRef& app, const VerifiedPin& by, const store::PinRecord& current,
                                   const std::vector<uint8_t>& keyCheck);
    // Seals every private key of the application again under key; a damaged one is left
    // as it is (refused wherever it is used) and blocks no PIN change.
    void resealKeys(const AppRef& app, const crypto::SecureBytes& oldKey, const crypto::SecureBytes& key);
    // Ends this process's login to the application and drops every parsed private key.
    void endLogin(const std::string& serial, const std::vector<uint8_t>& appUid);
    // The application key of the login, checked against the stored key check so a key
    // replaced by another process is not used; fails with SAR_USER_NOT_LOGGED_IN.
    crypto::SecureBytes loginKey(const AppRef& app);
    // A PIN locked by another process ends this process's login (SAR_PIN_LOCKED).
    void requireUnlocked(const AppRef& app, ULONG pinType);
    store::PinRecord newPin(const crypto::SecureString& pin, ULONG retries, const crypto::SecureBytes& appKey,
                            const std::vector<uint8_t>& appUid, ULONG pinType, crypto::PinSecret* secret = nullptr);
    crypto::SecureBytes appKeyFor(const ContainerRef& container);
    std::vector<uint8_t> keyAad(const ContainerRef& container, bool signing) const;
    static std::vector<uint8_t> keyAad(const std::vector<uint8_t>& appUid, int64_t containerId, bool signing);
    static std::vector<uint8_t> fileAad(const std::vector<uint8_t>& appUid, const std::string& name);
    void storeKeyPair(const ContainerRef& container, bool signing, uint32_t algorithm, uint32_t bits,
                      const std::vector<uint8_t>& publicBlob, const crypto::SecureBytes& privateDer);
    crypto::SecureBytes signingPrivateKey(const ContainerRef& container, uint32_t& algorithm);
    // The container's private key for signing (signing) or decryption and exchange,
    // parsed once per sealed blob; needs the user PIN.
    std::shared_ptr<const crypto::KeyPair> privateKey(const ContainerRef& container, bool signing);
    HANDLE addSessionKey(HANDLE parent, ULONG algorithm, const crypto::SecureBytes& key);

    std::mutex m_mutex;
    std::optional<store::StorePaths> m_paths;
    struct OpenToken
    {
        std::shared_ptr<store::TokenDb> db;
        ino_t inode = 0;
    };
    std::map<std::string, OpenToken> m_tokens;
    HandleTable m_handles;
    PresenceWatch m_presenceWatch;
    // Parsed private keys by their sealed bytes: a changed key has new bytes.
    std::map<std::vector<uint8_t>, std::shared_ptr<const crypto::KeyPair>> m_keyCache;
    SecurityState m_security;
    // Let go in a forked child without touching its wait lock (see forkedChild).
    std::unique_ptr<DeviceEvents> m_events = std::make_unique<DeviceEvents>();
};

} // namespace softskf::core
