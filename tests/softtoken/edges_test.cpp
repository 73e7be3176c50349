// The token at its edges: a store folder others can reach and links planted in it, the
// handles of a pulled token, RSA key unwrapping that tells no padding apart, labels,
// CFB feedback widths and device authentication with a 16-byte challenge.
#include "OpensslSide.h"
#include "TestKeys.h"
#include "TokenFixture.h"

#include "tokenadmin.h"

#include <cstring>
#include <openssl/evp.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace softskf;
using namespace softskf::test;

namespace {

bool exists(const std::string& path)
{
    struct stat info
    {
    };
    return lstat(path.c_str(), &info) == 0;
}

std::string journalMode(const std::string& path)
{
    sqlite3* db = nullptr;
    std::string mode;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &statement, nullptr) == SQLITE_OK
            && sqlite3_step(statement) == SQLITE_ROW) {
            mode = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return mode;
}

// SM4-CFB with one byte of feedback, from the block function.
std::vector<uint8_t> cfb8Reference(const std::vector<uint8_t>& key, std::vector<uint8_t> shift,
                                   const std::vector<uint8_t>& plain)
{
    std::vector<uint8_t> out;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, EVP_sm4_ecb(), nullptr, key.data(), nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    for (uint8_t byte : plain) {
        uint8_t block[16];
        int written = 0;
        EVP_EncryptUpdate(ctx, block, &written, shift.data(), 16);
        out.push_back(byte ^ block[0]);
        shift.erase(shift.begin());
        shift.push_back(out.back());
    }
    EVP_CIPHER_CTX_free(ctx);
    return out;
}

} // namespace

class Edges : public SoftTokenTest
{
protected:
    std::string tokenPath(const std::string& serial, const char* suffix = ".db")
    {
        return testStore() + "/tokens/" + serial + suffix;
    }
    ULONG connectStatus(const std::string& name)
    {
        DEVHANDLE handle = nullptr;
        const ULONG rc = skf->SKF_ConnectDev(const_cast<char*>(name.c_str()), &handle);
        if (rc == SAR_OK) {
            skf->SKF_DisConnectDev(handle);
        }
        return rc;
    }
    // A container with an SM2 signing pair and the given pair imported for encryption.
    HCONTAINER sm2Container(HAPPLICATION app, const std::string& name, const Sm2TestPair& encryption)
    {
        HCONTAINER container = newContainer(app, name);
        ECCPUBLICKEYBLOB signing{};
        EXPECT_EQ(skf->SKF_GenECCKeyPair(container, SGD_SM2_1, &signing), SAR_OK);
        auto envelope = makeEccEnvelope(signing, encryption);
        EXPECT_EQ(skf->SKF_ImportECCKeyPair(container, reinterpret_cast<ENVELOPEDKEYBLOB*>(envelope.data())), SAR_OK);
        return container;
    }
};

TEST_F(Edges, aStoreFolderOthersCanReach_isRefused)
{
    deviceName = plugNewToken();
    const std::string tokens = testStore() + "/tokens";
    char names[4096]; // every token the suite plugged in so far
    ULONG size = sizeof names;
    for (const auto& [folder, mode] : {std::pair{testStore(), 0777}, {tokens, 0750}, {tokens, 0701}}) {
        ASSERT_EQ(chmod(folder.c_str(), static_cast<mode_t>(mode)), 0);
        size = sizeof names;
        EXPECT_EQ(skf->SKF_EnumDev(TRUE, names, &size), SAR_FILEERR) << folder << " " << std::oct << mode;
        EXPECT_EQ(connectStatus(deviceName), SAR_FILEERR);
        try {
            admin::listTokens();
            ADD_FAILURE() << "the store commands used " << folder;
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find("open to other users"), std::string::npos) << error.what();
        }
        ASSERT_EQ(chmod(folder.c_str(), 0700), 0);
    }
    size = sizeof names;
    EXPECT_EQ(skf->SKF_EnumDev(TRUE, names, &size), SAR_OK);
    EXPECT_EQ(connectStatus(deviceName), SAR_OK);

    // A store folder that is a link is no folder of the store.
    const std::string linked = testStore() + "-link";
    ASSERT_EQ(symlink(testStore().c_str(), linked.c_str()), 0);
    setenv("SOFTSKF_DIR", linked.c_str(), 1);
    EXPECT_THROW(admin::listTokens(), std::runtime_error);
    setenv("SOFTSKF_DIR", testStore().c_str(), 1);
    unlink(linked.c_str());
}

