// Someone who can write the store once (a program running as the user, a restored backup,
// a synced folder), and two of the user's own processes at once: what they must not gain.
#include "ProbeProcess.h"
#include "RawDb.h"
#include "RowChecks.h"
#include "TestKeys.h"
#include "TokenFixture.h"

#include "tokenadmin.h"

#include <chrono>
#include <random>
#include <sqlite3.h>
#include <thread>

using namespace softskf;
using namespace softskf::test;

namespace {

const char* const kAttackerPin = "66666666";

} // namespace

class PlantedWrite : public SoftTokenTest
{
protected:
    void SetUp() override
    {
        SoftTokenTest::SetUp();
        serial = uniqueSerial("PLANT");
        deviceName = plugNewToken(256 * 1024, serial);
        path = testStore() + "/tokens/" + serial + ".db";
        device = connect(deviceName);
        ASSERT_EQ(deviceAuth(device), SAR_OK);
    }

    ULONG remainingTries(HAPPLICATION app, ULONG type)
    {
        ULONG max = 0;
        ULONG remaining = 0;
        BOOL isDefault = FALSE;
        EXPECT_EQ(skf->SKF_GetPINInfo(app, type, &max, &remaining, &isDefault), SAR_OK);
        return remaining;
    }

    // Reads a whole file of up to 16 bytes.
    ULONG readFile(HAPPLICATION app, const char* name, std::vector<uint8_t>* content = nullptr)
    {
        BYTE out[16] = {1};
        ULONG size = sizeof out;
        const ULONG rc = skf->SKF_ReadFile(app, const_cast<char*>(name), 0, sizeof out, out, &size);
        if (content) {
            content->assign(out, out + size);
        }
        return rc;
    }

    ULONG verify(HAPPLICATION app, ULONG type, const char* pin)
    {
        ULONG retries = 0;
        return skf->SKF_VerifyPIN(app, type, const_cast<char*>(pin), &retries);
    }

    ULONG change(HAPPLICATION app, ULONG type, const char* oldPin, const char* newPin)
    {
        ULONG retries = 0;
        return skf->SKF_ChangePIN(app, type, const_cast<char*>(oldPin), const_cast<char*>(newPin), &retries);
    }

    // A copy of this token under a serial of its own whose SO PIN the attacker set: its
    // records have the victim's application identity and open with the attacker's PIN.
    std::string forgedCopy()
    {
        const std::string copySerial = uniqueSerial("FORGED");
        const std::string copyPath = testStore() + "/tokens/" + copySerial + ".db";
        RawDb(path).exec("VACUUM INTO '" + copyPath + "'");
        admin::insertToken(copySerial, "VK-" + copySerial);
        DEVHANDLE copyDevice = connect("VK-" + copySerial);
        HAPPLICATION copyApp = nullptr;
        EXPECT_EQ(skf->SKF_OpenApplication(copyDevice, const_cast<char*>("APP"), &copyApp), SAR_OK);
        EXPECT_EQ(change(copyApp, ADMIN_TYPE, kAdminPin, kAttackerPin), SAR_OK);
        skf->SKF_DisConnectDev(copyDevice);
        return copyPath;
    }

    std::string serial;
    std::string path;
};

TEST_F(PlantedWrite, aPlantedSoRecord_neverReceivesTheNextKey_andItsPinUnblocksNothing)
{
    const struct
    {
        const char* what;
        const char* plant;
        bool userRecordIntact;
    } cases[] = {
        {"the public key only",
         "UPDATE pins SET wrap_public = (SELECT wrap_public FROM forged.pins WHERE pin_type = 0) WHERE pin_type = 0",
         true},
        {"the whole record",
         "DELETE FROM pins WHERE pin_type = 0; INSERT INTO pins SELECT * FROM forged.pins WHERE pin_type = 0", true},
        // Passing for a record of an older version: the user's record says the SO's was bound.
        {"the public key, the MAC taken away",
         "UPDATE pins SET wrap_public = (SELECT wrap_public FROM forged.pins WHERE pin_type = 0), record_mac = NULL"
         " WHERE pin_type = 0",
         false},
    };
    for (const auto& plant : cases) {
        SCOPED_TRACE(plant.what);
        skf->SKF_DeleteApplication(device, const_cast<char*>("APP")); // the previous case's
        HAPPLICATION app = createApp(device);
        const std::string forged = forgedCopy();
        RawDb(path).exec("ATTACH '" + forged + "' AS forged; " + plant.plant);
        fixRowChecks(path);
        const auto soRecordBefore = RawDb(path).row("SELECT wrapped_app_key FROM pins WHERE pin_type = 0");

        // The victim changes the user PIN: the planted record is refused, not wrapped to.
        EXPECT_EQ(change(app, USER_TYPE, kUserPin, "24682468"), SAR_FAIL);
        EXPECT_EQ(RawDb(path).row("SELECT wrapped_app_key FROM pins WHERE pin_type = 0"), soRecordBefore);
        ULONG retries = 0;
        EXPECT_NE(skf->SKF_UnblockPIN(app, const_cast<char*>(kAttackerPin), const_cast<char*>("13571357"), &retries),
                  SAR_OK);
        EXPECT_NE(verify(app, ADMIN_TYPE, kAdminPin), SAR_OK) << "the victim's SO PIN meets a damaged record";
        EXPECT_EQ(verify(app, USER_TYPE, kUserPin) == SAR_OK, plant.userRecordIntact);
    }
}

