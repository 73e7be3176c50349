// The shared codec against fixed vectors: the published SM2 example (key, ID, Z value and
// signature, verified by OpenSSL through the codec's key and DER), RSA blobs both ways, and
// a table of blobs and signatures the codec must refuse.
#include "skfcodec/Codec.h"
#include "skfcodec/Mechanisms.h"

#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <gtest/gtest.h>

#include <cstring>

using namespace skfcodec;

namespace {

Bytes fromHex(const std::string& hex)
{
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

const Bytes kX = fromHex("09f9df311e5421a150dd7d161e4bc5c672179fad1833fc076bb08ff356f35020");
const Bytes kY = fromHex("ccea490ce26775a52dc6ea718cc1aa600aed05fbf35e084a6632f6072da9ad13");
const Bytes kZ = fromHex("b2e14c5c79c6df5b85f4fe7ed8db7a262b9da7e07ccb0ea9f4747b8ccda8a4f3");
const Bytes kR = fromHex("f5a03b0648d2c4630eeac513e1bb81a15944da3827d5b74143ac7eaceee720b3");
const Bytes kS = fromHex("b1b6aa29df212fd8763182bc0d421ca1bb9038fd1f7f42d4840b69c485bbc1aa");

ECCPUBLICKEYBLOB exampleBlob()
{
    ECCPUBLICKEYBLOB blob{};
    blob.BitLen = 256;
    std::memcpy(blob.XCoordinate + 32, kX.data(), 32);
    std::memcpy(blob.YCoordinate + 32, kY.data(), 32);
    return blob;
}

Bytes examplePoint()
{
    Bytes point{0x04};
    point.insert(point.end(), kX.begin(), kX.end());
    point.insert(point.end(), kY.begin(), kY.end());
    return point;
}

bool opensslVerifiesSm2(EVP_PKEY* key, const Bytes& der, const std::string& message)
{
    ossl::MdCtx context(EVP_MD_CTX_new());
    EVP_PKEY_CTX* keyContext = nullptr;
    static const char id[] = "1234567812345678";
    ossl::PkeyCtx owned(EVP_PKEY_CTX_new(key, nullptr));
    EVP_PKEY_CTX_set1_id(owned.get(), id, 16);
    EVP_MD_CTX_set_pkey_ctx(context.get(), owned.get());
    return EVP_DigestVerifyInit(context.get(), &keyContext, EVP_sm3(), nullptr, key) == 1
        && EVP_DigestVerify(context.get(), der.data(), der.size(), reinterpret_cast<const uint8_t*>(message.data()),
                            message.size())
        == 1;
}

} // namespace

TEST(SharedCodec, thePublishedSm2Example_givesItsZ_andItsSignatureVerifiesInOpenssl)
{
    const ECCPUBLICKEYBLOB blob = exampleBlob();
    EXPECT_EQ(eccPointFromBlob(blob), examplePoint());
    EXPECT_EQ(sm2Z(examplePoint(), "1234567812345678"), kZ);
    ossl::Pkey key = publicKeyFromBlob(reinterpret_cast<const uint8_t*>(&blob), sizeof blob);
    ASSERT_TRUE(isSm2Key(key.get()));
    EXPECT_EQ(sm2PointOf(key.get()), examplePoint());

    ECCSIGNATUREBLOB signature{};
    std::memcpy(signature.r + 32, kR.data(), 32);
    std::memcpy(signature.s + 32, kS.data(), 32);
    const Bytes der = sm2SignatureDer(signature);
    EXPECT_TRUE(opensslVerifiesSm2(key.get(), der, "message digest"));
    EXPECT_FALSE(opensslVerifiesSm2(key.get(), der, "message digesT"));

    // Back from DER: the blob and r || s are the example's.
    const ECCSIGNATUREBLOB back = sm2SignatureBlob(der.data(), der.size());
    EXPECT_EQ(std::memcmp(&back, &signature, sizeof back), 0);
    Bytes rs = kR;
    rs.insert(rs.end(), kS.begin(), kS.end());
    EXPECT_EQ(sm2SignatureRs(der.data(), der.size()), rs);
    EXPECT_EQ(sm2SignatureDerFromRs(rs), der);
    // The blob of the key is the blob it came from.
    const Bytes again = blobFromPublicKey(key.get());
    ASSERT_EQ(again.size(), sizeof blob);
    EXPECT_EQ(std::memcmp(again.data(), &blob, sizeof blob), 0);
}

TEST(SharedCodec, shortValues_areDerMinimal_andComeBackPadded)
{
    // r = 1 and s with its high bit set: INTEGER 01, and INTEGER 00 80 ... for s.
    Bytes rs(64, 0);
    rs[31] = 0x01;
    rs[32] = 0x80;
    const Bytes der = sm2SignatureDerFromRs(rs);
    const Bytes expectedHead = {0x30, 0x26, 0x02, 0x01, 0x01, 0x02, 0x21, 0x00, 0x80};
    ASSERT_GE(der.size(), expectedHead.size());
    EXPECT_EQ(Bytes(der.begin(), der.begin() + long(expectedHead.size())), expectedHead);
    EXPECT_EQ(sm2SignatureRs(der.data(), der.size()), rs);
}

TEST(SharedCodec, rsaKeys_makeBlobsAndComeBack_forEverySizeATokenHolds)
{
    for (const int bits : {1024, 2048}) {
        EVP_PKEY* raw = EVP_RSA_gen(static_cast<unsigned>(bits));
        ASSERT_NE(raw, nullptr);
        ossl::Pkey key(raw);
        const Bytes bytes = blobFromPublicKey(key.get());
        ASSERT_EQ(bytes.size(), sizeof(RSAPUBLICKEYBLOB));
        RSAPUBLICKEYBLOB blob;
        std::memcpy(&blob, bytes.data(), sizeof blob);
        EXPECT_EQ(ULONG(blob.AlgID), SGD_RSA);
        EXPECT_EQ(blobBitLength(bytes.data(), bytes.size()), unsigned(bits));
        // Right-aligned: the bytes before the modulus (none for a key as wide as the field) are
        // zero, its first byte is not.
        const size_t start = sizeof blob.Modulus - size_t(bits) / 8;
        EXPECT_EQ(Bytes(blob.Modulus, blob.Modulus + start), Bytes(start, 0));
        EXPECT_NE(blob.Modulus[start], 0);
        EXPECT_EQ(Bytes(blob.PublicExponent, blob.PublicExponent + 4), (Bytes{0, 1, 0, 1}));
        EXPECT_EQ(rsaExponentFromBlob(blob), (Bytes{1, 0, 1}));
        ossl::Pkey back = publicKeyFromBlob(bytes);
        EXPECT_EQ(EVP_PKEY_eq(back.get(), key.get()), 1) << bits;
    }
}

TEST(SharedCodec, blobsAndSignaturesThatMakeNoValue_areRefused)
{
    const ECCPUBLICKEYBLOB good = exampleBlob();
    const auto eccBytes = [](const ECCPUBLICKEYBLOB& blob) {
        return Bytes(reinterpret_cast<const uint8_t*>(&blob), reinterpret_cast<const uint8_t*>(&blob) + sizeof blob);
    };
    ECCPUBLICKEYBLOB wide = good;
    wide.XCoordinate[3] = 1;
    ECCPUBLICKEYBLOB bits384 = good;
    bits384.BitLen = 384;
    ECCPUBLICKEYBLOB offCurve = good;
    offCurve.YCoordinate[63] ^= 1;
    RSAPUBLICKEYBLOB evenModulus = rsaPublicKeyBlob(1024, Bytes(128, 0xC2), {1, 0, 1});
    RSAPUBLICKEYBLOB oddBits = rsaPublicKeyBlob(1000, Bytes(125, 0xC1), {1, 0, 1});
    RSAPUBLICKEYBLOB tooLongForItsBits = rsaPublicKeyBlob(1024, Bytes(129, 0xC1), {1, 0, 1});
    const auto rsaBytes = [](const RSAPUBLICKEYBLOB& blob) {
        return Bytes(reinterpret_cast<const uint8_t*>(&blob), reinterpret_cast<const uint8_t*>(&blob) + sizeof blob);
    };
    const struct
    {
        const char* what;
        Bytes blob;
    } blobs[] = {
        {"empty", {}},
        {"one byte short of SM2", Bytes(sizeof(ECCPUBLICKEYBLOB) - 1)},
        {"a coordinate wider than 256 bits", eccBytes(wide)},
        {"384 bits stated", eccBytes(bits384)},
        {"a point off the curve", eccBytes(offCurve)},
        {"an even modulus", rsaBytes(evenModulus)},
        {"1000 bits stated", rsaBytes(oddBits)},
        {"a modulus longer than its bits", rsaBytes(tooLongForItsBits)},
    };
    for (const auto& row : blobs) {
        EXPECT_THROW(publicKeyFromBlob(row.blob), CodecError) << row.what;
    }

    Bytes rs = kR;
    rs.insert(rs.end(), kS.begin(), kS.end());
    Bytes trailing = sm2SignatureDerFromRs(rs);
    trailing.push_back(0);
    Bytes truncated = sm2SignatureDerFromRs(rs);
    truncated.pop_back();
    // SEQUENCE { INTEGER of 33 bytes 01 00..00 }: r needs 257 bits.
    Bytes wideR = {0x30, 0x26, 0x02, 0x21, 0x01};
    wideR.resize(5 + 32, 0);
    wideR.insert(wideR.end(), {0x02, 0x01, 0x01});
    const struct
    {
        const char* what;
        Bytes der;
    } signatures[] = {{"trailing byte", trailing}, {"truncated", truncated}, {"r of 257 bits", wideR}, {"empty", {}}};
    for (const auto& row : signatures) {
        EXPECT_THROW(sm2SignatureRs(row.der.data(), row.der.size()), CodecError) << row.what;
    }
    EXPECT_THROW(sm2SignatureDerFromRs(Bytes(63)), CodecError);
    EXPECT_THROW(sm2Z(Bytes(65, 0x02), "1"), CodecError);
    EXPECT_THROW(sm2Z(examplePoint(), std::string(8192, 'a')), CodecError);
}

TEST(MechanismTable, eachOpensslDigestName_findsItsMechanism_andTheModuleValuesHold)
{
    const struct
    {
        skfmech::KeyKind key;
        const char* digest;
        const char* expected; // nullptr: no mechanism
    } rows[] = {
        {skfmech::KeyKind::Rsa, "SHA1", "CKM_SHA1_RSA_PKCS"},
        {skfmech::KeyKind::Rsa, "sha256", "CKM_SHA256_RSA_PKCS"},
        {skfmech::KeyKind::Rsa, "SHA2-256", "CKM_SHA256_RSA_PKCS"},
        {skfmech::KeyKind::Rsa, "SHA-384", "CKM_SHA384_RSA_PKCS"},
        {skfmech::KeyKind::Rsa, "SHA512", "CKM_SHA512_RSA_PKCS"},
        {skfmech::KeyKind::Rsa, "SHA2-512/256", nullptr},
        {skfmech::KeyKind::Rsa, "SM3", nullptr},
        {skfmech::KeyKind::Rsa, "MD5", nullptr},
        {skfmech::KeyKind::Sm2, "SM3", "CKM_SKF_SM3_SM2"},
        {skfmech::KeyKind::Sm2, "SHA256", nullptr},
    };
    for (const auto& row : rows) {
        const skfmech::Mechanism* found = skfmech::byDigest(row.key, row.digest);
        if (!row.expected) {
            EXPECT_EQ(found, nullptr) << row.digest;
            continue;
        }
        ASSERT_NE(found, nullptr) << row.digest;
        EXPECT_STREQ(found->name, row.expected);
        EXPECT_EQ(skfmech::byCkm(found->ckm), found);
        // The table's hash size is the size OpenSSL gives the hash it names.
        EXPECT_EQ(size_t(EVP_MD_get_size(EVP_get_digestbyname(found->digest))), found->digestSize) << found->digest;
    }
    EXPECT_EQ(skfmech::kCkmSkfSm2, 0xD34B4601UL);
    EXPECT_EQ(skfmech::byCkm(0x00000001UL)->input, skfmech::Input::Raw);
    EXPECT_EQ(skfmech::byCkm(skfmech::kCkmSkfSm3Sm2)->input, skfmech::Input::Sm2WithZ);
    EXPECT_EQ(skfmech::byCkm(0x0000000DUL), nullptr); // CKM_RSA_PKCS_PSS: the token has none
}
