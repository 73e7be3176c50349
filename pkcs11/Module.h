// The module's core: the slots made from the drivers' devices and applications, and the calls
// that need a slot's token. The sessions and their operations (SessionTable.h), the object
// handles (ObjectHandles.h), each token's objects (TokenStore.h) and the mechanisms
// (Mechanisms.h) are kept in their own classes. Every call comes in under the entry layer's
// lock, which guards those too; only the watchers' waits for device events run outside it.
#pragma once

#include "Driver.h"
#include "ObjectHandles.h"
#include "SessionTable.h"
#include "TokenStore.h"

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
    TokenStore store; // its objects, read when first asked for

    bool userLoggedIn() const { return loggedIn == CKU_USER; }
    // Throws CKR_USER_NOT_LOGGED_IN unless the user is logged in.
    void requireUser() const;
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
    // The open sessions: get() throws CKR_SESSION_HANDLE_INVALID for a handle that is not one.
    // Searches, and the parts of signatures and digests after their start, run on the session.
    SessionTable& sessions() { return m_sessions; }

    // Objects. object() throws CKR_OBJECT_HANDLE_INVALID for an object the session cannot see.
    const Object& object(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object);
    void findInit(CK_SESSION_HANDLE handle, const CK_ATTRIBUTE* pTemplate, CK_ULONG count);
    void setAttributes(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object, const CK_ATTRIBUTE* pTemplate,
                       CK_ULONG count);
    CK_OBJECT_HANDLE createObject(CK_SESSION_HANDLE handle, const CK_ATTRIBUTE* pTemplate, CK_ULONG count);
    void destroyObject(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object);
    void generateKeyPair(CK_SESSION_HANDLE handle, const CK_MECHANISM& mechanism, const CK_ATTRIBUTE* pPublic,
                         CK_ULONG publicCount, const CK_ATTRIBUTE* pPrivate, CK_ULONG privateCount,
                         CK_OBJECT_HANDLE& publicKey, CK_OBJECT_HANDLE& privateKey);

    // Signatures and digests. A null output asks for the size; a short one answers
    // CKR_BUFFER_TOO_SMALL; both leave the operation running.
    void signatureInit(CK_SESSION_HANDLE handle, OperationKind kind, const CK_MECHANISM& mechanism,
                       CK_OBJECT_HANDLE key);
    CK_RV signFinal(CK_SESSION_HANDLE handle, CK_BYTE* out, CK_ULONG* outSize);
    void digestInit(CK_SESSION_HANDLE handle, CK_MECHANISM_TYPE mechanism);

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
    Slot& slot(CK_SLOT_ID id);
    Slot& presentSlot(CK_SLOT_ID id);
    Device* deviceOf(const Slot& slot);
    void rescan(bool queueEvents);
    void rescanDriver(size_t driver, bool queueEvents);
    void attachDevice(size_t driver, const std::string& name, bool queueEvents);
    bool openApplications(Device& device, bool queueEvents);
    void detachDevice(const std::string& key, bool queueEvents);
    void closeSlot(Slot& slot, bool queueEvents);
    CK_SLOT_ID slotIdFor(const Device& device, const std::string& applicationName);
    // The one place a login ends: the driver's security state, the SO PIN kept, and the
    // operations that used private keys.
    void endLogin(Slot& slot, bool tellDriver);
    TokenStore& loadObjects(Slot& slot);
    // Changes one pair's names and writes the table; needs the user logged in.
    template <typename Change> void renamePair(Slot& slot, const std::string& container, bool signPair, Change change);

    bool m_rsaOnly = false;
    std::vector<LoadedDriver> m_drivers;
    std::vector<std::string> m_driverProblems;
    std::map<std::string, Device> m_devices; // by driver and name
    std::map<CK_SLOT_ID, Slot> m_slots;
    std::map<std::string, CK_SLOT_ID> m_slotIds; // driver + serial + application -> ID
    SessionTable m_sessions;
    ObjectHandles m_objectHandles;
    std::deque<CK_SLOT_ID> m_events;
};

} // namespace skfp11
