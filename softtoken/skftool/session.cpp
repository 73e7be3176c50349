// The client steps every command shares.
#include "session.h"

#include "clientcrypto.h"
#include "errors.h"
#include "skf/client.h"

#include <cstring>

namespace skftool {

const char* const kDefaultAuthKey = "1234567812345678";

std::vector<std::string> splitNameList(const std::vector<char>& buffer, size_t size)
{
    return skfclient::splitNameList(buffer.data(), std::min(size, buffer.size()));
}

std::vector<std::string> enumDevices(const Driver& driver, bool presentOnly)
{
    return skfclient::readNameList(
        [&](char* list, ULONG* size) { return driver.fn().EnumDev(presentOnly ? TRUE : FALSE, list, size); },
        "SKF_EnumDev");
}

std::vector<std::string> enumApplications(const Device& device)
{
    return skfclient::readNameList(
        [&](char* list, ULONG* size) { return device.fn().EnumApplication(device.handle(), list, size); },
        "SKF_EnumApplication");
}

std::vector<std::string> enumContainers(const Application& application)
{
    return skfclient::readNameList(
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
        throw SarError(result, "SKF_VerifyPIN", which + ", " + std::to_string(retries) + " tries left");
    }
    check(result, "SKF_VerifyPIN", which);
}

std::vector<uint8_t> exportPublicKey(const Container& container, bool signPair)
{
    return skfclient::readVariable(
        [&](BYTE* blob, ULONG* size) {
            return container.fn().ExportPublicKey(container.handle(), signPair ? TRUE : FALSE, blob, size);
        },
        "SKF_ExportPublicKey");
}

std::vector<uint8_t> exportCertificate(const Container& container, bool signCertificate)
{
    return skfclient::readVariable(
        [&](BYTE* der, ULONG* size) {
            return container.fn().ExportCertificate(container.handle(), signCertificate ? TRUE : FALSE, der, size);
        },
        "SKF_ExportCertificate");
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
