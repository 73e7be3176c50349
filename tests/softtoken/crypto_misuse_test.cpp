// Misuse of the cryptographic services answers with SKF errors and never crashes: handles
// of the wrong kind, calls out of order, signing without the PIN, data too long for RSA,
// malformed blobs and short output buffers.
#include "OpensslSide.h"
#include "TokenFixture.h"

#include <cstring>

using namespace softskf;
using namespace softskf::test;

class CryptoMisuse : public SoftTokenTest
{
protected:
    void SetUp() override
    {
        SoftTokenTest::SetUp();
        app = readyApp();
    }
    HAPPLICATION app = nullptr;
};

TEST_F(CryptoMisuse, handlesOfTheWrongKindAreRefused)
{
    HCONTAINER container = newContainer(app, "c");
    uint8_t key[16] = {};
    HANDLE sessionKey = nullptr;
    ASSERT_EQ(skf->SKF_SetSymmKey(device, key, SGD_SM4_ECB, &sessionKey), SAR_OK);
    HANDLE hash = nullptr;
    ASSERT_EQ(skf->SKF_DigestInit(device, SGD_SM3, nullptr, nullptr, 0, &hash), SAR_OK);
    uint8_t data[32] = {};
    uint8_t out[64];
    ULONG size = sizeof out;
    EXPECT_EQ(skf->SKF_EncryptInit(hash, BLOCKCIPHERPARAM{}), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(skf->SKF_EncryptInit(container, BLOCKCIPHERPARAM{}), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(skf->SKF_DigestUpdate(sessionKey, data, 16), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(skf->SKF_Digest(device, data, 16, out, &size), SAR_INVALIDHANDLEERR);
    BLOCKCIPHERPARAM param{};
    HANDLE mac = nullptr;
    EXPECT_EQ(skf->SKF_MacInit(hash, &param, &mac), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(skf->SKF_MacUpdate(sessionKey, data, 16), SAR_INVALIDHANDLEERR);
    ECCSIGNATUREBLOB signature{};
    EXPECT_EQ(skf->SKF_ECCSignData(sessionKey, data, 32, &signature), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(skf->SKF_SetSymmKey(app, key, SGD_SM4_ECB, &sessionKey), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(skf->SKF_DigestInit(container, SGD_SM3, nullptr, nullptr, 0, &hash), SAR_INVALIDHANDLEERR);
    // SKF_CloseHandle closes keys, hashes, MACs and agreements, never devices or containers.
    EXPECT_EQ(skf->SKF_CloseHandle(container), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(skf->SKF_CloseHandle(device), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(skf->SKF_CloseHandle(nullptr), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(skf->SKF_CloseHandle(reinterpret_cast<HANDLE>(0x1234)), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(skf->SKF_CloseHandle(hash), SAR_OK);
    EXPECT_EQ(skf->SKF_CloseHandle(sessionKey), SAR_OK);
    EXPECT_EQ(skf->SKF_CloseHandle(sessionKey), SAR_INVALIDHANDLEERR);
}

TEST_F(CryptoMisuse, callsOutOfOrderAreRefused)
{
    uint8_t key[16] = {};
    HANDLE sessionKey = nullptr;
    ASSERT_EQ(skf->SKF_SetSymmKey(device, key, SGD_SM4_CBC, &sessionKey), SAR_OK);
    uint8_t data[32] = {};
    uint8_t out[64];
    ULONG size = sizeof out;
    EXPECT_EQ(skf->SKF_EncryptUpdate(sessionKey, data, 16, out, &size), SAR_NOTINITIALIZEERR);
    EXPECT_EQ(skf->SKF_Encrypt(sessionKey, data, 16, out, &size), SAR_NOTINITIALIZEERR);
    EXPECT_EQ(skf->SKF_DecryptFinal(sessionKey, out, &size), SAR_NOTINITIALIZEERR);
    BLOCKCIPHERPARAM param{};
    param.IVLen = 16;
    ASSERT_EQ(skf->SKF_EncryptInit(sessionKey, param), SAR_OK);
    // Encryption is under way: decryption calls do not belong to it.
    EXPECT_EQ(skf->SKF_DecryptUpdate(sessionKey, data, 16, out, &size), SAR_NOTINITIALIZEERR);
    size = sizeof out;
    EXPECT_EQ(skf->SKF_Encrypt(sessionKey, data, 32, out, &size), SAR_OK);
    // One call ends the operation.
    size = sizeof out;
    EXPECT_EQ(skf->SKF_EncryptUpdate(sessionKey, data, 16, out, &size), SAR_NOTINITIALIZEERR);
    // CBC needs a 16-byte IV; padding is 0 or 1.
    param.IVLen = 8;
    EXPECT_EQ(skf->SKF_EncryptInit(sessionKey, param), SAR_INVALIDPARAMERR);
    param.IVLen = 16;
    param.PaddingType = 7;
    EXPECT_EQ(skf->SKF_EncryptInit(sessionKey, param), SAR_INVALIDPARAMERR);
    // Without padding, a partial block is wrong length; a bad padding is a padding error.
    param.PaddingType = 0;
    ASSERT_EQ(skf->SKF_EncryptInit(sessionKey, param), SAR_OK);
    size = sizeof out;
    EXPECT_EQ(skf->SKF_Encrypt(sessionKey, data, 20, out, &size), SAR_INDATALENERR);
    param.PaddingType = 1;
    ASSERT_EQ(skf->SKF_DecryptInit(sessionKey, param), SAR_OK);
    size = sizeof out;
    EXPECT_EQ(skf->SKF_Decrypt(sessionKey, data, 32, out, &size), SAR_DECRYPTPADERR);
    EXPECT_EQ(skf->SKF_CloseHandle(sessionKey), SAR_OK);
    // Unsupported algorithms and digests.
    EXPECT_EQ(skf->SKF_SetSymmKey(device, key, SGD_SM1_ECB, &sessionKey), SAR_NOTSUPPORTYETERR);
    HANDLE hash = nullptr;
    EXPECT_EQ(skf->SKF_DigestInit(device, 0x80, nullptr, nullptr, 0, &hash), SAR_NOTSUPPORTYETERR);
}

TEST_F(CryptoMisuse, signingNeedsTheUserPin_andTheRightInput)
{
    HCONTAINER container = newContainer(app, "c");
    uint8_t digest[32] = {1, 2, 3};
    ECCSIGNATUREBLOB signature{};
    EXPECT_EQ(skf->SKF_ECCSignData(container, digest, 32, &signature), SAR_KEYNOTFOUNTERR);
    ECCPUBLICKEYBLOB publicKey{};
    ASSERT_EQ(skf->SKF_GenECCKeyPair(container, SGD_SM2_1, &publicKey), SAR_OK);
    EXPECT_EQ(skf->SKF_ECCSignData(container, digest, 31, &signature), SAR_INDATALENERR);
    ASSERT_EQ(skf->SKF_ECCSignData(container, digest, 32, &signature), SAR_OK);
    ASSERT_EQ(skf->SKF_ClearSecureState(app), SAR_OK);
    EXPECT_EQ(skf->SKF_ECCSignData(container, digest, 32, &signature), SAR_USER_NOT_LOGGED_IN);
    // An RSA call on an SM2 container is the wrong key type.
    ASSERT_EQ(verifyUser(app), SAR_OK);
    uint8_t out[256];
    ULONG size = sizeof out;
    EXPECT_EQ(skf->SKF_RSASignData(container, digest, 32, out, &size), SAR_KEYINFOTYPEERR);
    // Verification of a wrong digest fails; a point off the curve is bad input.
    digest[0] ^= 1;
    EXPECT_EQ(skf->SKF_ECCVerify(device, &publicKey, digest, 32, &signature), SAR_FAIL);
    publicKey.YCoordinate[63] ^= 1;
    EXPECT_EQ(skf->SKF_ECCVerify(device, &publicKey, digest, 32, &signature), SAR_INDATAERR);
    publicKey.BitLen = 512;
    EXPECT_EQ(skf->SKF_ECCVerify(device, &publicKey, digest, 32, &signature), SAR_INDATAERR);
}

TEST_F(CryptoMisuse, rsaRefusesDataTooLong_andReportsSizesByTheLengthConvention)
{
    HCONTAINER container = newContainer(app, "rsa");
    RSAPUBLICKEYBLOB publicKey{};
    ASSERT_EQ(skf->SKF_GenRSAKeyPair(container, 1024, &publicKey), SAR_OK);
    std::vector<uint8_t> data(118, 0x5a); // 128 - 11 is the most PKCS#1 v1.5 takes
    std::vector<uint8_t> signature(128);
    ULONG size = 127;
    EXPECT_EQ(skf->SKF_RSASignData(container, data.data(), 117, signature.data(), &size), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 128u);
    EXPECT_EQ(skf->SKF_RSASignData(container, data.data(), 118, signature.data(), &size), SAR_INDATALENERR);
    EXPECT_EQ(skf->SKF_RSASignData(container, data.data(), 117, signature.data(), &size), SAR_OK);
    ASSERT_EQ(skf->SKF_ClearSecureState(app), SAR_OK);
    EXPECT_EQ(skf->SKF_RSASignData(container, data.data(), 117, signature.data(), &size), SAR_USER_NOT_LOGGED_IN);
    // Raw operations take exactly the modulus size; a blob of an unknown size is refused.
    EXPECT_EQ(skf->SKF_ExtRSAPubKeyOperation(device, &publicKey, data.data(), 118, signature.data(), &size),
              SAR_INDATALENERR);
    publicKey.BitLen = 3000;
    EXPECT_EQ(skf->SKF_RSAVerify(device, &publicKey, data.data(), 117, signature.data(), 128), SAR_INDATAERR);
    RSAPRIVATEKEYBLOB privateBlob{};
    EXPECT_EQ(skf->SKF_GenExtRSAKey(device, 1000, &privateBlob), SAR_MODULUSLENERR);
}

TEST_F(CryptoMisuse, malformedCipherBlobsAndAgreementsAreRefused)
{
    HCONTAINER container = newContainer(app, "c");
    ECCPUBLICKEYBLOB publicKey{};
    ASSERT_EQ(skf->SKF_GenECCKeyPair(container, SGD_SM2_1, &publicKey), SAR_OK);
    // No encryption pair yet: nothing to unwrap with or agree with.
    std::vector<uint8_t> blob(sizeof(ECCCIPHERBLOB) + 15);
    reinterpret_cast<ECCCIPHERBLOB*>(blob.data())->CipherLen = 16;
    HANDLE key = nullptr;
    EXPECT_EQ(skf->SKF_ImportSessionKey(container, SGD_SM4_ECB, blob.data(), static_cast<ULONG>(blob.size()), &key),
              SAR_KEYNOTFOUNTERR);
    ECCPUBLICKEYBLOB temp{};
    HANDLE agreement = nullptr;
    BYTE id[] = "id";
    EXPECT_EQ(skf->SKF_GenerateAgreementDataWithECC(container, SGD_SM4_ECB, &temp, id, 2, &agreement),
              SAR_KEYNOTFOUNTERR);
    auto envelope = makeEccEnvelope(publicKey, makeSm2Pair());
    ASSERT_EQ(skf->SKF_ImportECCKeyPair(container, reinterpret_cast<ENVELOPEDKEYBLOB*>(envelope.data())), SAR_OK);
    // A CipherLen past the buffer, a zero blob.
    reinterpret_cast<ECCCIPHERBLOB*>(blob.data())->CipherLen = 1000;
    EXPECT_EQ(skf->SKF_ImportSessionKey(container, SGD_SM4_ECB, blob.data(), static_cast<ULONG>(blob.size()), &key),
              SAR_INDATAERR);
    reinterpret_cast<ECCCIPHERBLOB*>(blob.data())->CipherLen = 16;
    EXPECT_EQ(skf->SKF_ImportSessionKey(container, SGD_SM4_ECB, blob.data(), static_cast<ULONG>(blob.size()), &key),
              SAR_INDATAERR);
    EXPECT_EQ(skf->SKF_ImportSessionKey(container, SGD_SM4_ECB, blob.data(), 10, &key), SAR_INDATAERR);
    // An agreement answered with a point off the curve.
    ASSERT_EQ(skf->SKF_GenerateAgreementDataWithECC(container, SGD_SM4_ECB, &temp, id, 2, &agreement), SAR_OK);
    ECCPUBLICKEYBLOB bad = temp;
    bad.XCoordinate[63] ^= 1;
    EXPECT_EQ(skf->SKF_GenerateKeyWithECC(agreement, &publicKey, &bad, id, 2, &key), SAR_INDATAERR);
    EXPECT_EQ(skf->SKF_GenerateKeyWithECC(agreement, &publicKey, &temp, nullptr, 0, &key), SAR_INVALIDPARAMERR);
    EXPECT_EQ(skf->SKF_CloseHandle(agreement), SAR_OK);
}

TEST_F(CryptoMisuse, externalSm2CallsRefuseMoreThanTheAdvertisedEccBuffer)
{
    auto pair = makeSm2Pair();
    DEVINFO info{};
    ASSERT_EQ(skf->SKF_GetDevInfo(device, &info), SAR_OK);
    std::vector<uint8_t> plain(info.MaxECCBufferSize + 1, 0x42);
    std::vector<uint8_t> blob(sizeof(ECCCIPHERBLOB) + plain.size());
    auto* cipher = reinterpret_cast<ECCCIPHERBLOB*>(blob.data());
    EXPECT_EQ(skf->SKF_ExtECCEncrypt(device, &pair.blob, plain.data(), static_cast<ULONG>(plain.size()), cipher),
              SAR_INDATALENERR);
    ASSERT_EQ(skf->SKF_ExtECCEncrypt(device, &pair.blob, plain.data(), info.MaxECCBufferSize, cipher), SAR_OK);
    const ULONG cipherLen = cipher->CipherLen; // packed fields do not bind to references
    const ULONG maxEcc = info.MaxECCBufferSize;
    EXPECT_EQ(cipherLen, maxEcc);
    // A CipherLen beyond it is refused before anything reads that far.
    ECCPRIVATEKEYBLOB privateBlob{};
    privateBlob.BitLen = 256;
    std::memcpy(privateBlob.PrivateKey + 32, pair.scalar.data(), 32);
    cipher->CipherLen = 0x7fffffff;
    ULONG size = 0x7fffffff;
    EXPECT_EQ(skf->SKF_ExtECCDecrypt(device, &privateBlob, cipher, plain.data(), &size), SAR_INDATALENERR);
}
