// What lies on disk: no private key and no PIN in the database files, private modes.
#include "TestKeys.h"
#include "TokenFixture.h"

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
