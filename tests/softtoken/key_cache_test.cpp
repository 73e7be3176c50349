// Parsed private keys held by the core: none outlives the login that opened it.
#include "core/Core.h"
#include "crypto/Crypto.h"
#include "tokenadmin.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ftw.h>
#include <unistd.h>

using namespace softskf;

namespace {

int removeEntry(const char* path, const struct stat*, int, FTW*)
{
    return remove(path);
}

const crypto::SecureString kAdminPin = "12345678";
const crypto::SecureString kUserPin = "87654321";
const uint8_t kDigest[32] = {7, 7, 7};

} // namespace

class KeyCache : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/softskf-keycache-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_root = pattern;
        // The core reads the store folder once per process: this binary's other tests
        // never use it.
        setenv("SOFTSKF_DIR", m_root.c_str(), 1);
        setenv("SOFTSKF_TEST_SCRYPT_N", "1024", 1);
    }
    void TearDown() override { nftw(m_root.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS); }

    // A plugged token with application APP and a container "c" holding an SM2 signing pair.
    HANDLE readyApp(const std::string& serial)
    {
        admin::TokenOptions options;
        options.serial = serial;
        admin::createToken(options);
        admin::insertToken(serial, "VK-" + serial);
        device = core.connect("VK-" + serial);
        uint8_t challenge[16] = {};
        core.generateRandom(device, challenge, 8);
        const uint8_t key[16] = {'1', '2', '3', '4', '5', '6', '7', '8', '1', '2', '3', '4', '5', '6', '7', '8'};
        const auto answer = crypto::sm4EcbEncrypt(key, challenge, sizeof challenge, false);
        core.deviceAuth(device, answer.data(), answer.size());
        HANDLE app = core.createApplication(device, "APP", kAdminPin, 10, kUserPin, 10, SECURE_ANYONE_ACCOUNT);
        ULONG remaining = 0;
        EXPECT_EQ(core.verifyPin(app, USER_TYPE, kUserPin, remaining), SAR_OK);
        container = core.createContainer(app, "c");
        core.generateEccKeyPair(container, SGD_SM2_1);
        return app;
    }

    void sign() { core.eccSign(container, kDigest, sizeof kDigest); }

    core::Core& core = core::Core::instance();
    HANDLE device = nullptr;
    HANDLE container = nullptr;
    std::string m_root;
};

TEST_F(KeyCache, parsedKeysGoWithClearSecureStateAFailedVerificationDeletionAndRemoval)
{
    HANDLE app = readyApp("KC1");
    ULONG remaining = 0;
    sign();
    ASSERT_EQ(core.parsedKeyCount(), 1u);
    core.clearSecureState(app);
    EXPECT_EQ(core.parsedKeyCount(), 0u) << "SKF_ClearSecureState";

    ASSERT_EQ(core.verifyPin(app, USER_TYPE, kUserPin, remaining), SAR_OK);
    sign();
    ASSERT_EQ(core.parsedKeyCount(), 1u);
    EXPECT_EQ(core.verifyPin(app, USER_TYPE, "00000000", remaining), SAR_PIN_INCORRECT);
    EXPECT_EQ(core.parsedKeyCount(), 0u) << "a failed verification";

    ASSERT_EQ(core.verifyPin(app, USER_TYPE, kUserPin, remaining), SAR_OK);
    sign();
    ASSERT_EQ(core.parsedKeyCount(), 1u);
    admin::removeToken("VK-KC1");
    EXPECT_THROW(sign(), core::SkfError);
    EXPECT_EQ(core.parsedKeyCount(), 0u) << "removal";

    admin::insertToken("KC1", "VK-KC1");
    device = core.connect("VK-KC1");
    app = core.openApplication(device, "APP");
    container = core.openContainer(app, "c");
    ASSERT_EQ(core.verifyPin(app, USER_TYPE, kUserPin, remaining), SAR_OK);
    sign();
    ASSERT_EQ(core.parsedKeyCount(), 1u);
    uint8_t challenge[16] = {};
    core.generateRandom(device, challenge, 8);
    const uint8_t key[16] = {'1', '2', '3', '4', '5', '6', '7', '8', '1', '2', '3', '4', '5', '6', '7', '8'};
    const auto answer = crypto::sm4EcbEncrypt(key, challenge, sizeof challenge, false);
    core.deviceAuth(device, answer.data(), answer.size());
    core.deleteApplication(device, "APP");
    EXPECT_EQ(core.parsedKeyCount(), 0u) << "application deletion";
}
