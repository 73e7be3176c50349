// The module's core: the slots made from the drivers' devices and applications, the sessions
// on them, their objects and the operations in progress. Every call comes in under the entry
// layer's lock; only the watchers' waits for device events run outside it.
#pragma once

#include "Crypto.h"
#include "Driver.h"
#include "Names.h"
#include "Objects.h"

#include "ossl/Secure.h"

#include <p11-kit/pkcs11.h>

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace skfp11 {

// A PIN kept only while it is needed, wiped when dropped.
using Secret = ossl::SecureString;

struct Device
{
    size_t driver = 0;
    std::string name;
    std::string serial; // from the device info, else the name
    DEVHANDLE handle = nullptr;
    DEVINFO info{};
    std::vector<CK_SLOT_ID> slots;
};

struct Slot
{
    CK_SLOT_ID id = 0;
    size_t driver = 0;
    std::string deviceKey; // the key of its device in the device table
    std::string deviceName;
    std::string applicationName; // empty for a device without an application
    bool present = false; // a token is there: the device is plugged and the application open
    bool sharedDevice = false; // the device holds more than one application
    HAPPLICATION application = nullptr;
    CK_USER_TYPE loggedIn = CK_UNAVAILABLE_INFORMATION;
    Secret soPin; // kept while the SO is logged in: unblocking the user PIN needs it
    bool objectsLoaded = false;
    std::vector<KeyPairFacts> pairs;
    std::vector<Object> objects;
    NameTable names; // read with the objects
    // Containers kept open for signing, so a signature costs one driver call.
    std::map<std::string, HCONTAINER> signingContainers;
};

enum class OperationKind { Sign, Verify };

struct SignatureOperation
{
    OperationKind kind = OperationKind::Sign;
    CK_MECHANISM_TYPE mechanism = 0;
    KeyPairFacts key;
    std::unique_ptr<Hasher> hasher; // the hashing mechanisms
    Bytes data; // the raw mechanisms collect their input
    bool updated = false;
};

struct DigestOperation
{
    HashKind kind = HashKind::Sha256;
    std::unique_ptr<Hasher> hasher;
    bool updated = false;
};

struct Session
{
    CK_SESSION_HANDLE handle = 0;
    CK_SLOT_ID slot = 0;
    CK_FLAGS flags = 0;
    bool finding = false;
    std::vector<CK_OBJECT_HANDLE> found;
    size_t foundNext = 0;
    std::optional<SignatureOperation> signature;
    std::optional<DigestOperation> digest;
};

class Module
{
public:
    // Loads every driver of the list (each once); a driver that fails is reported and skipped.
    // Throws std::runtime_error naming the failures when none loads. With rsaOnly the tokens
    // show their RSA pairs only, for clients that fail on any other key.
    Module(const std::vector<std::string>& driverPaths, bool rsaOnly);
    ~Module();

    // What went wrong loading drivers, one line each; empty when every driver loaded.
    const std::vector<std::string>& driverProblems() const { return m_driverProblems; }

    // The presence watchers: one per driver, each blocking in its driver outside the lock.
    size_t driverCount() const { return m_drivers.size(); }
    // Blocks in the driver's wait; fills the device name and event. Safe without the lock.
    ULONG waitForDeviceEvent(size_t driver, std::string& name, ULONG& event) const;
    void cancelDeviceWaits() const;
    // Follows one event of a driver: a removal ends that device's tokens even when the device
    // is listed again already (pulled and plugged back at once), then the list is read again.
    void deviceEvent(size_t driver, const std::string& name, ULONG event);
    bool hasSlotEvent() const { return !m_events.empty(); }
    std::optional<CK_SLOT_ID> popSlotEvent();
    // After a call met a removed device: every device whose handle no longer answers is
    // taken away, and the device list is read again.
    void recheckDevices();
    // Whether a watcher thread follows the driver's device events. Without one (a caller that
    // forbids threads, as NSS does, or a driver that cannot wait) the questions about a slot
    // or a session read the device list first, so a token pulled and plugged back between two
    // calls is a fresh token at the next one.
    void setWatched(size_t driver, bool watched) { m_drivers[driver].watched = watched; }

    // Slots and tokens. requireSlot throws CKR_SLOT_ID_INVALID for an ID no slot ever had.
    void requireSlot(CK_SLOT_ID id) { slot(id); }
    std::vector<CK_SLOT_ID> slotList(bool tokenPresent);
    void slotInfo(CK_SLOT_ID id, CK_SLOT_INFO& info);
    void tokenInfo(CK_SLOT_ID id, CK_TOKEN_INFO& info);
    std::vector<CK_MECHANISM_TYPE> mechanismList(CK_SLOT_ID id);
    void mechanismInfo(CK_SLOT_ID id, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO& info);

    // Looks at the drivers' devices again and queues an event for each slot whose token came
    // or went since the last look; returns the oldest queued event.
    std::optional<CK_SLOT_ID> nextSlotEvent();

    // Sessions and login.
    CK_SESSION_HANDLE openSession(CK_SLOT_ID id, CK_FLAGS flags);
    void closeSession(CK_SESSION_HANDLE handle);
    void closeAllSessions(CK_SLOT_ID id);
    void sessionInfo(CK_SESSION_HANDLE handle, CK_SESSION_INFO& info);
    void login(CK_SESSION_HANDLE handle, CK_USER_TYPE user, Secret pin);
    void logout(CK_SESSION_HANDLE handle);
    void setPin(CK_SESSION_HANDLE handle, Secret oldPin, Secret newPin);
    void initPin(CK_SESSION_HANDLE handle, Secret pin);
    // Throws CKR_SESSION_HANDLE_INVALID for a handle that is not an open session.
    void requireSession(CK_SESSION_HANDLE handle) { session(handle); }
    // Throws CKR_OBJECT_HANDLE_INVALID (CKR_KEY_HANDLE_INVALID) for an object the session cannot see.
    void requireObject(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object) { visibleObject(session(handle), object); }
    void requireKey(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE key);

    // Objects.
    void findInit(CK_SESSION_HANDLE handle, const CK_ATTRIBUTE* pTemplate, CK_ULONG count);
    std::vector<CK_OBJECT_HANDLE> findNext(CK_SESSION_HANDLE handle, CK_ULONG max);
    void findFinal(CK_SESSION_HANDLE handle);
    CK_RV getAttributes(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object, CK_ATTRIBUTE* pTemplate, CK_ULONG count);
    void setAttributes(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object, const CK_ATTRIBUTE* pTemplate,
                       CK_ULONG count);
    CK_ULONG objectSize(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object);
    CK_OBJECT_HANDLE createObject(CK_SESSION_HANDLE handle, const CK_ATTRIBUTE* pTemplate, CK_ULONG count);
    void destroyObject(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object);
    void generateKeyPair(CK_SESSION_HANDLE handle, const CK_MECHANISM& mechanism, const CK_ATTRIBUTE* pPublic,
                         CK_ULONG publicCount, const CK_ATTRIBUTE* pPrivate, CK_ULONG privateCount,
                         CK_OBJECT_HANDLE& publicKey, CK_OBJECT_HANDLE& privateKey);

    // Signatures and digests. A null output asks for the size; a short one answers
    // CKR_BUFFER_TOO_SMALL; both leave the operation running.
    void signatureInit(CK_SESSION_HANDLE handle, OperationKind kind, const CK_MECHANISM& mechanism,
                       CK_OBJECT_HANDLE key);
    void signatureUpdate(CK_SESSION_HANDLE handle, OperationKind kind, const uint8_t* data, size_t size);
    CK_RV signFinal(CK_SESSION_HANDLE handle, CK_BYTE* out, CK_ULONG* outSize);
    CK_RV verifyFinal(CK_SESSION_HANDLE handle, const uint8_t* signature, size_t size);
    void digestInit(CK_SESSION_HANDLE handle, CK_MECHANISM_TYPE mechanism);
    void digestUpdate(CK_SESSION_HANDLE handle, const uint8_t* data, size_t size);
    CK_RV digestFinal(CK_SESSION_HANDLE handle, CK_BYTE* out, CK_ULONG* outSize);
    // True when a one-part call may go on (the operation was not fed by an update before).
    bool signatureIsFresh(CK_SESSION_HANDLE handle, OperationKind kind);
    bool digestIsFresh(CK_SESSION_HANDLE handle);
    void endSignature(CK_SESSION_HANDLE handle);
    void endDigest(CK_SESSION_HANDLE handle);

    void generateRandom(CK_SESSION_HANDLE handle, CK_BYTE* out, CK_ULONG size);

private:
    struct LoadedDriver
    {
        std::string tag; // the library's file name: part of every slot ID it serves
        std::unique_ptr<Driver> driver;
        std::optional<FileFunctions> files;
        bool watched = false;
    };
    void followUnwatched(size_t driver);

    const DriverFunctions& fn(size_t driver) const { return m_drivers[driver].driver->fn(); }
    const DriverFunctions& fn(const Slot& slot) const { return fn(slot.driver); }
    Session& session(CK_SESSION_HANDLE handle);
    Slot& slot(CK_SLOT_ID id);
    Slot& presentSlot(CK_SLOT_ID id);
    Device* deviceOf(const Slot& slot);
    bool deviceAnswers(const Device& device) const;
    void rescan(bool queueEvents);
    void rescanDriver(size_t driver, bool queueEvents);
    void attachDevice(size_t driver, const std::string& name, bool queueEvents);
    bool openApplications(Device& device, bool queueEvents);
    void detachDevice(const std::string& key, bool queueEvents);
    void closeSlot(Slot& slot, bool queueEvents);
    CK_SLOT_ID slotIdFor(const Device& device, const std::string& applicationName);
    void dropSessions(CK_SLOT_ID id);
    // The one place a login ends: the driver's security state, the SO PIN kept, and the
    // operations that used private keys.
    void endLogin(Slot& slot, bool tellDriver);
    void loadObjects(Slot& slot);
    void invalidateObjects(Slot& slot);
    const Object& visibleObject(const Session& session, CK_OBJECT_HANDLE handle);
    bool userLoggedIn(const Slot& slot) const { return slot.loggedIn == CKU_USER; }
    bool hasReadOnlySession(CK_SLOT_ID id) const;
    void requireWritable(const Session& session) const;
    void requireUser(const Slot& slot) const;
    bool containerHoldsMore(const Slot& slot, const Object& object);
    NameTable readNames(const Slot& slot);
    // Changes one pair's names and writes the table; needs the user logged in.
    template <typename Change> void renamePair(Slot& slot, const std::string& container, bool signPair, Change change);
    void writeNames(Slot& slot, const NameTable& table);
    CK_OBJECT_HANDLE handleFor(CK_SLOT_ID id, const Object& object);
    CK_OBJECT_HANDLE objectHandleOf(Slot& slot, const std::string& container, bool signPair, CK_OBJECT_CLASS cls);
    Bytes signOnToken(Slot& slot, const SignatureOperation& operation, const Bytes& input);
    HCONTAINER signingContainer(Slot& slot, const std::string& name);
    void closeSigningContainers(Slot& slot);
    Bytes signatureInput(SignatureOperation& operation);
    size_t signatureSize(const SignatureOperation& operation) const;

    bool m_rsaOnly = false;
    std::vector<LoadedDriver> m_drivers;
    std::vector<std::string> m_driverProblems;
    std::map<std::string, Device> m_devices; // by driver and name
    std::map<CK_SLOT_ID, Slot> m_slots;
    std::map<std::string, CK_SLOT_ID> m_slotIds; // driver + serial + application -> ID
    std::map<CK_SESSION_HANDLE, Session> m_sessions;
    std::map<std::string, CK_OBJECT_HANDLE> m_objectHandles;
    std::deque<CK_SLOT_ID> m_events;
    CK_SESSION_HANDLE m_nextSession = 1;
    CK_OBJECT_HANDLE m_nextObject = 1;
};

} // namespace skfp11
