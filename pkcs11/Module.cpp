// The module's core: slots, sessions, login and objects over the driver's standard functions.
#include "Module.h"

#include "Errors.h"
#include "skfp11.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cstring>

namespace skfp11 {

namespace {

// No name list of a real token comes near this; a larger size is a driver lying about it.
constexpr ULONG kMaxNameListSize = 64 * 1024;
constexpr ULONG kMaxCertificateSize = 64 * 1024;
constexpr CK_ULONG kMinPinSize = 6;
constexpr CK_ULONG kMaxPinSize = 16;
constexpr size_t kMaxRawInput = 64 * 1024;
const char kDefaultSm2Id[] = "1234567812345678";

// Reads a multi-string name list in the driver's two-call size convention. An empty list may
// come as size 0, a single NUL or two.
template <typename Call> std::vector<std::string> readNameList(Call call)
{
    ULONG size = 0;
    checkSar(call(nullptr, &size));
    if (size == 0) {
        return {};
    }
    if (size > kMaxNameListSize) {
        fail(CKR_DEVICE_ERROR);
    }
    std::vector<char> buffer(size_t(size) + 2, '\0');
    ULONG filled = size;
    checkSar(call(buffer.data(), &filled));
    if (filled > size) {
        fail(CKR_DEVICE_ERROR);
    }
    std::vector<std::string> names;
    size_t at = 0;
    while (at < filled && buffer[at] != '\0') {
        const size_t end = std::find(buffer.begin() + long(at), buffer.begin() + long(filled), '\0') - buffer.begin();
        names.emplace_back(buffer.data() + at, end - at);
        at = end + 1;
    }
    return names;
}

// A fixed-width, blank-padded PKCS#11 text field.
void padField(CK_UTF8CHAR* field, size_t width, const std::string& text)
{
    std::memset(field, ' ', width);
    std::memcpy(field, text.data(), std::min(width, text.size()));
}

// A DEVINFO text field: NUL-terminated within its width, or the whole width.
std::string fieldText(const CHAR* field, size_t width)
{
    const char* start = reinterpret_cast<const char*>(field);
    return std::string(start, strnlen(start, width));
}

std::string hexOf(const Bytes& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t byte : bytes) {
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
    return out;
}

const CK_ATTRIBUTE* findAttribute(const CK_ATTRIBUTE* pTemplate, CK_ULONG count, CK_ATTRIBUTE_TYPE type)
{
    for (CK_ULONG i = 0; i < count; ++i) {
        if (pTemplate[i].type == type) {
            return &pTemplate[i];
        }
    }
    return nullptr;
}

Bytes attributeBytes(const CK_ATTRIBUTE& attribute)
{
    const auto* data = static_cast<const uint8_t*>(attribute.pValue);
    return Bytes(data, data + attribute.ulValueLen);
}

bool attributeUlong(const CK_ATTRIBUTE* attribute, CK_ULONG& value)
{
    if (!attribute || attribute->ulValueLen != sizeof(CK_ULONG)) {
        return false;
    }
    std::memcpy(&value, attribute->pValue, sizeof value);
    return true;
}

bool isSm2Mechanism(CK_MECHANISM_TYPE type)
{
    return type == CKM_SKF_SM2 || type == CKM_SKF_SM3_SM2;
}

bool isRsaMechanism(CK_MECHANISM_TYPE type)
{
    return type == CKM_RSA_PKCS || type == CKM_SHA1_RSA_PKCS || type == CKM_SHA256_RSA_PKCS;
}

struct MechanismRow
{
    CK_MECHANISM_TYPE type;
    ULONG asymmetric; // DEVINFO.AlgAsymCap bit the token must have, 0 for none
    ULONG hash; // DEVINFO.AlgHashCap bit, 0 for none
    CK_ULONG minSize, maxSize;
    CK_FLAGS flags;
};

const MechanismRow kMechanisms[] = {
    {CKM_RSA_PKCS_KEY_PAIR_GEN, SGD_RSA, 0, 1024, 2048, CKF_HW | CKF_GENERATE_KEY_PAIR},
    {CKM_RSA_PKCS, SGD_RSA, 0, 1024, 2048, CKF_HW | CKF_SIGN | CKF_VERIFY},
    {CKM_SHA1_RSA_PKCS, SGD_RSA, SGD_SHA1, 1024, 2048, CKF_HW | CKF_SIGN | CKF_VERIFY},
    {CKM_SHA256_RSA_PKCS, SGD_RSA, SGD_SHA256, 1024, 2048, CKF_HW | CKF_SIGN | CKF_VERIFY},
    {CKM_SHA_1, 0, SGD_SHA1, 0, 0, CKF_DIGEST},
    {CKM_SHA256, 0, SGD_SHA256, 0, 0, CKF_DIGEST},
    {CKM_EC_KEY_PAIR_GEN, SGD_SM2_1, 0, 256, 256,
     CKF_HW | CKF_GENERATE_KEY_PAIR | CKF_EC_F_P | CKF_EC_NAMEDCURVE | CKF_EC_UNCOMPRESS},
    {CKM_SKF_SM2_KEY_PAIR_GEN, SGD_SM2_1, 0, 256, 256,
     CKF_HW | CKF_GENERATE_KEY_PAIR | CKF_EC_F_P | CKF_EC_NAMEDCURVE | CKF_EC_UNCOMPRESS},
    {CKM_SKF_SM2, SGD_SM2_1, 0, 256, 256, CKF_HW | CKF_SIGN | CKF_VERIFY | CKF_EC_F_P | CKF_EC_UNCOMPRESS},
    {CKM_SKF_SM3_SM2, SGD_SM2_1, SGD_SM3, 256, 256, CKF_HW | CKF_SIGN | CKF_VERIFY | CKF_EC_F_P | CKF_EC_UNCOMPRESS},
    {CKM_SKF_SM3, 0, SGD_SM3, 0, 0, CKF_DIGEST},
};

bool tokenSupports(const DEVINFO& info, const MechanismRow& row)
{
    return (row.asymmetric == 0 || (info.AlgAsymCap & row.asymmetric) == row.asymmetric)
        && (row.hash == 0 || (info.AlgHashCap & row.hash) == row.hash);
}

// An open container, closed when the scope ends.
class OpenContainer
{
public:
    OpenContainer(const DriverFunctions& fn, HAPPLICATION application, const std::string& name)
        : m_fn(fn)
    {
        std::string copy = name;
        checkSar(fn.OpenContainer(application, &copy[0], &m_handle));
        if (!m_handle) {
            fail(CKR_DEVICE_ERROR);
        }
    }
    ~OpenContainer() { m_fn.CloseContainer(m_handle); }
    OpenContainer(const OpenContainer&) = delete;
    OpenContainer& operator=(const OpenContainer&) = delete;
    HCONTAINER handle() const { return m_handle; }

private:
    const DriverFunctions& m_fn;
    HCONTAINER m_handle = nullptr;
};

// The bytes of a variable-size export in the two-call convention, or nothing when the driver
// has none to give.
template <typename Call> std::optional<Bytes> readVariable(Call call, ULONG cap)
{
    ULONG size = 0;
    if (call(nullptr, &size) != SAR_OK || size == 0 || size > cap) {
        return std::nullopt;
    }
    Bytes out(size);
    ULONG filled = size;
    if (call(out.data(), &filled) != SAR_OK || filled > size || filled == 0) {
        return std::nullopt;
    }
    out.resize(filled);
    return out;
}

} // namespace

// --- Secret ---

Secret::Secret(const CK_UTF8CHAR* data, CK_ULONG size)
    : m_text(reinterpret_cast<const char*>(data), size)
{
    m_text.push_back('\0');
}

Secret::~Secret()
{
    wipe();
}

Secret::Secret(Secret&& other) noexcept
{
    m_text.swap(other.m_text);
}

Secret& Secret::operator=(Secret&& other) noexcept
{
    if (this != &other) {
        wipe();
        m_text = std::string(1, '\0');
        m_text.swap(other.m_text);
    }
    return *this;
}

void Secret::wipe()
{
    OPENSSL_cleanse(&m_text[0], m_text.size());
}

// --- Module: devices and slots ---

Module::Module(const std::string& driverPath)
    : m_driver(driverPath)
{
    rescan(false);
}

Module::~Module()
{
    for (auto& entry : m_slots) {
        closeSigningContainers(entry.second);
        if (entry.second.present && entry.second.application) {
            if (entry.second.loggedIn != CK_UNAVAILABLE_INFORMATION) {
                fn().ClearSecureState(entry.second.application);
            }
            fn().CloseApplication(entry.second.application);
        }
    }
    for (auto& entry : m_devices) {
        fn().DisConnectDev(entry.second.handle);
    }
}

void Module::rescan(bool queueEvents)
{
    std::vector<std::string> present;
    try {
        present = readNameList([&](char* list, ULONG* size) { return fn().EnumDev(TRUE, list, size); });
    } catch (const P11Error&) {
        // A driver that cannot list its devices right now shows none until it can.
        present.clear();
    }
    std::vector<std::string> gone;
    for (const auto& entry : m_devices) {
        if (std::find(present.begin(), present.end(), entry.first) == present.end()) {
            gone.push_back(entry.first);
        }
    }
    for (const std::string& name : gone) {
        detachDevice(name, queueEvents);
    }
    for (const std::string& name : present) {
        if (!m_devices.count(name)) {
            attachDevice(name, queueEvents);
        }
    }
}

void Module::attachDevice(const std::string& name, bool queueEvents)
{
    Device device;
    device.name = name;
    std::string copy = name;
    if (fn().ConnectDev(&copy[0], &device.handle) != SAR_OK || !device.handle) {
        return; // tried again at the next look
    }
    std::vector<std::string> applications;
    try {
        checkSar(fn().GetDevInfo(device.handle, &device.info));
        applications
            = readNameList([&](char* list, ULONG* size) { return fn().EnumApplication(device.handle, list, size); });
    } catch (const P11Error&) {
        fn().DisConnectDev(device.handle);
        return;
    }
    if (applications.empty()) {
        applications.push_back(std::string()); // a token without an application: not initialized
    }
    for (const std::string& applicationName : applications) {
        HAPPLICATION application = nullptr;
        if (!applicationName.empty()) {
            std::string appCopy = applicationName;
            if (fn().OpenApplication(device.handle, &appCopy[0], &application) != SAR_OK || !application) {
                continue;
            }
        }
        const std::string key = name + '\n' + applicationName;
        auto known = m_slotIds.find(key);
        const CK_SLOT_ID id = known != m_slotIds.end() ? known->second : m_nextSlotId++;
        m_slotIds[key] = id;
        Slot& slot = m_slots[id];
        slot = Slot();
        slot.id = id;
        slot.deviceName = name;
        slot.applicationName = applicationName;
        slot.present = true;
        slot.application = application;
        slot.sharedDevice = applications.size() > 1;
        device.slots.push_back(id);
        if (queueEvents) {
            m_events.push_back(id);
        }
    }
    m_devices[name] = device;
}

void Module::detachDevice(const std::string& name, bool queueEvents)
{
    auto found = m_devices.find(name);
    if (found == m_devices.end()) {
        return;
    }
    for (CK_SLOT_ID id : found->second.slots) {
        Slot& slot = m_slots[id];
        dropSessions(id);
        closeSigningContainers(slot);
        if (slot.application) {
            fn().CloseApplication(slot.application);
        }
        slot.application = nullptr;
        slot.present = false;
        slot.loggedIn = CK_UNAVAILABLE_INFORMATION;
        slot.soPin = Secret();
        invalidateObjects(slot);
        if (queueEvents) {
            m_events.push_back(id);
        }
    }
    fn().DisConnectDev(found->second.handle);
    m_devices.erase(found);
}

void Module::dropSessions(CK_SLOT_ID id)
{
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        it = it->second.slot == id ? m_sessions.erase(it) : std::next(it);
    }
}

