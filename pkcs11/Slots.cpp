// The module's drivers, their devices and the slots made from them: one slot per (driver,
// device, application), found again under the same ID in every process, and the token facts
// each slot shows.
#include "Module.h"

#include "Errors.h"
#include "skf/client.h"
#include "skfp11.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

namespace skfp11 {

namespace {

constexpr CK_ULONG kMinPinSize = 6;
constexpr CK_ULONG kMaxPinSize = 16;

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

// A device the driver lists but cannot open: said on standard error with $SKFP11_DEBUG,
// since a client sees only CKR_TOKEN_NOT_RECOGNIZED.
void reportUnreadable(const std::string& name, ULONG code)
{
    const char* debug = std::getenv("SKFP11_DEBUG");
    if (debug && *debug) {
        std::fprintf(stderr, "skfp11: device %s is listed but cannot be read (the driver answered 0x%08lX)\n",
                     name.c_str(), static_cast<unsigned long>(code));
    }
}

// Whether the device opens now; the handle is given back at once.
bool connects(const DriverFunctions& fn, const std::string& name)
{
    skfclient::WritableName copy(name);
    DEVHANDLE handle = nullptr;
    if (fn.ConnectDev(copy.get(), &handle) != SAR_OK || !handle) {
        return false;
    }
    DEVINFO info{};
    const bool readable = fn.GetDevInfo(handle, &info) == SAR_OK;
    fn.DisConnectDev(handle);
    return readable;
}

// FNV-1a: small, fixed forever, the same in every process and on every machine.
uint32_t stableHash(const std::string& text)
{
    uint32_t hash = 2166136261u;
    for (unsigned char byte : text) {
        hash = (hash ^ byte) * 16777619u;
    }
    return hash;
}

std::string driverTag(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string canonicalPath(const std::string& path)
{
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved) {
        return path;
    }
    std::string out = resolved;
    free(resolved);
    return out;
}

// Whether the device's handle still answers: false once the device was pulled.
bool deviceAnswers(const DriverFunctions& driver, const Device& device)
{
    if (!device.handle) {
        return true; // a token that cannot be read: there as long as it is listed
    }
    DEVINFO info{};
    const ULONG result = driver.GetDevInfo(device.handle, &info);
    return result != SAR_DEVICE_REMOVED && result != SAR_INVALIDHANDLEERR;
}

} // namespace

// --- Drivers ---

Module::Module(const std::vector<std::string>& driverPaths, bool rsaOnly)
    : m_rsaOnly(rsaOnly)
{
    std::set<std::string> loaded;
    for (const std::string& path : driverPaths) {
        const std::string canonical = canonicalPath(path);
        if (path.empty() || !loaded.insert(canonical).second) {
            continue; // listed twice, or under two names of one file: dlopen would give the same library
        }
        try {
            LoadedDriver loaded{driverTag(canonical), std::make_unique<Driver>(path), std::nullopt};
            try {
                loaded.files = loaded.driver->bind<FileFunctions>();
            } catch (const skfloader::MissingFunction&) {
                // IDs and labels stay the derived ones on this driver's tokens.
            }
            m_drivers.push_back(std::move(loaded));
        } catch (const std::exception& error) {
            m_driverProblems.push_back(error.what());
        }
    }
    if (m_drivers.empty()) {
        std::string all = "no SKF driver could be loaded";
        for (const std::string& problem : m_driverProblems) {
            all += "; " + problem;
        }
        throw std::runtime_error(all);
    }
    rescan(false);
}

Module::~Module()
{
    for (auto& entry : m_slots) {
        endLogin(entry.second, true);
        entry.second.store.closeSigningContainers(fn(entry.second));
        if (entry.second.application) {
            fn(entry.second).CloseApplication(entry.second.application);
        }
    }
    for (auto& entry : m_devices) {
        if (entry.second.handle) {
            fn(entry.second.driver).DisConnectDev(entry.second.handle);
        }
    }
}

ULONG Module::waitForDeviceEvent(size_t driver, std::string& name, ULONG& event) const
{
    char buffer[256] = {};
    ULONG size = sizeof buffer - 1;
    event = 0;
    const ULONG result = fn(driver).WaitForDevEvent(buffer, &size, &event);
    name.assign(buffer, strnlen(buffer, std::min<size_t>(size, sizeof buffer - 1)));
    return result;
}

void Module::cancelDeviceWaits() const
{
    for (size_t driver = 0; driver < m_drivers.size(); ++driver) {
        fn(driver).CancelWaitForDevEvent();
    }
}

// The event says which device, but not whether this module already followed it (a call may
// have read the list since): a removal takes the device only when its handle is dead, which
// is also what a token pulled and plugged back at once leaves behind while its name is listed.
void Module::deviceEvent(size_t driver, const std::string& name, ULONG event)
{
    auto found = m_devices.find(std::to_string(driver) + '\n' + name);
    if (event == 2 && found != m_devices.end() && !deviceAnswers(fn(driver), found->second)) {
        detachDevice(found->first, true);
    }
    rescanDriver(driver, true);
}

void Module::followUnwatched(size_t driver)
{
    if (!m_drivers[driver].watched) {
        rescanDriver(driver, true);
    }
}

void Module::recheckDevices()
{
    std::vector<std::string> gone;
    for (const auto& entry : m_devices) {
        if (!deviceAnswers(fn(entry.second.driver), entry.second)) {
            gone.push_back(entry.first);
        }
    }
    for (const std::string& key : gone) {
        detachDevice(key, true);
    }
    rescan(true);
}

// --- Devices ---

void Module::rescan(bool queueEvents)
{
    for (size_t driver = 0; driver < m_drivers.size(); ++driver) {
        rescanDriver(driver, queueEvents);
    }
}

void Module::rescanDriver(size_t driver, bool queueEvents)
{
    std::vector<std::string> present;
    try {
        present = skfclient::readNameList([&](char* list, ULONG* size) { return fn(driver).EnumDev(TRUE, list, size); },
                                          "SKF_EnumDev");
    } catch (const skfclient::SarError&) {
        // A driver that cannot list its devices right now shows none until it can.
        present.clear();
    }
    const std::string prefix = std::to_string(driver) + '\n';
    std::vector<std::string> gone;
    for (const auto& entry : m_devices) {
        if (entry.second.driver == driver
            && std::find(present.begin(), present.end(), entry.second.name) == present.end()) {
            gone.push_back(entry.first);
        }
    }
    for (const std::string& key : gone) {
        detachDevice(key, queueEvents);
    }
    for (const std::string& name : present) {
        auto known = m_devices.find(prefix + name);
        if (known != m_devices.end() && !known->second.handle) {
            if (!connects(fn(driver), name)) {
                continue; // still unreadable: its slot stays as it is
            }
            detachDevice(known->first, queueEvents);
            known = m_devices.end();
        }
        if (known != m_devices.end() && !openApplications(known->second, queueEvents)) {
            // Listed, but its handle is dead: pulled and plugged back since the last look.
            detachDevice(known->first, queueEvents);
            known = m_devices.end();
        }
        if (known == m_devices.end()) {
            attachDevice(driver, name, queueEvents);
        }
    }
}

void Module::attachDevice(size_t driver, const std::string& name, bool queueEvents)
{
    Device device;
    device.driver = driver;
    device.name = name;
    skfclient::WritableName copy(name);
    ULONG result = fn(driver).ConnectDev(copy.get(), &device.handle);
    if (result == SAR_OK && device.handle) {
        result = fn(driver).GetDevInfo(device.handle, &device.info);
        if (result != SAR_OK) {
            fn(driver).DisConnectDev(device.handle);
        }
    }
    if (result != SAR_OK || !device.handle) {
        // Listed but unreadable (a damaged or unreadable token file): it keeps a slot whose
        // token answers CKR_TOKEN_NOT_RECOGNIZED, so no other slot moves, and is tried
        // again at the next look.
        reportUnreadable(name, result);
        device.handle = nullptr;
        device.info = DEVINFO{};
        device.serial = name;
        Device& stored = m_devices[std::to_string(driver) + '\n' + name] = device;
        const CK_SLOT_ID id = slotIdFor(stored, std::string());
        Slot& slot = m_slots[id] = Slot();
        slot.id = id;
        slot.driver = driver;
        slot.deviceKey = std::to_string(driver) + '\n' + name;
        slot.deviceName = name;
        slot.present = true;
        stored.slots.push_back(id);
        if (queueEvents) {
            m_events.push_back(id);
        }
        return;
    }
    device.serial = fieldText(device.info.SerialNumber, sizeof device.info.SerialNumber);
    if (device.serial.empty()) {
        device.serial = name;
    }
    Device& stored = m_devices[std::to_string(driver) + '\n' + name] = device;
    openApplications(stored, queueEvents);
}

// Follows the device's applications: a new one becomes a slot at once, a deleted one ends
// its slot; false when the device's handle is dead. A device without any shows one slot without a token, so that a
// client listing every slot sees the device is there, but nothing offers to log in to it.
bool Module::openApplications(Device& device, bool queueEvents)
{
    std::vector<std::string> applications;
    try {
        applications = skfclient::readNameList(
            [&](char* list, ULONG* size) { return fn(device.driver).EnumApplication(device.handle, list, size); },
            "SKF_EnumApplication");
    } catch (const skfclient::SarError& error) {
        // A device that fails otherwise keeps its slots until it is seen removed.
        return error.sar() != SAR_DEVICE_REMOVED && error.sar() != SAR_INVALIDHANDLEERR;
    }
    if (applications.empty()) {
        applications.push_back(std::string());
    }
    std::vector<CK_SLOT_ID> kept;
    for (CK_SLOT_ID id : device.slots) {
        Slot& known = m_slots[id];
        if (std::find(applications.begin(), applications.end(), known.applicationName) == applications.end()) {
            closeSlot(known, queueEvents);
            known.deviceKey.clear();
        } else {
            kept.push_back(id);
        }
    }
    device.slots = kept;
    const std::string key = std::to_string(device.driver) + '\n' + device.name;
    for (const std::string& applicationName : applications) {
        const bool known = std::any_of(kept.begin(), kept.end(),
                                       [&](CK_SLOT_ID id) { return m_slots[id].applicationName == applicationName; });
        if (known) {
            continue;
        }
        HAPPLICATION application = nullptr;
        if (!applicationName.empty()) {
            skfclient::WritableName copy(applicationName);
            if (fn(device.driver).OpenApplication(device.handle, copy.get(), &application) != SAR_OK || !application) {
                continue;
            }
        }
        const CK_SLOT_ID id = slotIdFor(device, applicationName);
        Slot& slot = m_slots[id];
        slot = Slot();
        slot.id = id;
        slot.driver = device.driver;
        slot.deviceKey = key;
        slot.deviceName = device.name;
        slot.applicationName = applicationName;
        slot.present = application != nullptr;
        slot.application = application;
        device.slots.push_back(id);
        if (queueEvents) {
            m_events.push_back(id);
        }
    }
    for (CK_SLOT_ID id : device.slots) {
        m_slots[id].sharedDevice = device.slots.size() > 1;
    }
    return true;
}

// The ID is a hash of the driver's file name, the device's serial number and the application
// name, so it is the same in every process whatever the plug order. A hash already held by a
// slot of another device (two devices with one serial, or a true collision) moves on to the
// hash of the key with a counter, the same way every time.
CK_SLOT_ID Module::slotIdFor(const Device& device, const std::string& applicationName)
{
    const std::string deviceKey = std::to_string(device.driver) + '\n' + device.name;
    const std::string base = m_drivers[device.driver].tag + '\n' + device.serial + '\n' + applicationName;
    for (unsigned round = 0;; ++round) {
        const std::string key = round == 0 ? base : base + '\n' + std::to_string(round);
        auto known = m_slotIds.find(key);
        CK_SLOT_ID id = known != m_slotIds.end() ? known->second : CK_SLOT_ID(stableHash(key) & 0x7fffffff);
        auto holder = m_slots.find(id);
        const bool heldByOther = holder != m_slots.end() && !holder->second.deviceKey.empty()
            && (holder->second.deviceKey != deviceKey || holder->second.applicationName != applicationName);
        bool claimedByOtherKey = false;
        if (known == m_slotIds.end()) {
            claimedByOtherKey = std::any_of(m_slotIds.begin(), m_slotIds.end(),
                                            [&](const auto& entry) { return entry.second == id; });
        }
        if (!heldByOther && !claimedByOtherKey && id != 0) {
            m_slotIds[key] = id;
            return id;
        }
    }
}

void Module::detachDevice(const std::string& key, bool queueEvents)
{
    auto found = m_devices.find(key);
    if (found == m_devices.end()) {
        return;
    }
    for (CK_SLOT_ID id : found->second.slots) {
        Slot& slot = m_slots[id];
        closeSlot(slot, queueEvents);
        slot.deviceKey.clear();
    }
    if (found->second.handle) {
        fn(found->second.driver).DisConnectDev(found->second.handle);
    }
    m_devices.erase(found);
}

// A token that went away: its sessions and login end, its handles are given back.
void Module::closeSlot(Slot& slot, bool queueEvents)
{
    m_sessions.closeSlot(slot.id);
    endLogin(slot, false);
    slot.store.closeSigningContainers(fn(slot));
    if (slot.application) {
        fn(slot).CloseApplication(slot.application);
    }
    slot.application = nullptr;
    slot.present = false;
    slot.store.invalidate(fn(slot));
    if (queueEvents) {
        m_events.push_back(slot.id);
    }
}

std::optional<CK_SLOT_ID> Module::nextSlotEvent()
{
    rescan(true);
    return popSlotEvent();
}

std::optional<CK_SLOT_ID> Module::popSlotEvent()
{
    if (m_events.empty()) {
        return std::nullopt;
    }
    const CK_SLOT_ID id = m_events.front();
    m_events.pop_front();
    // One event per slot is enough: the caller asks the slot for its state.
    m_events.erase(std::remove(m_events.begin(), m_events.end(), id), m_events.end());
    return id;
}

// --- Slots ---

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
    if (const Device* device = deviceOf(found); device && !device->handle) {
        fail(CKR_TOKEN_NOT_RECOGNIZED); // listed by the driver, but it cannot be opened
    }
    return found;
}

