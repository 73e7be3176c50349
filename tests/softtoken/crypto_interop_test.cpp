// Interoperability with OpenSSL in both directions: SM2 and RSA signatures, session keys
// encrypted by OpenSSL to a container's key and unwrapped on the token and the other way
// round, external-key operations, and the SM2 key exchange between two containers.
#include "OpensslSide.h"
#include "TokenFixture.h"

#include <cstring>

using namespace softskf;
using namespace softskf::test;

namespace {

const std::string kDefaultId = "1234567812345678";

std::vector<uint8_t> message(size_t size, uint8_t seed)
{
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<uint8_t>(seed + i * 13);
    }
    return data;
}

// Made once per process: RSA-2048 generation is slow.
const RsaTestPair& rsa2048()
{
    static const RsaTestPair pair = makeRsaPair(2048);
    return pair;
}

} // namespace

class CryptoInterop : public SoftTokenTest
{
protected:
    void SetUp() override
    {
        SoftTokenTest::SetUp();
        app = readyApp();
    }
    ECCPUBLICKEYBLOB sm2Signing(HCONTAINER container)
    {
        ECCPUBLICKEYBLOB blob{};
        EXPECT_EQ(skf->SKF_GenECCKeyPair(container, SGD_SM2_1, &blob), SAR_OK);
        return blob;
    }
    // A container with an SM2 signing pair and the given pair imported for encryption.
    HCONTAINER sm2Container(const std::string& name, const Sm2TestPair& encryption)
    {
        HCONTAINER container = newContainer(app, name);
        auto envelope = makeEccEnvelope(sm2Signing(container), encryption);
        EXPECT_EQ(skf->SKF_ImportECCKeyPair(container, reinterpret_cast<ENVELOPEDKEYBLOB*>(envelope.data())), SAR_OK);
        return container;
    }
    std::vector<uint8_t> sm3WithZ(ECCPUBLICKEYBLOB& key, const std::vector<uint8_t>& data)
    {
        HANDLE hash = nullptr;
        EXPECT_EQ(skf->SKF_DigestInit(device, SGD_SM3, &key,
                                      reinterpret_cast<BYTE*>(const_cast<char*>(kDefaultId.data())), 16, &hash),
                  SAR_OK);
        std::vector<uint8_t> e(32);
        ULONG size = 32;
        EXPECT_EQ(
            skf->SKF_Digest(hash, const_cast<BYTE*>(data.data()), static_cast<ULONG>(data.size()), e.data(), &size),
            SAR_OK);
        skf->SKF_CloseHandle(hash);
        return e;
    }
    std::vector<uint8_t> cbc(HANDLE key, bool encrypt, const std::vector<uint8_t>& iv, const std::vector<uint8_t>& in)
    {
        BLOCKCIPHERPARAM param{};
        std::memcpy(param.IV, iv.data(), 16);
        param.IVLen = 16;
        param.PaddingType = 1;
        EXPECT_EQ(encrypt ? skf->SKF_EncryptInit(key, param) : skf->SKF_DecryptInit(key, param), SAR_OK);
        std::vector<uint8_t> out(in.size() + 16);
        ULONG size = static_cast<ULONG>(out.size());
        EXPECT_EQ((encrypt ? skf->SKF_Encrypt : skf->SKF_Decrypt)(key, const_cast<BYTE*>(in.data()),
                                                                  static_cast<ULONG>(in.size()), out.data(), &size),
                  SAR_OK);
        out.resize(size);
        return out;
    }

    HAPPLICATION app = nullptr;
};