std::optional<CK_SLOT_ID> Module::nextSlotEvent()
{
    rescan(true);
    if (m_events.empty()) {
        return std::nullopt;
    }
    const CK_SLOT_ID id = m_events.front();
    m_events.pop_front();
    // One event per slot is enough: the caller asks the slot for its state.
    m_events.erase(std::remove(m_events.begin(), m_events.end(), id), m_events.end());
    return id;
}

Slot& Module::slot(CK_SLOT_ID id)
{
    auto found = m_slots.find(id);
    if (found == m_slots.end()) {
        fail(CKR_SLOT_ID_INVALID);
    }
    return found->second;
}

Slot& Module::presentSlot(CK_SLOT_ID id)
{
    Slot& found = slot(id);
    if (!found.present) {
        fail(CKR_TOKEN_NOT_PRESENT);
    }
    return found;
}

Device* Module::deviceOf(const Slot& slot)
{
    auto found = m_devices.find(slot.deviceName);
    return found == m_devices.end() ? nullptr : &found->second;
}

std::vector<CK_SLOT_ID> Module::slotList(bool)
{
    // Slots are (device, application) pairs, known only while the device is there, so both
    // lists are the present tokens. A pulled token's slot ID answers again when it returns.
    rescan(true);
    std::vector<CK_SLOT_ID> ids;
    for (const auto& entry : m_slots) {
        if (entry.second.present) {
            ids.push_back(entry.first);
        }
    }
    return ids;
}

