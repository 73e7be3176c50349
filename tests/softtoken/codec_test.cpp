// The codec against fixed vectors: right alignment, public key blobs, the SM2
// ciphertext's DER form and name lists.
#include "codec/Blobs.h"

#include <gtest/gtest.h>

using namespace softskf::codec;

TEST(Codec, putRightAligned_dropsLeadingZeros_andPadsOnTheLeft)
{
    uint8_t field[6];
    const uint8_t value[] = {0x00, 0x00, 0x01, 0x02};
    putRightAligned(field, sizeof field, value, sizeof value);
    EXPECT_EQ(std::vector<uint8_t>(field, field + 6), (std::vector<uint8_t>{0, 0, 0, 0, 1, 2}));
    const uint8_t tooLong[] = {1, 2, 3, 4, 5, 6, 7};
    EXPECT_THROW(putRightAligned(field, sizeof field, tooLong, sizeof tooLong), CodecError);
}

TEST(Codec, anSm2Point_becomesA132ByteBlob_andComesBack)
{
    std::vector<uint8_t> point{0x04};
    for (int i = 0; i < 64; ++i) {
        point.push_back(static_cast<uint8_t>(i + 1));
    }
    const auto blob = eccPublicKeyBlob(point);
    EXPECT_EQ(ULONG(blob.BitLen), 256u);
    EXPECT_EQ(blob.XCoordinate[31], 0);
    EXPECT_EQ(blob.XCoordinate[32], 1);
    EXPECT_EQ(blob.YCoordinate[63], 64);
    EXPECT_EQ(eccPointFromBlob(blob), point);

    auto wide = blob;
    wide.XCoordinate[0] = 1;
    EXPECT_THROW(eccPointFromBlob(wide), CodecError);
    EXPECT_THROW(eccPublicKeyBlob({0x02, 1, 2}), CodecError);
}

TEST(Codec, anRsaKey_becomesA268ByteBlob)
{
    const auto blob = rsaPublicKeyBlob(1024, std::vector<uint8_t>(128, 0xC1), {0x01, 0x00, 0x01});
    EXPECT_EQ(sizeof blob, 268u);
    EXPECT_EQ(ULONG(blob.AlgID), SGD_RSA);
    EXPECT_EQ(blob.Modulus[127], 0);
    EXPECT_EQ(blob.Modulus[128], 0xC1);
    EXPECT_EQ(std::vector<uint8_t>(blob.PublicExponent, blob.PublicExponent + 4), (std::vector<uint8_t>{0, 1, 0, 1}));
}

TEST(Codec, anEccCipherBlob_becomesTheDerSm2Ciphertext)
{
    std::vector<uint8_t> bytes(sizeof(ECCCIPHERBLOB) + 2);
    auto* blob = reinterpret_cast<ECCCIPHERBLOB*>(bytes.data());
    blob->XCoordinate[63] = 0x05; // x = 5
    blob->YCoordinate[32] = 0x80; // y has its high bit set: needs a 0x00 before it
    for (int i = 0; i < 32; ++i) {
        blob->HASH[i] = 0x11;
    }
    blob->CipherLen = 3;
    blob->Cipher[0] = 0xA;
    blob->Cipher[1] = 0xB;
    blob->Cipher[2] = 0xC;
    const auto der = sm2CiphertextDer(*blob);

    std::vector<uint8_t> expected{0x30, 0x00, 0x02, 0x01, 0x05, 0x02, 0x21, 0x00, 0x80};
    expected.insert(expected.end(), 31, 0x00);
    expected.push_back(0x04);
    expected.push_back(0x20);
    expected.insert(expected.end(), 32, 0x11);
    expected.insert(expected.end(), {0x04, 0x03, 0x0A, 0x0B, 0x0C});
    expected[1] = static_cast<uint8_t>(expected.size() - 2);
    EXPECT_EQ(der, expected);
}

TEST(Codec, nameLists_areDoublyTerminated_andAnEmptyListIsEmpty)
{
    EXPECT_EQ(multiString({}), std::string());
    EXPECT_EQ(multiString({"a", "bb"}), std::string("a\0bb\0\0", 6));
}
