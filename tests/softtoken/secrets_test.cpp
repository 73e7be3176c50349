// What lies on disk: no private key and no PIN in the database files, private modes.
#include "TestKeys.h"
#include "TokenFixture.h"

#include "ProbeProcess.h"
#include "tokenadmin.h"

#include <memory>
#include <sqlite3.h>
#include <sys/stat.h>

using namespace softskf;
using namespace softskf::test;

class Secrets : public SoftTokenTest
{
};

TEST_F(Secrets, theDatabaseFiles_holdNoPrivateKeyAndNoPin)
{
    const std::string serial = uniqueSerial("K");
    deviceName = plugNewToken(256 * 1024, serial);
    device = connect(deviceName);
    ASSERT_EQ(deviceAuth(device), SAR_OK);
    HAPPLICATION app = createApp(device);
    ASSERT_EQ(verifyUser(app), SAR_OK);

    HCONTAINER sm2 = newContainer(app, "sm2");
    ECCPUBLICKEYBLOB signing{};
    ASSERT_EQ(skf->SKF_GenECCKeyPair(sm2, SGD_SM2_1, &signing), SAR_OK);
    const auto eccPair = makeSm2Pair();
    auto envelope = makeEccEnvelope(signing, eccPair);
    ASSERT_EQ(skf->SKF_ImportECCKeyPair(sm2, reinterpret_cast<ENVELOPEDKEYBLOB*>(envelope.data())), SAR_OK);

    HCONTAINER rsa = newContainer(app, "rsa");
    RSAPUBLICKEYBLOB rsaSigning{};
    ASSERT_EQ(skf->SKF_GenRSAKeyPair(rsa, 1024, &rsaSigning), SAR_OK);
    const auto rsaPair = makeRsaPair(1024);
    auto rsaEnvelope = makeRsaEnvelope(rsaSigning, rsaPair);
    ASSERT_EQ(skf->SKF_ImportRSAKeyPair(
                  rsa, SGD_SM4_ECB, rsaEnvelope.wrappedKey.data(), static_cast<ULONG>(rsaEnvelope.wrappedKey.size()),
                  rsaEnvelope.encryptedKey.data(), static_cast<ULONG>(rsaEnvelope.encryptedKey.size())),
              SAR_OK);

    const std::string db = testStore() + "/tokens/" + serial + ".db";
    auto bytes = readFileBytes(db);
    const auto wal = readFileBytes(db + "-wal");
    bytes.insert(bytes.end(), wal.begin(), wal.end());
    ASSERT_GT(bytes.size(), 4096u);
    // The imported keys are known, so their secret parts can be searched for.
    EXPECT_FALSE(contains(bytes, eccPair.scalar));
    EXPECT_FALSE(contains(bytes, std::vector<uint8_t>(eccPair.scalar.begin(), eccPair.scalar.begin() + 12)));
    EXPECT_FALSE(contains(bytes, rsaPair.privateExponent));
    EXPECT_FALSE(contains(bytes, std::vector<uint8_t>(rsaPair.prime1.begin(), rsaPair.prime1.begin() + 16)));
    EXPECT_FALSE(contains(bytes, rsaPair.pkcs1Der));
    EXPECT_FALSE(contains(bytes, std::vector<uint8_t>(kUserPin, kUserPin + 8)));
    EXPECT_FALSE(contains(bytes, std::vector<uint8_t>(kAdminPin, kAdminPin + 8)));
    // An unsealed PKCS#8 key would start with this version and algorithm prefix.
    EXPECT_FALSE(contains(bytes, {0x02, 0x01, 0x00, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01}));
}

