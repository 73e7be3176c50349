// A token written by the version before schema 1 (PBKDF2 PINs, the application key sealed
// straight under each PIN, plain files): it opens, verifies, signs and reads with the
// same PINs, and converges to the current format as its PINs are verified and changed.
#include "RawDb.h"
#include "TestKeys.h"
#include "TokenFixture.h"

#include "tokenadmin.h"

#include <fstream>
#include <sqlite3.h>
#include <sys/stat.h>

using namespace softskf;
using namespace softskf::test;

namespace {

// Made by that version: application APP (SO PIN 12345678, user PIN 87654321, both still
// the first ones), container "sm2" with a generated signing pair, an imported encryption
// pair and a signing certificate, container "rsa" with a 1024-bit signing pair, file
// "secret" (user rights, 32 bytes) and file "open" (anyone).
const std::string kSecret = "the user's protected bytes";
const uint8_t kDigest[32] = {0x42, 0x43, 0x44};

int64_t number(const std::string& path, const char* sql)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* statement = nullptr;
    int64_t value = -1;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW) {
        value = sqlite3_column_int64(statement, 0);
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return value;
}

} // namespace

class Upgrade : public SoftTokenTest
{
protected:
    void SetUp() override
    {
        SoftTokenTest::SetUp();
        // Under a serial of its own per test: the file's name is what the store goes by.
        const std::string serial = uniqueSerial("OLDFMT");
        mkdir((testStore() + "/tokens").c_str(), 0700); // none yet when this test runs first
        path = testStore() + "/tokens/" + serial + ".db";
        {
            std::ifstream in(source, std::ios::binary);
            std::ofstream out(path, std::ios::binary);
            ASSERT_TRUE(in && out);
            out << in.rdbuf();
        }
        chmod(path.c_str(), 0600);
        deviceName = "VK-" + serial;
        admin::insertToken(serial, deviceName);
        device = connect(deviceName);
        ASSERT_EQ(skf->SKF_OpenApplication(device, const_cast<char*>("APP"), &app), SAR_OK);
    }

    // Signs with container name's signing key and checks the signature against its public key.
    ULONG signAndCheck(const char* name)
    {
        HCONTAINER container = nullptr;
        EXPECT_EQ(skf->SKF_OpenContainer(app, const_cast<char*>(name), &container), SAR_OK);
        ECCPUBLICKEYBLOB publicKey{};
        ULONG size = sizeof publicKey;
        EXPECT_EQ(skf->SKF_ExportPublicKey(container, TRUE, reinterpret_cast<BYTE*>(&publicKey), &size), SAR_OK);
        ECCSIGNATUREBLOB signature{};
        const ULONG rc = skf->SKF_ECCSignData(container, const_cast<BYTE*>(kDigest), 32, &signature);
        if (rc == SAR_OK) {
            EXPECT_EQ(skf->SKF_ECCVerify(device, &publicKey, const_cast<BYTE*>(kDigest), 32, &signature), SAR_OK);
        }
        skf->SKF_CloseContainer(container);
        return rc;
    }

    std::string readSecret()
    {
        BYTE out[32] = {};
        ULONG size = sizeof out;
        const ULONG rc = skf->SKF_ReadFile(app, const_cast<char*>("secret"), 0, sizeof out, out, &size);
        return rc == SAR_OK ? std::string(reinterpret_cast<char*>(out), kSecret.size()) : std::to_string(rc);
    }

    std::string source = SOFTSKF_SCHEMA0_TOKEN;
    std::string path;
    HAPPLICATION app = nullptr;
};

