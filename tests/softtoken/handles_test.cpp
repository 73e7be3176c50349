// Stale, foreign, null and wrong-kind handles give an error and never a crash; a pulled
// token's handles say so; a token plugged in again gets fresh handles; a forked child has
// handles of its own.
#include "TokenFixture.h"

#include "tokenadmin.h"

#include <atomic>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace softskf;
using namespace softskf::test;

class Handles : public SoftTokenTest
{
};

TEST_F(Handles, nullForeignAndStaleHandles_areRefused)
{
    HAPPLICATION app = readyApp();
    HCONTAINER container = newContainer(app, "c");
    int local = 0;
    const std::vector<HANDLE> bad{nullptr, &local, reinterpret_cast<HANDLE>(0x10), reinterpret_cast<HANDLE>(~0ull)};
    for (HANDLE handle : bad) {
        DEVINFO info{};
        ULONG value = 0;
        BOOL flag = 0;
        ULONG size = 0;
        EXPECT_EQ(skf->SKF_GetDevInfo(handle, &info), SAR_INVALIDHANDLEERR);
        EXPECT_EQ(skf->SKF_DisConnectDev(handle), SAR_INVALIDHANDLEERR);
        EXPECT_EQ(skf->SKF_GetPINInfo(handle, USER_TYPE, &value, &value, &flag), SAR_INVALIDHANDLEERR);
        EXPECT_EQ(skf->SKF_EnumContainer(handle, nullptr, &size), SAR_INVALIDHANDLEERR);
        EXPECT_EQ(skf->SKF_GetContainerType(handle, &value), SAR_INVALIDHANDLEERR);
        EXPECT_EQ(skf->SKF_ExportCertificate(handle, TRUE, nullptr, &size), SAR_INVALIDHANDLEERR);
        EXPECT_NE(skf->SKF_CloseHandle(handle), SAR_OK);
    }

    // A handle of the wrong kind is as foreign as any other.
    ULONG value = 0;
    BOOL flag = 0;
    DEVINFO info{};
    EXPECT_EQ(skf->SKF_GetContainerType(app, &value), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(skf->SKF_GetPINInfo(device, USER_TYPE, &value, &value, &flag), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(skf->SKF_GetDevInfo(container, &info), SAR_INVALIDHANDLEERR);

    ASSERT_EQ(skf->SKF_CloseContainer(container), SAR_OK);
    EXPECT_EQ(skf->SKF_GetContainerType(container, &value), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(skf->SKF_CloseContainer(container), SAR_INVALIDHANDLEERR);
}

TEST_F(Handles, disconnecting_closesTheApplicationsAndContainersBelow)
{
    HAPPLICATION app = readyApp();
    HCONTAINER container = newContainer(app, "c");
    ASSERT_EQ(skf->SKF_DisConnectDev(device), SAR_OK);
    device = nullptr;
    ULONG value = 0;
    BOOL flag = 0;
    EXPECT_EQ(skf->SKF_GetPINInfo(app, USER_TYPE, &value, &value, &flag), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(skf->SKF_GetContainerType(container, &value), SAR_INVALIDHANDLEERR);
}

TEST_F(Handles, aPulledToken_answersDeviceRemoved_andAReinsertedOneNeedsNewHandles)
{
    HAPPLICATION app = readyApp();
    HCONTAINER container = newContainer(app, "c");
    admin::removeToken(deviceName);
    DEVINFO info{};
    ULONG value = 0;
    EXPECT_EQ(skf->SKF_GetDevInfo(device, &info), SAR_DEVICE_REMOVED);
    EXPECT_EQ(skf->SKF_GetContainerType(container, &value), SAR_DEVICE_REMOVED);
    DEVHANDLE absent = nullptr;
    EXPECT_NE(skf->SKF_ConnectDev(const_cast<char*>(deviceName.c_str()), &absent), SAR_OK);

    admin::insertToken(deviceName.substr(3), deviceName);
    EXPECT_EQ(skf->SKF_GetDevInfo(device, &info), SAR_DEVICE_REMOVED) << "old handles stay dead";
    DEVHANDLE fresh = connect(deviceName);
    EXPECT_EQ(skf->SKF_GetDevInfo(fresh, &info), SAR_OK);
    skf->SKF_DisConnectDev(fresh);
}

TEST_F(Handles, aDeletedApplication_isGoneForItsOpenHandles)
{
    HAPPLICATION app = readyApp();
    ASSERT_EQ(skf->SKF_DeleteApplication(device, const_cast<char*>("APP")), SAR_OK);
    ULONG value = 0;
    BOOL flag = 0;
    EXPECT_EQ(skf->SKF_GetPINInfo(app, USER_TYPE, &value, &value, &flag), SAR_APPLICATION_NOT_EXISTS);
    EXPECT_EQ(skf->SKF_DeleteApplication(device, const_cast<char*>("APP")), SAR_APPLICATION_NOT_EXISTS);
    HAPPLICATION again = createApp(device);
    EXPECT_EQ(skf->SKF_GetPINInfo(app, USER_TYPE, &value, &value, &flag), SAR_APPLICATION_NOT_EXISTS)
        << "a new application of the same name is another one";
    HCONTAINER container = nullptr;
    EXPECT_EQ(skf->SKF_CreateContainer(again, const_cast<char*>("c"), &container), SAR_USER_NOT_LOGGED_IN)
        << "the old application's verified PIN does not carry over";
}

TEST_F(Handles, nullOutputPointers_areRefused)
{
    device = connect(plugNewToken());
    EXPECT_EQ(skf->SKF_EnumDev(TRUE, nullptr, nullptr), SAR_INVALIDPARAMERR);
    EXPECT_EQ(skf->SKF_ConnectDev(nullptr, nullptr), SAR_INVALIDPARAMERR);
    EXPECT_EQ(skf->SKF_GetDevInfo(device, nullptr), SAR_INVALIDPARAMERR);
    EXPECT_EQ(skf->SKF_SetLabel(device, nullptr), SAR_INVALIDPARAMERR);
    EXPECT_EQ(skf->SKF_GenRandom(device, nullptr, 8), SAR_INVALIDPARAMERR);
    EXPECT_EQ(skf->SKF_WaitForDevEvent(nullptr, nullptr, nullptr), SAR_INVALIDPARAMERR);
}

// What a forked child saw: 0 when all went as it should.
enum ChildResult { kChildOk, kParentsHandleWorked, kNoConnection, kNoLabel };

TEST_F(Handles, aChildForkedMidCall_reachesTheTokenWithHandlesOfItsOwn_andItsWritesReachTheParent)
{
    readyApp();
    // One thread calls without pause, so most forks come while it is inside the driver.
    std::atomic<bool> stop{false};
    std::thread busy([&] {
        DEVINFO info{};
        while (!stop) {
            skf->SKF_GetDevInfo(device, &info);
        }
    });
    constexpr int kForks = 20;
    for (int round = 0; round < kForks; ++round) {
        const std::string label = "child " + std::to_string(round);
        const pid_t child = fork(); // no ASSERT until the thread is joined
        if (child == 0) {
            alarm(10); // a child that hangs ends by the signal, which the parent reports
            DEVINFO info{};
            DEVHANDLE own = nullptr;
            if (skf->SKF_GetDevInfo(device, &info) != SAR_INVALIDHANDLEERR) {
                _exit(kParentsHandleWorked);
            }
            if (skf->SKF_ConnectDev(const_cast<char*>(deviceName.c_str()), &own) != SAR_OK) {
                _exit(kNoConnection);
            }
            _exit(skf->SKF_SetLabel(own, const_cast<char*>(label.c_str())) == SAR_OK ? kChildOk : kNoLabel);
        }
        int status = -1;
        EXPECT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kChildOk) << "round " << round << ": status " << status;
        DEVINFO info{};
        EXPECT_EQ(skf->SKF_GetDevInfo(device, &info), SAR_OK) << "the parent's handle still serves";
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.Label)), label);
    }
    stop = true;
    busy.join();
}