void Module::slotInfo(CK_SLOT_ID id, CK_SLOT_INFO& info)
{
    const Slot& found = slot(id);
    std::memset(&info, 0, sizeof info);
    std::string description = found.deviceName;
    if (!found.applicationName.empty()) {
        description += " / " + found.applicationName;
    }
    padField(info.slotDescription, sizeof info.slotDescription, description);
    padField(info.manufacturerID, sizeof info.manufacturerID, "SKF");
    info.flags = CKF_REMOVABLE_DEVICE | CKF_HW_SLOT | (found.present ? CKF_TOKEN_PRESENT : 0);
    if (const Device* device = deviceOf(found)) {
        padField(info.manufacturerID, sizeof info.manufacturerID,
                 fieldText(device->info.Manufacturer, sizeof device->info.Manufacturer));
        info.hardwareVersion = {device->info.HWVersion.major, device->info.HWVersion.minor};
        info.firmwareVersion = {device->info.FirmwareVersion.major, device->info.FirmwareVersion.minor};
    }
}

void Module::tokenInfo(CK_SLOT_ID id, CK_TOKEN_INFO& info)
{
    Slot& found = presentSlot(id);
    const Device* device = deviceOf(found);
    if (!device) {
        fail(CKR_TOKEN_NOT_PRESENT);
    }
    const DEVINFO& devInfo = device->info;
    std::memset(&info, 0, sizeof info);
    std::string label = fieldText(devInfo.Label, sizeof devInfo.Label);
    if (found.sharedDevice) {
        label += " " + found.applicationName;
    }
    padField(info.label, sizeof info.label, label);
    padField(info.manufacturerID, sizeof info.manufacturerID,
             fieldText(devInfo.Manufacturer, sizeof devInfo.Manufacturer));
    padField(info.model, sizeof info.model, "SKF token");
    std::string serial = fieldText(devInfo.SerialNumber, sizeof devInfo.SerialNumber);
    // The field holds 16 characters; the end of a long serial is the part that tells tokens apart.
    if (serial.size() > sizeof info.serialNumber) {
        serial = serial.substr(serial.size() - sizeof info.serialNumber);
    }
    padField(info.serialNumber, sizeof info.serialNumber, serial);
    info.hardwareVersion = {devInfo.HWVersion.major, devInfo.HWVersion.minor};
    info.firmwareVersion = {devInfo.FirmwareVersion.major, devInfo.FirmwareVersion.minor};
    info.flags = CKF_RNG | CKF_LOGIN_REQUIRED;
    if (found.application) {
        info.flags |= CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED;
        struct PinFlags
        {
            ULONG type;
            CK_FLAGS low, last, locked, toChange;
        };
        const PinFlags kinds[]
            = {{USER_TYPE, CKF_USER_PIN_COUNT_LOW, CKF_USER_PIN_FINAL_TRY, CKF_USER_PIN_LOCKED,
                CKF_USER_PIN_TO_BE_CHANGED},
               {ADMIN_TYPE, CKF_SO_PIN_COUNT_LOW, CKF_SO_PIN_FINAL_TRY, CKF_SO_PIN_LOCKED, CKF_SO_PIN_TO_BE_CHANGED}};
        for (const PinFlags& kind : kinds) {
            ULONG maxRetries = 0, remaining = 0;
            BOOL isDefault = FALSE;
            if (fn().GetPINInfo(found.application, kind.type, &maxRetries, &remaining, &isDefault) != SAR_OK) {
                continue;
            }
            if (remaining == 0) {
                info.flags |= kind.locked;
            } else if (remaining < maxRetries) {
                info.flags |= kind.low;
                if (remaining == 1) {
                    info.flags |= kind.last;
                }
            }
            if (isDefault) {
                info.flags |= kind.toChange;
            }
        }
    }
    CK_ULONG all = 0, readWrite = 0;
    for (const auto& entry : m_sessions) {
        if (entry.second.slot == id) {
            ++all;
            readWrite += (entry.second.flags & CKF_RW_SESSION) ? 1 : 0;
        }
    }
    info.ulMaxSessionCount = CK_EFFECTIVELY_INFINITE;
    info.ulSessionCount = all;
    info.ulMaxRwSessionCount = CK_EFFECTIVELY_INFINITE;
    info.ulRwSessionCount = readWrite;
    info.ulMaxPinLen = kMaxPinSize;
    info.ulMinPinLen = kMinPinSize;
    info.ulTotalPublicMemory = devInfo.TotalSpace;
    info.ulFreePublicMemory = devInfo.FreeSpace;
    info.ulTotalPrivateMemory = CK_UNAVAILABLE_INFORMATION;
    info.ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
}

std::vector<CK_MECHANISM_TYPE> Module::mechanismList(CK_SLOT_ID id)
{
    Slot& found = presentSlot(id);
    const Device* device = deviceOf(found);
    std::vector<CK_MECHANISM_TYPE> types;
    for (const MechanismRow& row : kMechanisms) {
        if (device && tokenSupports(device->info, row)) {
            types.push_back(row.type);
        }
    }
    return types;
}

void Module::mechanismInfo(CK_SLOT_ID id, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO& info)
{
    Slot& found = presentSlot(id);
    const Device* device = deviceOf(found);
    for (const MechanismRow& row : kMechanisms) {
        if (row.type == type && device && tokenSupports(device->info, row)) {
            info.ulMinKeySize = row.minSize;
            info.ulMaxKeySize = row.maxSize;
            info.flags = row.flags;
            return;
        }
    }
    fail(CKR_MECHANISM_INVALID);
}

// --- Sessions and login ---