TEST_F(Edges, plantedLinks_areNotFollowed)
{
    // The lock file: a link would have SKF_LockDev create a file elsewhere.
    const std::string name = plugNewToken();
    device = connect(name);
    const std::string serial = name.substr(3);
    const std::string elsewhere = testStore() + "/elsewhere";
    ASSERT_EQ(symlink(elsewhere.c_str(), tokenPath(serial, ".lock").c_str()), 0);
    EXPECT_EQ(skf->SKF_LockDev(device, 0), SAR_FILEERR);
    EXPECT_FALSE(exists(elsewhere));

    // The database: a link to another database would have its journal mode rewritten.
    const std::string victim = testStore() + "/victim.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(victim.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t(x); PRAGMA journal_mode = DELETE", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    const std::string linkedSerial = uniqueSerial("LNK");
    ASSERT_EQ(symlink(victim.c_str(), tokenPath(linkedSerial).c_str()), 0);
    admin::insertToken(linkedSerial, "VK-" + linkedSerial);
    EXPECT_EQ(connectStatus("VK-" + linkedSerial), SAR_FILEERR);
    EXPECT_EQ(journalMode(victim), "delete");

    // Its write-ahead log, and a companion that is not a regular file.
    const std::string walToken = plugNewToken();
    ASSERT_EQ(symlink(elsewhere.c_str(), tokenPath(walToken.substr(3), ".db-wal").c_str()), 0);
    EXPECT_EQ(connectStatus(walToken), SAR_FILEERR);
    EXPECT_FALSE(exists(elsewhere));
    const std::string shmToken = plugNewToken();
    ASSERT_EQ(mkdir(tokenPath(shmToken.substr(3), ".db-shm").c_str(), 0700), 0);
    EXPECT_EQ(connectStatus(shmToken), SAR_FILEERR);

    // A presence file that is a link does not plug anything in.
    const std::string other = plugNewToken();
    const std::string present = testStore() + "/present/";
    ASSERT_EQ(symlink((present + other).c_str(), (present + "VK-ALIAS").c_str()), 0);
    EXPECT_EQ(connectStatus("VK-ALIAS"), SAR_DEVICE_REMOVED);
}

