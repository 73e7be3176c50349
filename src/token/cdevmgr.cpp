// cDevMgr: the device-manager singleton and its forwarding operations.
#include "cdevmgr.h"

#include "cgmskfoperator.h"
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
    auto* skf = new CGMSKFOperator();
    int result = skf->LoadSKFAPI(driverPath().c_str());
    if (result != 0) {
        delete skf;
        return result;
    }
    m_binding.store(skf, std::memory_order_release);
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

ULONG cDevMgr::WaitForDevEvent(LPSTR name, ULONG* nameLen, ULONG* event)
{
    CGMSKFOperator* skf = binding();
    return skf != nullptr ? skf->SKF_WaitForDevEvent(name, nameLen, event) : MissingFunction;
}

ULONG cDevMgr::CancelWaitForDevEvent()
{
    CGMSKFOperator* skf = binding();
    return skf != nullptr ? skf->SKF_CancelWaitForDevEvent() : MissingFunction;
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
    CGMSKFOperator* skf = binding();
    if (skf == nullptr) {
        return MissingFunction;
    }
    return skf->SKF_ConnectDev(const_cast<LPSTR>(name), &m_device);
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
    ULONG size = 0;
    skf->SKF_EnumDev(TRUE, nullptr, &size);
    // Two spare NULs end the walk even when the driver's list lacks its closing empty name.
    std::vector<char> list(static_cast<std::size_t>(size) + 2, '\0');
    ULONG filled = size;
    skf->SKF_EnumDev(TRUE, list.data(), &filled);
    const std::size_t end = std::min<std::size_t>(size, filled);

    for (std::size_t at = 0; at < end && list[at] != '\0';) {
        const char* listed = &list[at];
        const std::size_t listedLength = strnlen(listed, end - at);
        // A listed name matches when the requested name begins with it.
        if (std::strncmp(name, listed, listedLength) == 0) {
            ULONG result = skf->SKF_ConnectDev(const_cast<LPSTR>(name), &m_device);
            if (result != SAR_OK) {
                return result;
            }
            return skf->SKF_GetDevInfo(m_device, info);
        }
        at += listedLength + 1;
    }
    return InvalidParam;
}

ULONG cDevMgr::SetDevLabel(const char* label, ULONG /*len*/)
{
    if (label == nullptr) {
        return InvalidParam;
    }
    CGMSKFOperator* skf = binding();
    return skf != nullptr ? skf->SKF_SetLabel(m_device, const_cast<LPSTR>(label)) : MissingFunction;
}

ULONG cDevMgr::EnumApplication(LPSTR list, ULONG* size)
{
    CGMSKFOperator* skf = binding();
    return skf != nullptr ? skf->SKF_EnumApplication(m_device, list, size) : MissingFunction;
}

ULONG cDevMgr::OpenApplication(const char* name)
{
    CGMSKFOperator* skf = binding();
    return skf != nullptr ? skf->SKF_OpenApplication(m_device, const_cast<LPSTR>(name), &m_application)
                          : MissingFunction;
}

ULONG cDevMgr::GetPINInfo(ULONG type, ULONG* maxRetry, ULONG* remainRetry, BOOL* isDefault)
{
    CGMSKFOperator* skf = binding();
    return skf != nullptr ? skf->SKF_GetPINInfo(m_application, type, maxRetry, remainRetry, isDefault)
                          : MissingFunction;
}

ULONG cDevMgr::VerifyPIN(ULONG type, const char* pin, ULONG* retry)
{
    CGMSKFOperator* skf = binding();
    return skf != nullptr ? skf->SKF_VerifyPIN(m_application, type, const_cast<LPSTR>(pin), retry) : MissingFunction;
}

ULONG cDevMgr::ChangePIN(ULONG type, const char* oldPin, const char* newPin, ULONG* retry)
{
    CGMSKFOperator* skf = binding();
    return skf != nullptr
        ? skf->SKF_ChangePIN(m_application, type, const_cast<LPSTR>(oldPin), const_cast<LPSTR>(newPin), retry)
        : MissingFunction;
}

ULONG cDevMgr::EnumContainer(LPSTR list, ULONG* size)
{
    CGMSKFOperator* skf = binding();
    return skf != nullptr ? skf->SKF_EnumContainer(m_application, list, size) : MissingFunction;
}

ULONG cDevMgr::OpenContainer(const char* name)
{
    CGMSKFOperator* skf = binding();
    return skf != nullptr ? skf->SKF_OpenContainer(m_application, const_cast<LPSTR>(name), &m_container)
                          : MissingFunction;
}

ULONG cDevMgr::GetContainerInfo(ContainerInfo* info)
{
    if (info == nullptr) {
        return InvalidParam;
    }
    CGMSKFOperator* skf = binding();
    ULONG type = 0;
    ULONG result = skf != nullptr ? skf->SKF_GetContainerType(m_container, &type) : MissingFunction;
    // Byte 0 is written whatever the driver said, so a failed query reads as "no key pair".
    reinterpret_cast<BYTE*>(info)[0] = static_cast<BYTE>(type & 0xFFu);
    return result;
}

ULONG cDevMgr::DeleteContainer(const char* name)
{
    CGMSKFOperator* skf = binding();
    return skf != nullptr ? skf->SKF_DeleteContainer(m_application, const_cast<LPSTR>(name)) : MissingFunction;
}

ULONG cDevMgr::ExportCertificate(BOOL sign, BYTE* data, ULONG* len)
{
    CGMSKFOperator* skf = binding();
    return skf != nullptr ? skf->SKF_ExportCertificate(m_container, sign, data, len) : MissingFunction;
}

ULONG cDevMgr::ExportPublicKey(BOOL sign, BYTE* data, ULONG* len)
{
    CGMSKFOperator* skf = binding();
    return skf != nullptr ? skf->SKF_ExportPublicKey(m_container, sign, data, len) : MissingFunction;
}
