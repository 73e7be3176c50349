// Owning wrappers for driver handles and the client steps every command shares.
#include "session.h"

#include "clientcrypto.h"
#include "errors.h"
#include "skf/client.h"

#include <cstring>

namespace skftool {

const char* const kDefaultAuthKey = "1234567812345678";

Device::Device(const Driver& driver, const std::string& name)
    : m_driver(driver)
    , m_name(name)
{
    std::string writable = name;
    check(fn().ConnectDev(&writable[0], &m_handle), "SKF_ConnectDev", "device " + name);
}

Device::~Device()
{
    if (m_handle) {
        fn().DisConnectDev(m_handle);
    }
}

Application::Application(Device& device, const std::string& name)
    : m_device(device)
    , m_name(name)
{
    std::string writable = name;
    check(fn().OpenApplication(device.handle(), &writable[0], &m_handle), "SKF_OpenApplication", "application " + name);
}

Application::Application(Device& device, const std::string& name, HAPPLICATION handle)
    : m_device(device)
    , m_name(name)
    , m_handle(handle)
{
}

Application::~Application()
{
    if (m_handle) {
        fn().CloseApplication(m_handle);
    }
}

Container::Container(Application& application, const std::string& name, Mode mode)
    : m_application(application)
    , m_name(name)
{
    std::string writable = name;
    if (mode == Mode::Create) {
        check(fn().CreateContainer(application.handle(), &writable[0], &m_handle), "SKF_CreateContainer",
              "container " + name);
    } else {
        check(fn().OpenContainer(application.handle(), &writable[0], &m_handle), "SKF_OpenContainer",
              "container " + name);
    }
}

Container::~Container()
{
    if (m_handle) {
        fn().CloseContainer(m_handle);
    }
}

ULONG Container::type() const
{
    ULONG type = 0;
    check(fn().GetContainerType(m_handle, &type), "SKF_GetContainerType", "container " + m_name);
    return type;
}

std::vector<std::string> splitNameList(const std::vector<char>& buffer, size_t size)
{
    return skfclient::splitNameList(buffer.data(), std::min(size, buffer.size()));
}

namespace {

// The shared reader (with its size cap); its failures reported the way every skftool command reports them.
template <typename Call> std::vector<std::string> readNameList(Call call, const char* function)
{
    try {
        return skfclient::readNameList(call, function);
    } catch (const skfclient::SarError& error) {
        check(error.sar(), function, error.detail());
        throw;
    }
}

} // namespace

std::vector<std::string> enumDevices(const Driver& driver, bool presentOnly)
{
    return readNameList(
        [&](char* list, ULONG* size) { return driver.fn().EnumDev(presentOnly ? TRUE : FALSE, list, size); },
        "SKF_EnumDev");
}

std::vector<std::string> enumApplications(const Device& device)
{
    return readNameList(
        [&](char* list, ULONG* size) { return device.fn().EnumApplication(device.handle(), list, size); },
        "SKF_EnumApplication");
}

std::vector<std::string> enumContainers(const Application& application)
{
    return readNameList(
        [&](char* list, ULONG* size) { return application.fn().EnumContainer(application.handle(), list, size); },
        "SKF_EnumContainer");
}

void authenticateDevice(const Device& device, const std::vector<uint8_t>& authKey)
{
    DEVINFO info{};
    check(device.fn().GetDevInfo(device.handle(), &info), "SKF_GetDevInfo", "device " + device.name());
    if (info.DevAuthAlgId != SGD_SM4_ECB) {
        throw ToolError("device " + device.name() + " wants device authentication with algorithm "
                        + std::to_string(info.DevAuthAlgId) + "; skftool only speaks SGD_SM4_ECB");
    }
    ossl::SecureBytes challenge(16);
    check(device.fn().GenRandom(device.handle(), challenge.data(), 8), "SKF_GenRandom");
    std::vector<uint8_t> answer = sm4EcbEncrypt(authKey, challenge, false);
    check(device.fn().DevAuth(device.handle(), answer.data(), static_cast<ULONG>(answer.size())), "SKF_DevAuth",
          "device authentication key refused");
}

void verifyPin(const Application& application, ULONG pinType, Secret& pin)
{
    ULONG retries = 0;
    const ULONG result = application.fn().VerifyPIN(application.handle(), pinType, pin.c_str(), &retries);
    const std::string which = pinType == ADMIN_TYPE ? "SO PIN" : "user PIN";
    if (result == SAR_PIN_INCORRECT) {
        throw SkfError(result, "SKF_VerifyPIN", which + ", " + std::to_string(retries) + " tries left");
    }
    check(result, "SKF_VerifyPIN", which);
}

std::vector<uint8_t> exportPublicKey(const Container& container, bool signPair)
{
    ULONG size = 0;
    ULONG result = container.fn().ExportPublicKey(container.handle(), signPair ? TRUE : FALSE, nullptr, &size);
    if (result == SAR_KEYNOTFOUNTERR) {
        return {};
    }
    check(result, "SKF_ExportPublicKey", "container " + container.name());
    std::vector<uint8_t> blob(size);
    result = container.fn().ExportPublicKey(container.handle(), signPair ? TRUE : FALSE, blob.data(), &size);
    check(result, "SKF_ExportPublicKey", "container " + container.name());
    blob.resize(std::min<size_t>(size, blob.size()));
    return blob;
}

std::vector<uint8_t> exportCertificate(const Container& container, bool signCertificate)
{
    ULONG size = 0;
    ULONG result = container.fn().ExportCertificate(container.handle(), signCertificate ? TRUE : FALSE, nullptr, &size);
    if (result == SAR_CERTNOTFOUNTERR) {
        return {};
    }
    check(result, "SKF_ExportCertificate", "container " + container.name());
    std::vector<uint8_t> der(size);
    result = container.fn().ExportCertificate(container.handle(), signCertificate ? TRUE : FALSE, der.data(), &size);
    check(result, "SKF_ExportCertificate", "container " + container.name());
    der.resize(std::min<size_t>(size, der.size()));
    return der;
}

std::string containerTypeName(ULONG type)
{
    switch (type) {
    case CONTAINER_TYPE_EMPTY:
        return "empty";
    case CONTAINER_TYPE_RSA:
        return "RSA";
    case CONTAINER_TYPE_ECC:
        return "SM2";
    default:
        return "unknown type " + std::to_string(type);
    }
}

std::vector<uint8_t> parseAuthKey(const std::string& hex)
{
    if (hex.empty()) {
        return std::vector<uint8_t>(kDefaultAuthKey, kDefaultAuthKey + std::strlen(kDefaultAuthKey));
    }
    std::vector<uint8_t> key = fromHex(hex);
    if (key.size() != 16) {
        throw UsageError("the device authentication key must be 32 hex digits (16 bytes)");
    }
    return key;
}

} // namespace skftool
