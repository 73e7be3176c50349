// What the token may take as known between two calls: a presence file unchanged since
// connect (looked at again only when the store reports a change), and a user PIN verified
// in this process. A token pulled and plugged in again, a presence folder replaced, or a
// PIN locked by another process must show at the very next call.
#include "ProbeProcess.h"
#include "TokenFixture.h"

#include "tokenadmin.h"

#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace softskf;
using namespace softskf::test;

namespace {

const uint8_t kDigest[32] = {0x5a, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

} // namespace

class CacheRules : public SoftTokenTest
{
protected:
    // A container with an SM2 signing pair; the user PIN is verified.
    HCONTAINER signingContainer(HAPPLICATION app, ECCPUBLICKEYBLOB& publicKey)
    {
        HCONTAINER container = newContainer(app, "c");
        EXPECT_EQ(skf->SKF_GenECCKeyPair(container, SGD_SM2_1, &publicKey), SAR_OK);
        return container;
    }

    ULONG sign(HCONTAINER container, ECCSIGNATUREBLOB& signature)
    {
        return skf->SKF_ECCSignData(container, const_cast<BYTE*>(kDigest), 32, &signature);
    }

    ULONG verify(DEVHANDLE handle, ECCPUBLICKEYBLOB& publicKey, ECCSIGNATUREBLOB& signature)
    {
        return skf->SKF_ECCVerify(handle, &publicKey, const_cast<BYTE*>(kDigest), 32, &signature);
    }