Session& Module::session(CK_SESSION_HANDLE handle)
{
    auto found = m_sessions.find(handle);
    if (found == m_sessions.end()) {
        fail(CKR_SESSION_HANDLE_INVALID);
    }
    return found->second;
}

bool Module::hasReadOnlySession(CK_SLOT_ID id) const
{
    for (const auto& entry : m_sessions) {
        if (entry.second.slot == id && !(entry.second.flags & CKF_RW_SESSION)) {
            return true;
        }
    }
    return false;
}

void Module::requireWritable(const Session& session) const
{
    if (!(session.flags & CKF_RW_SESSION)) {
        fail(CKR_SESSION_READ_ONLY);
    }
}

void Module::requireUser(const Slot& slot) const
{
    if (!userLoggedIn(slot)) {
        fail(CKR_USER_NOT_LOGGED_IN);
    }
}

CK_SESSION_HANDLE Module::openSession(CK_SLOT_ID id, CK_FLAGS flags)
{
    Slot& found = presentSlot(id);
    if (!(flags & CKF_RW_SESSION) && found.loggedIn == CKU_SO) {
        fail(CKR_SESSION_READ_WRITE_SO_EXISTS);
    }
    Session session;
    session.handle = m_nextSession++;
    session.slot = id;
    session.flags = flags;
    m_sessions[session.handle] = std::move(session);
    return m_nextSession - 1;
}

void Module::closeSession(CK_SESSION_HANDLE handle)
{
    const CK_SLOT_ID id = session(handle).slot;
    m_sessions.erase(handle);
    for (const auto& entry : m_sessions) {
        if (entry.second.slot == id) {
            return;
        }
    }
    // The last session of a token ends its login.
    Slot& found = slot(id);
    if (found.present && found.loggedIn != CK_UNAVAILABLE_INFORMATION) {
        fn().ClearSecureState(found.application);
    }
    found.loggedIn = CK_UNAVAILABLE_INFORMATION;
    found.soPin = Secret();
}

void Module::closeAllSessions(CK_SLOT_ID id)
{
    Slot& found = slot(id);
    dropSessions(id);
    if (found.present && found.loggedIn != CK_UNAVAILABLE_INFORMATION) {
        fn().ClearSecureState(found.application);
    }
    found.loggedIn = CK_UNAVAILABLE_INFORMATION;
    found.soPin = Secret();
}

void Module::sessionInfo(CK_SESSION_HANDLE handle, CK_SESSION_INFO& info)
{
    const Session& current = session(handle);
    const Slot& found = slot(current.slot);
    const bool readWrite = current.flags & CKF_RW_SESSION;
    info.slotID = current.slot;
    info.flags = current.flags;
    info.ulDeviceError = 0;
    if (found.loggedIn == CKU_SO) {
        info.state = CKS_RW_SO_FUNCTIONS;
    } else if (found.loggedIn == CKU_USER) {
        info.state = readWrite ? CKS_RW_USER_FUNCTIONS : CKS_RO_USER_FUNCTIONS;
    } else {
        info.state = readWrite ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION;
    }
}

