// The module's core: the slots made from the driver's devices and applications, the
// sessions on them, their objects and the operations in progress. Every call comes in under
// the entry layer's lock; only the wait for a device event runs outside it.
#pragma once

#include "Crypto.h"
#include "Driver.h"
#include "Objects.h"

#include <p11-kit/pkcs11.h>

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace skfp11 {

// A PIN kept only while it is needed, wiped when dropped.
class Secret
{
public:
    Secret() = default;
    Secret(const CK_UTF8CHAR* data, CK_ULONG size);
    ~Secret();
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    Secret(Secret&& other) noexcept;
    Secret& operator=(Secret&& other) noexcept;
    char* c_str() { return &m_text[0]; }
    bool empty() const { return m_text.size() <= 1; }

private:
    void wipe();
    std::string m_text = std::string(1, '\0');
};

struct Device
{
    std::string name;
    DEVHANDLE handle = nullptr;
    DEVINFO info{};
    std::vector<CK_SLOT_ID> slots;
};

struct Slot
{
    CK_SLOT_ID id = 0;
    std::string deviceName;
    std::string applicationName; // empty for a device without an application
    bool present = false;
    bool sharedDevice = false; // the device holds more than one application
    HAPPLICATION application = nullptr;
    CK_USER_TYPE loggedIn = CK_UNAVAILABLE_INFORMATION;
    Secret soPin; // kept while the SO is logged in: unblocking the user PIN needs it
    bool objectsLoaded = false;
    std::vector<KeyPairFacts> pairs;
    std::vector<Object> objects;
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
    explicit Module(const std::string& driverPath);
    ~Module();

    const DriverFunctions& fn() const { return m_driver.fn(); }

    // Slots and tokens.
    std::vector<CK_SLOT_ID> slotList(bool tokenPresent);
    void slotInfo(CK_SLOT_ID id, CK_SLOT_INFO& info);
    void tokenInfo(CK_SLOT_ID id, CK_TOKEN_INFO& info);
    std::vector<CK_MECHANISM_TYPE> mechanismList(CK_SLOT_ID id);
    void mechanismInfo(CK_SLOT_ID id, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO& info);

    // Looks at the driver's devices again and queues an event for each slot whose token came
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

    // Objects.
    void findInit(CK_SESSION_HANDLE handle, const CK_ATTRIBUTE* pTemplate, CK_ULONG count);
    std::vector<CK_OBJECT_HANDLE> findNext(CK_SESSION_HANDLE handle, CK_ULONG max);
    void findFinal(CK_SESSION_HANDLE handle);
    CK_RV getAttributes(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object, CK_ATTRIBUTE* pTemplate, CK_ULONG count);
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
    Session& session(CK_SESSION_HANDLE handle);
    Slot& slot(CK_SLOT_ID id);
    Slot& presentSlot(CK_SLOT_ID id);
    Device* deviceOf(const Slot& slot);
    void rescan(bool queueEvents);
    void attachDevice(const std::string& name, bool queueEvents);
    void detachDevice(const std::string& name, bool queueEvents);
    void dropSessions(CK_SLOT_ID id);
    void loadObjects(Slot& slot);
    void invalidateObjects(Slot& slot);
    const Object& visibleObject(const Session& session, CK_OBJECT_HANDLE handle);
    bool userLoggedIn(const Slot& slot) const { return slot.loggedIn == CKU_USER; }
    bool hasReadOnlySession(CK_SLOT_ID id) const;
    void requireWritable(const Session& session) const;
    void requireUser(const Slot& slot) const;
    CK_OBJECT_HANDLE handleFor(CK_SLOT_ID id, const Object& object);
    CK_OBJECT_HANDLE objectHandleOf(Slot& slot, const std::string& container, bool signPair, CK_OBJECT_CLASS cls);
    Bytes signOnToken(Slot& slot, const SignatureOperation& operation, const Bytes& input);
    HCONTAINER signingContainer(Slot& slot, const std::string& name);
    void closeSigningContainers(Slot& slot);
    Bytes signatureInput(SignatureOperation& operation);
    size_t signatureSize(const SignatureOperation& operation) const;

    Driver m_driver;
    std::map<std::string, Device> m_devices;
    std::map<CK_SLOT_ID, Slot> m_slots;
    std::map<std::string, CK_SLOT_ID> m_slotIds; // device + application -> ID, kept while loaded
    std::map<CK_SESSION_HANDLE, Session> m_sessions;
    std::map<std::string, CK_OBJECT_HANDLE> m_objectHandles;
    std::deque<CK_SLOT_ID> m_events;
    CK_SLOT_ID m_nextSlotId = 1;
    CK_SESSION_HANDLE m_nextSession = 1;
    CK_OBJECT_HANDLE m_nextObject = 1;
};

} // namespace skfp11
