// Devices: lists and the length convention, device information, label, random bytes,
// device authentication, device state and locking.
#include "TokenFixture.h"

#include "tokenadmin.h"

#include <algorithm>
#include <cstring>

using namespace softskf;
using namespace softskf::test;

namespace {

bool listed(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::vector<std::string> devices(const SkfDriver* skf, BOOL present)
{
    ULONG size = 0;
    EXPECT_EQ(skf->SKF_EnumDev(present, nullptr, &size), SAR_OK);
    std::vector<char> buffer(size);
    EXPECT_EQ(skf->SKF_EnumDev(present, buffer.data(), &size), SAR_OK);
    return splitList(buffer.data(), size);
}

} // namespace

class Devices : public SoftTokenTest
{
};

TEST_F(Devices, enumDev_listsPluggedTokens_andEveryTokenWhenAskedForAll)
{
    const std::string plugged = plugNewToken();
    admin::TokenOptions options;
    options.serial = uniqueSerial("U");
    admin::createToken(options);

    const auto present = devices(skf, TRUE);
    EXPECT_TRUE(listed(present, plugged));
    EXPECT_FALSE(listed(present, "VK-" + options.serial));
    const auto all = devices(skf, FALSE);
    EXPECT_TRUE(listed(all, plugged));
    EXPECT_TRUE(listed(all, "VK-" + options.serial));
}

TEST_F(Devices, enumDev_followsTheLengthConvention)
{
    plugNewToken();
    ULONG needed = 0;
    ASSERT_EQ(skf->SKF_EnumDev(TRUE, nullptr, &needed), SAR_OK);
    ASSERT_GT(needed, 2u);

    std::vector<char> buffer(needed + 8, 'x');
    ULONG size = needed - 1;
    EXPECT_EQ(skf->SKF_EnumDev(TRUE, buffer.data(), &size), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, needed);

    size = static_cast<ULONG>(buffer.size());
    ASSERT_EQ(skf->SKF_EnumDev(TRUE, buffer.data(), &size), SAR_OK);
    EXPECT_EQ(size, needed);
    EXPECT_EQ(buffer[needed - 1], '\0');
    EXPECT_EQ(buffer[needed - 2], '\0');
}

TEST_F(Devices, anEmptyApplicationList_isTheEmptyMultiString)
{
    device = connect(plugNewToken());
    ULONG size = 0;
    ASSERT_EQ(skf->SKF_EnumApplication(device, nullptr, &size), SAR_OK);
    ASSERT_LE(size, 2u);
    char buffer[4] = {'x', 'x', 'x', 'x'};
    size = sizeof buffer;
    ASSERT_EQ(skf->SKF_EnumApplication(device, buffer, &size), SAR_OK);
    EXPECT_TRUE(splitList(buffer, size).empty());
}

TEST_F(Devices, getDevInfo_fillsEveryField)
{
    const std::string serial = uniqueSerial("I");
    device = connect(plugNewToken(256 * 1024, serial));
    DEVINFO info;
    std::memset(&info, 0xAB, sizeof info);
    ASSERT_EQ(skf->SKF_GetDevInfo(device, &info), SAR_OK);

    EXPECT_EQ(info.Version.major, 1);
    EXPECT_STREQ(reinterpret_cast<char*>(info.Manufacturer), "Velkora");
    EXPECT_STREQ(reinterpret_cast<char*>(info.Issuer), "Velkora Soft Token");
    EXPECT_STREQ(reinterpret_cast<char*>(info.Label), "Velkora Z Idi");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.SerialNumber), serial.size()), serial);
    EXPECT_EQ(info.HWVersion.major, 1);
    EXPECT_EQ(info.HWVersion.minor, 0);
    EXPECT_EQ(info.FirmwareVersion.major, 1);
    EXPECT_NE(info.AlgSymCap & SGD_SM4_ECB, 0u);
    EXPECT_NE(info.AlgAsymCap & SGD_SM2_1, 0u);
    EXPECT_NE(info.AlgAsymCap & SGD_RSA, 0u);
    EXPECT_NE(info.AlgHashCap & SGD_SM3, 0u);
    EXPECT_EQ(ULONG(info.DevAuthAlgId), SGD_SM4_ECB);
    EXPECT_EQ(ULONG(info.TotalSpace), 256u * 1024);
    EXPECT_EQ(ULONG(info.FreeSpace), ULONG(info.TotalSpace));
    EXPECT_GT(ULONG(info.MaxBufferSize), 0u);
    EXPECT_TRUE(std::all_of(info.Reserved, info.Reserved + sizeof info.Reserved, [](BYTE b) { return b == 0; }));
}

