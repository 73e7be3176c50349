// C entry points: devices, events, device authentication and random bytes.
#include "EntrySupport.h"

#include "codec/Blobs.h"

namespace codec = softskf::codec;
using namespace softskf::entry;

extern "C" {

ULONG SKF_WaitForDevEvent(LPSTR szDevName, ULONG* pulDevNameLen, ULONG* pulEvent)
{
    return guarded([&] {
        requireOutput(szDevName);
        requireOutput(pulDevNameLen);
        requireOutput(pulEvent);
        return token().waitForEvent(szDevName, pulDevNameLen, pulEvent);
    });
}

ULONG SKF_CancelWaitForDevEvent(void)
{
    return guarded([&] {
        token().cancelWait();
        return SAR_OK;
    });
}

ULONG SKF_EnumDev(BOOL bPresent, LPSTR szNameList, ULONG* pulSize)
{
    return guarded([&] {
        requireOutput(pulSize);
        const std::string list = codec::multiString(token().enumDevices(bPresent != FALSE));
        return copyList(list, szNameList, pulSize);
    });
}

ULONG SKF_ConnectDev(LPSTR szName, DEVHANDLE* phDev)
{
    return guarded([&] {
        const std::string name = inputString(szName);
        requireOutput(phDev);
        *phDev = token().connect(name);
        return SAR_OK;
    });
}

ULONG SKF_DisConnectDev(DEVHANDLE hDev)
{
    return guarded([&] {
        token().disconnect(hDev);
        return SAR_OK;
    });
}

ULONG SKF_GetDevState(LPSTR szDevName, ULONG* pulDevState)
{
    return guarded([&] {
        const std::string name = inputString(szDevName);
        requireOutput(pulDevState);
        *pulDevState = token().deviceState(name);
        return SAR_OK;
    });
}

ULONG SKF_SetLabel(DEVHANDLE hDev, LPSTR szLabel)
{
    return guarded([&] {
        token().setLabel(hDev, inputString(szLabel));
        return SAR_OK;
    });
}

ULONG SKF_GetDevInfo(DEVHANDLE hDev, DEVINFO* pDevInfo)
{
    return guarded([&] {
        requireOutput(pDevInfo);
        *pDevInfo = token().deviceInfo(hDev);
        return SAR_OK;
    });
}

ULONG SKF_LockDev(DEVHANDLE hDev, ULONG ulTimeOut)
{
    return guarded([&] {
        token().lockDevice(hDev, ulTimeOut);
        return SAR_OK;
    });
}

ULONG SKF_UnlockDev(DEVHANDLE hDev)
{
    return guarded([&] {
        token().unlockDevice(hDev);
        return SAR_OK;
    });
}

ULONG SKF_Transmit(DEVHANDLE, BYTE*, ULONG, BYTE*, ULONG*)
{
    // A soft token has no APDU channel.
    return SAR_NOTSUPPORTYETERR;
}

ULONG SKF_GenRandom(DEVHANDLE hDev, BYTE* pbRandom, ULONG ulRandomLen)
{
    return guarded([&] {
        requireOutput(pbRandom);
        token().generateRandom(hDev, pbRandom, ulRandomLen);
        return SAR_OK;
    });
}

ULONG SKF_DevAuth(DEVHANDLE hDev, BYTE* pbAuthData, ULONG ulLen)
{
    return guarded([&] {
        requireOutput(pbAuthData);
        token().deviceAuth(hDev, pbAuthData, ulLen);
        return SAR_OK;
    });
}

ULONG SKF_ChangeDevAuthKey(DEVHANDLE hDev, BYTE* pbKeyValue, ULONG ulKeyLen)
{
    return guarded([&] {
        requireOutput(pbKeyValue);
        token().changeDeviceAuthKey(hDev, pbKeyValue, ulKeyLen);
        return SAR_OK;
    });
}

} // extern "C"

namespace {

// At dlclose or exit: each token's WAL is emptied, so no old page outlives the process.
__attribute__((destructor)) void closeStoreAtUnload()
{
    try {
        softskf::core::Core::shutdown();
    } catch (...) {
        // Nothing may escape an unload.
    }
}

} // namespace
