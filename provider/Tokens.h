// The provider's way to the tokens: every configured SKF driver, the objects of every token
// it shows (public-key blobs and certificates per container and usage), and signing on a
// token found again by its serial number, never through a handle a re-plug made stale.
#pragma once

#include "skf/client.h"
#include "skf/loader.h"

#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace skfprov {

#define SKFPROV_DRIVER_FUNCTIONS(X)                                                                                    \
    X(EnumDev)                                                                                                         \
    X(ConnectDev)                                                                                                      \
    X(DisConnectDev)                                                                                                   \
    X(GetDevInfo)                                                                                                      \
    X(EnumApplication)                                                                                                 \
    X(OpenApplication)                                                                                                 \
    X(CloseApplication)                                                                                                \
    X(VerifyPIN)                                                                                                       \
    X(EnumContainer)                                                                                                   \
    X(CreateContainer)                                                                                                 \
    X(OpenContainer)                                                                                                   \
    X(CloseContainer)                                                                                                  \
    X(GetContainerType)                                                                                                \
    X(ExportPublicKey)                                                                                                 \
    X(ExportCertificate)                                                                                               \
    X(RSASignData)                                                                                                     \
    X(ECCSignData)

SKFLOADER_TABLE(DriverFunctions, SKFPROV_DRIVER_FUNCTIONS)

using Bytes = std::vector<uint8_t>;

// The provider's reasons, as openssl prints them.
enum Reason {
    kReasonDriver = 1,
    kReasonWrongPin,
    kReasonPinLocked,
    kReasonNoToken,
    kReasonNoObject,
    kReasonAmbiguous,
    kReasonBadUri,
    kReasonUnsupported,
    kReasonNoPin,
    kReasonNoDriver,
};

// A failure with the reason to raise and a message that names what failed.
class ProviderError : public std::runtime_error
{
public:
    ProviderError(Reason reason, const std::string& message)
        : std::runtime_error(message)
        , m_reason(reason)
    {
    }
    Reason reason() const { return m_reason; }

private:
    Reason m_reason;
};

// What finds a key again: the token's serial, the application, the container and the usage.
struct KeyRef
{
    std::string serial;
    std::string app;
    std::string container;
    bool sign = true;
};

// One key pair slot of a container: its public-key blob and certificate, each possibly empty.
struct TokenObject
{
    KeyRef ref;
    std::string label; // the token's label
    Bytes publicBlob;
    Bytes certificate;
};

class Tokens
{
public:
    // Loads every configured driver; a driver that fails to load is remembered and named
    // when no token can be reached.
    Tokens();
    ~Tokens();

    // Every key and certificate of every plugged-in token.
    std::vector<TokenObject> enumerate();

    // Signs input on the token with the key of ref after verifying pin (once per
    // application while that token stays plugged in). RSA: input is what PKCS#1 v1.5
    // padding wraps, the result the signature; SM2: input is the 32-byte digest, the
    // result r || s. A wrong PIN throws kReasonWrongPin naming the tries left.
    Bytes sign(const KeyRef& ref, const std::string& pin, const Bytes& input, bool rsa);

    size_t driverCount() const { return m_drivers.size(); }

private:
    using Driver = skfloader::Driver<DriverFunctions>;
    struct Session;

    std::unique_ptr<Session> openSession(const KeyRef& ref);
    void verifyPin(Session& session, const KeyRef& ref, const std::string& pin);
    [[noreturn]] void noDriver() const;

    std::mutex m_mutex;
    std::vector<std::unique_ptr<Driver>> m_drivers;
    std::vector<std::string> m_loadErrors;
    std::map<std::string, std::unique_ptr<Session>> m_sessions; // by serial and application
};

// A message for a driver's failure: the function and its SAR code, in words where known.
std::string describeSar(const skfclient::SarError& error);

} // namespace skfprov
