// Reaching tokens through the configured drivers.
#include "Tokens.h"

#include "skf/driverpaths.h"

#include <openssl/crypto.h>

#include <cstring>
#include <sstream>

namespace skfprov {

using skfclient::SarError;
using Device = skfclient::DeviceHandle<DriverFunctions>;
using Application = skfclient::ApplicationHandle<DriverFunctions>;
using Container = skfclient::ContainerHandle<DriverFunctions>;

// An application opened and logged in to, with the containers signed with so far: kept
// while the token answers, so a signature costs the driver only its signing call.
struct Tokens::Session
{
    std::unique_ptr<Device> device;
    std::unique_ptr<Application> app;
    std::map<std::string, std::unique_ptr<Container>> containers;
    std::string verifiedPin;
    ~Session()
    {
        OPENSSL_cleanse(&verifiedPin[0], verifiedPin.size());
        containers.clear(); // before the application they belong to, and that before the device
        app.reset();
    }
    Container& container(const std::string& name)
    {
        auto& open = containers[name];
        if (!open) {
            open = std::make_unique<Container>(*app, name);
        }
        return *open;
    }
};

namespace {

std::string fixedString(const CHAR* bytes, size_t size)
{
    const char* field = reinterpret_cast<const char*>(bytes);
    std::string text(field, strnlen(field, size));
    const size_t end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

std::vector<std::string> deviceNames(const DriverFunctions& fn)
{
    return skfclient::readNameList([&](LPSTR buffer, ULONG* size) { return fn.EnumDev(TRUE, buffer, size); },
                                   "SKF_EnumDev");
}

// Whether a failure says the handles are stale (the token was pulled, maybe plugged back).
bool staleHandles(ULONG sar)
{
    return sar == SAR_DEVICE_REMOVED || sar == SAR_INVALIDHANDLEERR || sar == SAR_USER_NOT_LOGGED_IN
        || sar == SAR_NOTINITIALIZEERR;
}

} // namespace

std::string describeSar(const SarError& error)
{
    std::ostringstream text;
    text << error.function() << " failed (0x" << std::hex << error.sar() << ")";
    if (!error.detail().empty()) {
        text << ": " << error.detail();
    }
    return text.str();
}

Tokens::Tokens()
{
    for (const std::string& path : skfloader::configuredDriverPaths()) {
        try {
            m_drivers.push_back(std::make_unique<Driver>(path));
        } catch (const std::exception& error) {
            m_loadErrors.push_back(error.what());
        }
    }
}

Tokens::~Tokens() = default;

void Tokens::noDriver() const
{
    std::string message
        = "no SKF driver could be loaded (set SKFP11_DRIVER or list drivers in /etc/skfp11/drivers.conf)";
    for (const std::string& error : m_loadErrors) {
        message += "; " + error;
    }
    throw ProviderError(kReasonNoDriver, message);
}

std::vector<TokenObject> Tokens::enumerate()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_drivers.empty()) {
        noDriver();
    }
    std::vector<TokenObject> objects;
    for (const auto& driver : m_drivers) {
        const DriverFunctions& fn = driver->fn();
        std::vector<std::string> names;
        try {
            names = deviceNames(fn);
        } catch (const SarError& error) {
            throw ProviderError(kReasonDriver, driver->path() + ": " + describeSar(error));
        }
        for (const std::string& name : names) {
            // A token pulled while it is read is left out, as if it had been pulled before.
            try {
                Device device(fn, name);
                DEVINFO info{};
                skfclient::check(fn.GetDevInfo(device.handle(), &info), "SKF_GetDevInfo");
                const std::string serial = fixedString(info.SerialNumber, sizeof info.SerialNumber);
                const std::string label = fixedString(info.Label, sizeof info.Label);
                const auto apps = skfclient::readNameList(
                    [&](LPSTR buffer, ULONG* size) { return fn.EnumApplication(device.handle(), buffer, size); },
                    "SKF_EnumApplication");
                for (const std::string& appName : apps) {
                    Application app(device, appName);
                    const auto containers = skfclient::readNameList(
                        [&](LPSTR buffer, ULONG* size) { return fn.EnumContainer(app.handle(), buffer, size); },
                        "SKF_EnumContainer");
                    for (const std::string& containerName : containers) {
                        Container container(app, containerName);
                        for (const bool sign : {true, false}) {
                            TokenObject object{{serial, appName, containerName, sign}, label, {}, {}};
                            object.publicBlob = skfclient::readVariable(
                                [&](BYTE* buffer, ULONG* size) {
                                    return fn.ExportPublicKey(container.handle(), sign, buffer, size);
                                },
                                "SKF_ExportPublicKey");
                            object.certificate = skfclient::readVariable(
                                [&](BYTE* buffer, ULONG* size) {
                                    return fn.ExportCertificate(container.handle(), sign, buffer, size);
                                },
                                "SKF_ExportCertificate");
                            if (!object.publicBlob.empty() || !object.certificate.empty()) {
                                objects.push_back(std::move(object));
                            }
                        }
                    }
                }
            } catch (const SarError& error) {
                if (error.sar() != SAR_DEVICE_REMOVED) {
                    throw ProviderError(kReasonDriver, "token " + name + ": " + describeSar(error));
                }
            }
        }
    }
    return objects;
}