TEST_F(Devices, setLabel_takesOneTo31Bytes_andEveryConnectionSeesIt)
{
    deviceName = plugNewToken();
    device = connect(deviceName);
    const std::string longest(31, 'L');
    ASSERT_EQ(skf->SKF_SetLabel(device, const_cast<char*>(longest.c_str())), SAR_OK);
    EXPECT_NE(skf->SKF_SetLabel(device, const_cast<char*>(std::string(32, 'L').c_str())), SAR_OK);
    EXPECT_NE(skf->SKF_SetLabel(device, const_cast<char*>("")), SAR_OK);

    DEVHANDLE other = connect(deviceName);
    DEVINFO info{};
    ASSERT_EQ(skf->SKF_GetDevInfo(other, &info), SAR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.Label), 32), longest + '\0');
    skf->SKF_DisConnectDev(other);
}

TEST_F(Devices, genRandom_givesFreshBytes)
{
    device = connect(plugNewToken());
    std::vector<uint8_t> first(32);
    std::vector<uint8_t> second(32);
    ASSERT_EQ(skf->SKF_GenRandom(device, first.data(), 32), SAR_OK);
    ASSERT_EQ(skf->SKF_GenRandom(device, second.data(), 32), SAR_OK);
    EXPECT_NE(first, second);
}

TEST_F(Devices, deviceAuthentication_gatesApplicationCreation_andAnswersOnce)
{
    device = connect(plugNewToken());
    HAPPLICATION app = nullptr;
    EXPECT_NE(skf->SKF_CreateApplication(device, const_cast<char*>("APP"), const_cast<char*>(kAdminPin), 10,
                                         const_cast<char*>(kUserPin), 10, SECURE_ANYONE_ACCOUNT, &app),
              SAR_OK);

    uint8_t challenge[8];
    ASSERT_EQ(skf->SKF_GenRandom(device, challenge, 8), SAR_OK);
    const uint8_t wrongKey[16] = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    auto wrong = devAuthAnswer(wrongKey, challenge);
    EXPECT_NE(skf->SKF_DevAuth(device, wrong.data(), 16), SAR_OK);

    ASSERT_EQ(skf->SKF_GenRandom(device, challenge, 8), SAR_OK);
    auto right = devAuthAnswer(kDefaultDevAuthKey, challenge);
    ASSERT_EQ(skf->SKF_DevAuth(device, right.data(), 16), SAR_OK);
    EXPECT_NE(skf->SKF_DevAuth(device, right.data(), 16), SAR_OK) << "a replayed answer must fail";
    EXPECT_EQ(applications(device).size(), 0u);
}

TEST_F(Devices, changeDevAuthKey_needsAuthentication_andTheNewKeyWorks)
{
    deviceName = plugNewToken();
    device = connect(deviceName);
    uint8_t newKey[16];
    for (int i = 0; i < 16; ++i) {
        newKey[i] = static_cast<uint8_t>(0xA0 + i);
    }
    EXPECT_NE(skf->SKF_ChangeDevAuthKey(device, newKey, 16), SAR_OK);
    ASSERT_EQ(deviceAuth(device), SAR_OK);
    ASSERT_EQ(skf->SKF_ChangeDevAuthKey(device, newKey, 16), SAR_OK);

    DEVHANDLE other = connect(deviceName);
    EXPECT_NE(deviceAuth(other), SAR_OK);
    EXPECT_EQ(deviceAuth(other, newKey), SAR_OK);
    skf->SKF_DisConnectDev(other);
}

TEST_F(Devices, getDevState_tellsPresentFromAbsent)
{
    const std::string serial = uniqueSerial("S");
    const std::string name = plugNewToken(256 * 1024, serial);
    ULONG state = 99;
    ASSERT_EQ(skf->SKF_GetDevState(const_cast<char*>(name.c_str()), &state), SAR_OK);
    EXPECT_EQ(state, DEV_PRESENT_STATE);
    admin::removeToken(serial);
    ASSERT_EQ(skf->SKF_GetDevState(const_cast<char*>(name.c_str()), &state), SAR_OK);
    EXPECT_EQ(state, DEV_ABSENT_STATE);
}

TEST_F(Devices, lockDev_keepsOtherHandlesOut_untilUnlocked)
{
    deviceName = plugNewToken();
    device = connect(deviceName);
    DEVHANDLE other = connect(deviceName);
    ASSERT_EQ(skf->SKF_LockDev(device, 1000), SAR_OK);
    EXPECT_EQ(skf->SKF_LockDev(other, 50), SAR_TIMEOUTERR);
    ASSERT_EQ(skf->SKF_UnlockDev(device), SAR_OK);
    EXPECT_EQ(skf->SKF_LockDev(other, 50), SAR_OK);
    skf->SKF_DisConnectDev(other); // disconnecting releases the lock
    EXPECT_EQ(skf->SKF_LockDev(device, 50), SAR_OK);
}

TEST_F(Devices, transmit_isNotSupported_byASoftToken)
{
    device = connect(plugNewToken());
    uint8_t command[4] = {0x00, 0xA4, 0x04, 0x00};
    uint8_t response[16];
    ULONG size = sizeof response;
    EXPECT_EQ(skf->SKF_Transmit(device, command, sizeof command, response, &size), SAR_NOTSUPPORTYETERR);
}