TEST_F(Upgrade, anOlderToken_opensVerifiesSignsAndReadsWithItsPins)
{
    EXPECT_EQ(containers(app), (std::vector<std::string>{"sm2", "rsa"}));
    EXPECT_EQ(readSecret(), std::to_string(SAR_USER_NOT_LOGGED_IN));
    BYTE open[8] = {};
    ULONG size = sizeof open;
    ASSERT_EQ(skf->SKF_ReadFile(app, const_cast<char*>("open"), 0, sizeof open, open, &size), SAR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(open), 6), "anyone");

    ULONG retries = 0;
    EXPECT_EQ(skf->SKF_VerifyPIN(app, USER_TYPE, const_cast<char*>("00000000"), &retries), SAR_PIN_INCORRECT);
    ASSERT_EQ(verifyUser(app), SAR_OK);
    EXPECT_EQ(signAndCheck("sm2"), SAR_OK);
    EXPECT_EQ(readSecret(), kSecret);
    HCONTAINER rsa = nullptr;
    ASSERT_EQ(skf->SKF_OpenContainer(app, const_cast<char*>("rsa"), &rsa), SAR_OK);
    BYTE rsaSignature[128] = {};
    ULONG rsaSize = sizeof rsaSignature;
    EXPECT_EQ(skf->SKF_RSASignData(rsa, const_cast<BYTE*>(kDigest), 32, rsaSignature, &rsaSize), SAR_OK);
    HCONTAINER sm2 = nullptr;
    ASSERT_EQ(skf->SKF_OpenContainer(app, const_cast<char*>("sm2"), &sm2), SAR_OK);
    ULONG certSize = 0;
    EXPECT_EQ(skf->SKF_ExportCertificate(sm2, TRUE, nullptr, &certSize), SAR_OK);
    EXPECT_GT(certSize, 100u);

    // The verified user record is made again with scrypt; the SO record waits for its PIN.
    EXPECT_EQ(number(path, "SELECT kdf FROM pins WHERE pin_type = 1"), 1);
    EXPECT_EQ(number(path, "SELECT kdf FROM pins WHERE pin_type = 0"), 0);
    BOOL isDefault = FALSE;
    ULONG max = 0;
    ASSERT_EQ(skf->SKF_GetPINInfo(app, USER_TYPE, &max, &retries, &isDefault), SAR_OK);
    EXPECT_EQ(retries, max);
    EXPECT_TRUE(isDefault) << "converging is not a PIN change";
    // Logged in again, from a fresh connection, with the converged record.
    ASSERT_EQ(skf->SKF_ClearSecureState(app), SAR_OK);
    ASSERT_EQ(verifyUser(app), SAR_OK);
    EXPECT_EQ(signAndCheck("sm2"), SAR_OK);
}

TEST_F(Upgrade, anOlderToken_changesItsPinsAndEndsWithEverythingUnderANewKey)
{
    ULONG retries = 0;
    // The SO record is still of the older kind: the first change keeps the key.
    ASSERT_EQ(skf->SKF_ChangePIN(app, USER_TYPE, const_cast<char*>(kUserPin), const_cast<char*>("20262027"), &retries),
              SAR_OK);
    EXPECT_EQ(signAndCheck("sm2"), SAR_OK);
    EXPECT_EQ(readSecret(), kSecret);
    EXPECT_EQ(number(path, "SELECT sealed FROM files WHERE name = 'secret'"), 1) << "sealed at the PIN change";
    const std::vector<uint8_t> secretBytes(kSecret.begin(), kSecret.end());
    auto bytes = readFileBytes(path);
    auto wal = readFileBytes(path + "-wal");
    bytes.insert(bytes.end(), wal.begin(), wal.end());
    EXPECT_FALSE(contains(bytes, secretBytes)) << "the plain row is gone from the files";

    const auto keysBefore = number(path, "SELECT length(key_check) FROM applications");
    ASSERT_EQ(
        skf->SKF_ChangePIN(app, ADMIN_TYPE, const_cast<char*>(kAdminPin), const_cast<char*>("30313233"), &retries),
        SAR_OK);
    EXPECT_EQ(keysBefore, 16);
    EXPECT_EQ(number(path, "SELECT COUNT(*) FROM pins WHERE kdf = 1 AND wrap_public IS NOT NULL"), 2);

    ASSERT_EQ(skf->SKF_ClearSecureState(app), SAR_OK);
    EXPECT_EQ(verifyUser(app, kUserPin), SAR_PIN_INCORRECT);
    ASSERT_EQ(verifyUser(app, "20262027"), SAR_OK);
    EXPECT_EQ(signAndCheck("sm2"), SAR_OK);
    EXPECT_EQ(readSecret(), kSecret);
    ASSERT_EQ(skf->SKF_UnblockPIN(app, const_cast<char*>("30313233"), const_cast<char*>("40414243"), &retries), SAR_OK);
    ASSERT_EQ(verifyUser(app, "40414243"), SAR_OK);
    EXPECT_EQ(signAndCheck("sm2"), SAR_OK);
    EXPECT_EQ(readSecret(), kSecret);
}

