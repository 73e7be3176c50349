// Owning wrappers for the driver's device, application and container handles, and the
// client steps every command shares: name lists, device authentication, PIN checks,
// reading public keys and certificates with the length convention.
#pragma once

#include "driver.h"
#include "secret.h"

#include <cstdint>
#include <string>
#include <vector>

namespace skftool {

class Device
{
public:
    Device(const Driver& driver, const std::string& name);
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    const DriverFunctions& fn() const { return m_driver.fn(); }
    DEVHANDLE handle() const { return m_handle; }
    const std::string& name() const { return m_name; }

private:
    const Driver& m_driver;
    std::string m_name;
    DEVHANDLE m_handle = nullptr;
};

class Application
{
public:
    // Opens an existing application.
    Application(Device& device, const std::string& name);
    // Takes over a handle SKF_CreateApplication returned.
    Application(Device& device, const std::string& name, HAPPLICATION handle);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    const DriverFunctions& fn() const { return m_device.fn(); }
    HAPPLICATION handle() const { return m_handle; }
    const std::string& name() const { return m_name; }

private:
    Device& m_device;
    std::string m_name;
    HAPPLICATION m_handle = nullptr;
};

class Container
{
public:
    enum class Mode { Open, Create };
    Container(Application& application, const std::string& name, Mode mode = Mode::Open);
    ~Container();
    Container(const Container&) = delete;
    Container& operator=(const Container&) = delete;

    const DriverFunctions& fn() const { return m_application.fn(); }
    HCONTAINER handle() const { return m_handle; }
    const std::string& name() const { return m_name; }
    // CONTAINER_TYPE_EMPTY, CONTAINER_TYPE_RSA or CONTAINER_TYPE_ECC.
    ULONG type() const;

private:
    Application& m_application;
    std::string m_name;
    HCONTAINER m_handle = nullptr;
};

// Splits a driver's multi-string; accepts the empty forms "\0\0", "\0" and size 0, and
// stops at the buffer's end when the terminator is missing.
std::vector<std::string> splitNameList(const std::vector<char>& buffer, size_t size);

std::vector<std::string> enumDevices(const Driver& driver, bool presentOnly);
std::vector<std::string> enumApplications(const Device& device);
std::vector<std::string> enumContainers(const Application& application);

// SM4-ECB device authentication over 8 random bytes from the token, zero-padded to 16.
void authenticateDevice(const Device& device, const std::vector<uint8_t>& authKey);

// Verifies a PIN; a wrong one becomes an SkfError that says how many tries are left.
void verifyPin(const Application& application, ULONG pinType, Secret& pin);

// The public key blob of one pair, or an empty vector when the container has no such pair.
std::vector<uint8_t> exportPublicKey(const Container& container, bool signPair);

// The certificate's DER bytes, or an empty vector when there is none.
std::vector<uint8_t> exportCertificate(const Container& container, bool signCertificate);

// "SM2", "RSA" or "empty".
std::string containerTypeName(ULONG type);

// The device authentication key: 16 bytes from 32 hex digits, or the soft token's default.
std::vector<uint8_t> parseAuthKey(const std::string& hex);
extern const char* const kDefaultAuthKey;

} // namespace skftool
