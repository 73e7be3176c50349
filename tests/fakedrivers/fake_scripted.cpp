// The scriptable fake SKF driver: devices, applications, containers, certificates, PIN
// answers and device events are whatever the test says, and every call is counted.
#include "fakeskf_control.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct ScriptedList
{
    std::string bytes;
    long reportedSize = -1;
};

struct Failure
{
    unsigned okCallsLeft = 0;
    ULONG result = SAR_OK;
};

struct PinInfo
{
    ULONG maxRetry = 10;
    ULONG remainRetry = 10;
    BOOL isDefault = TRUE;
};

struct ContainerScript
{
    ULONG type = CONTAINER_TYPE_EMPTY;
    ULONG typeResult = SAR_OK;
    std::string certificate[2]; // [0] encryption, [1] signature
    std::string publicKey[2];
};

struct State
{
    ScriptedList devices;
    ScriptedList applications;
    ScriptedList containers;
    DEVINFO devInfo{};
    PinInfo pins[2];
    ULONG pinResult = SAR_OK;
    ULONG pinRetry = 10;
    std::map<std::string, ContainerScript> containerScripts;
    std::map<std::string, Failure> failures;
    // The failure every function without one of its own copies on its first call.
    Failure everything;
    bool failEverything = false;
    std::set<std::string> throwing;
    std::map<std::string, unsigned> callCounts;
    std::map<std::string, std::string> lastArguments;
    std::deque<std::pair<std::string, ULONG>> events;
    bool cancelPending = false;
    // Handles: a container handle points at the name it was opened with.
    std::vector<std::string*> openContainers;
    // The device each device, application and container handle was opened on.
    std::map<uintptr_t, std::string> handleDevice;
    // Encryption certificates that stand in for any container's on one device.
    std::map<std::string, std::string> deviceCertificates;
    unsigned openHandles = 0;
    uintptr_t nextHandle = 0x1000;
};

std::mutex g_mutex;
std::condition_variable g_eventArrived;
// Never destroyed, so handles a test leaves open stay reachable until exit.
State& g_state = *new State();

// Counts the call and answers the scripted failure when one is due; SAR_OK otherwise.
ULONG enter(const char* function, const char* argument = nullptr)
{
    g_state.callCounts[function]++;
    if (argument != nullptr) {
        g_state.lastArguments[function] = argument;
    }
    if (g_state.throwing.count(function) != 0) {
        throw std::runtime_error(std::string(function) + " was scripted to throw");
    }
    auto found = g_state.failures.find(function);
    if (found == g_state.failures.end()) {
        if (!g_state.failEverything || std::strstr(function, "DevEvent") != nullptr) {
            return SAR_OK;
        }
        found = g_state.failures.emplace(function, g_state.everything).first;
    }
    if (found->second.okCallsLeft > 0) {
        found->second.okCallsLeft--;
        return SAR_OK;
    }
    return found->second.result;
}

ULONG plainCall(const char* function)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return enter(function);
}

HANDLE newHandle()
{
    g_state.openHandles++;
    return reinterpret_cast<HANDLE>(g_state.nextHandle++);
}

// Length convention with a list that may lie about its size: a size query answers the
// reported size; a fill copies no more than the caller's buffer holds.
ULONG copyList(const ScriptedList& list, LPSTR out, ULONG* size)
{
    if (size == nullptr) {
        return SAR_INVALIDPARAMERR;
    }
    const ULONG reported
        = list.reportedSize >= 0 ? static_cast<ULONG>(list.reportedSize) : static_cast<ULONG>(list.bytes.size());
    if (out != nullptr) {
        std::memcpy(out, list.bytes.data(), std::min<std::size_t>(*size, list.bytes.size()));
    }
    *size = reported;
    return SAR_OK;
}

ULONG copyBytes(const std::string& bytes, BYTE* out, ULONG* length, ULONG missing)
{
    if (length == nullptr) {
        return SAR_INVALIDPARAMERR;
    }
    if (bytes.empty()) {
        return missing;
    }
    if (out == nullptr) {
        *length = static_cast<ULONG>(bytes.size());
        return SAR_OK;
    }
    if (*length < bytes.size()) {
        *length = static_cast<ULONG>(bytes.size());
        return SAR_BUFFER_TOO_SMALL;
    }
    std::memcpy(out, bytes.data(), bytes.size());
    *length = static_cast<ULONG>(bytes.size());
    return SAR_OK;
}

