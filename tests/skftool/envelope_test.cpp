// The envelopes skftool builds for encryption key pairs, opened again here with the
// signature private key the way a token does, and the public key blob layouts.
#include "blobs.h"
#include "clientcrypto.h"
#include "envelope.h"
#include "errors.h"

#include "skf/skfapi.h"

#include <openssl/core_names.h>
#include <openssl/rsa.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace skftool;

namespace {

std::vector<uint8_t> sm4EcbDecrypt(const std::vector<uint8_t>& key, const uint8_t* data, size_t size, bool padding)
{
    ossl::CipherCtx context(EVP_CIPHER_CTX_new());
    EXPECT_EQ(EVP_DecryptInit_ex2(context.get(), EVP_sm4_ecb(), key.data(), nullptr, nullptr), 1);
    EVP_CIPHER_CTX_set_padding(context.get(), padding ? 1 : 0);
    std::vector<uint8_t> plain(size + 16);
    int written = 0;
    int finalWritten = 0;
    EXPECT_EQ(EVP_DecryptUpdate(context.get(), plain.data(), &written, data, static_cast<int>(size)), 1);
    EXPECT_EQ(EVP_DecryptFinal_ex(context.get(), plain.data() + written, &finalWritten), 1);
    plain.resize(static_cast<size_t>(written + finalWritten));
    return plain;
}

// A DER INTEGER from a 32-byte big-endian field (lengths here stay below 128).
std::vector<uint8_t> derInteger(const uint8_t* field)
{
    size_t start = 0;
    while (start < 31 && field[start] == 0) {
        ++start;
    }
    std::vector<uint8_t> value(field + start, field + 32);
    if (value[0] & 0x80) {
        value.insert(value.begin(), 0);
    }
    std::vector<uint8_t> out = {0x02, static_cast<uint8_t>(value.size())};
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

// Rebuilds OpenSSL's SM2 ciphertext from the standard's blob, independently of skftool.
std::vector<uint8_t> cipherBlobToDer(const ECCCIPHERBLOB& blob)
{
    std::vector<uint8_t> body = derInteger(blob.XCoordinate + 32);
    const std::vector<uint8_t> y = derInteger(blob.YCoordinate + 32);
    body.insert(body.end(), y.begin(), y.end());
    body.push_back(0x04);
    body.push_back(32);
    body.insert(body.end(), blob.HASH, blob.HASH + 32);
    body.push_back(0x04);
    body.push_back(static_cast<uint8_t>(blob.CipherLen));
    body.insert(body.end(), blob.Cipher, blob.Cipher + blob.CipherLen);
    std::vector<uint8_t> der = {0x30, static_cast<uint8_t>(body.size())};
    der.insert(der.end(), body.begin(), body.end());
    return der;
}

std::vector<uint8_t> decryptWith(EVP_PKEY* key, const std::vector<uint8_t>& cipher, bool rsaPkcs1)
{
    ossl::PkeyCtx context(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    EXPECT_EQ(EVP_PKEY_decrypt_init(context.get()), 1);
    if (rsaPkcs1) {
        EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING);
    }
    size_t size = 0;
    EXPECT_EQ(EVP_PKEY_decrypt(context.get(), nullptr, &size, cipher.data(), cipher.size()), 1);
    std::vector<uint8_t> plain(size);
    EXPECT_EQ(EVP_PKEY_decrypt(context.get(), plain.data(), &size, cipher.data(), cipher.size()), 1);
    plain.resize(size);
    return plain;
}

std::vector<uint8_t> sm2PrivateScalar(EVP_PKEY* key)
{
    BIGNUM* raw = nullptr;
    EXPECT_EQ(EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &raw), 1);
    ossl::Bignum scalar(raw);
    std::vector<uint8_t> out(32);
    BN_bn2binpad(scalar.get(), out.data(), 32);
    return out;
}

bool allZero(const uint8_t* data, size_t size)
{
    return std::all_of(data, data + size, [](uint8_t byte) { return byte == 0; });
}

} // namespace

TEST(EccEnvelope, openedWithTheSignatureKey_givesBackTheEncryptionPrivateKey)
{
    ossl::Pkey signPair = generateSm2KeyPair();
    ossl::Pkey encryptionPair = generateSm2KeyPair();
    const std::vector<uint8_t> bytes = buildEccEnvelope(signPair.get(), encryptionPair.get());

    ASSERT_EQ(bytes.size(), sizeof(ENVELOPEDKEYBLOB) + 15);
    const ENVELOPEDKEYBLOB* envelope = reinterpret_cast<const ENVELOPEDKEYBLOB*>(bytes.data());
    EXPECT_EQ(envelope->Version, 1u);
    EXPECT_EQ(envelope->ulSymmAlgID, SGD_SM4_ECB);
    EXPECT_EQ(envelope->ulBits, 256u);
    EXPECT_EQ(envelope->ECCCipherBlob.CipherLen, 16u);
    EXPECT_TRUE(allZero(envelope->ECCCipherBlob.XCoordinate, 32));
    EXPECT_TRUE(allZero(envelope->ECCCipherBlob.YCoordinate, 32));
    const std::vector<uint8_t> publicBlob = blobFromPublicKey(encryptionPair.get());
    EXPECT_EQ(std::memcmp(&envelope->PubKey, publicBlob.data(), sizeof(ECCPUBLICKEYBLOB)), 0);

    const std::vector<uint8_t> sessionKey
        = decryptWith(signPair.get(), cipherBlobToDer(envelope->ECCCipherBlob), false);
    ASSERT_EQ(sessionKey.size(), 16u);
    const std::vector<uint8_t> field = sm4EcbDecrypt(sessionKey, envelope->cbEncryptedPriKey, 64, false);
    ASSERT_EQ(field.size(), 64u);
    EXPECT_TRUE(allZero(field.data(), 32));
    EXPECT_EQ(std::vector<uint8_t>(field.begin() + 32, field.end()), sm2PrivateScalar(encryptionPair.get()));
}

