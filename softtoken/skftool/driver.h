// The SKF driver that skftool talks to: a library loaded by path whose standard functions
// are looked up by name into a table, the way the manager binds its driver.
#pragma once

#include "skf/skfapi.h"

#include <string>

namespace skftool {

// Every driver function skftool calls. The types come from the prototypes of skfapi.h, so
// a mismatch with the standard's parameter lists cannot compile.
#define SKFTOOL_DRIVER_FUNCTIONS(X)                                                                                    \
    X(EnumDev)                                                                                                         \
    X(ConnectDev)                                                                                                      \
    X(DisConnectDev)                                                                                                   \
    X(GetDevState)                                                                                                     \
    X(SetLabel)                                                                                                        \
    X(GetDevInfo)                                                                                                      \
    X(GenRandom)                                                                                                       \
    X(DevAuth)                                                                                                         \
    X(CreateApplication)                                                                                               \
    X(EnumApplication)                                                                                                 \
    X(DeleteApplication)                                                                                               \
    X(OpenApplication)                                                                                                 \
    X(CloseApplication)                                                                                                \
    X(GetPINInfo)                                                                                                      \
    X(VerifyPIN)                                                                                                       \
    X(ChangePIN)                                                                                                       \
    X(UnblockPIN)                                                                                                      \
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
    X(ImportECCKeyPair)                                                                                                \
    X(ImportRSAKeyPair)                                                                                                \
    X(ExportPublicKey)

struct DriverFunctions
{
#define SKFTOOL_DECLARE_SLOT(name) decltype(&::SKF_##name) name = nullptr;
    SKFTOOL_DRIVER_FUNCTIONS(SKFTOOL_DECLARE_SLOT)
#undef SKFTOOL_DECLARE_SLOT
};

class Driver
{
public:
    // Loads the library and every function of the table; throws ToolError naming the
    // loader's message or the first missing function.
    explicit Driver(const std::string& path);
    ~Driver();
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

    const DriverFunctions& fn() const { return m_functions; }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    void* m_library = nullptr;
    DriverFunctions m_functions;
};

// Throws SkfError when a driver call did not return SAR_OK.
void check(ULONG result, const char* function, const std::string& context = std::string());

} // namespace skftool