TEST_F(CryptoInterop, tokenSm2SignatureWithZVerifiesInOpenssl_andOpensslsVerifiesOnTheToken)
{
    HCONTAINER container = newContainer(app, "sm2");
    ECCPUBLICKEYBLOB publicKey = sm2Signing(container);
    const auto data = message(1000, 1);
    auto e = sm3WithZ(publicKey, data);
    ECCSIGNATUREBLOB signature{};
    ASSERT_EQ(skf->SKF_ECCSignData(container, e.data(), 32, &signature), SAR_OK);
    auto openssl = sm2PublicKey(publicKey);
    EXPECT_TRUE(sm2VerifyMessage(openssl.get(), data, kDefaultId, signature));
    EXPECT_EQ(skf->SKF_ECCVerify(device, &publicKey, e.data(), 32, &signature), SAR_OK);
    EXPECT_FALSE(sm2VerifyMessage(openssl.get(), message(1000, 2), kDefaultId, signature));

    auto pair = makeSm2Pair();
    auto signer = sm2PrivateKey(pair);
    ECCSIGNATUREBLOB theirs = sm2SignMessage(signer.get(), data, kDefaultId);
    auto e2 = sm3WithZ(pair.blob, data);
    EXPECT_EQ(skf->SKF_ECCVerify(device, &pair.blob, e2.data(), 32, &theirs), SAR_OK);
    EXPECT_EQ(skf->SKF_ExtECCVerify(device, &pair.blob, e2.data(), 32, &theirs), SAR_OK);
    theirs.s[63] ^= 1;
    EXPECT_EQ(skf->SKF_ECCVerify(device, &pair.blob, e2.data(), 32, &theirs), SAR_FAIL);
}

TEST_F(CryptoInterop, externalSm2KeysSignEncryptAndDecryptLikeOpenssl)
{
    auto pair = makeSm2Pair();
    ECCPRIVATEKEYBLOB privateBlob{};
    privateBlob.BitLen = 256;
    std::memcpy(privateBlob.PrivateKey + 32, pair.scalar.data(), 32);
    const auto data = message(50, 9);
    auto e = sm3WithZ(pair.blob, data);
    ECCSIGNATUREBLOB signature{};
    ASSERT_EQ(skf->SKF_ExtECCSign(device, &privateBlob, e.data(), 32, &signature), SAR_OK);
    auto openssl = sm2PrivateKey(pair);
    EXPECT_TRUE(sm2VerifyMessage(openssl.get(), data, kDefaultId, signature));

    // Token encrypts, OpenSSL decrypts; OpenSSL encrypts, token decrypts.
    std::vector<uint8_t> blob(sizeof(ECCCIPHERBLOB) - 1 + data.size());
    ASSERT_EQ(skf->SKF_ExtECCEncrypt(device, &pair.blob, const_cast<BYTE*>(data.data()),
                                     static_cast<ULONG>(data.size()), reinterpret_cast<ECCCIPHERBLOB*>(blob.data())),
              SAR_OK);
    EXPECT_EQ(sm2DecryptBlob(openssl.get(), blob.data()), data);
    auto theirs = sm2EncryptToBlob(openssl.get(), data);
    ULONG size = 0;
    auto* cipher = reinterpret_cast<ECCCIPHERBLOB*>(theirs.data());
    ASSERT_EQ(skf->SKF_ExtECCDecrypt(device, &privateBlob, cipher, nullptr, &size), SAR_OK);
    EXPECT_EQ(size, data.size());
    std::vector<uint8_t> plain(size);
    size = 10;
    EXPECT_EQ(skf->SKF_ExtECCDecrypt(device, &privateBlob, cipher, plain.data(), &size), SAR_BUFFER_TOO_SMALL);
    size = static_cast<ULONG>(plain.size());
    ASSERT_EQ(skf->SKF_ExtECCDecrypt(device, &privateBlob, cipher, plain.data(), &size), SAR_OK);
    EXPECT_EQ(plain, data);
    cipher->HASH[0] ^= 1; // C3 no longer matches
    EXPECT_EQ(skf->SKF_ExtECCDecrypt(device, &privateBlob, cipher, plain.data(), &size), SAR_INDATAERR);
}