// Made by the version before PIN records were bound (schema 1, PINs 12345678 and 87654321
// chosen at creation, scrypt at today's cost): container "sm2" with a generated signing
// pair, file "secret" written sealed, "never" (user rights, never written) and "open".
class UnboundRecords : public Upgrade
{
protected:
    UnboundRecords() { source = SOFTSKF_SCHEMA1_TOKEN; }
    std::vector<uint8_t> keyCheck() { return RawDb(path).row("SELECT key_check FROM applications").at(0); }
};

TEST_F(UnboundRecords, bindAtTheirFirstVerification_andTheKeyTurnsOnceBothAreBound)
{
    ASSERT_EQ(verifyUser(app), SAR_OK);
    EXPECT_EQ(signAndCheck("sm2"), SAR_OK);
    EXPECT_EQ(readSecret(), kSecret);
    EXPECT_EQ(number(path, "SELECT length(record_mac) FROM pins WHERE pin_type = 1"), 32);
    EXPECT_EQ(number(path, "SELECT record_mac IS NULL FROM pins WHERE pin_type = 0"), 1);

    // The SO record's public key is not yet known to be its own: nothing is wrapped to it.
    const auto firstKey = keyCheck();
    ULONG retries = 0;
    ASSERT_EQ(skf->SKF_ChangePIN(app, USER_TYPE, const_cast<char*>(kUserPin), const_cast<char*>("20262027"), &retries),
              SAR_OK);
    EXPECT_EQ(keyCheck(), firstKey);
    EXPECT_EQ(signAndCheck("sm2"), SAR_OK);

    ASSERT_EQ(skf->SKF_VerifyPIN(app, ADMIN_TYPE, const_cast<char*>(kAdminPin), &retries), SAR_OK);
    EXPECT_EQ(number(path, "SELECT COUNT(*) FROM pins WHERE length(record_mac) = 32"), 2);
    ASSERT_EQ(
        skf->SKF_ChangePIN(app, USER_TYPE, const_cast<char*>("20262027"), const_cast<char*>("30313233"), &retries),
        SAR_OK);
    EXPECT_NE(keyCheck(), firstKey) << "both records bound: a PIN change gives the application a new key";
    EXPECT_EQ(signAndCheck("sm2"), SAR_OK);
    EXPECT_EQ(readSecret(), kSecret);
    ASSERT_EQ(skf->SKF_ClearSecureState(app), SAR_OK);
    ASSERT_EQ(skf->SKF_UnblockPIN(app, const_cast<char*>(kAdminPin), const_cast<char*>("40414243"), &retries), SAR_OK);
    ASSERT_EQ(verifyUser(app, "40414243"), SAR_OK);
    EXPECT_EQ(signAndCheck("sm2"), SAR_OK);
    EXPECT_EQ(readSecret(), kSecret);
}

// Made by the release before row checksums (schema 2, default cost): application APP (SO
// PIN 12345678, user PIN 87654321), container "sm2" with a generated signing pair and a
// signing certificate, file "secret" (user rights, written sealed) and "open" (anyone).
class CurrentRelease : public Upgrade
{
protected:
    CurrentRelease() { source = SOFTSKF_SCHEMA2_TOKEN; }

    ULONG exportFrom(bool certificate, std::vector<uint8_t>* out = nullptr)
    {
        HCONTAINER container = nullptr;
        EXPECT_EQ(skf->SKF_OpenContainer(app, const_cast<char*>("sm2"), &container), SAR_OK);
        std::vector<uint8_t> bytes(4096);
        ULONG size = static_cast<ULONG>(bytes.size());
        const ULONG rc = certificate ? skf->SKF_ExportCertificate(container, TRUE, bytes.data(), &size)
                                     : skf->SKF_ExportPublicKey(container, TRUE, bytes.data(), &size);
        skf->SKF_CloseContainer(container);
        if (out) {
            out->assign(bytes.begin(), bytes.begin() + (rc == SAR_OK ? size : 0));
        }
        return rc;
    }

    // One byte of the row's column changed, as a bad sector or a torn write would.
    void flipByte(const std::string& table, const std::string& column, const std::string& where)
    {
        RawDb db(path);
        auto bytes = db.row("SELECT " + column + " FROM " + table + " WHERE " + where).at(0);
        ASSERT_FALSE(bytes.empty());
        bytes[bytes.size() / 2] ^= 0x10;
        std::string hex;
        for (const uint8_t byte : bytes) {
            char digits[3];
            std::snprintf(digits, sizeof digits, "%02X", byte);
            hex += digits;
        }
        db.exec("UPDATE " + table + " SET " + column + " = X'" + hex + "' WHERE " + where);
    }
};