TEST_F(PlantedWrite, plainBytesInAProtectedFile_areRefused_andNoPinChangeSealsThem)
{
    HAPPLICATION app = createApp(device);
    ASSERT_EQ(skf->SKF_CreateFile(app, const_cast<char*>("never"), 16, SECURE_USER_ACCOUNT, SECURE_USER_ACCOUNT),
              SAR_OK);
    ASSERT_EQ(verifyUser(app), SAR_OK);
    ASSERT_EQ(skf->SKF_CreateFile(app, const_cast<char*>("user"), 16, SECURE_USER_ACCOUNT, SECURE_USER_ACCOUNT),
              SAR_OK);
    ASSERT_EQ(skf->SKF_WriteFile(app, const_cast<char*>("user"), 0, (BYTE*)"the owner's data", 16), SAR_OK);
    std::vector<uint8_t> content;
    ASSERT_EQ(readFile(app, "never", &content), SAR_OK) << "a file made before the login and never written";
    EXPECT_EQ(content, std::vector<uint8_t>(16, 0));

    RawDb(path).exec("UPDATE files SET sealed = 0, data = CAST('forged file data' AS BLOB) WHERE name = 'user'");
    fixRowChecks(path);
    EXPECT_EQ(readFile(app, "user"), SAR_FAIL);
    EXPECT_EQ(skf->SKF_WriteFile(app, const_cast<char*>("user"), 0, (BYTE*)"x", 1), SAR_FAIL);
    ASSERT_EQ(change(app, USER_TYPE, kUserPin, "24682468"), SAR_OK);
    EXPECT_EQ(RawDb(path).row("SELECT sealed FROM files WHERE name = 'user'")[0], std::vector<uint8_t>{'0'})
        << "the forgery was sealed under the new key";
    EXPECT_EQ(readFile(app, "user"), SAR_FAIL);
}

TEST_F(PlantedWrite, aDatabaseHoldingObjectsTheStoreDidNotMake_isRefusedAndLeftAsItWas)
{
    const char* const plants[] = {
        "CREATE TRIGGER keep AFTER UPDATE OF remaining_retries ON pins BEGIN"
        " UPDATE pins SET remaining_retries = max_retries WHERE rowid = NEW.rowid; END",
        "CREATE VIEW seen AS SELECT * FROM pins",
        "CREATE TABLE extra(x)",
        "CREATE INDEX by_size ON files(size)",
    };
    for (const char* plant : plants) {
        SCOPED_TRACE(plant);
        const std::string other = uniqueSerial("SCHEMA");
        const std::string name = plugNewToken(256 * 1024, other);
        const std::string otherPath = testStore() + "/tokens/" + other + ".db";
        RawDb(otherPath).exec(plant);
        const auto before = databaseAndWal(otherPath);
        DEVHANDLE handle = nullptr;
        EXPECT_EQ(skf->SKF_ConnectDev(const_cast<char*>(name.c_str()), &handle), SAR_FILEERR);
        EXPECT_EQ(databaseAndWal(otherPath), before);
    }

    // Planted while the token is open here: the next write sees it and is refused.
    HAPPLICATION app = createApp(device);
    RawDb(path).exec(plants[0]);
    const ULONG rc = verify(app, USER_TYPE, "00000000");
    EXPECT_TRUE(rc != SAR_PIN_INCORRECT || remainingTries(app, USER_TYPE) < kUserRetries)
        << "a wrong PIN was answered and its try given back";
}

TEST_F(PlantedWrite, pinHashParametersNoVersionWrites_areRefusedWithoutATryOrAWait)
{
    const char* const plants[] = {
        "UPDATE pins SET scrypt_r = 1",
        "UPDATE pins SET scrypt_p = 2",
        "UPDATE pins SET scrypt_n = 512",
        "UPDATE pins SET scrypt_n = 32768",
        "UPDATE pins SET kdf = 0, iterations = 1000",
    };
    for (const char* plant : plants) {
        SCOPED_TRACE(plant);
        HAPPLICATION app = createApp(device, std::to_string(std::hash<std::string>{}(plant))); // made last
        RawDb(path).exec(std::string(plant) + " WHERE pin_type = 1 AND app_id = (SELECT MAX(id) FROM applications)");
        fixRowChecks(path);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(verify(app, USER_TYPE, kUserPin), SAR_FAIL);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        EXPECT_EQ(remainingTries(app, USER_TYPE), kUserRetries);
    }
}

