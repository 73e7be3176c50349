// The PIN state machine: counters on disk, locking, unblocking, changing, and the
// security state a verified PIN leaves in the process.
#include "ProbeProcess.h"
#include "TokenFixture.h"

#include "tokenadmin.h"

#include <chrono>
#include <sqlite3.h>
#include <thread>

using namespace softskf;
using namespace softskf::test;

namespace {

struct PinState
{
    ULONG max = 0;
    ULONG remaining = 0;
    BOOL isDefault = 0;
};

} // namespace

class Pins : public SoftTokenTest
{
protected:
    void SetUp() override
    {
        SoftTokenTest::SetUp();
        deviceName = plugNewToken();
        device = connect(deviceName);
        ASSERT_EQ(deviceAuth(device), SAR_OK);
        app = createApp(device);
    }

    PinState info(ULONG type)
    {
        PinState state;
        EXPECT_EQ(skf->SKF_GetPINInfo(app, type, &state.max, &state.remaining, &state.isDefault), SAR_OK);
        return state;
    }

    ULONG verify(ULONG type, const char* pin, ULONG* retries = nullptr)
    {
        ULONG count = 0;
        const ULONG rc = skf->SKF_VerifyPIN(app, type, const_cast<char*>(pin), &count);
        if (retries) {
            *retries = count;
        }
        return rc;
    }

    // Can this process act as the verified user? Creating a container needs it.
    bool userRightsHeld(HAPPLICATION application, const std::string& name)
    {
        HCONTAINER container = nullptr;
        const ULONG rc = skf->SKF_CreateContainer(application, const_cast<char*>(name.c_str()), &container);
        return rc == SAR_OK;
    }

    HAPPLICATION app = nullptr;
};

TEST_F(Pins, aNewApplication_reportsFullCountsAndDefaultPins)
{
    const auto admin = info(ADMIN_TYPE);
    EXPECT_EQ(admin.max, kAdminRetries);
    EXPECT_EQ(admin.remaining, kAdminRetries);
    EXPECT_EQ(admin.isDefault, TRUE);
    const auto user = info(USER_TYPE);
    EXPECT_EQ(user.max, kUserRetries);
    EXPECT_EQ(user.remaining, kUserRetries);
    EXPECT_EQ(user.isDefault, TRUE);
    ULONG max = 0;
    ULONG remaining = 0;
    BOOL isDefault = 0;
    EXPECT_EQ(skf->SKF_GetPINInfo(app, 7, &max, &remaining, &isDefault), SAR_USER_TYPE_INVALID);
}

TEST_F(Pins, aWrongPin_spendsATry_thatAnotherProcessSeesOnDisk_andTheRightPinRestoresIt)
{
    ULONG retries = 0;
    ASSERT_EQ(verify(USER_TYPE, "00000000", &retries), SAR_PIN_INCORRECT);
    EXPECT_EQ(retries, kUserRetries - 1);
    ASSERT_EQ(verify(USER_TYPE, "00000001", &retries), SAR_PIN_INCORRECT);
    EXPECT_EQ(retries, kUserRetries - 2);

    // A fresh process opens the database anew and reads the spent tries.
    ProbeProcess probe({"pininfo", deviceName, "1"});
    EXPECT_EQ(probe.readLine(), std::to_string(kUserRetries) + " " + std::to_string(kUserRetries - 2) + " 1");
    EXPECT_EQ(probe.finish(), 0);

    ASSERT_EQ(verify(USER_TYPE, kUserPin, &retries), SAR_OK);
    EXPECT_EQ(info(USER_TYPE).remaining, kUserRetries);
}

