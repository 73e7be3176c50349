// The device manager against the scriptable fake driver: finding a device by name, handle
// effects, argument checks, and the hand-over fields the monitor writes.
#include "cdevmgr.h"

#include "cgmskfoperator.h"
#include "fakeskf_control.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

class DeviceManager : public testing::Test
{
protected:
    void SetUp() override
    {
        FakeSkf_Reset();
        manager = cDevMgr::getInst();
        manager->resetForTests();
        cDevMgr::setDriverPath(FAKE_SCRIPTED_DRIVER);
        ASSERT_EQ(manager->Initialize(), 0);
    }

    void setDevices(const std::string& list) { FakeSkf_SetDeviceList(list.data(), list.size(), -1); }

    cDevMgr* manager = nullptr;
};

} // namespace

TEST(DeviceManagerSingleton, bothThreadsAskingFirst_getTheSameInstance)
{
    cDevMgr* fromWorker = nullptr;
    std::thread worker([&] { fromWorker = cDevMgr::getInst(); });
    cDevMgr* fromHere = cDevMgr::getInst();
    worker.join();
    EXPECT_EQ(fromHere, fromWorker);
}

TEST(DeviceManagerSingleton, anUnloadableDriver_keepsNoBindingAndWaitsReportMissing)
{
    cDevMgr* manager = cDevMgr::getInst();
    manager->resetForTests();
    cDevMgr::setDriverPath("/nonexistent/libdriver.so");
    testing::internal::CaptureStderr();
    EXPECT_EQ(manager->Initialize(), -1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(manager->binding(), nullptr);
    char name[16];
    ULONG length = sizeof name;
    ULONG event = 0;
    EXPECT_EQ(manager->WaitForDevEvent(name, &length, &event), 0xFFFFFFFFu);
}

TEST_F(DeviceManager, getDevInfo_matchesAListedNameThatTheRequestedNameExtends)
{
    setDevices(std::string("TOKEN\0OTHER\0\0", 13));
    DEVINFO info{};
    EXPECT_EQ(manager->getDevInfo("TOKEN-42", &info), SAR_OK);
    EXPECT_STREQ(FakeSkf_LastArgument("SKF_ConnectDev"), "TOKEN-42");
    EXPECT_NE(manager->currentDevice(), nullptr);
}

TEST_F(DeviceManager, getDevInfo_refusesANameThatIsOnlyAPrefixOfAListedOne)
{
    setDevices(std::string("TOKEN-42\0\0", 10));
    DEVINFO info{};
    EXPECT_EQ(manager->getDevInfo("TOKEN", &info), SAR_INVALIDPARAMERR);
    EXPECT_EQ(FakeSkf_CallCount("SKF_ConnectDev"), 0u);
}

TEST_F(DeviceManager, getDevInfo_refusesNullEmptyAndAbsentNames)
{
    DEVINFO info{};
    EXPECT_EQ(manager->getDevInfo(nullptr, &info), SAR_INVALIDPARAMERR);
    EXPECT_EQ(manager->getDevInfo("", &info), SAR_INVALIDPARAMERR);
    for (const std::string& empty : {std::string(), std::string(1, '\0'), std::string(2, '\0')}) {
        setDevices(empty);
        EXPECT_EQ(manager->getDevInfo("TOKEN", &info), SAR_INVALIDPARAMERR);
    }
}

TEST_F(DeviceManager, getDevInfo_passesUpAFailedConnectOrDeviceInfo)
{
    setDevices(std::string("TOKEN\0\0", 7));
    DEVINFO info{};
    FakeSkf_SetResult("SKF_ConnectDev", SAR_DEVICE_REMOVED);
    EXPECT_EQ(manager->getDevInfo("TOKEN", &info), SAR_DEVICE_REMOVED);
    FakeSkf_SetResult("SKF_ConnectDev", SAR_OK);
    FakeSkf_SetResult("SKF_GetDevInfo", SAR_FAIL);
    EXPECT_EQ(manager->getDevInfo("TOKEN", &info), SAR_FAIL);
}

TEST_F(DeviceManager, getDevInfo_walksAListWithoutItsClosingNameOnlyToTheBufferEnd)
{
    // Names with no terminator at all, and a size that claims less than is there.
    setDevices(std::string(300, 'A'));
    DEVINFO info{};
    EXPECT_EQ(manager->getDevInfo("B", &info), SAR_INVALIDPARAMERR);
    FakeSkf_SetDeviceList("ABCDEF", 6, 3);
    EXPECT_EQ(manager->getDevInfo("ABCX", &info), SAR_OK);
    EXPECT_EQ(manager->getDevInfo("ABX", &info), SAR_INVALIDPARAMERR);
}

TEST_F(DeviceManager, getDevInfo_keepsTheApplicationAndContainerHandles)
{
    setDevices(std::string("TOKEN\0\0", 7));
    ASSERT_EQ(manager->ConnectDev("TOKEN"), SAR_OK);
    ASSERT_EQ(manager->OpenApplication("APP"), SAR_OK);
    ASSERT_EQ(manager->OpenContainer("C1"), SAR_OK);
    HAPPLICATION application = manager->currentApplication();
    HCONTAINER container = manager->currentContainer();
    DEVINFO info{};
    ASSERT_EQ(manager->getDevInfo("TOKEN", &info), SAR_OK);
    EXPECT_EQ(manager->currentApplication(), application);
    EXPECT_EQ(manager->currentContainer(), container);
}

TEST_F(DeviceManager, connectDev_withNullName_refusesAndKeepsEveryHandle)
{
    ASSERT_EQ(manager->ConnectDev("TOKEN"), SAR_OK);
    ASSERT_EQ(manager->OpenApplication("APP"), SAR_OK);
    DEVHANDLE device = manager->currentDevice();
    HAPPLICATION application = manager->currentApplication();
    EXPECT_EQ(manager->ConnectDev(nullptr), 0x0A000006u);
    EXPECT_EQ(manager->currentDevice(), device);
    EXPECT_EQ(manager->currentApplication(), application);
}

TEST_F(DeviceManager, aFailedConnect_leavesApplicationAndContainerEmpty)
{
    ASSERT_EQ(manager->ConnectDev("TOKEN"), SAR_OK);
    ASSERT_EQ(manager->OpenApplication("APP"), SAR_OK);
    ASSERT_EQ(manager->OpenContainer("C1"), SAR_OK);
    FakeSkf_SetResult("SKF_ConnectDev", SAR_FAIL);
    EXPECT_EQ(manager->ConnectDev("TOKEN"), SAR_FAIL);
    EXPECT_EQ(manager->currentApplication(), nullptr);
    EXPECT_EQ(manager->currentContainer(), nullptr);
}

TEST_F(DeviceManager, setDevLabel_refusesANullLabelAndForwardsOthers)
{
    EXPECT_EQ(manager->SetDevLabel(nullptr, 0), SAR_INVALIDPARAMERR);
    EXPECT_EQ(FakeSkf_CallCount("SKF_SetLabel"), 0u);
    EXPECT_EQ(manager->SetDevLabel("New label", 0), SAR_OK);
    EXPECT_STREQ(FakeSkf_LastArgument("SKF_SetLabel"), "New label");
}

TEST_F(DeviceManager, getContainerInfo_writesTheTypeOrZeroWhenTheDriverCannotTell)
{
    FakeSkf_SetContainerType("RSA", CONTAINER_TYPE_RSA, SAR_OK);
    FakeSkf_SetContainerType("BROKEN", CONTAINER_TYPE_ECC, SAR_FAIL);
    ContainerInfo info;
    std::memset(&info, 0xEE, sizeof info);

    ASSERT_EQ(manager->OpenContainer("RSA"), SAR_OK);
    EXPECT_EQ(manager->GetContainerInfo(&info), SAR_OK);
    EXPECT_EQ(info.ContainerType, 1);

    ASSERT_EQ(manager->OpenContainer("BROKEN"), SAR_OK);
    EXPECT_EQ(manager->GetContainerInfo(&info), SAR_FAIL);
    EXPECT_EQ(info.ContainerType, 0);
    EXPECT_EQ(info.Reserved[0], 0xEE) << "only byte 0 is the manager's to write";
}

TEST_F(DeviceManager, pinOperations_reachTheCurrentApplicationWithTheirAnswers)
{
    FakeSkf_SetPinAnswer(SAR_PIN_INCORRECT, 4);
    ULONG retry = 0;
    EXPECT_EQ(manager->VerifyPIN(USER_TYPE, "123456", &retry), SAR_PIN_INCORRECT);
    EXPECT_EQ(retry, 4u);
    EXPECT_STREQ(FakeSkf_LastArgument("SKF_VerifyPIN"), "123456");
    FakeSkf_SetPinInfo(ADMIN_TYPE, 10, 7, FALSE);
    ULONG maxRetry = 0, remain = 0;
    BOOL isDefault = TRUE;
    EXPECT_EQ(manager->GetPINInfo(ADMIN_TYPE, &maxRetry, &remain, &isDefault), SAR_OK);
    EXPECT_EQ(maxRetry, 10u);
    EXPECT_EQ(remain, 7u);
    EXPECT_EQ(isDefault, FALSE);
}

TEST_F(DeviceManager, exportCertificate_followsTheLengthConvention)
{
    const BYTE der[] = {0x30, 0x03, 0x02, 0x01, 0x05};
    FakeSkf_SetCertificate("C1", TRUE, der, sizeof der);
    ASSERT_EQ(manager->OpenContainer("C1"), SAR_OK);
    ULONG length = 0;
    EXPECT_EQ(manager->ExportCertificate(TRUE, nullptr, &length), SAR_OK);
    EXPECT_EQ(length, sizeof der);
    std::vector<BYTE> out(length);
    EXPECT_EQ(manager->ExportCertificate(TRUE, out.data(), &length), SAR_OK);
    EXPECT_EQ(std::vector<BYTE>(der, der + sizeof der), out);
    EXPECT_EQ(manager->ExportCertificate(FALSE, nullptr, &length), SAR_CERTNOTFOUNTERR);
}

TEST_F(DeviceManager, operationsBeforeTheDriverIsLoaded_reportMissingInsteadOfCrashing)
{
    manager->resetForTests();
    ULONG size = 0;
    EXPECT_EQ(manager->ConnectDev("TOKEN"), 0xFFFFFFFFu);
    EXPECT_EQ(manager->EnumApplication(nullptr, &size), 0xFFFFFFFFu);
    ContainerInfo info{};
    EXPECT_EQ(manager->GetContainerInfo(&info), 0xFFFFFFFFu);
}

TEST(DeviceManagerHandOver, aLongDeviceName_isCutTo63BytesNotOverflowed)
{
    cDevMgr* manager = cDevMgr::getInst();
    const std::string longName(200, 'N');
    EXPECT_EQ(manager->SetDevName(longName.c_str()), 0);
    EXPECT_EQ(manager->GetDevName(), std::string(63, 'N'));
    manager->SetDevName("short");
    EXPECT_EQ(manager->GetDevName(), "short");
}

TEST(DeviceManagerHandOver, eventAndNameWrittenByAnotherThread_areReadWhole)
{
    cDevMgr* manager = cDevMgr::getInst();
    const std::string first(40, 'a');
    const std::string second(20, 'b');
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) {
            manager->SetDevName((i % 2 ? first : second).c_str());
            manager->SetEvent(1 + i % 2);
        }
    });
    for (int i = 0; i < 20000; ++i) {
        const std::string name = manager->GetDevName();
        ASSERT_TRUE(name == first || name == second || name == "short" || name.empty()) << name;
        const ULONG event = manager->GetEvent();
        ASSERT_TRUE(event <= 2);
    }
    writer.join();
}