const std::string* containerOf(HCONTAINER handle)
{
    for (std::string* name : g_state.openContainers) {
        if (static_cast<void*>(name) == handle) {
            return name;
        }
    }
    return nullptr;
}

} // namespace

extern "C" {

void FakeSkf_Reset(void)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    for (std::string* name : g_state.openContainers) {
        delete name;
    }
    g_state = State{};
}

void FakeSkf_ThrowFrom(const char* function)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_state.throwing.insert(function);
}

void FakeSkf_SetDeviceList(const char* bytes, unsigned len, long reportedSize)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_state.devices = {std::string(bytes, len), reportedSize};
}

void FakeSkf_SetApplicationList(const char* bytes, unsigned len, long reportedSize)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_state.applications = {std::string(bytes, len), reportedSize};
}

void FakeSkf_SetContainerList(const char* bytes, unsigned len, long reportedSize)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_state.containers = {std::string(bytes, len), reportedSize};
}

void FakeSkf_SetDevInfo(const DEVINFO* info)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_state.devInfo = *info;
}

void FakeSkf_SetPinInfo(ULONG pinType, ULONG maxRetry, ULONG remainRetry, BOOL isDefault)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_state.pins[pinType == ADMIN_TYPE ? 0 : 1] = {maxRetry, remainRetry, isDefault};
}

void FakeSkf_SetPinAnswer(ULONG result, ULONG retryCount)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_state.pinResult = result;
    g_state.pinRetry = retryCount;
}

void FakeSkf_SetContainerType(const char* container, ULONG type, ULONG result)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    auto& script = g_state.containerScripts[container];
    script.type = type;
    script.typeResult = result;
}

void FakeSkf_SetCertificate(const char* container, BOOL sign, const BYTE* der, unsigned len)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_state.containerScripts[container].certificate[sign ? 1 : 0]
        = std::string(reinterpret_cast<const char*>(der), len);
}

void FakeSkf_SetDeviceCertificate(const char* device, const BYTE* der, unsigned len)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_state.deviceCertificates[device] = std::string(reinterpret_cast<const char*>(der), len);
}

void FakeSkf_SetPublicKey(const char* container, BOOL sign, const BYTE* blob, unsigned len)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_state.containerScripts[container].publicKey[sign ? 1 : 0] = std::string(reinterpret_cast<const char*>(blob), len);
}

void FakeSkf_SetResult(const char* function, ULONG result)
{
    FakeSkf_FailAfter(function, 0, result);
}

void FakeSkf_FailAfter(const char* function, unsigned okCalls, ULONG result)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (result == SAR_OK) {
        g_state.failures.erase(function);
    } else {
        g_state.failures[function] = {okCalls, result};
    }
}

void FakeSkf_FailEverythingAfter(unsigned okCalls, ULONG result)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_state.failures.clear();
    g_state.everything = {okCalls, result};
    g_state.failEverything = result != SAR_OK;
}

void FakeSkf_PushEvent(const char* deviceName, ULONG event)
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_state.events.emplace_back(deviceName, event);
    }
    g_eventArrived.notify_all();
}

unsigned FakeSkf_PendingEvents(void)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return static_cast<unsigned>(g_state.events.size());
}

unsigned FakeSkf_CallCount(const char* function)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    auto found = g_state.callCounts.find(function);
    return found == g_state.callCounts.end() ? 0 : found->second;
}

const char* FakeSkf_LastArgument(const char* function)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    static thread_local std::string copy;
    auto found = g_state.lastArguments.find(function);
    copy = found == g_state.lastArguments.end() ? std::string() : found->second;
    return copy.c_str();
}

unsigned FakeSkf_OpenHandleCount(void)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_state.openHandles;
}

// ---- The SKF functions the manager uses, driven by the script ----