TEST_F(Pins, theLastWrongTry_locksThePin_andOnlyTheSoPinUnblocksIt)
{
    ULONG retries = 0;
    for (ULONG i = 1; i < kUserRetries; ++i) {
        ASSERT_EQ(verify(USER_TYPE, "00000000", &retries), SAR_PIN_INCORRECT);
        EXPECT_EQ(retries, kUserRetries - i);
    }
    EXPECT_EQ(verify(USER_TYPE, "00000000", &retries), SAR_PIN_LOCKED);
    EXPECT_EQ(retries, 0u);
    EXPECT_EQ(verify(USER_TYPE, kUserPin, &retries), SAR_PIN_LOCKED) << "a locked PIN refuses even the right one";
    EXPECT_EQ(info(USER_TYPE).remaining, 0u);

    EXPECT_EQ(skf->SKF_UnblockPIN(app, const_cast<char*>("99999999"), const_cast<char*>("11223344"), &retries),
              SAR_PIN_INCORRECT);
    EXPECT_EQ(retries, kAdminRetries - 1);
    ASSERT_EQ(skf->SKF_UnblockPIN(app, const_cast<char*>(kAdminPin), const_cast<char*>("11223344"), &retries), SAR_OK);
    EXPECT_EQ(info(ADMIN_TYPE).remaining, kAdminRetries);
    const auto user = info(USER_TYPE);
    EXPECT_EQ(user.remaining, kUserRetries);
    EXPECT_EQ(user.isDefault, FALSE);
    EXPECT_EQ(verify(USER_TYPE, kUserPin), SAR_PIN_INCORRECT);
    EXPECT_EQ(verify(USER_TYPE, "11223344"), SAR_OK);
    EXPECT_TRUE(userRightsHeld(app, "after-unblock"));
}

TEST_F(Pins, changePin_checksTheOldPin_clearsTheDefaultFlag_andKeepsTheKeysUsable)
{
    ULONG retries = 0;
    EXPECT_EQ(
        skf->SKF_ChangePIN(app, USER_TYPE, const_cast<char*>("00000000"), const_cast<char*>("13572468"), &retries),
        SAR_PIN_INCORRECT);
    EXPECT_EQ(retries, kUserRetries - 1);
    ASSERT_EQ(skf->SKF_ChangePIN(app, USER_TYPE, const_cast<char*>(kUserPin), const_cast<char*>("13572468"), &retries),
              SAR_OK);
    const auto user = info(USER_TYPE);
    EXPECT_EQ(user.isDefault, FALSE);
    EXPECT_EQ(user.remaining, kUserRetries);
    EXPECT_EQ(info(ADMIN_TYPE).isDefault, TRUE);

    ASSERT_EQ(skf->SKF_ClearSecureState(app), SAR_OK);
    EXPECT_EQ(verify(USER_TYPE, kUserPin), SAR_PIN_INCORRECT);
    ASSERT_EQ(verify(USER_TYPE, "13572468"), SAR_OK);
    // The application key opened under the new PIN still seals new private keys.
    HCONTAINER container = newContainer(app, "C");
    ECCPUBLICKEYBLOB blob{};
    EXPECT_EQ(skf->SKF_GenECCKeyPair(container, SGD_SM2_1, &blob), SAR_OK);

    ASSERT_EQ(
        skf->SKF_ChangePIN(app, ADMIN_TYPE, const_cast<char*>(kAdminPin), const_cast<char*>("24681357"), &retries),
        SAR_OK);
    EXPECT_EQ(info(ADMIN_TYPE).isDefault, FALSE);
    EXPECT_EQ(skf->SKF_UnblockPIN(app, const_cast<char*>("24681357"), const_cast<char*>("55667788"), &retries), SAR_OK);
}

TEST_F(Pins, pinsOutsideSixToSixteenBytes_areRefused_withoutSpendingATry)
{
    EXPECT_EQ(verify(USER_TYPE, "12345"), SAR_PIN_LEN_RANGE);
    EXPECT_EQ(verify(USER_TYPE, "12345678901234567"), SAR_PIN_LEN_RANGE);
    EXPECT_EQ(info(USER_TYPE).remaining, kUserRetries);
    ULONG retries = 0;
    EXPECT_EQ(skf->SKF_ChangePIN(app, USER_TYPE, const_cast<char*>(kUserPin), const_cast<char*>("123"), &retries),
              SAR_PIN_LEN_RANGE);
    HAPPLICATION other = nullptr;
    EXPECT_EQ(skf->SKF_CreateApplication(device, const_cast<char*>("SHORT"), const_cast<char*>("12345"), 10,
                                         const_cast<char*>(kUserPin), 10, SECURE_ANYONE_ACCOUNT, &other),
              SAR_PIN_LEN_RANGE);
}

