// The crypto and codec layers of the cryptographic services, below the driver: the SM2
// cipher blob and its DER form, the key exchange's roles, and RSA keys rebuilt from parts.
#include "codec/CipherBlobs.h"
#include "crypto/Services.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace softskf;

namespace {

std::vector<uint8_t> bytes(size_t size, uint8_t seed)
{
    std::vector<uint8_t> out(size);
    for (size_t i = 0; i < size; ++i) {
        out[i] = static_cast<uint8_t>(seed + 31 * i);
    }
    return out;
}

} // namespace

TEST(CipherBlobCodec, derAndBlobConvertBothWaysAndDecrypt)
{
    const auto key = crypto::KeyPair::generateSm2();
    const auto publicKey = crypto::PublicKey::sm2(key.sm2PublicPoint());
    for (size_t size : {1u, 16u, 200u}) {
        const auto plain = bytes(size, 7);
        const auto der = crypto::sm2Encrypt(publicKey, plain.data(), plain.size());
        const auto blob = codec::eccCipherBlobFromDer(der);
        ASSERT_EQ(blob.size(), codec::eccCipherBlobSize(static_cast<ULONG>(size)));
        const auto& view = codec::eccCipherBlobView(blob.data(), blob.size());
        const ULONG cipherLen = view.CipherLen; // packed fields do not bind to references
        EXPECT_EQ(cipherLen, size);
        // Coordinates sit right-aligned: the first 32 bytes of each field are zero.
        EXPECT_EQ(std::count(view.XCoordinate, view.XCoordinate + 32, 0), 32);
        EXPECT_EQ(codec::sm2CiphertextDer(view), der);
        const auto back = key.sm2Decrypt(codec::sm2CiphertextDer(view));
        EXPECT_EQ(std::vector<uint8_t>(back.begin(), back.end()), plain);
    }
}

TEST(CipherBlobCodec, malformedDerAndShortBlobsAreRefused)
{
    const auto key = crypto::KeyPair::generateSm2();
    const auto publicKey = crypto::PublicKey::sm2(key.sm2PublicPoint());
    const auto plain = bytes(16, 1);
    auto der = crypto::sm2Encrypt(publicKey, plain.data(), plain.size());
    auto trailing = der;
    trailing.push_back(0);
    EXPECT_THROW(codec::eccCipherBlobFromDer(trailing), codec::CodecError);
    auto truncated = der;
    truncated.pop_back();
    EXPECT_THROW(codec::eccCipherBlobFromDer(truncated), codec::CodecError);
    EXPECT_THROW(codec::eccCipherBlobFromDer({0x30, 0x00}), codec::CodecError);
    const auto blob = codec::eccCipherBlobFromDer(der);
    EXPECT_THROW(codec::eccCipherBlobView(blob.data(), blob.size() - 1), codec::CodecError);
    EXPECT_THROW(codec::eccCipherBlobView(nullptr, 0), codec::CodecError);
}

TEST(Sm2Exchange, initiatorAndResponderAgree_andTheRolesAreNotInterchangeable)
{
    auto party = [](const std::string& id) {
        const auto key = crypto::KeyPair::generateSm2();
        crypto::Sm2ExchangeParty p;
        p.staticScalar = crypto::sm2Scalar(key);
        p.staticPoint = key.sm2PublicPoint();
        p.id.assign(id.begin(), id.end());
        crypto::sm2NewEphemeral(p);
        return p;
    };
    const auto a = party("ALICE123@YAHOO.COM");
    const auto b = party("BILL456@YAHOO.COM");
    const auto keyA = crypto::sm2ExchangeKey(a, true, b.staticPoint, b.ephemeralPoint, b.id, 48);
    const auto keyB = crypto::sm2ExchangeKey(b, false, a.staticPoint, a.ephemeralPoint, a.id, 48);
    EXPECT_EQ(keyA, keyB);
    EXPECT_EQ(keyA.size(), 48u);
    // Both claiming to initiate put the Z values in opposite orders.
    const auto keyB2 = crypto::sm2ExchangeKey(b, true, a.staticPoint, a.ephemeralPoint, a.id, 48);
    EXPECT_NE(keyA, keyB2);
    // A point off the curve is refused.
    auto bad = b.ephemeralPoint;
    bad[64] ^= 1;
    EXPECT_THROW(crypto::sm2ExchangeKey(a, true, b.staticPoint, bad, b.id, 16), crypto::CryptoInputError);
}

TEST(Sm2Kdf, isSm3OfTheInputAndACounter_truncatedToTheLength)
{
    const auto z = bytes(64, 3);
    const auto out = crypto::sm2Kdf(z.data(), z.size(), 40);
    auto first = z;
    first.insert(first.end(), {0, 0, 0, 1});
    auto second = z;
    second.insert(second.end(), {0, 0, 0, 2});
    auto expected = crypto::sm3(first.data(), first.size());
    const auto tail = crypto::sm3(second.data(), second.size());
    expected.insert(expected.end(), tail.begin(), tail.begin() + 8);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.end()), expected);
}

TEST(RsaParts, aKeyRebuiltFromItsPartsSignsTheSame)
{
    const auto key = crypto::KeyPair::generateRsa(1024);
    const auto rebuilt = crypto::rsaFromParts(crypto::rsaPrivateParts(key));
    const auto data = bytes(40, 9);
    EXPECT_EQ(crypto::rsaSignRaw(key, data.data(), data.size()), crypto::rsaSignRaw(rebuilt, data.data(), data.size()));
    const auto publicKey = crypto::PublicKey::rsa(key.rsaModulus(), key.rsaPublicExponent());
    const auto signature = crypto::rsaSignRaw(rebuilt, data.data(), data.size());
    EXPECT_TRUE(crypto::rsaVerifyRaw(publicKey, data.data(), data.size(), signature.data(), signature.size()));
    EXPECT_FALSE(crypto::rsaVerifyRaw(publicKey, data.data(), data.size() - 1, signature.data(), signature.size()));
    const std::vector<uint8_t> tooLong(118, 1);
    EXPECT_THROW(crypto::rsaSignRaw(key, tooLong.data(), tooLong.size()), crypto::CryptoInputError);
}