TEST_F(Secrets, theStore_isPrivateToItsOwner)
{
    const std::string serial = uniqueSerial("M");
    device = connect(plugNewToken(256 * 1024, serial));
    struct stat info
    {
    };
    ASSERT_EQ(stat(testStore().c_str(), &info), 0);
    ASSERT_EQ(stat((testStore() + "/tokens").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(stat((testStore() + "/present").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(stat((testStore() + "/tokens/" + serial + ".db").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(stat((testStore() + "/present/VK-" + serial).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

namespace {

struct SqliteClose
{
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Db = std::unique_ptr<sqlite3, SqliteClose>;

Db openDb(const std::string& path)
{
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK) << path;
    sqlite3_busy_timeout(db, 10000);
    return Db(db);
}

// Every column of every row of a query, as bytes.
std::vector<std::vector<std::vector<uint8_t>>> rows(sqlite3* db, const char* sql)
{
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &statement, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    std::vector<std::vector<std::vector<uint8_t>>> result;
    while (statement && sqlite3_step(statement) == SQLITE_ROW) {
        std::vector<std::vector<uint8_t>> row;
        for (int column = 0; column < sqlite3_column_count(statement); ++column) {
            const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(statement, column));
            row.emplace_back(data, data + sqlite3_column_bytes(statement, column));
        }
        result.push_back(std::move(row));
    }
    sqlite3_finalize(statement);
    return result;
}

const uint8_t kDigest[32] = {0x11, 0x22, 0x33};

} // namespace

// A copy of the store taken while the PINs were the first ones, or of the files after
// both were changed, must not open a key made after the change with an old PIN.
TEST_F(Secrets, anOldPin_opensNothingMadeAfterTheChange)
{
    const std::string serial = uniqueSerial("OLD");
    deviceName = plugNewToken(256 * 1024, serial);
    device = connect(deviceName);
    ASSERT_EQ(deviceAuth(device), SAR_OK);
    HAPPLICATION app = createApp(device);
    ASSERT_EQ(verifyUser(app), SAR_OK);
    HCONTAINER before = newContainer(app, "before");
    ECCPUBLICKEYBLOB beforeKey{};
    ASSERT_EQ(skf->SKF_GenECCKeyPair(before, SGD_SM2_1, &beforeKey), SAR_OK);

    // The backup, taken while the PINs are the first ones.
    const std::string path = testStore() + "/tokens/" + serial + ".db";
    const std::string backup = testStore() + "/" + serial + "-backup.db";
    ASSERT_EQ(sqlite3_exec(openDb(path).get(), ("VACUUM INTO '" + backup + "'").c_str(), nullptr, nullptr, nullptr),
              SQLITE_OK);
    const auto oldPins = rows(openDb(backup).get(), "SELECT * FROM pins");
    const auto oldKeys = rows(openDb(backup).get(), "SELECT wrapped_private_key FROM key_pairs");
    ASSERT_EQ(oldPins.size(), 2u);
    ASSERT_EQ(oldKeys.size(), 1u);

    ULONG retries = 0;
    ASSERT_EQ(
        skf->SKF_ChangePIN(app, ADMIN_TYPE, const_cast<char*>(kAdminPin), const_cast<char*>("A1b2C3d4"), &retries),
        SAR_OK);
    ASSERT_EQ(skf->SKF_ChangePIN(app, USER_TYPE, const_cast<char*>(kUserPin), const_cast<char*>("u9V8w7X6"), &retries),
              SAR_OK);
    HCONTAINER after = newContainer(app, "after");
    ECCPUBLICKEYBLOB afterKey{};
    ASSERT_EQ(skf->SKF_GenECCKeyPair(after, SGD_SM2_1, &afterKey), SAR_OK);
    ECCSIGNATUREBLOB signature{};
    ASSERT_EQ(skf->SKF_ECCSignData(before, const_cast<BYTE*>(kDigest), 32, &signature), SAR_OK)
        << "keys made before the change still work";

    // The files as they are now hold no part of the old PIN records, nor the old sealed key.
    const auto bytes = databaseAndWal(path);
    for (const auto& row : oldPins) {
        for (const auto& column : row) {
            if (column.size() >= 16) {
                EXPECT_FALSE(contains(bytes, column)) << "an old PIN record field is still on disk";
            }
        }
    }
    EXPECT_FALSE(contains(bytes, oldKeys[0][0])) << "the old sealing of a private key is still on disk";

    // A backup's PIN rows put back into a copy of today's database: the old PIN may still
    // verify there, but opens no key.
    const std::string copySerial = uniqueSerial("COPY");
    const std::string copyPath = testStore() + "/tokens/" + copySerial + ".db";
    {
        auto live = openDb(path);
        ASSERT_EQ(sqlite3_exec(live.get(), ("VACUUM INTO '" + copyPath + "'").c_str(), nullptr, nullptr, nullptr),
                  SQLITE_OK);
    }
    const std::string restore
        = "ATTACH '" + backup + "' AS old; DELETE FROM pins; INSERT INTO pins SELECT * FROM old.pins;";
    ASSERT_EQ(sqlite3_exec(openDb(copyPath).get(), restore.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    const std::string copyName = "VK-" + copySerial;
    admin::insertToken(copySerial, copyName);
    DEVHANDLE copyDevice = connect(copyName);
    HAPPLICATION copyApp = nullptr;
    ASSERT_EQ(skf->SKF_OpenApplication(copyDevice, const_cast<char*>("APP"), &copyApp), SAR_OK);
    const ULONG verified = skf->SKF_VerifyPIN(copyApp, USER_TYPE, const_cast<char*>(kUserPin), &retries);
    for (const char* name : {"after", "before"}) {
        HCONTAINER container = nullptr;
        ASSERT_EQ(skf->SKF_OpenContainer(copyApp, const_cast<char*>(name), &container), SAR_OK);
        EXPECT_NE(skf->SKF_ECCSignData(container, const_cast<BYTE*>(kDigest), 32, &signature), SAR_OK)
            << name << " (the old PIN verified with " << verified << ")";
    }
    skf->SKF_DisConnectDev(copyDevice);
}

TEST_F(Secrets, aFileOnlyPinHoldersRead_isSealedOnDisk)
{
    const std::string serial = uniqueSerial("F");
    deviceName = plugNewToken(256 * 1024, serial);
    device = connect(deviceName);
    ASSERT_EQ(deviceAuth(device), SAR_OK);
    HAPPLICATION app = createApp(device);
    const std::string secret = "a secret kept in a user file";
    const std::string open = "a note anyone may read";
    ASSERT_EQ(skf->SKF_CreateFile(app, const_cast<char*>("anyone"), 64, SECURE_ANYONE_ACCOUNT, SECURE_ANYONE_ACCOUNT),
              SAR_OK);
    ASSERT_EQ(skf->SKF_WriteFile(app, const_cast<char*>("anyone"), 0, (BYTE*)open.data(), (ULONG)open.size()), SAR_OK);
    // Written by anyone, read by the user: sealing needs the key, so writing needs a login.
    ASSERT_EQ(skf->SKF_CreateFile(app, const_cast<char*>("user"), 64, SECURE_USER_ACCOUNT, SECURE_ANYONE_ACCOUNT),
              SAR_OK);
    EXPECT_EQ(skf->SKF_WriteFile(app, const_cast<char*>("user"), 0, (BYTE*)secret.data(), (ULONG)secret.size()),
              SAR_USER_NOT_LOGGED_IN);
    ASSERT_EQ(verifyUser(app), SAR_OK);
    ASSERT_EQ(skf->SKF_WriteFile(app, const_cast<char*>("user"), 0, (BYTE*)secret.data(), (ULONG)secret.size()),
              SAR_OK);
    ASSERT_EQ(skf->SKF_WriteFile(app, const_cast<char*>("user"), 2, (BYTE*)"S", 1), SAR_OK);

    const auto bytes = databaseAndWal(testStore() + "/tokens/" + serial + ".db");
    EXPECT_TRUE(contains(bytes, std::vector<uint8_t>(open.begin(), open.end())));
    EXPECT_FALSE(contains(bytes, std::vector<uint8_t>(secret.begin() + 3, secret.end())));

    BYTE out[64] = {};
    ULONG size = sizeof out;
    ASSERT_EQ(skf->SKF_ReadFile(app, const_cast<char*>("user"), 0, sizeof out, out, &size), SAR_OK);
    ASSERT_EQ(size, 64u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), secret.size()), "a Secret kept in a user file");
    EXPECT_EQ(out[secret.size()], 0) << "the rest of the file is zeros";
    size = 5;
    ASSERT_EQ(skf->SKF_ReadFile(app, const_cast<char*>("user"), 2, 5, out, &size), SAR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), size), "Secre");

    // After a PIN change the file is sealed under the new key and still reads the same.
    ULONG retries = 0;
    ASSERT_EQ(skf->SKF_ChangePIN(app, USER_TYPE, const_cast<char*>(kUserPin), const_cast<char*>("55667788"), &retries),
              SAR_OK);
    ASSERT_EQ(skf->SKF_ClearSecureState(app), SAR_OK);
    size = sizeof out;
    EXPECT_EQ(skf->SKF_ReadFile(app, const_cast<char*>("user"), 0, sizeof out, out, &size), SAR_USER_NOT_LOGGED_IN);
    ASSERT_EQ(skf->SKF_VerifyPIN(app, ADMIN_TYPE, const_cast<char*>(kAdminPin), &retries), SAR_OK);
    EXPECT_EQ(skf->SKF_ReadFile(app, const_cast<char*>("user"), 0, sizeof out, out, &size), SAR_USER_NOT_LOGGED_IN)
        << "the read right is the user's";
    ASSERT_EQ(verifyUser(app, "55667788"), SAR_OK);
    ASSERT_EQ(skf->SKF_ReadFile(app, const_cast<char*>("user"), 0, sizeof out, out, &size), SAR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), secret.size()), "a Secret kept in a user file");
}

TEST_F(Secrets, aProcessThatUnloadsTheLibrary_leavesNoPagesInTheWal)
{
    HAPPLICATION app = readyApp();
    (void)app;
    const std::string serial = deviceName.substr(3);
    const std::string wal = testStore() + "/tokens/" + serial + ".db-wal";
    {
        ProbeProcess probe({"churn", deviceName, "p", "3"});
        EXPECT_EQ(probe.readLine(), "OK");
        EXPECT_EQ(probe.finish(), 0);
    }
    // Containers, certificates and files are changes no checkpoint follows at once; the
    // library's unload in the ended process empties the WAL all the same.
    struct stat info
    {
    };
    if (stat(wal.c_str(), &info) == 0) {
        EXPECT_EQ(info.st_size, 0) << "pages of the other process's changes are left in the WAL";
    }
}
