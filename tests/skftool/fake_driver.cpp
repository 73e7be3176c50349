// A small SKF driver that misbehaves the way real drivers do, for skftool's tests: a
// device list that grows between the size call and the read, fixed fields and lists
// without terminators. Every function exists (unless a variant leaves one out); what the
// tests do not need answers SAR_NOTSUPPORTYETERR.
#include "skf/skfapi.h"

#include <cstring>

namespace {

// The device list a size query sees, and the longer one the read then finds.
const char kShortList[] = "A\0"; // "A\0\0" with the literal's own NUL
const char kLongList[] = "A\0BB\0"; // "A\0BB\0\0"
int g_handle = 0;

ULONG copyList(const char* list, ULONG size, LPSTR out, ULONG* pulSize)
{
    if (!out) {
        *pulSize = size;
        return SAR_OK;
    }
    if (*pulSize < size) {
        *pulSize = size;
        return SAR_BUFFER_TOO_SMALL;
    }
    std::memcpy(out, list, size);
    *pulSize = size;
    return SAR_OK;
}

} // namespace

extern "C" {

ULONG SKF_EnumDev(BOOL, LPSTR szNameList, ULONG* pulSize)
{
    return szNameList ? copyList(kLongList, sizeof(kLongList), szNameList, pulSize)
                      : copyList(kShortList, sizeof(kShortList), szNameList, pulSize);
}

ULONG SKF_GetDevState(LPSTR szDevName, ULONG* pulDevState)
{
    *pulDevState = std::strcmp(szDevName, "A") == 0 ? DEV_PRESENT_STATE : DEV_UNKNOW_STATE;
    return SAR_OK;
}

ULONG SKF_ConnectDev(LPSTR, DEVHANDLE* phDev)
{
    *phDev = &g_handle;
    return SAR_OK;
}

ULONG SKF_DisConnectDev(DEVHANDLE)
{
    return SAR_OK;
}

// Every text field filled to its last byte, with no NUL anywhere.
ULONG SKF_GetDevInfo(DEVHANDLE, DEVINFO* pDevInfo)
{
    std::memset(pDevInfo, 'L', sizeof(*pDevInfo));
    std::memset(pDevInfo->SerialNumber, 'S', sizeof(pDevInfo->SerialNumber));
    pDevInfo->TotalSpace = 1000;
    pDevInfo->FreeSpace = 10;
    return SAR_OK;
}

// One application name whose terminator is missing.
ULONG SKF_EnumApplication(DEVHANDLE, LPSTR szAppName, ULONG* pulSize)
{
    return copyList("APP", 3, szAppName, pulSize);
}

ULONG SKF_OpenApplication(DEVHANDLE, LPSTR, HAPPLICATION* phApplication)
{
    *phApplication = &g_handle;
    return SAR_OK;
}

ULONG SKF_CloseApplication(HAPPLICATION)
{
    return SAR_OK;
}

ULONG SKF_GetPINInfo(HAPPLICATION, ULONG ulPINType, ULONG* pulMaxRetryCount, ULONG* pulRemainRetryCount,
                     BOOL* pbDefaultPin)
{
    *pulMaxRetryCount = 5;
    *pulRemainRetryCount = ulPINType == ADMIN_TYPE ? 5 : 0;
    *pbDefaultPin = FALSE;
    return SAR_OK;
}

// The empty list as a single NUL.
ULONG SKF_EnumContainer(HAPPLICATION, LPSTR szContainerName, ULONG* pulSize)
{
    return copyList("", 1, szContainerName, pulSize);
}

// Every other function, generated from skfapi.h.
ULONG fakeSkfStubAnswer(const char*, unsigned)
{
    return SAR_NOTSUPPORTYETERR;
}

} // extern "C"