std::unique_ptr<Tokens::Session> Tokens::openSession(const KeyRef& ref)
{
    for (const auto& driver : m_drivers) {
        const DriverFunctions& fn = driver->fn();
        for (const std::string& name : deviceNames(fn)) {
            auto device = std::make_unique<Device>(fn, name);
            DEVINFO info{};
            if (fn.GetDevInfo(device->handle(), &info) != SAR_OK
                || fixedString(info.SerialNumber, sizeof info.SerialNumber) != ref.serial) {
                continue;
            }
            auto session = std::make_unique<Session>();
            session->device = std::move(device);
            session->app = std::make_unique<Application>(*session->device, ref.app);
            return session;
        }
    }
    throw ProviderError(kReasonNoToken, "the token " + ref.serial + " is not plugged in");
}

void Tokens::verifyPin(Session& session, const KeyRef& ref, const std::string& pin)
{
    if (!session.verifiedPin.empty() && session.verifiedPin == pin) {
        return;
    }
    skfclient::WritableName copy(pin);
    ULONG retries = 0;
    const ULONG result = session.device->fn().VerifyPIN(session.app->handle(), USER_TYPE, copy.get(), &retries);
    OPENSSL_cleanse(copy.get(), pin.size());
    if (result == SAR_PIN_INCORRECT) {
        throw ProviderError(kReasonWrongPin,
                            "wrong PIN for the application " + ref.app + " of token " + ref.serial + ", "
                                + std::to_string(retries) + " tries left");
    }
    if (result == SAR_PIN_LOCKED) {
        throw ProviderError(kReasonPinLocked,
                            "the PIN of the application " + ref.app + " of token " + ref.serial
                                + " is locked; unblock it with the administrator PIN");
    }
    skfclient::check(result, "SKF_VerifyPIN", "application " + ref.app);
    session.verifiedPin = pin;
}

Bytes Tokens::sign(const KeyRef& ref, const std::string& pin, const Bytes& input, bool rsa)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_drivers.empty()) {
        noDriver();
    }
    const std::string key = ref.serial + '\n' + ref.app;
    for (int attempt = 0;; ++attempt) {
        try {
            auto& session = m_sessions[key];
            if (!session) {
                session = openSession(ref);
            }
            verifyPin(*session, ref, pin);
            Container& container = session->container(ref.container);
            const DriverFunctions& fn = session->device->fn();
            if (rsa) {
                Bytes signature(512);
                ULONG size = static_cast<ULONG>(signature.size());
                skfclient::check(fn.RSASignData(container.handle(), const_cast<BYTE*>(input.data()),
                                                static_cast<ULONG>(input.size()), signature.data(), &size),
                                 "SKF_RSASignData", "container " + ref.container);
                signature.resize(std::min<size_t>(size, signature.size()));
                return signature;
            }
            ECCSIGNATUREBLOB blob{};
            skfclient::check(fn.ECCSignData(container.handle(), const_cast<BYTE*>(input.data()),
                                            static_cast<ULONG>(input.size()), &blob),
                             "SKF_ECCSignData", "container " + ref.container);
            Bytes rs(blob.r + 32, blob.r + 64);
            rs.insert(rs.end(), blob.s + 32, blob.s + 64);
            return rs;
        } catch (const ProviderError&) {
            m_sessions.erase(key);
            throw;
        } catch (const SarError& error) {
            m_sessions.erase(key);
            // Handles of a token pulled and plugged back are stale: once more from the start.
            if (attempt == 0 && staleHandles(error.sar())) {
                continue;
            }
            if (error.sar() == SAR_DEVICE_REMOVED) {
                throw ProviderError(kReasonNoToken, "the token " + ref.serial + " was removed");
            }
            throw ProviderError(kReasonDriver, "token " + ref.serial + ": " + describeSar(error));
        }
    }
}

} // namespace skfprov
