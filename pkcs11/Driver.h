// The SKF driver behind the module: a library loaded by path whose standard functions are
// looked up by name into a table. Nothing else of the driver is used.
#pragma once

#include "skf/skfapi.h"

#include <string>

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

struct DriverFunctions
{
#define SKFP11_DECLARE_SLOT(name) decltype(&::SKF_##name) name = nullptr;
    SKFP11_DRIVER_FUNCTIONS(SKFP11_DECLARE_SLOT)
#undef SKFP11_DECLARE_SLOT
};

class Driver
{
public:
    // Loads the library and every function of the table; throws std::runtime_error naming
    // the loader's message or the first missing function.
    explicit Driver(const std::string& path);
    ~Driver();
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

    const DriverFunctions& fn() const { return m_functions; }

    // $SKFP11_DRIVER when set and not empty, else the manager's fixed driver path.
    static std::string defaultPath();

private:
    void* m_library = nullptr;
    DriverFunctions m_functions;
};

} // namespace skfp11