void Module::login(CK_SESSION_HANDLE handle, CK_USER_TYPE user, Secret pin)
{
    Session& current = session(handle);
    Slot& found = presentSlot(current.slot);
    if (user != CKU_USER && user != CKU_SO) {
        fail(user == CKU_CONTEXT_SPECIFIC ? CKR_OPERATION_NOT_INITIALIZED : CKR_USER_TYPE_INVALID);
    }
    if (found.loggedIn == user) {
        fail(CKR_USER_ALREADY_LOGGED_IN);
    }
    if (found.loggedIn != CK_UNAVAILABLE_INFORMATION) {
        fail(CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
    }
    if (user == CKU_SO && hasReadOnlySession(current.slot)) {
        fail(CKR_SESSION_READ_ONLY_EXISTS);
    }
    if (!found.application) {
        fail(CKR_USER_PIN_NOT_INITIALIZED);
    }
    ULONG retries = 0;
    checkSar(fn().VerifyPIN(found.application, user == CKU_SO ? ADMIN_TYPE : USER_TYPE, pin.c_str(), &retries));
    found.loggedIn = user;
    if (user == CKU_SO) {
        found.soPin = std::move(pin);
    }
}

void Module::logout(CK_SESSION_HANDLE handle)
{
    Session& current = session(handle);
    Slot& found = presentSlot(current.slot);
    if (found.loggedIn == CK_UNAVAILABLE_INFORMATION) {
        fail(CKR_USER_NOT_LOGGED_IN);
    }
    found.loggedIn = CK_UNAVAILABLE_INFORMATION;
    found.soPin = Secret();
    // Operations that used private keys end with the login.
    for (auto& entry : m_sessions) {
        if (entry.second.slot == found.id) {
            entry.second.signature.reset();
            entry.second.finding = false;
        }
    }
    checkSar(fn().ClearSecureState(found.application));
}

void Module::setPin(CK_SESSION_HANDLE handle, Secret oldPin, Secret newPin)
{
    Session& current = session(handle);
    Slot& found = presentSlot(current.slot);
    requireWritable(current);
    if (!found.application) {
        fail(CKR_USER_PIN_NOT_INITIALIZED);
    }
    const ULONG type = found.loggedIn == CKU_SO ? ADMIN_TYPE : USER_TYPE;
    ULONG retries = 0;
    checkSar(fn().ChangePIN(found.application, type, oldPin.c_str(), newPin.c_str(), &retries));
    if (type == ADMIN_TYPE) {
        found.soPin = std::move(newPin);
    }
}

void Module::initPin(CK_SESSION_HANDLE handle, Secret pin)
{
    Session& current = session(handle);
    Slot& found = presentSlot(current.slot);
    requireWritable(current);
    if (found.loggedIn != CKU_SO) {
        fail(CKR_USER_NOT_LOGGED_IN);
    }
    ULONG retries = 0;
    checkSar(fn().UnblockPIN(found.application, found.soPin.c_str(), pin.c_str(), &retries));
}

void Module::generateRandom(CK_SESSION_HANDLE handle, CK_BYTE* out, CK_ULONG size)
{
    Session& current = session(handle);
    presentSlot(current.slot);
    Device* device = deviceOf(slot(current.slot));
    if (!device) {
        fail(CKR_DEVICE_REMOVED);
    }
    // Large requests go in pieces a token's buffer holds.
    constexpr CK_ULONG kPiece = 1024;
    for (CK_ULONG done = 0; done < size; done += kPiece) {
        checkSar(fn().GenRandom(device->handle, out + done, ULONG(std::min(kPiece, size - done))));
    }
}

// --- Objects ---

void Module::closeSigningContainers(Slot& slot)
{
    for (const auto& entry : slot.signingContainers) {
        fn().CloseContainer(entry.second);
    }
    slot.signingContainers.clear();
}

HCONTAINER Module::signingContainer(Slot& slot, const std::string& name)
{
    auto found = slot.signingContainers.find(name);
    if (found != slot.signingContainers.end()) {
        return found->second;
    }
    std::string copy = name;
    HCONTAINER handle = nullptr;
    checkSar(fn().OpenContainer(slot.application, &copy[0], &handle));
    if (!handle) {
        fail(CKR_DEVICE_ERROR);
    }
    slot.signingContainers[name] = handle;
    return handle;
}

void Module::invalidateObjects(Slot& slot)
{
    closeSigningContainers(slot);
    slot.objectsLoaded = false;
    slot.pairs.clear();
    slot.objects.clear();
}

CK_OBJECT_HANDLE Module::handleFor(CK_SLOT_ID id, const Object& object)
{
    const std::string key = std::to_string(id) + '\n' + object.identity();
    auto found = m_objectHandles.find(key);
    if (found != m_objectHandles.end()) {
        return found->second;
    }
    const CK_OBJECT_HANDLE handle = m_nextObject++;
    m_objectHandles[key] = handle;
    return handle;
}

void Module::loadObjects(Slot& slot)
{
    if (slot.objectsLoaded) {
        return;
    }
    invalidateObjects(slot);
    if (!slot.application) {
        slot.objectsLoaded = true;
        return;
    }
    const auto containers
        = readNameList([&](char* list, ULONG* size) { return fn().EnumContainer(slot.application, list, size); });
    for (const std::string& name : containers) {
        std::unique_ptr<OpenContainer> container;
        ULONG type = 0;
        try {
            container = std::make_unique<OpenContainer>(fn(), slot.application, name);
            checkSar(fn().GetContainerType(container->handle(), &type));
        } catch (const P11Error& error) {
            if (error.rv() == CKR_DEVICE_REMOVED) {
                throw;
            }
            continue; // a container the driver cannot open shows no objects
        }
        if (type != CONTAINER_TYPE_RSA && type != CONTAINER_TYPE_ECC) {
            continue;
        }
        for (const BOOL signPair : {TRUE, FALSE}) {
            const HCONTAINER handle = container->handle();
            const auto blob = readVariable(
                [&](BYTE* out, ULONG* size) { return fn().ExportPublicKey(handle, signPair, out, size); },
                ULONG(sizeof(RSAPUBLICKEYBLOB)));
            KeyPairFacts facts;
            facts.container = name;
            facts.signPair = signPair;
            if (!blob || !readPublicKeyBlob(*blob, type == CONTAINER_TYPE_RSA, facts)) {
                continue;
            }
            const auto certificate = readVariable(
                [&](BYTE* out, ULONG* size) { return fn().ExportCertificate(handle, signPair, out, size); },
                kMaxCertificateSize);
            if (certificate) {
                facts.certificate = *certificate;
            }
            for (Object& object : objectsOfPair(facts)) {
                object.handle = handleFor(slot.id, object);
                slot.objects.push_back(std::move(object));
            }
            slot.pairs.push_back(std::move(facts));
        }
    }
    slot.objectsLoaded = true;
}

const Object& Module::visibleObject(const Session& current, CK_OBJECT_HANDLE handle)
{
    Slot& found = presentSlot(current.slot);
    loadObjects(found);
    for (const Object& object : found.objects) {
        if (object.handle == handle) {
            if (object.isPrivate && !userLoggedIn(found)) {
                break;
            }
            return object;
        }
    }
    fail(CKR_OBJECT_HANDLE_INVALID);
}

void Module::findInit(CK_SESSION_HANDLE handle, const CK_ATTRIBUTE* pTemplate, CK_ULONG count)
{
    Session& current = session(handle);
    if (current.finding) {
        fail(CKR_OPERATION_ACTIVE);
    }
    Slot& found = presentSlot(current.slot);
    loadObjects(found);
    current.found.clear();
    current.foundNext = 0;
    for (const Object& object : found.objects) {
        if ((!object.isPrivate || userLoggedIn(found)) && object.matches(pTemplate, count)) {
            current.found.push_back(object.handle);
        }
    }
    current.finding = true;
}

std::vector<CK_OBJECT_HANDLE> Module::findNext(CK_SESSION_HANDLE handle, CK_ULONG max)
{
    Session& current = session(handle);
    if (!current.finding) {
        fail(CKR_OPERATION_NOT_INITIALIZED);
    }
    const size_t take = std::min<size_t>(max, current.found.size() - current.foundNext);
    std::vector<CK_OBJECT_HANDLE> out(current.found.begin() + long(current.foundNext),
                                      current.found.begin() + long(current.foundNext + take));
    current.foundNext += take;
    return out;
}

void Module::findFinal(CK_SESSION_HANDLE handle)
{
    Session& current = session(handle);
    if (!current.finding) {
        fail(CKR_OPERATION_NOT_INITIALIZED);
    }
    current.finding = false;
    current.found.clear();
}

CK_RV Module::getAttributes(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE objectHandle, CK_ATTRIBUTE* pTemplate,
                            CK_ULONG count)
{
    const Object& object = visibleObject(session(handle), objectHandle);
    // Every entry is answered; the result is the last problem met, as the standard asks.
    CK_RV rv = CKR_OK;
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_ATTRIBUTE& attribute = pTemplate[i];
        if (object.sensitive.count(attribute.type)) {
            attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_ATTRIBUTE_SENSITIVE;
            continue;
        }
        const auto found = object.attributes.find(attribute.type);
        if (found == object.attributes.end()) {
            attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_ATTRIBUTE_TYPE_INVALID;
            continue;
        }
        const Bytes& value = found->second;
        if (!attribute.pValue) {
            attribute.ulValueLen = value.size();
        } else if (attribute.ulValueLen < value.size()) {
            attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_BUFFER_TOO_SMALL;
        } else {
            if (!value.empty()) {
                std::memcpy(attribute.pValue, value.data(), value.size());
            }
            attribute.ulValueLen = value.size();
        }
    }
    return rv;
}

