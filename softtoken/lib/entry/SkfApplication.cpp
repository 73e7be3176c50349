// C entry points: applications and PINs.
#include "EntrySupport.h"

#include "codec/Blobs.h"

namespace codec = softskf::codec;
using namespace softskf::entry;

extern "C" {

ULONG SKF_CreateApplication(DEVHANDLE hDev, LPSTR szAppName, LPSTR szAdminPin, DWORD dwAdminPinRetryCount,
                            LPSTR szUserPin, DWORD dwUserPinRetryCount, DWORD dwCreateFileRights,
                            HAPPLICATION* phApplication)
{
    return guarded([&] {
        const std::string name = inputString(szAppName);
        const auto adminPin = inputPin(szAdminPin);
        const auto userPin = inputPin(szUserPin);
        requireOutput(phApplication);
        *phApplication = token().createApplication(hDev, name, adminPin, dwAdminPinRetryCount, userPin,
                                                   dwUserPinRetryCount, dwCreateFileRights);
        return SAR_OK;
    });
}

ULONG SKF_EnumApplication(DEVHANDLE hDev, LPSTR szAppName, ULONG* pulSize)
{
    return guarded([&] {
        requireOutput(pulSize);
        const std::string list = codec::multiString(token().enumApplications(hDev));
        return copyList(list, szAppName, pulSize);
    });
}

ULONG SKF_DeleteApplication(DEVHANDLE hDev, LPSTR szAppName)
{
    return guarded([&] {
        token().deleteApplication(hDev, inputString(szAppName));
        return SAR_OK;
    });
}

ULONG SKF_OpenApplication(DEVHANDLE hDev, LPSTR szAppName, HAPPLICATION* phApplication)
{
    return guarded([&] {
        const std::string name = inputString(szAppName);
        requireOutput(phApplication);
        *phApplication = token().openApplication(hDev, name);
        return SAR_OK;
    });
}

ULONG SKF_CloseApplication(HAPPLICATION hApplication)
{
    return guarded([&] {
        token().closeApplication(hApplication);
        return SAR_OK;
    });
}

ULONG SKF_GetPINInfo(HAPPLICATION hApplication, ULONG ulPINType, ULONG* pulMaxRetryCount, ULONG* pulRemainRetryCount,
                     BOOL* pbDefaultPin)
{
    return guarded([&] {
        requireOutput(pulMaxRetryCount);
        requireOutput(pulRemainRetryCount);
        requireOutput(pbDefaultPin);
        const auto info = token().pinInfo(hApplication, ulPINType);
        *pulMaxRetryCount = info.maxRetries;
        *pulRemainRetryCount = info.remainingRetries;
        *pbDefaultPin = info.isDefault ? TRUE : FALSE;
        return SAR_OK;
    });
}

ULONG SKF_VerifyPIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szPIN, ULONG* pulRetryCount)
{
    return guarded([&] {
        const auto pin = inputPin(szPIN);
        requireOutput(pulRetryCount);
        return token().verifyPin(hApplication, ulPINType, pin, *pulRetryCount);
    });
}

ULONG SKF_ChangePIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szOldPin, LPSTR szNewPin, ULONG* pulRetryCount)
{
    return guarded([&] {
        const auto oldPin = inputPin(szOldPin);
        const auto newPin = inputPin(szNewPin);
        requireOutput(pulRetryCount);
        return token().changePin(hApplication, ulPINType, oldPin, newPin, *pulRetryCount);
    });
}

ULONG SKF_UnblockPIN(HAPPLICATION hApplication, LPSTR szAdminPIN, LPSTR szNewUserPIN, ULONG* pulRetryCount)
{
    return guarded([&] {
        const auto adminPin = inputPin(szAdminPIN);
        const auto newUserPin = inputPin(szNewUserPIN);
        requireOutput(pulRetryCount);
        return token().unblockPin(hApplication, adminPin, newUserPin, *pulRetryCount);
    });
}

ULONG SKF_ClearSecureState(HAPPLICATION hApplication)
{
    return guarded([&] {
        token().clearSecureState(hApplication);
        return SAR_OK;
    });
}

} // extern "C"