TEST_F(Pins, aVerifiedPin_holdsAcrossNewConnectionsAndOpens_untilCleared)
{
    ASSERT_EQ(verify(USER_TYPE, kUserPin), SAR_OK);
    DEVHANDLE second = connect(deviceName);
    HAPPLICATION reopened = nullptr;
    ASSERT_EQ(skf->SKF_OpenApplication(second, const_cast<char*>("APP"), &reopened), SAR_OK);
    EXPECT_TRUE(userRightsHeld(reopened, "on-a-new-handle"));

    ASSERT_EQ(skf->SKF_ClearSecureState(reopened), SAR_OK);
    EXPECT_FALSE(userRightsHeld(app, "after-clear"));
    skf->SKF_DisConnectDev(second);
}

TEST_F(Pins, aFailedVerification_dropsTheSecurityState)
{
    ASSERT_EQ(verify(USER_TYPE, kUserPin), SAR_OK);
    ASSERT_EQ(verify(USER_TYPE, "00000000"), SAR_PIN_INCORRECT);
    EXPECT_FALSE(userRightsHeld(app, "after-failure"));
}

TEST_F(Pins, removingTheToken_dropsTheSecurityState)
{
    ASSERT_EQ(verify(USER_TYPE, kUserPin), SAR_OK);
    admin::removeToken(deviceName);
    ULONG max = 0;
    ULONG remaining = 0;
    BOOL isDefault = 0;
    EXPECT_EQ(skf->SKF_GetPINInfo(app, USER_TYPE, &max, &remaining, &isDefault), SAR_DEVICE_REMOVED);

    const std::string serial = deviceName.substr(3);
    admin::insertToken(serial, deviceName);
    DEVHANDLE fresh = connect(deviceName);
    HAPPLICATION reopened = nullptr;
    ASSERT_EQ(skf->SKF_OpenApplication(fresh, const_cast<char*>("APP"), &reopened), SAR_OK);
    EXPECT_FALSE(userRightsHeld(reopened, "after-reinsertion"));
    skf->SKF_DisConnectDev(fresh);
}

// The try is on disk before the PIN is compared: a verification killed after that point,
// even with the right PIN, leaves the try spent. The test holds the database's write lock
// from the moment the spent try shows, so the verification cannot give it back, then kills
// the process.
TEST_F(Pins, aVerificationKilledMidway_leavesTheTrySpent)
{
    const std::string db = testStore() + "/tokens/" + deviceName.substr(3) + ".db";
    sqlite3* connection = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &connection), SQLITE_OK);
    sqlite3_busy_timeout(connection, 10000);
    const auto remainingOnDisk = [&] {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(connection, "SELECT remaining_retries FROM pins WHERE pin_type = 1", -1, &statement,
                           nullptr);
        const int value = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int(statement, 0) : -1;
        sqlite3_finalize(statement);
        return value;
    };

    bool caught = false;
    {
        ProbeProcess probe({"verify", deviceName, kUserPin});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!caught && std::chrono::steady_clock::now() < deadline) {
            if (remainingOnDisk() == static_cast<int>(kUserRetries - 1)) {
                ASSERT_EQ(sqlite3_exec(connection, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
                caught = true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } // the probe is killed here, waiting for the write lock to give the try back
    if (caught) {
        sqlite3_exec(connection, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    sqlite3_close(connection);
    ASSERT_TRUE(caught) << "the spent try never reached the disk while the PIN was checked";
    EXPECT_EQ(info(USER_TYPE).remaining, kUserRetries - 1);
}