ULONG SKF_WaitForDevEvent(LPSTR szDevName, ULONG* pulDevNameLen, ULONG* pulEvent)
{
    std::unique_lock<std::mutex> lock(g_mutex);
    ULONG failure = enter("SKF_WaitForDevEvent");
    if (failure != SAR_OK) {
        return failure;
    }
    g_eventArrived.wait(lock, [] { return !g_state.events.empty() || g_state.cancelPending; });
    if (g_state.cancelPending) {
        g_state.cancelPending = false;
        return SAR_FAIL;
    }
    auto [name, event] = g_state.events.front();
    if (szDevName == nullptr || pulDevNameLen == nullptr || pulEvent == nullptr) {
        return SAR_INVALIDPARAMERR;
    }
    if (*pulDevNameLen < name.size() + 1) {
        *pulDevNameLen = static_cast<ULONG>(name.size() + 1);
        return SAR_BUFFER_TOO_SMALL;
    }
    g_state.events.pop_front();
    std::memcpy(szDevName, name.c_str(), name.size() + 1);
    *pulDevNameLen = static_cast<ULONG>(name.size());
    *pulEvent = event;
    return SAR_OK;
}

ULONG SKF_CancelWaitForDevEvent(void)
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        enter("SKF_CancelWaitForDevEvent");
        g_state.cancelPending = true;
    }
    g_eventArrived.notify_all();
    return SAR_OK;
}

ULONG SKF_EnumDev(BOOL, LPSTR szNameList, ULONG* pulSize)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    ULONG failure = enter("SKF_EnumDev");
    return failure != SAR_OK ? failure : copyList(g_state.devices, szNameList, pulSize);
}

ULONG SKF_ConnectDev(LPSTR szName, DEVHANDLE* phDev)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    ULONG failure = enter("SKF_ConnectDev", szName);
    if (failure != SAR_OK) {
        return failure;
    }
    *phDev = newHandle();
    g_state.handleDevice[reinterpret_cast<uintptr_t>(*phDev)] = szName;
    return SAR_OK;
}

ULONG SKF_DisConnectDev(DEVHANDLE)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_state.openHandles--;
    return enter("SKF_DisConnectDev");
}

ULONG SKF_SetLabel(DEVHANDLE, LPSTR szLabel)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return enter("SKF_SetLabel", szLabel);
}

ULONG SKF_GetDevInfo(DEVHANDLE, DEVINFO* pDevInfo)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    ULONG failure = enter("SKF_GetDevInfo");
    if (failure == SAR_OK) {
        *pDevInfo = g_state.devInfo;
    }
    return failure;
}

ULONG SKF_GetPINInfo(HAPPLICATION, ULONG ulPINType, ULONG* pulMaxRetryCount, ULONG* pulRemainRetryCount,
                     BOOL* pbDefaultPin)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    ULONG failure = enter("SKF_GetPINInfo");
    if (failure == SAR_OK) {
        const PinInfo& pin = g_state.pins[ulPINType == ADMIN_TYPE ? 0 : 1];
        *pulMaxRetryCount = pin.maxRetry;
        *pulRemainRetryCount = pin.remainRetry;
        *pbDefaultPin = pin.isDefault;
    }
    return failure;
}

ULONG SKF_VerifyPIN(HAPPLICATION, ULONG, LPSTR szPIN, ULONG* pulRetryCount)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    ULONG failure = enter("SKF_VerifyPIN", szPIN);
    if (failure != SAR_OK) {
        return failure;
    }
    *pulRetryCount = g_state.pinRetry;
    return g_state.pinResult;
}

ULONG SKF_ChangePIN(HAPPLICATION, ULONG, LPSTR szOldPin, LPSTR szNewPin, ULONG* pulRetryCount)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    ULONG failure = enter("SKF_ChangePIN", (std::string(szOldPin) + "\n" + szNewPin).c_str());
    if (failure != SAR_OK) {
        return failure;
    }
    *pulRetryCount = g_state.pinRetry;
    return g_state.pinResult;
}

ULONG SKF_EnumApplication(DEVHANDLE, LPSTR szAppName, ULONG* pulSize)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    ULONG failure = enter("SKF_EnumApplication");
    return failure != SAR_OK ? failure : copyList(g_state.applications, szAppName, pulSize);
}