TEST_F(Edges, aPulledTokensCipherDigestMacAndAgreementHandles_answerDeviceRemoved)
{
    HAPPLICATION app = readyApp();
    auto sponsorPair = makeSm2Pair();
    HCONTAINER sponsor = sm2Container(app, "sponsor", sponsorPair);
    std::string id = "ALICE";
    ECCPUBLICKEYBLOB temp{};
    HANDLE agreement = nullptr;
    ASSERT_EQ(skf->SKF_GenerateAgreementDataWithECC(sponsor, SGD_SM4_ECB, &temp, reinterpret_cast<BYTE*>(id.data()),
                                                    static_cast<ULONG>(id.size()), &agreement),
              SAR_OK);
    uint8_t keyBytes[16] = {1, 2, 3};
    HANDLE key = nullptr;
    HANDLE otherKey = nullptr;
    ASSERT_EQ(skf->SKF_SetSymmKey(device, keyBytes, SGD_SM4_ECB, &key), SAR_OK);
    ASSERT_EQ(skf->SKF_SetSymmKey(device, keyBytes, SGD_SM4_ECB, &otherKey), SAR_OK);
    ASSERT_EQ(skf->SKF_EncryptInit(key, BLOCKCIPHERPARAM{}), SAR_OK);
    HANDLE hash = nullptr;
    ASSERT_EQ(skf->SKF_DigestInit(device, SGD_SM3, nullptr, nullptr, 0, &hash), SAR_OK);
    BLOCKCIPHERPARAM macParam{};
    HANDLE mac = nullptr;
    ASSERT_EQ(skf->SKF_MacInit(otherKey, &macParam, &mac), SAR_OK);

    admin::removeToken(deviceName);
    uint8_t data[16] = {};
    uint8_t out[32];
    ULONG size = sizeof out;
    EXPECT_EQ(skf->SKF_Encrypt(key, data, 16, out, &size), SAR_DEVICE_REMOVED);
    EXPECT_EQ(skf->SKF_EncryptUpdate(key, data, 16, out, &size), SAR_DEVICE_REMOVED);
    EXPECT_EQ(skf->SKF_EncryptInit(key, BLOCKCIPHERPARAM{}), SAR_DEVICE_REMOVED);
    EXPECT_EQ(skf->SKF_DecryptInit(key, BLOCKCIPHERPARAM{}), SAR_DEVICE_REMOVED);
    EXPECT_EQ(skf->SKF_DigestUpdate(hash, data, 16), SAR_DEVICE_REMOVED);
    size = sizeof out;
    EXPECT_EQ(skf->SKF_Digest(hash, data, 16, out, &size), SAR_DEVICE_REMOVED);
    EXPECT_EQ(skf->SKF_MacUpdate(mac, data, 16), SAR_DEVICE_REMOVED);
    size = sizeof out;
    EXPECT_EQ(skf->SKF_Mac(mac, data, 16, out, &size), SAR_DEVICE_REMOVED);
    HANDLE newMac = nullptr;
    EXPECT_EQ(skf->SKF_MacInit(otherKey, &macParam, &newMac), SAR_DEVICE_REMOVED);
    HANDLE agreed = nullptr;
    EXPECT_EQ(skf->SKF_GenerateKeyWithECC(agreement, &sponsorPair.blob, &temp, reinterpret_cast<BYTE*>(id.data()),
                                          static_cast<ULONG>(id.size()), &agreed),
              SAR_DEVICE_REMOVED);
    // Closing says so too, and the handle is gone all the same.
    for (HANDLE handle : {mac, key, hash, agreement}) {
        EXPECT_EQ(skf->SKF_CloseHandle(handle), SAR_DEVICE_REMOVED);
        EXPECT_EQ(skf->SKF_CloseHandle(handle), SAR_INVALIDHANDLEERR);
    }
    EXPECT_EQ(skf->SKF_CloseContainer(sponsor), SAR_DEVICE_REMOVED);
    EXPECT_EQ(skf->SKF_CloseApplication(app), SAR_DEVICE_REMOVED);
    EXPECT_EQ(skf->SKF_CloseApplication(app), SAR_INVALIDHANDLEERR);
}

TEST_F(Edges, anAgreementCompletesOnlyWhileTheUserIsLoggedIn)
{
    HAPPLICATION app = readyApp();
    auto sponsorPair = makeSm2Pair();
    auto responderPair = makeSm2Pair();
    HCONTAINER sponsor = sm2Container(app, "sponsor", sponsorPair);
    HCONTAINER responder = sm2Container(app, "responder", responderPair);
    std::string aId = "ALICE";
    std::string bId = "BOB";
    auto* a = reinterpret_cast<BYTE*>(aId.data());
    auto* b = reinterpret_cast<BYTE*>(bId.data());
    ECCPUBLICKEYBLOB sponsorTemp{};
    HANDLE agreement = nullptr;
    ASSERT_EQ(skf->SKF_GenerateAgreementDataWithECC(sponsor, SGD_SM4_ECB, &sponsorTemp, a, 5, &agreement), SAR_OK);
    ECCPUBLICKEYBLOB responderTemp{};
    HANDLE responderKey = nullptr;
    ASSERT_EQ(skf->SKF_GenerateAgreementDataAndKeyWithECC(responder, SGD_SM4_ECB, &sponsorPair.blob, &sponsorTemp,
                                                          &responderTemp, b, 3, a, 5, &responderKey),
              SAR_OK);
    ASSERT_EQ(skf->SKF_ClearSecureState(app), SAR_OK);
    HANDLE sponsorKey = nullptr;
    EXPECT_EQ(skf->SKF_GenerateKeyWithECC(agreement, &responderPair.blob, &responderTemp, b, 3, &sponsorKey),
              SAR_USER_NOT_LOGGED_IN);
    ASSERT_EQ(verifyUser(app), SAR_OK);
    EXPECT_EQ(skf->SKF_GenerateKeyWithECC(agreement, &responderPair.blob, &responderTemp, b, 3, &sponsorKey), SAR_OK);
}