    void tryPinInAnotherProcess(const char* pin)
    {
        ProbeProcess probe({"verify", deviceName, pin});
        EXPECT_NE(probe.readLine(), "TIMEOUT");
        EXPECT_EQ(probe.finish(), 0);
    }
};

TEST_F(CacheRules, aTokenPulledAndPluggedInWithNoCallBetween_answersDeviceRemovedOnEveryOldHandle)
{
    HAPPLICATION app = readyApp();
    ECCPUBLICKEYBLOB publicKey{};
    HCONTAINER container = signingContainer(app, publicKey);
    ECCSIGNATUREBLOB signature{};
    ASSERT_EQ(sign(container, signature), SAR_OK);
    ASSERT_EQ(verify(device, publicKey, signature), SAR_OK);

    // Back to back, many times: the new presence file often gets the old one's inode
    // within the same clock tick.
    for (int round = 0; round < 20; ++round) {
        admin::removeToken(deviceName);
        admin::insertToken(deviceName.substr(3), deviceName);
        ASSERT_EQ(sign(container, signature), SAR_DEVICE_REMOVED) << "round " << round;
        ASSERT_EQ(verify(device, publicKey, signature), SAR_DEVICE_REMOVED) << "round " << round;
    }

    DEVHANDLE fresh = connect(deviceName);
    HAPPLICATION freshApp = nullptr;
    ASSERT_EQ(skf->SKF_OpenApplication(fresh, const_cast<char*>("APP"), &freshApp), SAR_OK);
    HCONTAINER freshContainer = nullptr;
    ASSERT_EQ(skf->SKF_OpenContainer(freshApp, const_cast<char*>("c"), &freshContainer), SAR_OK);
    EXPECT_EQ(sign(freshContainer, signature), SAR_USER_NOT_LOGGED_IN) << "a new insertion needs the PIN again";
    ASSERT_EQ(verifyUser(freshApp), SAR_OK);
    EXPECT_EQ(sign(freshContainer, signature), SAR_OK);
    EXPECT_EQ(verify(fresh, publicKey, signature), SAR_OK);
    skf->SKF_DisConnectDev(fresh);
}

TEST_F(CacheRules, aPresenceFileRewrittenForAnotherSerial_endsTheOldHandles)
{
    HAPPLICATION app = readyApp();
    ECCPUBLICKEYBLOB publicKey{};
    HCONTAINER container = signingContainer(app, publicKey);
    const std::string other = uniqueSerial("OTHER");
    admin::TokenOptions options;
    options.serial = other;
    admin::createToken(options);
    // The same device name now names another token, written as the store commands write.
    const std::string presence = testStore() + "/present/" + deviceName;
    const std::string temporary = testStore() + "/present/.rewrite";
    {
        std::ofstream(temporary) << other << "\n";
    }
    ASSERT_EQ(std::rename(temporary.c_str(), presence.c_str()), 0);
    ECCSIGNATUREBLOB signature{};
    EXPECT_EQ(sign(container, signature), SAR_DEVICE_REMOVED);
    EXPECT_EQ(verify(device, publicKey, signature), SAR_DEVICE_REMOVED);
}

TEST_F(CacheRules, aUserPinLockedByAnotherProcessBetweenTwoSignatures_stopsTheSecond)
{
    HAPPLICATION app = readyApp();
    ECCPUBLICKEYBLOB publicKey{};
    HCONTAINER container = signingContainer(app, publicKey);
    ECCSIGNATUREBLOB signature{};
    ASSERT_EQ(sign(container, signature), SAR_OK);

    // A wrong try elsewhere leaves this process logged in: only a lock ends the login.
    tryPinInAnotherProcess("00000000");
    EXPECT_EQ(sign(container, signature), SAR_OK);

    for (ULONG attempt = 1; attempt < kUserRetries; ++attempt) {
        tryPinInAnotherProcess("00000000");
    }
    EXPECT_EQ(sign(container, signature), SAR_PIN_LOCKED);
    EXPECT_EQ(sign(container, signature), SAR_USER_NOT_LOGGED_IN) << "the login is gone, not only paused";
    // Public-key work needs no login and goes on: the last good signature still verifies.
    EXPECT_EQ(verify(device, publicKey, signature), SAR_OK);

    ULONG retries = 0;
    ASSERT_EQ(skf->SKF_UnblockPIN(app, const_cast<char*>(kAdminPin), const_cast<char*>("13572468"), &retries), SAR_OK);
    ASSERT_EQ(verifyUser(app, "13572468"), SAR_OK);
    EXPECT_EQ(sign(container, signature), SAR_OK);
    EXPECT_EQ(verify(device, publicKey, signature), SAR_OK);
}

TEST_F(CacheRules, aPresenceFolderReplacedWhole_endsTheOldHandles)
{
    HAPPLICATION app = readyApp();
    ECCPUBLICKEYBLOB publicKey{};
    HCONTAINER container = signingContainer(app, publicKey);
    ECCSIGNATUREBLOB signature{};
    ASSERT_EQ(sign(container, signature), SAR_OK);

    // The folder moved away and a new one made with copies of every presence file: every
    // token is plugged in again, under new files.
    const std::string present = testStore() + "/present";
    const std::string old = testStore() + "/present-old";
    ASSERT_EQ(std::rename(present.c_str(), old.c_str()), 0);
    ASSERT_EQ(mkdir(present.c_str(), 0700), 0);
    DIR* dir = opendir(old.c_str());
    ASSERT_NE(dir, nullptr);
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name[0] != '.') {
            std::ifstream in(old + "/" + name);
            std::ofstream(present + "/" + name) << in.rdbuf();
            std::remove((old + "/" + name).c_str());
        }
    }
    closedir(dir);
    rmdir(old.c_str());

    EXPECT_EQ(sign(container, signature), SAR_DEVICE_REMOVED);
    EXPECT_EQ(verify(device, publicKey, signature), SAR_DEVICE_REMOVED);
    DEVHANDLE fresh = connect(deviceName);
    DEVINFO info{};
    EXPECT_EQ(skf->SKF_GetDevInfo(fresh, &info), SAR_OK);
    skf->SKF_DisConnectDev(fresh);
}