CK_OBJECT_HANDLE Module::objectHandleOf(Slot& slot, const std::string& container, bool signPair, CK_OBJECT_CLASS cls)
{
    loadObjects(slot);
    for (const Object& object : slot.objects) {
        if (object.container == container && object.signPair == signPair && object.objectClass == cls) {
            return object.handle;
        }
    }
    // The token accepted the change but does not show it: it did not really happen.
    fail(CKR_DEVICE_ERROR);
}

CK_OBJECT_HANDLE Module::createObject(CK_SESSION_HANDLE handle, const CK_ATTRIBUTE* pTemplate, CK_ULONG count)
{
    Session& current = session(handle);
    Slot& found = presentSlot(current.slot);
    CK_ULONG objectClass = 0;
    if (!attributeUlong(findAttribute(pTemplate, count, CKA_CLASS), objectClass)) {
        fail(CKR_TEMPLATE_INCOMPLETE);
    }
    if (objectClass != CKO_CERTIFICATE) {
        // Keys reach a token only wrapped for it, which a plain template cannot express.
        fail(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    CK_ULONG certificateType = CKC_X_509;
    if (findAttribute(pTemplate, count, CKA_CERTIFICATE_TYPE)
        && (!attributeUlong(findAttribute(pTemplate, count, CKA_CERTIFICATE_TYPE), certificateType)
            || certificateType != CKC_X_509)) {
        fail(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    const CK_ATTRIBUTE* token = findAttribute(pTemplate, count, CKA_TOKEN);
    if (!token || token->ulValueLen != 1 || *static_cast<const CK_BBOOL*>(token->pValue) != CK_TRUE) {
        // The token keeps certificates only in containers; there are no session objects.
        fail(CKR_TEMPLATE_INCONSISTENT);
    }
    const CK_ATTRIBUTE* value = findAttribute(pTemplate, count, CKA_VALUE);
    if (!value || value->ulValueLen == 0) {
        fail(CKR_TEMPLATE_INCOMPLETE);
    }
    requireWritable(current);
    Bytes der = attributeBytes(*value);
    CertificateFacts certificate;
    if (der.size() > kMaxCertificateSize || !readCertificate(der, certificate)) {
        fail(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    loadObjects(found);
    for (const KeyPairFacts& pair : found.pairs) {
        const bool same = pair.isRsa
            ? certificate.isRsa && certificate.modulus == pair.modulus && certificate.exponent == pair.exponent
            : certificate.isEc && certificate.ecX == pair.ecX && certificate.ecY == pair.ecY;
        if (!same) {
            continue;
        }
        const std::string name = pair.container;
        const bool signPair = pair.signPair;
        {
            OpenContainer container(fn(), found.application, name);
            checkSar(fn().ImportCertificate(container.handle(), signPair, der.data(), ULONG(der.size())));
        }
        invalidateObjects(found);
        return objectHandleOf(found, name, signPair, CKO_CERTIFICATE);
    }
    // A certificate for no key on the token has nowhere to go.
    fail(CKR_TEMPLATE_INCONSISTENT);
}

void Module::destroyObject(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE objectHandle)
{
    Session& current = session(handle);
    const Object& object = visibleObject(current, objectHandle);
    if (object.objectClass != CKO_PRIVATE_KEY) {
        // The SKF functions remove a certificate or a public key only with its whole container.
        fail(CKR_ACTION_PROHIBITED);
    }
    requireWritable(current);
    Slot& found = presentSlot(current.slot);
    requireUser(found);
    std::string name = object.container;
    checkSar(fn().DeleteContainer(found.application, &name[0]));
    invalidateObjects(found);
}

void Module::generateKeyPair(CK_SESSION_HANDLE handle, const CK_MECHANISM& mechanism, const CK_ATTRIBUTE* pPublic,
                             CK_ULONG publicCount, const CK_ATTRIBUTE* pPrivate, CK_ULONG privateCount,
                             CK_OBJECT_HANDLE& publicKey, CK_OBJECT_HANDLE& privateKey)
{
    Session& current = session(handle);
    Slot& found = presentSlot(current.slot);
    const bool isRsa = mechanism.mechanism == CKM_RSA_PKCS_KEY_PAIR_GEN;
    CK_MECHANISM_INFO info{};
    mechanismInfo(current.slot, mechanism.mechanism, info);
    if (!(info.flags & CKF_GENERATE_KEY_PAIR)) {
        fail(CKR_MECHANISM_INVALID);
    }
    CK_ULONG bits = 2048;
    if (isRsa) {
        const CK_ATTRIBUTE* size = findAttribute(pPublic, publicCount, CKA_MODULUS_BITS);
        if (size && (!attributeUlong(size, bits) || (bits != 1024 && bits != 2048))) {
            fail(CKR_ATTRIBUTE_VALUE_INVALID);
        }
        const CK_ATTRIBUTE* exponent = findAttribute(pPublic, publicCount, CKA_PUBLIC_EXPONENT);
        if (exponent
            && stripLeadingZeros(static_cast<const uint8_t*>(exponent->pValue), exponent->ulValueLen)
                != Bytes{0x01, 0x00, 0x01}) {
            fail(CKR_ATTRIBUTE_VALUE_INVALID); // the token chooses 65537
        }
    } else {
        const CK_ATTRIBUTE* params = findAttribute(pPublic, publicCount, CKA_EC_PARAMS);
        if (mechanism.mechanism == CKM_EC_KEY_PAIR_GEN && !params) {
            fail(CKR_TEMPLATE_INCOMPLETE);
        }
        if (params && attributeBytes(*params) != sm2EcParams()) {
            fail(CKR_CURVE_NOT_SUPPORTED);
        }
    }
    requireWritable(current);
    requireUser(found);

    std::string name;
    for (const CK_ATTRIBUTE* attribute :
         {findAttribute(pPrivate, privateCount, CKA_LABEL), findAttribute(pPublic, publicCount, CKA_LABEL)}) {
        if (attribute && attribute->ulValueLen && name.empty()) {
            name.assign(static_cast<const char*>(attribute->pValue), attribute->ulValueLen);
        }
    }
    for (const CK_ATTRIBUTE* attribute :
         {findAttribute(pPrivate, privateCount, CKA_ID), findAttribute(pPublic, publicCount, CKA_ID)}) {
        if (attribute && attribute->ulValueLen && name.empty()) {
            name = hexOf(attributeBytes(*attribute));
        }
    }
    if (name.empty()) {
        Bytes random(8);
        generateRandom(handle, random.data(), CK_ULONG(random.size()));
        name = "key-" + hexOf(random);
    }
    if (name.size() >= MAX_FILE_CONTAINER_NAME_SIZE || name.find('\0') != std::string::npos) {
        fail(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    HCONTAINER container = nullptr;
    checkSar(fn().CreateContainer(found.application, &name[0], &container));
    ULONG result = SAR_OK;
    if (isRsa) {
        RSAPUBLICKEYBLOB blob{};
        result = fn().GenRSAKeyPair(container, ULONG(bits), &blob);
    } else {
        ECCPUBLICKEYBLOB blob{};
        result = fn().GenECCKeyPair(container, SGD_SM2_1, &blob);
    }
    fn().CloseContainer(container);
    if (result != SAR_OK) {
        // No empty container stays behind from a failed generation.
        fn().DeleteContainer(found.application, &name[0]);
        fail(rvFromSar(result));
    }
    invalidateObjects(found);
    publicKey = objectHandleOf(found, name, true, CKO_PUBLIC_KEY);
    privateKey = objectHandleOf(found, name, true, CKO_PRIVATE_KEY);
}

// --- Signatures and digests ---

void Module::signatureInit(CK_SESSION_HANDLE handle, OperationKind kind, const CK_MECHANISM& mechanism,
                           CK_OBJECT_HANDLE keyHandle)
{
    Session& current = session(handle);
    if (current.signature) {
        fail(CKR_OPERATION_ACTIVE);
    }
    Slot& found = presentSlot(current.slot);
    const Object* key = nullptr;
    try {
        key = &visibleObject(current, keyHandle);
    } catch (const P11Error& error) {
        fail(error.rv() == CKR_OBJECT_HANDLE_INVALID ? CKR_KEY_HANDLE_INVALID : error.rv());
    }
    const CK_OBJECT_CLASS wanted = kind == OperationKind::Sign ? CKO_PRIVATE_KEY : CKO_PUBLIC_KEY;
    if (key->objectClass != wanted) {
        fail(CKR_KEY_TYPE_INCONSISTENT);
    }
    CK_MECHANISM_INFO info{};
    try {
        mechanismInfo(current.slot, mechanism.mechanism, info);
    } catch (const P11Error&) {
        fail(CKR_MECHANISM_INVALID);
    }
    if (!(info.flags & (kind == OperationKind::Sign ? CKF_SIGN : CKF_VERIFY))) {
        fail(CKR_MECHANISM_INVALID);
    }
    if ((isRsaMechanism(mechanism.mechanism) && key->keyType != CKK_RSA)
        || (isSm2Mechanism(mechanism.mechanism) && key->keyType != CKK_EC)) {
        fail(CKR_KEY_TYPE_INCONSISTENT);
    }
    if (!key->signPair) {
        fail(CKR_KEY_FUNCTION_NOT_PERMITTED);
    }
    const bool takesParameter = mechanism.mechanism == CKM_SKF_SM3_SM2;
    if (mechanism.ulParameterLen && (!takesParameter || !mechanism.pParameter)) {
        fail(CKR_MECHANISM_PARAM_INVALID);
    }
    // The ID's length in bits must fit the two bytes of ENTL.
    if (takesParameter && mechanism.ulParameterLen > 8191) {
        fail(CKR_MECHANISM_PARAM_INVALID);
    }
    SignatureOperation operation;
    operation.kind = kind;
    operation.mechanism = mechanism.mechanism;
    bool pairFound = false;
    for (const KeyPairFacts& pair : found.pairs) {
        if (pair.container == key->container && pair.signPair == key->signPair) {
            operation.key = pair;
            pairFound = true;
        }
    }
    if (!pairFound) {
        fail(CKR_KEY_HANDLE_INVALID);
    }
    operation.key.certificate.clear();
    switch (mechanism.mechanism) {
    case CKM_SHA1_RSA_PKCS:
        operation.hasher = std::make_unique<Hasher>(HashKind::Sha1);
        break;
    case CKM_SHA256_RSA_PKCS:
        operation.hasher = std::make_unique<Hasher>(HashKind::Sha256);
        break;
    case CKM_SKF_SM3_SM2: {
        const auto* parameter = static_cast<const uint8_t*>(mechanism.pParameter);
        const Bytes id = mechanism.ulParameterLen ? Bytes(parameter, parameter + mechanism.ulParameterLen)
                                                  : Bytes(kDefaultSm2Id, kDefaultSm2Id + 16);
        const Bytes z = sm2Z(operation.key.ecX, operation.key.ecY, id);
        operation.hasher = std::make_unique<Hasher>(HashKind::Sm3);
        operation.hasher->update(z.data(), z.size());
        break;
    }
    default:
        break;
    }
    current.signature = std::move(operation);
}

bool Module::signatureIsFresh(CK_SESSION_HANDLE handle, OperationKind kind)
{
    Session& current = session(handle);
    if (!current.signature || current.signature->kind != kind) {
        fail(CKR_OPERATION_NOT_INITIALIZED);
    }
    return !current.signature->updated;
}

void Module::signatureUpdate(CK_SESSION_HANDLE handle, OperationKind kind, const uint8_t* data, size_t size)
{
    Session& current = session(handle);
    if (!current.signature || current.signature->kind != kind) {
        fail(CKR_OPERATION_NOT_INITIALIZED);
    }
    SignatureOperation& operation = *current.signature;
    operation.updated = true;
    if (operation.hasher) {
        operation.hasher->update(data, size);
        return;
    }
    if (operation.data.size() + size > kMaxRawInput) {
        fail(CKR_DATA_LEN_RANGE);
    }
    operation.data.insert(operation.data.end(), data, data + size);
}

size_t Module::signatureSize(const SignatureOperation& operation) const
{
    return operation.key.isRsa ? operation.key.modulus.size() : 64;
}

Bytes Module::signatureInput(SignatureOperation& operation)
{
    switch (operation.mechanism) {
    case CKM_SHA1_RSA_PKCS:
    case CKM_SHA256_RSA_PKCS: {
        Bytes input = digestInfoPrefix(operation.mechanism == CKM_SHA1_RSA_PKCS ? HashKind::Sha1 : HashKind::Sha256);
        const Bytes digest = operation.hasher->finish();
        input.insert(input.end(), digest.begin(), digest.end());
        return input;
    }
    case CKM_SKF_SM3_SM2:
        return operation.hasher->finish();
    case CKM_RSA_PKCS:
        // PKCS#1 v1.5 type 1 padding needs at least 11 bytes of the modulus.
        if (operation.data.size() + 11 > operation.key.modulus.size()) {
            fail(CKR_DATA_LEN_RANGE);
        }
        return operation.data;
    case CKM_SKF_SM2:
        if (operation.data.size() != 32) {
            fail(CKR_DATA_LEN_RANGE);
        }
        return operation.data;
    default:
        fail(CKR_MECHANISM_INVALID);
    }
}

Bytes Module::signOnToken(Slot& slot, const SignatureOperation& operation, const Bytes& input)
{
    requireUser(slot);
    const HCONTAINER container = signingContainer(slot, operation.key.container);
    Bytes input2 = input; // the driver's prototypes take non-const buffers
    ULONG result = SAR_OK;
    Bytes signature;
    ECCSIGNATUREBLOB blob{};
    if (operation.key.isRsa) {
        signature.resize(operation.key.modulus.size());
        ULONG length = ULONG(signature.size());
        result = fn().RSASignData(container, input2.data(), ULONG(input2.size()), signature.data(), &length);
        if (result == SAR_OK && length != signature.size()) {
            result = SAR_FAIL; // a driver that signs with another key size than it reported
        }
    } else {
        result = fn().ECCSignData(container, input2.data(), ULONG(input2.size()), &blob);
    }
    if (result != SAR_OK) {
        // The handle may be what failed (a token pulled and put back): the next signature opens it anew.
        fn().CloseContainer(container);
        slot.signingContainers.erase(operation.key.container);
        fail(rvFromSar(result));
    }
    if (operation.key.isRsa) {
        return signature;
    }
    signature.assign(blob.r + 32, blob.r + 64);
    signature.insert(signature.end(), blob.s + 32, blob.s + 64);
    return signature;
}

CK_RV Module::signFinal(CK_SESSION_HANDLE handle, CK_BYTE* out, CK_ULONG* outSize)
{
    Session& current = session(handle);
    if (!current.signature || current.signature->kind != OperationKind::Sign) {
        fail(CKR_OPERATION_NOT_INITIALIZED);
    }
    const size_t size = signatureSize(*current.signature);
    if (!out) {
        *outSize = size;
        return CKR_OK;
    }
    if (*outSize < size) {
        *outSize = size;
        return CKR_BUFFER_TOO_SMALL;
    }
    Slot& found = presentSlot(current.slot);
    const Bytes input = signatureInput(*current.signature);
    const Bytes signature = signOnToken(found, *current.signature, input);
    std::memcpy(out, signature.data(), signature.size());
    *outSize = signature.size();
    current.signature.reset();
    return CKR_OK;
}

CK_RV Module::verifyFinal(CK_SESSION_HANDLE handle, const uint8_t* signature, size_t size)
{
    Session& current = session(handle);
    if (!current.signature || current.signature->kind != OperationKind::Verify) {
        fail(CKR_OPERATION_NOT_INITIALIZED);
    }
    SignatureOperation operation = std::move(*current.signature);
    current.signature.reset();
    if (size != signatureSize(operation)) {
        return CKR_SIGNATURE_LEN_RANGE;
    }
    const Bytes input = signatureInput(operation);
    const Bytes given(signature, signature + size);
    const bool good = operation.key.isRsa ? rsaVerifyPkcs1(operation.key.modulus, operation.key.exponent, input, given)
                                          : sm2VerifyDigest(operation.key.ecX, operation.key.ecY, input, given);
    return good ? CKR_OK : CKR_SIGNATURE_INVALID;
}

void Module::endSignature(CK_SESSION_HANDLE handle)
{
    auto found = m_sessions.find(handle);
    if (found != m_sessions.end()) {
        found->second.signature.reset();
    }
}

void Module::digestInit(CK_SESSION_HANDLE handle, CK_MECHANISM_TYPE mechanism)
{
    Session& current = session(handle);
    if (current.digest) {
        fail(CKR_OPERATION_ACTIVE);
    }
    CK_MECHANISM_INFO info{};
    try {
        mechanismInfo(current.slot, mechanism, info);
    } catch (const P11Error&) {
        fail(CKR_MECHANISM_INVALID);
    }
    if (!(info.flags & CKF_DIGEST)) {
        fail(CKR_MECHANISM_INVALID);
    }
    DigestOperation operation;
    operation.kind = mechanism == CKM_SHA_1 ? HashKind::Sha1
        : mechanism == CKM_SHA256           ? HashKind::Sha256
                                            : HashKind::Sm3;
    operation.hasher = std::make_unique<Hasher>(operation.kind);
    current.digest = std::move(operation);
}

bool Module::digestIsFresh(CK_SESSION_HANDLE handle)
{
    Session& current = session(handle);
    if (!current.digest) {
        fail(CKR_OPERATION_NOT_INITIALIZED);
    }
    return !current.digest->updated;
}

void Module::digestUpdate(CK_SESSION_HANDLE handle, const uint8_t* data, size_t size)
{
    Session& current = session(handle);
    if (!current.digest) {
        fail(CKR_OPERATION_NOT_INITIALIZED);
    }
    current.digest->updated = true;
    current.digest->hasher->update(data, size);
}

CK_RV Module::digestFinal(CK_SESSION_HANDLE handle, CK_BYTE* out, CK_ULONG* outSize)
{
    Session& current = session(handle);
    if (!current.digest) {
        fail(CKR_OPERATION_NOT_INITIALIZED);
    }
    const size_t size = Hasher::sizeOf(current.digest->kind);
    if (!out) {
        *outSize = size;
        return CKR_OK;
    }
    if (*outSize < size) {
        *outSize = size;
        return CKR_BUFFER_TOO_SMALL;
    }
    const Bytes digest = current.digest->hasher->finish();
    std::memcpy(out, digest.data(), digest.size());
    *outSize = digest.size();
    current.digest.reset();
    return CKR_OK;
}

void Module::endDigest(CK_SESSION_HANDLE handle)
{
    auto found = m_sessions.find(handle);
    if (found != m_sessions.end()) {
        found->second.digest.reset();
    }
}

} // namespace skfp11
