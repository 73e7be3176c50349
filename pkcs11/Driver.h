// The SKF driver behind the module: a library loaded by path whose standard functions are
// looked up by name into a table. Nothing else of the driver is used.
#pragma once

#include "skf/loader.h"

#include <string>
#include <vector>

namespace skfp11 {

#define SKFP11_DRIVER_FUNCTIONS(X)                                                                                     \
    X(WaitForDevEvent)                                                                                                 \
    X(CancelWaitForDevEvent)                                                                                           \
    X(EnumDev)                                                                                                         \
    X(ConnectDev)                                                                                                      \
    X(DisConnectDev)                                                                                                   \
    X(GetDevState)                                                                                                     \
    X(GetDevInfo)                                                                                                      \
    X(GenRandom)                                                                                                       \
    X(EnumApplication)                                                                                                 \
    X(OpenApplication)                                                                                                 \
    X(CloseApplication)                                                                                                \
    X(GetPINInfo)                                                                                                      \
    X(VerifyPIN)                                                                                                       \
    X(ChangePIN)                                                                                                       \
    X(UnblockPIN)                                                                                                      \
    X(ClearSecureState)                                                                                                \
    X(CreateContainer)                                                                                                 \
    X(DeleteContainer)                                                                                                 \
    X(OpenContainer)                                                                                                   \
    X(CloseContainer)                                                                                                  \
    X(EnumContainer)                                                                                                   \
    X(GetContainerType)                                                                                                \
    X(ImportCertificate)                                                                                               \
    X(ExportCertificate)                                                                                               \
    X(GenECCKeyPair)                                                                                                   \
    X(GenRSAKeyPair)                                                                                                   \
    X(RSASignData)                                                                                                     \
    X(ECCSignData)                                                                                                     \
    X(ExportPublicKey)

SKFLOADER_TABLE(DriverFunctions, SKFP11_DRIVER_FUNCTIONS)

// The file functions, for the IDs and labels clients give: a driver without them still serves,
// with derived IDs only.
#define SKFP11_FILE_FUNCTIONS(X)                                                                                       \
    X(CreateFile)                                                                                                      \
    X(GetFileInfo)                                                                                                     \
    X(ReadFile)                                                                                                        \
    X(WriteFile)

SKFLOADER_TABLE(FileFunctions, SKFP11_FILE_FUNCTIONS)

// Loads the library and every function of the table; throws std::runtime_error naming the
// loader's message or the first missing function. The driver stays mapped after unloading
// (RTLD_NODELETE): it keeps process-wide state it releases at exit.
class Driver : public skfloader::Driver<DriverFunctions>
{
public:
    using skfloader::Driver<DriverFunctions>::Driver;

    // The drivers to load, found as every client of any driver finds them (skf/driverpaths.h).
    static std::vector<std::string> configuredPaths();
};

} // namespace skfp11
