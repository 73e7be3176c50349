// cDevMgr: the device-manager singleton and its forwarding operations.
#include "cdevmgr.h"

#include "cgmskfoperator.h"
#include "namelist.h"
#include "ovrinkey_paths.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

std::mutex g_driverPathMutex;
std::string g_driverPath = OVRINKEY_DRIVER_PATH;

// Bindings dropped by resetForTests stay alive (a caller may still hold one) until exit.
std::vector<std::unique_ptr<CGMSKFOperator>> g_retiredBindings;

} // namespace

cDevMgr* cDevMgr::getInst()
{
    // A function-local static is created exactly once even when both threads ask first.
    static cDevMgr* instance = new cDevMgr();
    return instance;
}

void cDevMgr::setDriverPath(const std::string& path)
{
    std::lock_guard<std::mutex> lock(g_driverPathMutex);
    g_driverPath = path;
}

std::string cDevMgr::driverPath()
{
    std::lock_guard<std::mutex> lock(g_driverPathMutex);
    return g_driverPath;
}

int cDevMgr::Initialize()
{
    if (binding() != nullptr) {
        return 0;
    }
    auto skf = std::make_unique<CGMSKFOperator>();
    const int result = skf->LoadSKFAPI(driverPath().c_str());
    if (result != 0) {
        return result;
    }
    m_binding.store(skf.release(), std::memory_order_release);
    return 0;
}

void cDevMgr::resetForTests()
{
    // The old binding is kept alive, and its library stays loaded, for the life of the process.
    g_retiredBindings.emplace_back(m_binding.exchange(nullptr, std::memory_order_acq_rel));
    m_device = m_application = m_container = nullptr;
    std::lock_guard<std::mutex> lock(m_eventMutex);
    m_event = 0;
    std::memset(m_devName, 0, sizeof m_devName);
}

// Every forwarder below: the driver's answer, or MissingFunction before a binding exists.
template <typename Method, typename... Args> ULONG cDevMgr::forward(Method method, Args... args) const
{
    CGMSKFOperator* skf = binding();
    return skf != nullptr ? (skf->*method)(args...) : MissingFunction;
}

ULONG cDevMgr::WaitForDevEvent(LPSTR name, ULONG* nameLen, ULONG* event)
{
    return forward(&CGMSKFOperator::SKF_WaitForDevEvent, name, nameLen, event);
}

ULONG cDevMgr::CancelWaitForDevEvent()
{
    return forward(&CGMSKFOperator::SKF_CancelWaitForDevEvent);
}

int cDevMgr::SetEvent(ULONG event)
{
    std::lock_guard<std::mutex> lock(m_eventMutex);
    m_event = event;
    return 0;
}

ULONG cDevMgr::GetEvent() const
{
    std::lock_guard<std::mutex> lock(m_eventMutex);
    return m_event;
}

int cDevMgr::SetDevName(const char* name)
{
    std::lock_guard<std::mutex> lock(m_eventMutex);
    std::memset(m_devName, 0, sizeof m_devName);
    if (name != nullptr) {
        // A name of 64 bytes or more is cut to 63 so the field keeps its terminator.
        std::strncpy(m_devName, name, sizeof m_devName - 1);
    }
    return 0;
}

std::string cDevMgr::GetDevName() const
{
    std::lock_guard<std::mutex> lock(m_eventMutex);
    return std::string(m_devName);
}

ULONG cDevMgr::ConnectDev(const char* name)
{
    if (name == nullptr) {
        return InvalidParam;
    }
    m_device = m_application = m_container = nullptr;
    return forward(&CGMSKFOperator::SKF_ConnectDev, const_cast<LPSTR>(name), &m_device);
}

ULONG cDevMgr::getDevInfo(const char* name, DEVINFO* info)
{
    if (name == nullptr || name[0] == '\0') {
        return InvalidParam;
    }
    CGMSKFOperator* skf = binding();
    if (skf == nullptr) {
        return MissingFunction;
    }
    // A list that cannot be read names no device.
    std::vector<std::string> devices;
    namelist::read([skf](LPSTR buffer, ULONG* size) { return skf->SKF_EnumDev(TRUE, buffer, size); }, devices);
    for (const std::string& device : devices) {
        // A listed name matches when the requested name begins with it.
        if (std::strncmp(name, device.c_str(), device.size()) == 0) {
            ULONG result = skf->SKF_ConnectDev(const_cast<LPSTR>(name), &m_device);
            if (result != SAR_OK) {
                return result;
            }
            return skf->SKF_GetDevInfo(m_device, info);
        }
    }
    return InvalidParam;
}

ULONG cDevMgr::SetDevLabel(const char* label, ULONG /*len*/)
{
    if (label == nullptr) {
        return InvalidParam;
    }
    return forward(&CGMSKFOperator::SKF_SetLabel, m_device, const_cast<LPSTR>(label));
}

ULONG cDevMgr::EnumApplication(LPSTR list, ULONG* size)
{
    return forward(&CGMSKFOperator::SKF_EnumApplication, m_device, list, size);
}

ULONG cDevMgr::OpenApplication(const char* name)
{
    return forward(&CGMSKFOperator::SKF_OpenApplication, m_device, const_cast<LPSTR>(name), &m_application);
}

ULONG cDevMgr::GetPINInfo(ULONG type, ULONG* maxRetry, ULONG* remainRetry, BOOL* isDefault)
{
    return forward(&CGMSKFOperator::SKF_GetPINInfo, m_application, type, maxRetry, remainRetry, isDefault);
}

ULONG cDevMgr::VerifyPIN(ULONG type, const char* pin, ULONG* retry)
{
    return forward(&CGMSKFOperator::SKF_VerifyPIN, m_application, type, const_cast<LPSTR>(pin), retry);
}

ULONG cDevMgr::ChangePIN(ULONG type, const char* oldPin, const char* newPin, ULONG* retry)
{
    return forward(&CGMSKFOperator::SKF_ChangePIN, m_application, type, const_cast<LPSTR>(oldPin),
                   const_cast<LPSTR>(newPin), retry);
}

ULONG cDevMgr::EnumContainer(LPSTR list, ULONG* size)
{
    return forward(&CGMSKFOperator::SKF_EnumContainer, m_application, list, size);
}

ULONG cDevMgr::OpenContainer(const char* name)
{
    return forward(&CGMSKFOperator::SKF_OpenContainer, m_application, const_cast<LPSTR>(name), &m_container);
}

ULONG cDevMgr::GetContainerInfo(ContainerInfo* info)
{
    if (info == nullptr) {
        return InvalidParam;
    }
    ULONG type = 0;
    const ULONG result = forward(&CGMSKFOperator::SKF_GetContainerType, m_container, &type);
    // The type is written whatever the driver said, so a failed query reads as "no key pair".
    info->ContainerType = static_cast<BYTE>(type & 0xFFu);
    return result;
}

ULONG cDevMgr::DeleteContainer(const char* name)
{
    return forward(&CGMSKFOperator::SKF_DeleteContainer, m_application, const_cast<LPSTR>(name));
}

ULONG cDevMgr::ExportCertificate(BOOL sign, BYTE* data, ULONG* len)
{
    return forward(&CGMSKFOperator::SKF_ExportCertificate, m_container, sign, data, len);
}

ULONG cDevMgr::ExportPublicKey(BOOL sign, BYTE* data, ULONG* len)
{
    return forward(&CGMSKFOperator::SKF_ExportPublicKey, m_container, sign, data, len);
}