TEST_F(CurrentRelease, opensUpgradedInPlace_everyRowChecked_andWorksWithItsPins)
{
    EXPECT_EQ(number(path, "PRAGMA user_version"), 3);
    for (const char* table : {"pins", "files", "key_pairs", "certificates"}) {
        EXPECT_EQ(number(path, (std::string("SELECT COUNT(*) FROM ") + table + " WHERE row_check IS NULL").c_str()), 0)
            << table;
    }
    ASSERT_EQ(verifyUser(app), SAR_OK);
    EXPECT_EQ(signAndCheck("sm2"), SAR_OK);
    EXPECT_EQ(readSecret(), kSecret);
    std::vector<uint8_t> der;
    ASSERT_EQ(exportFrom(true, &der), SAR_OK);
    EXPECT_EQ(der, RawDb(path).row("SELECT der FROM certificates").at(0));
}

TEST_F(CurrentRelease, aFlippedByte_isRefusedAsDamage_andSpendsNoTry)
{
    flipByte("pins", "verifier", "pin_type = 1");
    flipByte("certificates", "der", "signing = 1");
    flipByte("key_pairs", "public_blob", "signing = 1");
    flipByte("files", "data", "name = 'open'");

    ULONG retries = 0;
    EXPECT_EQ(skf->SKF_VerifyPIN(app, USER_TYPE, const_cast<char*>(kUserPin), &retries), SAR_FILEERR);
    EXPECT_EQ(skf->SKF_VerifyPIN(app, USER_TYPE, const_cast<char*>("00000000"), &retries), SAR_FILEERR);
    EXPECT_EQ(number(path, "SELECT remaining_retries = max_retries FROM pins WHERE pin_type = 1"), 1);
    EXPECT_EQ(exportFrom(true), SAR_FILEERR);
    EXPECT_EQ(exportFrom(false), SAR_FILEERR);
    BYTE open[16] = {};
    ULONG size = sizeof open;
    EXPECT_EQ(skf->SKF_ReadFile(app, const_cast<char*>("open"), 0, sizeof open, open, &size), SAR_FILEERR);
    // The SO PIN's own check reads the damaged record too: refused, and no try spent.
    EXPECT_EQ(skf->SKF_VerifyPIN(app, ADMIN_TYPE, const_cast<char*>(kAdminPin), &retries), SAR_FILEERR);
    EXPECT_EQ(number(path, "SELECT COUNT(*) FROM pins WHERE remaining_retries = max_retries"), 2);
    // The store names each damaged object for skftool.
    const std::string problem = admin::tokenProblem(deviceName);
    for (const char* named :
         {"application APP's user PIN record is damaged", "application APP's file open is damaged",
          "container sm2's signature key is damaged", "container sm2's signature certificate is damaged"}) {
        EXPECT_NE(problem.find(named), std::string::npos) << named << " in: " << problem;
    }
    EXPECT_EQ(problem.find("SO PIN"), std::string::npos) << problem;
}

TEST_F(CurrentRelease, aDamagedSealedKey_isNamed_andBlocksNoPinChange)
{
    flipByte("key_pairs", "wrapped_private_key", "signing = 1");
    ASSERT_EQ(verifyUser(app), SAR_OK);
    HCONTAINER container = nullptr;
    ASSERT_EQ(skf->SKF_OpenContainer(app, const_cast<char*>("sm2"), &container), SAR_OK);
    ECCSIGNATUREBLOB signature{};
    EXPECT_EQ(skf->SKF_ECCSignData(container, const_cast<BYTE*>(kDigest), 32, &signature), SAR_FILEERR);
    skf->SKF_CloseContainer(container);
    ULONG retries = 0;
    EXPECT_EQ(skf->SKF_ChangePIN(app, USER_TYPE, const_cast<char*>(kUserPin), const_cast<char*>("20262027"), &retries),
              SAR_OK);
    EXPECT_EQ(readSecret(), kSecret);
    EXPECT_EQ(admin::tokenProblem(deviceName), "container sm2's signature key is damaged");
}