TEST_F(PlantedWrite, aFileSizeOrDataTheTokenCannotHold_isRefused)
{
    HAPPLICATION app = createApp(device);
    ASSERT_EQ(skf->SKF_CreateFile(app, const_cast<char*>("open"), 16, SECURE_ANYONE_ACCOUNT, SECURE_ANYONE_ACCOUNT),
              SAR_OK);
    for (const char* plant :
         {"size = -1", "size = 262145", "size = 4294967296", "size = 16, data = zeroblob(100000)"}) {
        SCOPED_TRACE(plant);
        RawDb(path).exec(std::string("UPDATE files SET ") + plant + " WHERE name = 'open'");
        fixRowChecks(path);
        EXPECT_NE(skf->SKF_WriteFile(app, const_cast<char*>("open"), 0, (BYTE*)"x", 1), SAR_OK);
        EXPECT_NE(readFile(app, "open"), SAR_OK);
    }
}

// Readers hold a snapshot for one call only; a change made meanwhile empties the WAL once
// the reader is gone, without waiting for the whole busy timeout.
TEST_F(PlantedWrite, aPinChangeBesideAReader_leavesNoOldRecordOnDiskOnceTheReaderIsGone)
{
    HAPPLICATION app = createApp(device);
    const auto oldRecord = RawDb(path).row("SELECT salt, verifier, wrapped_app_key, wrap_private FROM pins"
                                           " WHERE pin_type = 1");
    ASSERT_EQ(oldRecord.size(), 4u);
    auto reader = std::make_unique<RawDb>(path);
    reader->exec("BEGIN");
    reader->row("SELECT COUNT(*) FROM pins");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(change(app, USER_TYPE, kUserPin, "24682468"), SAR_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    reader->exec("COMMIT");
    reader.reset();
    remainingTries(app, USER_TYPE); // the next call of this process

    const auto bytes = databaseAndWal(path);
    for (const auto& field : oldRecord) {
        EXPECT_FALSE(contains(bytes, field)) << "a field of the replaced record is still on disk";
    }
}

// Two of the user's processes: one changes a PIN while the other verifies the old one and
// upgrades its record (made cheaper than the verifier's cost). Afterwards exactly one of
// the two PINs opens the application, whatever the timing.
TEST_F(PlantedWrite, aVerificationRacingAPinChange_neverUndoesIt)
{
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    const char* const knob = "SOFTSKF_TEST_SCRYPT_N";
    const std::string testCost = getenv(knob) ? getenv(knob) : "";
    for (int round = 0; round < 9; ++round) {
        const bool so = round % 3 == 2;
        const ULONG type = so ? ADMIN_TYPE : USER_TYPE;
        const char* oldPin = so ? kAdminPin : kUserPin;
        SCOPED_TRACE("round " + std::to_string(round) + (so ? " (SO PIN)" : " (user PIN)"));
        skf->SKF_DeleteApplication(device, const_cast<char*>("APP"));
        setenv(knob, "4096", 1); // records the verifier below finds outdated
        HAPPLICATION app = createApp(device);
        const std::string pinName = so ? "so" : "user";
        ProbeProcess changer({"change", deviceName, oldPin, "13579135", pinName});
        std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 40)(random)));
        unsetenv(knob); // the verifier upgrades to today's cost
        ProbeProcess verifier({"verify", deviceName, oldPin, pinName});
        setenv(knob, testCost.c_str(), 1);
        const std::string changed = changer.readLine();
        const std::string verified = verifier.readLine();
        EXPECT_EQ(changer.finish(), 0);
        EXPECT_EQ(verifier.finish(), 0);
        EXPECT_EQ(changed, std::to_string(SAR_OK));

        const ULONG oldResult = verify(app, type, oldPin);
        const ULONG newResult = verify(app, type, "13579135");
        EXPECT_EQ((oldResult == SAR_OK) + (newResult == SAR_OK), 1)
            << "old " << oldResult << ", new " << newResult << ", the verifier said " << verified;
        if (so) {
            const char* working = oldResult == SAR_OK ? oldPin : "13579135";
            ULONG retries = 0;
            EXPECT_EQ(skf->SKF_UnblockPIN(app, const_cast<char*>(working), const_cast<char*>("24682468"), &retries),
                      SAR_OK);
            EXPECT_EQ(verify(app, USER_TYPE, "24682468"), SAR_OK);
        }
    }
}
