// The conformance fixture: a fresh store folder for the process, tokens created and
// plugged in through the store commands, and short helpers over the SKF calls.
#pragma once

#include "SkfDriver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace softskf::test {

constexpr const char* kAdminPin = "12345678";
constexpr const char* kUserPin = "87654321";
constexpr ULONG kAdminRetries = 10;
constexpr ULONG kUserRetries = 5;
extern const uint8_t kDefaultDevAuthKey[16];

// This process's store folder, made once and set as SOFTSKF_DIR before the driver loads.
const std::string& testStore();
std::string uniqueSerial(const std::string& prefix);

// Names of a multi-string list, stopping at the buffer's end.
std::vector<std::string> splitList(const char* data, ULONG size);

// The SM4-ECB answer to a device authentication challenge.
std::vector<uint8_t> devAuthAnswer(const uint8_t* key, const uint8_t* challenge8);

class SoftTokenTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates a token, plugs it in and returns its device name.
    std::string plugNewToken(uint32_t capacity = 256 * 1024, const std::string& serial = {});
    DEVHANDLE connect(const std::string& deviceName);
    ULONG deviceAuth(DEVHANDLE device, const uint8_t* key = kDefaultDevAuthKey);
    HAPPLICATION createApp(DEVHANDLE device, const std::string& name = "APP",
                           ULONG createFileRights = SECURE_ANYONE_ACCOUNT);
    ULONG verifyUser(HAPPLICATION app, const char* pin = kUserPin);
    // A plugged token, connected and authenticated, with application "APP" and the user
    // PIN verified.
    HAPPLICATION readyApp();
    HCONTAINER newContainer(HAPPLICATION app, const std::string& name);
    std::vector<std::string> applications(DEVHANDLE device);
    std::vector<std::string> containers(HAPPLICATION app);
    ULONG freeSpace(DEVHANDLE device);

    const SkfDriver* skf = nullptr;
    std::string deviceName;
    DEVHANDLE device = nullptr;
};

} // namespace softskf::test