ULONG SKF_OpenApplication(DEVHANDLE hDev, LPSTR szAppName, HAPPLICATION* phApplication)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    ULONG failure = enter("SKF_OpenApplication", szAppName);
    if (failure != SAR_OK) {
        return failure;
    }
    *phApplication = newHandle();
    g_state.handleDevice[reinterpret_cast<uintptr_t>(*phApplication)]
        = g_state.handleDevice[reinterpret_cast<uintptr_t>(hDev)];
    return SAR_OK;
}

ULONG SKF_CloseApplication(HAPPLICATION)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_state.openHandles--;
    return enter("SKF_CloseApplication");
}

ULONG SKF_EnumContainer(HAPPLICATION, LPSTR szContainerName, ULONG* pulSize)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    ULONG failure = enter("SKF_EnumContainer");
    return failure != SAR_OK ? failure : copyList(g_state.containers, szContainerName, pulSize);
}

ULONG SKF_OpenContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    ULONG failure = enter("SKF_OpenContainer", szContainerName);
    if (failure != SAR_OK) {
        return failure;
    }
    auto* name = new std::string(szContainerName);
    g_state.handleDevice[reinterpret_cast<uintptr_t>(name)]
        = g_state.handleDevice[reinterpret_cast<uintptr_t>(hApplication)];
    g_state.openContainers.push_back(name);
    g_state.openHandles++;
    *phContainer = name;
    return SAR_OK;
}

ULONG SKF_CloseContainer(HCONTAINER hContainer)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    auto& open = g_state.openContainers;
    auto found = std::find(open.begin(), open.end(), static_cast<std::string*>(hContainer));
    if (found != open.end()) {
        delete *found;
        open.erase(found);
        g_state.openHandles--;
    }
    return enter("SKF_CloseContainer");
}

ULONG SKF_GetContainerType(HCONTAINER hContainer, ULONG* pulContainerType)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    ULONG failure = enter("SKF_GetContainerType");
    const std::string* name = containerOf(hContainer);
    if (failure != SAR_OK || name == nullptr) {
        return failure != SAR_OK ? failure : SAR_INVALIDHANDLEERR;
    }
    const ContainerScript& script = g_state.containerScripts[*name];
    if (script.typeResult == SAR_OK) {
        *pulContainerType = script.type;
    }
    return script.typeResult;
}

ULONG SKF_ExtGetContainerInfo(HCONTAINER hContainer, ContainerInfo* pInfo)
{
    ULONG type = 0;
    ULONG result = SKF_GetContainerType(hContainer, &type);
    if (result == SAR_OK) {
        std::memset(pInfo, 0, sizeof *pInfo);
        pInfo->ContainerType = static_cast<BYTE>(type);
    }
    return result;
}

ULONG SKF_DeleteContainer(HAPPLICATION, LPSTR szContainerName)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return enter("SKF_DeleteContainer", szContainerName);
}

ULONG SKF_ExportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG* pulCertLen)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    ULONG failure = enter("SKF_ExportCertificate");
    const std::string* name = containerOf(hContainer);
    if (failure != SAR_OK || name == nullptr) {
        return failure != SAR_OK ? failure : SAR_INVALIDHANDLEERR;
    }
    auto onDevice = g_state.deviceCertificates.find(g_state.handleDevice[reinterpret_cast<uintptr_t>(name)]);
    if (!bSignFlag && onDevice != g_state.deviceCertificates.end()) {
        return copyBytes(onDevice->second, pbCert, pulCertLen, SAR_CERTNOTFOUNTERR);
    }
    return copyBytes(g_state.containerScripts[*name].certificate[bSignFlag ? 1 : 0], pbCert, pulCertLen,
                     SAR_CERTNOTFOUNTERR);
}

ULONG SKF_ExportPublicKey(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbBlob, ULONG* pulBlobLen)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    ULONG failure = enter("SKF_ExportPublicKey");
    const std::string* name = containerOf(hContainer);
    if (failure != SAR_OK || name == nullptr) {
        return failure != SAR_OK ? failure : SAR_INVALIDHANDLEERR;
    }
    return copyBytes(g_state.containerScripts[*name].publicKey[bSignFlag ? 1 : 0], pbBlob, pulBlobLen,
                     SAR_KEYNOTFOUNTERR);
}

// Every other function: counted, scriptable, otherwise SAR_OK.
ULONG fakeSkfStubAnswer(const char* function, unsigned)
{
    return plainCall(function);
}

} // extern "C"