TEST_F(CacheRules, aUserPinLockedByAnotherProcess_endsTheLoginForContainersCertificatesAndProtectedFiles)
{
    HAPPLICATION app = readyApp();
    HCONTAINER kept = newContainer(app, "kept");
    const auto certificate = std::vector<uint8_t>(200, 0x30);
    ASSERT_EQ(skf->SKF_CreateFile(app, const_cast<char*>("private"), 8, SECURE_USER_ACCOUNT, SECURE_USER_ACCOUNT),
              SAR_OK);
    BYTE data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(skf->SKF_WriteFile(app, const_cast<char*>("private"), 0, data, sizeof data), SAR_OK);

    struct Call
    {
        const char* name;
        std::function<ULONG()> run;
    };
    HCONTAINER made = nullptr;
    const std::vector<Call> calls = {
        {"create container", [&] { return skf->SKF_CreateContainer(app, const_cast<char*>("new"), &made); }},
        {"delete container", [&] { return skf->SKF_DeleteContainer(app, const_cast<char*>("kept")); }},
        {"import certificate",
         [&] {
             return skf->SKF_ImportCertificate(kept, TRUE, const_cast<BYTE*>(certificate.data()),
                                               static_cast<ULONG>(certificate.size()));
         }},
        {"read file",
         [&] {
             BYTE out[8] = {};
             ULONG size = sizeof out;
             return skf->SKF_ReadFile(app, const_cast<char*>("private"), 0, sizeof out, out, &size);
         }},
        {"write file", [&] { return skf->SKF_WriteFile(app, const_cast<char*>("private"), 0, data, sizeof data); }},
    };
    int round = 0;
    for (const auto& call : calls) {
        for (ULONG attempt = 0; attempt < kUserRetries; ++attempt) {
            tryPinInAnotherProcess("00000000");
        }
        EXPECT_EQ(call.run(), SAR_PIN_LOCKED) << call.name;
        EXPECT_EQ(call.run(), SAR_USER_NOT_LOGGED_IN) << call.name << ": the login is gone";
        ULONG retries = 0;
        const std::string next = "2468013" + std::to_string(round++);
        ASSERT_EQ(skf->SKF_UnblockPIN(app, const_cast<char*>(kAdminPin), const_cast<char*>(next.c_str()), &retries),
                  SAR_OK);
        ASSERT_EQ(verifyUser(app, next.c_str()), SAR_OK);
    }
    EXPECT_EQ(containers(app), std::vector<std::string>{"kept"}) << "no locked call changed anything";
}

TEST_F(CacheRules, aPinChangedByAnotherProcess_endsThisLoginRatherThanUsingTheReplacedKey)
{
    HAPPLICATION app = readyApp();
    ECCPUBLICKEYBLOB publicKey{};
    HCONTAINER container = signingContainer(app, publicKey);
    ECCSIGNATUREBLOB signature{};
    ASSERT_EQ(sign(container, signature), SAR_OK);
    {
        ProbeProcess probe({"change", deviceName, kUserPin, "11223344"});
        EXPECT_EQ(probe.readLine(), std::to_string(SAR_OK));
        EXPECT_EQ(probe.finish(), 0);
    }
    EXPECT_EQ(sign(container, signature), SAR_USER_NOT_LOGGED_IN);
    HCONTAINER another = nullptr;
    ECCPUBLICKEYBLOB otherKey{};
    ASSERT_EQ(skf->SKF_OpenContainer(app, const_cast<char*>("c"), &another), SAR_OK);
    EXPECT_EQ(skf->SKF_GenECCKeyPair(another, SGD_SM2_1, &otherKey), SAR_USER_NOT_LOGGED_IN)
        << "a key sealed under the old application key would be lost";
    ASSERT_EQ(verifyUser(app, "11223344"), SAR_OK);
    ASSERT_EQ(sign(container, signature), SAR_OK);
    EXPECT_EQ(verify(device, publicKey, signature), SAR_OK);
}