TEST(RsaEnvelope, openedWithTheSignatureKey_givesBackTheEncryptionKeyPair)
{
    ossl::Pkey signPair = generateRsaKeyPair(1024);
    ossl::Pkey encryptionPair = generateRsaKeyPair(1024);
    const RsaEnvelope envelope = buildRsaEnvelope(signPair.get(), encryptionPair.get());

    EXPECT_EQ(envelope.wrappedKey.size(), 128u);
    EXPECT_EQ(envelope.encryptedData.size() % 16, 0u);
    const std::vector<uint8_t> sessionKey = decryptWith(signPair.get(), envelope.wrappedKey, true);
    ASSERT_EQ(sessionKey.size(), 16u);
    const std::vector<uint8_t> der
        = sm4EcbDecrypt(sessionKey, envelope.encryptedData.data(), envelope.encryptedData.size(), true);
    const unsigned char* cursor = der.data();
    ossl::Pkey decoded(d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &cursor, static_cast<long>(der.size())));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(cursor, der.data() + der.size());
    EXPECT_EQ(EVP_PKEY_eq(decoded.get(), encryptionPair.get()), 1);
}

TEST(Envelopes, refuseKeysOfTheOtherKind)
{
    ossl::Pkey sm2 = generateSm2KeyPair();
    ossl::Pkey rsa = generateRsaKeyPair(1024);
    EXPECT_THROW(buildEccEnvelope(rsa.get(), sm2.get()), ToolError);
    EXPECT_THROW(buildRsaEnvelope(sm2.get(), rsa.get()), ToolError);
}

TEST(PublicKeyBlobs, ofSm2Keys_areRightAlignedAndReadBackToTheSameKey)
{
    ossl::Pkey key = generateSm2KeyPair();
    const std::vector<uint8_t> blob = blobFromPublicKey(key.get());
    ASSERT_EQ(blob.size(), 132u);
    const ECCPUBLICKEYBLOB* ecc = reinterpret_cast<const ECCPUBLICKEYBLOB*>(blob.data());
    EXPECT_EQ(ecc->BitLen, 256u);
    EXPECT_TRUE(allZero(ecc->XCoordinate, 32));
    EXPECT_TRUE(allZero(ecc->YCoordinate, 32));
    ossl::Pkey back = publicKeyFromBlob(blob);
    EXPECT_TRUE(isSm2Key(back.get()));
    EXPECT_EQ(EVP_PKEY_eq(back.get(), key.get()), 1);
}

TEST(PublicKeyBlobs, ofRsa1024Keys_leaveTheFirstHalfOfTheModulusFieldEmpty)
{
    ossl::Pkey key = generateRsaKeyPair(1024);
    const std::vector<uint8_t> blob = blobFromPublicKey(key.get());
    ASSERT_EQ(blob.size(), 268u);
    const RSAPUBLICKEYBLOB* rsa = reinterpret_cast<const RSAPUBLICKEYBLOB*>(blob.data());
    EXPECT_EQ(rsa->AlgID, SGD_RSA);
    EXPECT_EQ(rsa->BitLen, 1024u);
    EXPECT_TRUE(allZero(rsa->Modulus, 128));
    EXPECT_NE(rsa->Modulus[128] & 0x80, 0);
    EXPECT_EQ(rsa->PublicExponent[1], 0x01); // 65537 = 00 01 00 01
    EXPECT_EQ(rsa->PublicExponent[3], 0x01);
    EXPECT_EQ(blobBitLength(blob), 1024u);
    ossl::Pkey back = publicKeyFromBlob(blob);
    EXPECT_EQ(EVP_PKEY_eq(back.get(), key.get()), 1);
}

TEST(PublicKeyBlobs, ofAnOddSizeOrABadBitLength_areRefused)
{
    EXPECT_THROW(publicKeyFromBlob(std::vector<uint8_t>(100)), ToolError);
    std::vector<uint8_t> blob(sizeof(ECCPUBLICKEYBLOB), 0);
    reinterpret_cast<ECCPUBLICKEYBLOB*>(blob.data())->BitLen = 512;
    EXPECT_THROW(publicKeyFromBlob(blob), ToolError);
    // A point that is not on the curve makes no key.
    reinterpret_cast<ECCPUBLICKEYBLOB*>(blob.data())->BitLen = 256;
    blob[40] = 1;
    EXPECT_THROW(publicKeyFromBlob(blob), ToolError);
}

TEST(Sm4Ecb, matchesTheStandardsTestVector)
{
    // GM/T 0002 example 1: key and plaintext 0123456789abcdeffedcba9876543210.
    const std::vector<uint8_t> key = fromHex("0123456789abcdeffedcba9876543210");
    EXPECT_EQ(sm4EcbEncrypt(key, key, false), fromHex("681edf34d206965e86b3e94f536e4246"));
    EXPECT_EQ(sm4EcbEncrypt(key, key, true).size(), 32u);
    EXPECT_THROW(sm4EcbEncrypt(key, std::vector<uint8_t>(15), false), ToolError);
}