TEST_F(CryptoInterop, opensslEncryptsASessionKeyToTheContainer_andTheTokenDecryptsItsData)
{
    auto encryption = makeSm2Pair();
    HCONTAINER container = sm2Container("enc", encryption);
    const auto sessionKey = message(16, 40);
    const auto iv = message(16, 77);
    const auto data = message(300, 5);
    auto encryptionKey = sm2PublicKey(encryption.blob);
    auto wrapped = sm2EncryptToBlob(encryptionKey.get(), sessionKey);
    HANDLE key = nullptr;
    ASSERT_EQ(
        skf->SKF_ImportSessionKey(container, SGD_SM4_CBC, wrapped.data(), static_cast<ULONG>(wrapped.size()), &key),
        SAR_OK);
    const auto ciphertext = evpSm4("SM4-CBC", sessionKey, iv, data, true, true);
    EXPECT_EQ(cbc(key, false, iv, ciphertext), data);
    EXPECT_EQ(cbc(key, true, iv, data), ciphertext);
    // Closing the container closes its session keys.
    EXPECT_EQ(skf->SKF_CloseContainer(container), SAR_OK);
    EXPECT_EQ(skf->SKF_EncryptInit(key, BLOCKCIPHERPARAM{}), SAR_INVALIDHANDLEERR);
}

TEST_F(CryptoInterop, theTokenExportsASessionKeyThatOpensslUnwraps)
{
    HCONTAINER container = newContainer(app, "exp");
    sm2Signing(container);
    auto pair = makeSm2Pair();
    std::vector<uint8_t> blob(sizeof(ECCCIPHERBLOB) + 15);
    HANDLE key = nullptr;
    ASSERT_EQ(skf->SKF_ECCExportSessionKey(container, SGD_SM4_CBC, &pair.blob,
                                           reinterpret_cast<ECCCIPHERBLOB*>(blob.data()), &key),
              SAR_OK);
    auto openssl = sm2PrivateKey(pair);
    const auto sessionKey = sm2DecryptBlob(openssl.get(), blob.data());
    ASSERT_EQ(sessionKey.size(), 16u);
    const auto iv = message(16, 1);
    const auto data = message(64, 2);
    EXPECT_EQ(evpSm4("SM4-CBC", sessionKey, iv, cbc(key, true, iv, data), true, false), data);

    // RSA: the token wraps with PKCS#1 v1.5, OpenSSL unwraps.
    const auto& rsa = rsa2048();
    RSAPUBLICKEYBLOB rsaBlob = rsa.blob;
    ULONG size = 0;
    HANDLE rsaKey = nullptr;
    ASSERT_EQ(skf->SKF_RSAExportSessionKey(container, SGD_SM4_ECB, &rsaBlob, nullptr, &size, &rsaKey), SAR_OK);
    EXPECT_EQ(size, 256u);
    EXPECT_EQ(rsaKey, nullptr); // a size query makes no key
    std::vector<uint8_t> wrapped(size);
    ASSERT_EQ(skf->SKF_RSAExportSessionKey(container, SGD_SM4_ECB, &rsaBlob, wrapped.data(), &size, &rsaKey), SAR_OK);
    auto rsaPrivate = rsaPrivateKey(rsa);
    const auto unwrapped = rsaPkcs1Decrypt(rsaPrivate.get(), wrapped);
    BLOCKCIPHERPARAM ecb{};
    ASSERT_EQ(skf->SKF_EncryptInit(rsaKey, ecb), SAR_OK);
    std::vector<uint8_t> out(32);
    size = 32;
    ASSERT_EQ(skf->SKF_Encrypt(rsaKey, const_cast<BYTE*>(data.data()), 32, out.data(), &size), SAR_OK);
    EXPECT_EQ(out,
              evpSm4("SM4-ECB", unwrapped, {}, std::vector<uint8_t>(data.begin(), data.begin() + 32), false, true));
}