TEST_F(Edges, rsaSessionKeyImport_answersOneCodeWhateverIsWrongWithThePadding)
{
    HAPPLICATION app = readyApp();
    HCONTAINER container = newContainer(app, "rsa");
    RSAPUBLICKEYBLOB signing{};
    ASSERT_EQ(skf->SKF_GenRSAKeyPair(container, 1024, &signing), SAR_OK);
    auto encryption = makeRsaPair(1024);
    auto envelope = makeRsaEnvelope(signing, encryption);
    ASSERT_EQ(skf->SKF_ImportRSAKeyPair(container, SGD_SM4_ECB, envelope.wrappedKey.data(),
                                        static_cast<ULONG>(envelope.wrappedKey.size()), envelope.encryptedKey.data(),
                                        static_cast<ULONG>(envelope.encryptedKey.size())),
              SAR_OK);
    // Encryption blocks built by hand, wrapped with the raw public operation.
    const auto block = [](size_t keySize, size_t zeroAt = 0) {
        std::vector<uint8_t> em(128, 0x5a);
        em[0] = 0x00;
        em[1] = 0x02;
        em[128 - keySize - 1] = 0x00;
        if (zeroAt) {
            em[zeroAt] = 0x00;
        }
        return em;
    };
    const auto import = [&](std::vector<uint8_t> em, bool raw = false) {
        std::vector<uint8_t> wrapped(128);
        ULONG size = 128;
        if (!raw) {
            EXPECT_EQ(skf->SKF_ExtRSAPubKeyOperation(device, &encryption.blob, em.data(), 128, wrapped.data(), &size),
                      SAR_OK);
        } else {
            wrapped = em;
        }
        HANDLE key = nullptr;
        const ULONG rc = skf->SKF_ImportSessionKey(container, SGD_SM4_ECB, wrapped.data(),
                                                   static_cast<ULONG>(wrapped.size()), &key);
        if (key) {
            skf->SKF_CloseHandle(key);
        }
        return rc;
    };
    EXPECT_EQ(import(block(16)), SAR_OK);
    auto wrongType = block(16);
    wrongType[1] = 0x01;
    auto leadingByte = block(16);
    leadingByte[0] = 0x01;
    auto noSeparator = block(16);
    noSeparator[128 - 17] = 0x5a;
    const std::vector<std::vector<uint8_t>> bad{
        wrongType,     leadingByte,  noSeparator,
        block(15), // padding fine, a key one byte short
        block(17), // one byte long
        block(32),     block(16, 5), // a zero among the first eight padding bytes
        block(16, 60), // a zero later in the padding: the key would be elsewhere
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        EXPECT_EQ(import(bad[i]), SAR_INDATAERR) << "case " << i;
    }
    EXPECT_EQ(import(std::vector<uint8_t>(128, 0xff), true), SAR_INDATAERR) << "not below the modulus";
    EXPECT_EQ(import(std::vector<uint8_t>(127, 0x01), true), SAR_INDATAERR) << "shorter than the modulus";
}

TEST_F(Edges, labelsKeepTheirTerminatingZero)
{
    device = connect(plugNewToken());
    std::string longest(31, 'L');
    ASSERT_EQ(skf->SKF_SetLabel(device, longest.data()), SAR_OK);
    DEVINFO info{};
    ASSERT_EQ(skf->SKF_GetDevInfo(device, &info), SAR_OK);
    const auto* label = reinterpret_cast<const char*>(info.Label);
    EXPECT_EQ(std::string(label, strnlen(label, sizeof info.Label)), longest);
    EXPECT_EQ(info.Label[sizeof info.Label - 1], 0);
    std::string tooLong(32, 'L');
    EXPECT_EQ(skf->SKF_SetLabel(device, tooLong.data()), SAR_INVALIDPARAMERR);

    admin::TokenOptions options;
    options.serial = uniqueSerial("LBL");
    options.label = tooLong;
    EXPECT_THROW(admin::createToken(options), std::runtime_error);
    options.label = longest;
    EXPECT_NO_THROW(admin::createToken(options));
}