Device* Module::deviceOf(const Slot& slot)
{
    auto found = m_devices.find(slot.deviceKey);
    return found == m_devices.end() ? nullptr : &found->second;
}

std::vector<CK_SLOT_ID> Module::slotList(bool tokenPresent)
{
    // Slots are known while their device is there. A pulled token's slot ID answers again
    // when it returns; a device without an application is listed only among all slots.
    rescan(true);
    std::vector<CK_SLOT_ID> ids;
    for (const auto& entry : m_slots) {
        if (!entry.second.deviceKey.empty() && (entry.second.present || !tokenPresent)) {
            ids.push_back(entry.first);
        }
    }
    return ids;
}

void Module::slotInfo(CK_SLOT_ID id, CK_SLOT_INFO& info)
{
    followUnwatched(slot(id).driver);
    const Slot& found = slot(id);
    std::memset(&info, 0, sizeof info);
    std::string description = found.deviceName;
    const Device* listed = deviceOf(found);
    description += listed && !listed->handle ? " (cannot be read)"
        : found.applicationName.empty()      ? " (no application)"
                                             : " / " + found.applicationName;
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

namespace {

CK_FLAGS pinFlags(const DriverFunctions& fn, HAPPLICATION application)
{
    struct PinFlags
    {
        ULONG type;
        CK_FLAGS low, last, locked, toChange;
    };
    const PinFlags kinds[]
        = {{USER_TYPE, CKF_USER_PIN_COUNT_LOW, CKF_USER_PIN_FINAL_TRY, CKF_USER_PIN_LOCKED, CKF_USER_PIN_TO_BE_CHANGED},
           {ADMIN_TYPE, CKF_SO_PIN_COUNT_LOW, CKF_SO_PIN_FINAL_TRY, CKF_SO_PIN_LOCKED, CKF_SO_PIN_TO_BE_CHANGED}};
    CK_FLAGS flags = 0;
    for (const PinFlags& kind : kinds) {
        ULONG maxRetries = 0, remaining = 0;
        BOOL isDefault = FALSE;
        if (fn.GetPINInfo(application, kind.type, &maxRetries, &remaining, &isDefault) != SAR_OK) {
            continue;
        }
        if (remaining == 0) {
            flags |= kind.locked;
        } else if (remaining < maxRetries) {
            flags |= kind.low;
            if (remaining == 1) {
                flags |= kind.last;
            }
        }
        if (isDefault) {
            flags |= kind.toChange;
        }
    }
    return flags;
}

} // namespace

void Module::tokenInfo(CK_SLOT_ID id, CK_TOKEN_INFO& info)
{
    followUnwatched(slot(id).driver);
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
    info.flags = CKF_RNG | CKF_LOGIN_REQUIRED | CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED
        | pinFlags(fn(found), found.application);
    const SessionTable::Count sessions = m_sessions.count(id);
    info.ulMaxSessionCount = CK_EFFECTIVELY_INFINITE;
    info.ulSessionCount = sessions.all;
    info.ulMaxRwSessionCount = CK_EFFECTIVELY_INFINITE;
    info.ulRwSessionCount = sessions.readWrite;
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
    for (const Mechanism& row : mechanismTable()) {
        if (device && tokenOffers(device->info, row)) {
            types.push_back(row.type);
        }
    }
    return types;
}

void Module::mechanismInfo(CK_SLOT_ID id, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO& info)
{
    Slot& found = presentSlot(id);
    const Device* device = deviceOf(found);
    const Mechanism* row = findMechanism(type);
    if (row && device && tokenOffers(device->info, *row)) {
        info.ulMinKeySize = row->minKeySize;
        info.ulMaxKeySize = row->maxKeySize;
        info.flags = row->flags;
        return;
    }
    fail(CKR_MECHANISM_INVALID);
}

void Module::generateRandom(CK_SESSION_HANDLE handle, CK_BYTE* out, CK_ULONG size)
{
    Device* device = deviceOf(presentSlot(m_sessions.get(handle).slot()));
    if (!device) {
        fail(CKR_DEVICE_REMOVED);
    }
    // Large requests go in pieces a token's buffer holds.
    constexpr CK_ULONG kPiece = 1024;
    for (CK_ULONG done = 0; done < size; done += kPiece) {
        checkSar(fn(device->driver).GenRandom(device->handle, out + done, ULONG(std::min(kPiece, size - done))));
    }
}

} // namespace skfp11
