// The conformance fixture.
#include "TokenFixture.h"

#include "tokenadmin.h"

#include <atomic>
#include <cstdlib>
#include <ftw.h>
#include <openssl/evp.h>
#include <stdexcept>
#include <unistd.h>

namespace softskf::test {

const uint8_t kDefaultDevAuthKey[16] = {'1', '2', '3', '4', '5', '6', '7', '8', '1', '2', '3', '4', '5', '6', '7', '8'};

namespace {

int removeEntry(const char* path, const struct stat*, int, FTW*)
{
    return remove(path);
}

std::string g_storeToRemove;
pid_t g_storeOwner = 0;

void removeStore()
{
    // Only the process that made the folder removes it, not a forked child.
    if (getpid() == g_storeOwner && !g_storeToRemove.empty()) {
        nftw(g_storeToRemove.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    }
}

} // namespace

const std::string& testStore()
{
    static const std::string store = [] {
        std::string base = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
        std::string pattern = base + "/softskf-test-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            throw std::runtime_error("cannot create a test store");
        }
        setenv("SOFTSKF_DIR", pattern.c_str(), 1);
        g_storeToRemove = pattern;
        g_storeOwner = getpid();
        std::atexit(removeStore);
        return pattern;
    }();
    return store;
}

std::string uniqueSerial(const std::string& prefix)
{
    static std::atomic<int> counter{0};
    return prefix + std::to_string(getpid()) + "x" + std::to_string(++counter);
}

std::vector<std::string> splitList(const char* data, ULONG size)
{
    std::vector<std::string> names;
    std::string current;
    for (ULONG i = 0; i < size; ++i) {
        if (data[i] == '\0') {
            if (current.empty()) {
                break;
            }
            names.push_back(current);
            current.clear();
        } else {
            current.push_back(data[i]);
        }
    }
    return names;
}

std::vector<uint8_t> devAuthAnswer(const uint8_t* key, const uint8_t* challenge8)
{
    uint8_t block[16] = {};
    std::copy(challenge8, challenge8 + 8, block);
    std::vector<uint8_t> out(32);
    int written = 0;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, EVP_sm4_ecb(), nullptr, key, nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, out.data(), &written, block, sizeof block);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(16);
    return out;
}

void SoftTokenTest::SetUp()
{
    testStore();
    skf = &driver();
    ASSERT_EQ(skf->missing, "") << "the driver lacks functions";
}

void SoftTokenTest::TearDown()
{
    if (device) {
        skf->SKF_DisConnectDev(device);
    }
}

std::string SoftTokenTest::plugNewToken(uint32_t capacity, const std::string& serial)
{
    admin::TokenOptions options;
    options.serial = serial.empty() ? uniqueSerial("T") : serial;
    options.capacityBytes = capacity;
    admin::createToken(options);
    const std::string name = admin::defaultDeviceName(options.serial);
    admin::insertToken(options.serial, name);
    return name;
}

DEVHANDLE SoftTokenTest::connect(const std::string& name)
{
    DEVHANDLE handle = nullptr;
    EXPECT_EQ(skf->SKF_ConnectDev(const_cast<char*>(name.c_str()), &handle), SAR_OK) << name;
    return handle;
}

ULONG SoftTokenTest::deviceAuth(DEVHANDLE handle, const uint8_t* key)
{
    uint8_t challenge[8] = {};
    const ULONG rc = skf->SKF_GenRandom(handle, challenge, sizeof challenge);
    if (rc != SAR_OK) {
        return rc;
    }
    auto answer = devAuthAnswer(key, challenge);
    return skf->SKF_DevAuth(handle, answer.data(), static_cast<ULONG>(answer.size()));
}

HAPPLICATION SoftTokenTest::createApp(DEVHANDLE handle, const std::string& name, ULONG createFileRights)
{
    HAPPLICATION app = nullptr;
    EXPECT_EQ(skf->SKF_CreateApplication(handle, const_cast<char*>(name.c_str()), const_cast<char*>(kAdminPin),
                                         kAdminRetries, const_cast<char*>(kUserPin), kUserRetries, createFileRights,
                                         &app),
              SAR_OK);
    return app;
}

ULONG SoftTokenTest::verifyUser(HAPPLICATION app, const char* pin)
{
    ULONG retries = 0;
    return skf->SKF_VerifyPIN(app, USER_TYPE, const_cast<char*>(pin), &retries);
}

HAPPLICATION SoftTokenTest::readyApp()
{
    deviceName = plugNewToken();
    device = connect(deviceName);
    EXPECT_EQ(deviceAuth(device), SAR_OK);
    HAPPLICATION app = createApp(device);
    EXPECT_EQ(verifyUser(app), SAR_OK);
    return app;
}

HCONTAINER SoftTokenTest::newContainer(HAPPLICATION app, const std::string& name)
{
    HCONTAINER container = nullptr;
    EXPECT_EQ(skf->SKF_CreateContainer(app, const_cast<char*>(name.c_str()), &container), SAR_OK) << name;
    return container;
}

std::vector<std::string> SoftTokenTest::applications(DEVHANDLE handle)
{
    ULONG size = 0;
    EXPECT_EQ(skf->SKF_EnumApplication(handle, nullptr, &size), SAR_OK);
    std::vector<char> buffer(size);
    EXPECT_EQ(skf->SKF_EnumApplication(handle, buffer.data(), &size), SAR_OK);
    return splitList(buffer.data(), size);
}

std::vector<std::string> SoftTokenTest::containers(HAPPLICATION app)
{
    ULONG size = 0;
    EXPECT_EQ(skf->SKF_EnumContainer(app, nullptr, &size), SAR_OK);
    std::vector<char> buffer(size);
    EXPECT_EQ(skf->SKF_EnumContainer(app, buffer.data(), &size), SAR_OK);
    return splitList(buffer.data(), size);
}

ULONG SoftTokenTest::freeSpace(DEVHANDLE handle)
{
    DEVINFO info{};
    EXPECT_EQ(skf->SKF_GetDevInfo(handle, &info), SAR_OK);
    return info.FreeSpace;
}

} // namespace softskf::test