TEST_F(Edges, cfbHonoursTheFeedbackWidth)
{
    device = connect(plugNewToken());
    const std::vector<uint8_t> keyBytes(16, 0x42);
    std::vector<uint8_t> iv(16);
    for (size_t i = 0; i < iv.size(); ++i) {
        iv[i] = static_cast<uint8_t>(i * 7);
    }
    std::vector<uint8_t> plain(37);
    for (size_t i = 0; i < plain.size(); ++i) {
        plain[i] = static_cast<uint8_t>(i * 13 + 1);
    }
    HANDLE key = nullptr;
    ASSERT_EQ(skf->SKF_SetSymmKey(device, const_cast<BYTE*>(keyBytes.data()), SGD_SM4_CFB, &key), SAR_OK);
    const auto run = [&](ULONG feedBits, bool encrypt, const std::vector<uint8_t>& in, ULONG& rc) {
        BLOCKCIPHERPARAM param{};
        std::memcpy(param.IV, iv.data(), 16);
        param.IVLen = 16;
        param.FeedBitLen = feedBits;
        rc = encrypt ? skf->SKF_EncryptInit(key, param) : skf->SKF_DecryptInit(key, param);
        std::vector<uint8_t> out(in.size() + 16);
        if (rc != SAR_OK) {
            return out;
        }
        // In two pieces that do not end on a block, then the final step.
        const ULONG first = 5;
        ULONG a = static_cast<ULONG>(out.size());
        auto update = encrypt ? skf->SKF_EncryptUpdate : skf->SKF_DecryptUpdate;
        auto final = encrypt ? skf->SKF_EncryptFinal : skf->SKF_DecryptFinal;
        EXPECT_EQ(update(key, const_cast<BYTE*>(in.data()), first, out.data(), &a), SAR_OK);
        ULONG b = static_cast<ULONG>(out.size()) - a;
        EXPECT_EQ(update(key, const_cast<BYTE*>(in.data()) + first, static_cast<ULONG>(in.size()) - first,
                         out.data() + a, &b),
                  SAR_OK);
        ULONG c = static_cast<ULONG>(out.size()) - a - b;
        EXPECT_EQ(final(key, out.data() + a + b, &c), SAR_OK);
        out.resize(a + b + c);
        return out;
    };
    ULONG rc = 0;
    const auto cfb8 = run(8, true, plain, rc);
    ASSERT_EQ(rc, SAR_OK);
    EXPECT_EQ(toHex(cfb8), toHex(cfb8Reference(keyBytes, iv, plain)));
    EXPECT_EQ(run(8, false, cfb8, rc), plain);
    const auto cfb128 = evpSm4("SM4-CFB", keyBytes, iv, plain, false, true);
    EXPECT_EQ(run(0, true, plain, rc), cfb128);
    EXPECT_EQ(run(128, true, plain, rc), cfb128);
    for (ULONG unsupported : {1u, 64u, 7u}) {
        run(unsupported, true, plain, rc);
        EXPECT_EQ(rc, SAR_NOTSUPPORTYETERR) << unsupported;
    }
}

TEST_F(Edges, deviceAuthentication_takesA16ByteChallengeWholeOrPadded)
{
    device = connect(plugNewToken());
    const auto encrypt = [](const uint8_t* key, const uint8_t* block) {
        std::vector<uint8_t> out(32);
        int written = 0;
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        EVP_EncryptInit_ex(ctx, EVP_sm4_ecb(), nullptr, key, nullptr);
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        EVP_EncryptUpdate(ctx, out.data(), &written, block, 16);
        EVP_CIPHER_CTX_free(ctx);
        out.resize(16);
        return out;
    };
    const uint8_t wrongKey[16] = {9};
    for (const uint8_t* key : {kDefaultDevAuthKey, wrongKey}) {
        uint8_t challenge[16];
        ASSERT_EQ(skf->SKF_GenRandom(device, challenge, 16), SAR_OK);
        auto whole = encrypt(key, challenge);
        EXPECT_EQ(skf->SKF_DevAuth(device, whole.data(), 16), key == wrongKey ? SAR_FAIL : SAR_OK);
        ASSERT_EQ(skf->SKF_GenRandom(device, challenge, 16), SAR_OK);
        auto padded = devAuthAnswer(key, challenge);
        EXPECT_EQ(skf->SKF_DevAuth(device, padded.data(), 16), key == wrongKey ? SAR_FAIL : SAR_OK);
    }
    // A 16-byte challenge encrypted whole answers once, like any other.
    uint8_t challenge[16];
    ASSERT_EQ(skf->SKF_GenRandom(device, challenge, 16), SAR_OK);
    auto whole = encrypt(kDefaultDevAuthKey, challenge);
    EXPECT_EQ(skf->SKF_DevAuth(device, whole.data(), 16), SAR_OK);
    EXPECT_EQ(skf->SKF_DevAuth(device, whole.data(), 16), SAR_FAIL);
}