TEST_F(CryptoInterop, rsaSignaturesVerifyBothWays_andRsaWrappedKeysImport)
{
    HCONTAINER container = newContainer(app, "rsa");
    RSAPUBLICKEYBLOB publicKey{};
    ASSERT_EQ(skf->SKF_GenRSAKeyPair(container, 1024, &publicKey), SAR_OK);
    const auto data = message(500, 3);
    auto info = sha256DigestInfo(data);
    ULONG size = 0;
    ASSERT_EQ(skf->SKF_RSASignData(container, info.data(), static_cast<ULONG>(info.size()), nullptr, &size), SAR_OK);
    EXPECT_EQ(size, 128u);
    std::vector<uint8_t> signature(size);
    ASSERT_EQ(skf->SKF_RSASignData(container, info.data(), static_cast<ULONG>(info.size()), signature.data(), &size),
              SAR_OK);
    auto openssl = rsaPublicKey(publicKey);
    EXPECT_TRUE(rsaVerifySha256(openssl.get(), data, signature));
    EXPECT_EQ(
        skf->SKF_RSAVerify(device, &publicKey, info.data(), static_cast<ULONG>(info.size()), signature.data(), size),
        SAR_OK);

    const auto& pair = rsa2048();
    auto signer = rsaPrivateKey(pair);
    auto theirs = rsaSignSha256(signer.get(), data);
    RSAPUBLICKEYBLOB theirKey = pair.blob;
    EXPECT_EQ(skf->SKF_RSAVerify(device, &theirKey, info.data(), static_cast<ULONG>(info.size()), theirs.data(),
                                 static_cast<ULONG>(theirs.size())),
              SAR_OK);
    theirs[10] ^= 1;
    EXPECT_EQ(skf->SKF_RSAVerify(device, &theirKey, info.data(), static_cast<ULONG>(info.size()), theirs.data(),
                                 static_cast<ULONG>(theirs.size())),
              SAR_RSADECERR);

    // OpenSSL wraps a session key to the container's RSA encryption key.
    auto encryption = makeRsaPair(1024);
    auto envelope = makeRsaEnvelope(publicKey, encryption);
    ASSERT_EQ(skf->SKF_ImportRSAKeyPair(container, SGD_SM4_ECB, envelope.wrappedKey.data(),
                                        static_cast<ULONG>(envelope.wrappedKey.size()), envelope.encryptedKey.data(),
                                        static_cast<ULONG>(envelope.encryptedKey.size())),
              SAR_OK);
    auto encryptionKey = rsaPublicKey(encryption.blob);
    const auto sessionKey = message(16, 99);
    auto wrapped = rsaPkcs1Encrypt(encryptionKey.get(), sessionKey);
    HANDLE key = nullptr;
    ASSERT_EQ(
        skf->SKF_ImportSessionKey(container, SGD_SM4_CBC, wrapped.data(), static_cast<ULONG>(wrapped.size()), &key),
        SAR_OK);
    const auto iv = message(16, 4);
    EXPECT_EQ(cbc(key, true, iv, data), evpSm4("SM4-CBC", sessionKey, iv, data, true, true));
}

TEST_F(CryptoInterop, externalRsaKeysFromTheTokenWorkInOpenssl)
{
    RSAPRIVATEKEYBLOB privateBlob{};
    ASSERT_EQ(skf->SKF_GenExtRSAKey(device, 1024, &privateBlob), SAR_OK);
    RSAPUBLICKEYBLOB publicBlob{};
    publicBlob.AlgID = SGD_RSA;
    publicBlob.BitLen = 1024;
    std::memcpy(publicBlob.Modulus, privateBlob.Modulus, sizeof publicBlob.Modulus);
    std::memcpy(publicBlob.PublicExponent, privateBlob.PublicExponent, 4);
    // A raw private operation undone by a raw public one, and by OpenSSL's.
    auto input = message(128, 8);
    input[0] = 0x01; // below the modulus
    std::vector<uint8_t> privateOut(128);
    ULONG size = 128;
    ASSERT_EQ(skf->SKF_ExtRSAPriKeyOperation(device, &privateBlob, input.data(), 128, privateOut.data(), &size),
              SAR_OK);
    std::vector<uint8_t> back(128);
    size = 128;
    ASSERT_EQ(skf->SKF_ExtRSAPubKeyOperation(device, &publicBlob, privateOut.data(), 128, back.data(), &size), SAR_OK);
    EXPECT_EQ(back, input);
    // PKCS#1 v1.5 made by OpenSSL with the public key opens with the raw private operation.
    auto openssl = rsaPublicKey(publicBlob);
    const auto secret = message(16, 21);
    auto wrapped = rsaPkcs1Encrypt(openssl.get(), secret);
    size = 128;
    ASSERT_EQ(skf->SKF_ExtRSAPriKeyOperation(device, &privateBlob, wrapped.data(), 128, back.data(), &size), SAR_OK);
    EXPECT_EQ(back[0], 0x00);
    EXPECT_EQ(back[1], 0x02);
    EXPECT_EQ(std::vector<uint8_t>(back.end() - 16, back.end()), secret);
}

