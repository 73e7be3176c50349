// The SKF driver that skftool talks to: a library loaded by path whose standard functions
// are looked up by name into a table, the way the manager binds its driver.
#pragma once

#include "errors.h"
#include "skf/loader.h"

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

SKFLOADER_TABLE(DriverFunctions, SKFTOOL_DRIVER_FUNCTIONS)

class Driver
{
public:
    // Loads the library and every function of the table; throws ToolError naming the
    // loader's message or the first missing function. The driver stays mapped until exit.
    explicit Driver(const std::string& path);

    const DriverFunctions& fn() const { return m_driver.fn(); }
    const std::string& path() const { return m_driver.path(); }

    // Another table of the driver's functions, bound when a command first needs it, so
    // the other commands keep working with drivers that lack them; throws ToolError.
    template <typename More> More bind() const
    {
        try {
            return m_driver.bind<More>();
        } catch (const skfloader::MissingFunction& missing) {
            throw missingFunction(missing);
        }
    }

private:
    static ToolError missingFunction(const skfloader::MissingFunction& missing);

    skfloader::Driver<DriverFunctions> m_driver;
};

// Throws SarError when a driver call did not return SAR_OK.
using skfclient::check;

} // namespace skftool
