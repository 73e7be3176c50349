// The driver's device, application and container handles, and the client steps every
// command shares: name lists, device authentication, PIN checks,
// reading public keys and certificates with the length convention.
#pragma once

#include "driver.h"
#include "secret.h"
#include "skf/client.h"

#include <cstdint>
#include <string>
#include <vector>

namespace skftool {

// The shared owners of the driver's handles, over skftool's table of driver functions.
using Device = skfclient::DeviceHandle<DriverFunctions>;
using Application = skfclient::ApplicationHandle<DriverFunctions>;
using Container = skfclient::ContainerHandle<DriverFunctions>;

// Splits a driver's multi-string; accepts the empty forms "\0\0", "\0" and size 0, and
// stops at the buffer's end when the terminator is missing.
std::vector<std::string> splitNameList(const std::vector<char>& buffer, size_t size);

std::vector<std::string> enumDevices(const Driver& driver, bool presentOnly);
std::vector<std::string> enumApplications(const Device& device);
std::vector<std::string> enumContainers(const Application& application);

// SM4-ECB device authentication over 8 random bytes from the token, zero-padded to 16.
void authenticateDevice(const Device& device, const std::vector<uint8_t>& authKey);

// Verifies a PIN; a wrong one becomes a SarError that says how many tries are left.
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