TEST_F(CryptoInterop, bothSidesOfAnSm2KeyExchangeAgreeOnTheKey)
{
    auto sponsorPair = makeSm2Pair();
    auto responderPair = makeSm2Pair();
    HCONTAINER sponsor = sm2Container("sponsor", sponsorPair);
    HCONTAINER responder = sm2Container("responder", responderPair);
    std::string sponsorId = "ALICE123@YAHOO.COM";
    std::string responderId = "BILL456@YAHOO.COM";
    auto* aId = reinterpret_cast<BYTE*>(sponsorId.data());
    auto* bId = reinterpret_cast<BYTE*>(responderId.data());

    ECCPUBLICKEYBLOB sponsorTemp{};
    HANDLE agreement = nullptr;
    ASSERT_EQ(skf->SKF_GenerateAgreementDataWithECC(sponsor, SGD_SM4_ECB, &sponsorTemp, aId,
                                                    static_cast<ULONG>(sponsorId.size()), &agreement),
              SAR_OK);
    ECCPUBLICKEYBLOB responderTemp{};
    HANDLE responderKey = nullptr;
    ASSERT_EQ(skf->SKF_GenerateAgreementDataAndKeyWithECC(responder, SGD_SM4_ECB, &sponsorPair.blob, &sponsorTemp,
                                                          &responderTemp, bId, static_cast<ULONG>(responderId.size()),
                                                          aId, static_cast<ULONG>(sponsorId.size()), &responderKey),
              SAR_OK);
    HANDLE sponsorKey = nullptr;
    ASSERT_EQ(skf->SKF_GenerateKeyWithECC(agreement, &responderPair.blob, &responderTemp, bId,
                                          static_cast<ULONG>(responderId.size()), &sponsorKey),
              SAR_OK);

    const auto data = message(32, 6);
    auto encryptWith = [&](HANDLE key) {
        EXPECT_EQ(skf->SKF_EncryptInit(key, BLOCKCIPHERPARAM{}), SAR_OK);
        std::vector<uint8_t> out(32);
        ULONG size = 32;
        EXPECT_EQ(skf->SKF_Encrypt(key, const_cast<BYTE*>(data.data()), 32, out.data(), &size), SAR_OK);
        return out;
    };
    EXPECT_EQ(encryptWith(sponsorKey), encryptWith(responderKey));

    // A wrong identity for the peer gives a different key.
    std::string wrongId = "MALLORY@YAHOO.COM";
    HANDLE wrongKey = nullptr;
    ASSERT_EQ(skf->SKF_GenerateKeyWithECC(agreement, &responderPair.blob, &responderTemp,
                                          reinterpret_cast<BYTE*>(wrongId.data()), static_cast<ULONG>(wrongId.size()),
                                          &wrongKey),
              SAR_OK);
    EXPECT_NE(encryptWith(wrongKey), encryptWith(responderKey));
    EXPECT_EQ(skf->SKF_CloseHandle(agreement), SAR_OK);
    EXPECT_EQ(skf->SKF_CloseHandle(agreement), SAR_INVALIDHANDLEERR);
}
