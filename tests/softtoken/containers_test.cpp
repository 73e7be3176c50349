// Containers with key pairs of both kinds, the import envelopes, public key blobs,
// certificates that round-trip exactly, and the token's space accounting.
#include "TestKeys.h"
#include "TokenFixture.h"

#include <algorithm>
#include <cstring>

using namespace softskf;
using namespace softskf::test;

namespace {

template <typename Blob> std::vector<uint8_t> bytesOf(const Blob& blob)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(&blob);
    return std::vector<uint8_t>(bytes, bytes + sizeof blob);
}

bool zeros(const BYTE* data, size_t size)
{
    return std::all_of(data, data + size, [](BYTE b) { return b == 0; });
}

} // namespace

class Containers : public SoftTokenTest
{
protected:
    std::vector<uint8_t> exportPublicKey(HCONTAINER container, BOOL signing, ULONG expectRc = SAR_OK)
    {
        ULONG size = 0;
        ULONG rc = skf->SKF_ExportPublicKey(container, signing, nullptr, &size);
        EXPECT_EQ(rc, expectRc);
        if (rc != SAR_OK) {
            return {};
        }
        std::vector<uint8_t> blob(size);
        EXPECT_EQ(skf->SKF_ExportPublicKey(container, signing, blob.data(), &size), SAR_OK);
        return blob;
    }
    ULONG type(HCONTAINER container)
    {
        ULONG value = 99;
        EXPECT_EQ(skf->SKF_GetContainerType(container, &value), SAR_OK);
        ContainerInfo info;
        std::memset(&info, 0xEE, sizeof info);
        EXPECT_EQ(skf->SKF_ExtGetContainerInfo(container, &info), SAR_OK);
        EXPECT_EQ(info.ContainerType, value);
        return value;
    }
};

TEST_F(Containers, createOpenEnumerateAndDelete_needTheUserPinWhereTheyChangeThings)
{
    HAPPLICATION app = readyApp();
    newContainer(app, "first");
    newContainer(app, "second");
    HCONTAINER duplicate = nullptr;
    EXPECT_NE(skf->SKF_CreateContainer(app, const_cast<char*>("first"), &duplicate), SAR_OK);
    EXPECT_EQ(containers(app), (std::vector<std::string>{"first", "second"}));

    ASSERT_EQ(skf->SKF_ClearSecureState(app), SAR_OK);
    EXPECT_EQ(skf->SKF_CreateContainer(app, const_cast<char*>("third"), &duplicate), SAR_USER_NOT_LOGGED_IN);
    EXPECT_EQ(skf->SKF_DeleteContainer(app, const_cast<char*>("first")), SAR_USER_NOT_LOGGED_IN);
    HCONTAINER opened = nullptr;
    ASSERT_EQ(skf->SKF_OpenContainer(app, const_cast<char*>("second"), &opened), SAR_OK);
    EXPECT_EQ(type(opened), CONTAINER_TYPE_EMPTY);
    EXPECT_NE(skf->SKF_OpenContainer(app, const_cast<char*>("missing"), &opened), SAR_OK);

    ASSERT_EQ(verifyUser(app), SAR_OK);
    ASSERT_EQ(skf->SKF_DeleteContainer(app, const_cast<char*>("first")), SAR_OK);
    EXPECT_EQ(containers(app), (std::vector<std::string>{"second"}));
}

TEST_F(Containers, anSm2Container_holdsAGeneratedSignaturePair_andAnImportedEncryptionPair)
{
    HAPPLICATION app = readyApp();
    HCONTAINER container = newContainer(app, "sm2");
    ECCPUBLICKEYBLOB signing{};
    EXPECT_EQ(skf->SKF_GenECCKeyPair(container, SGD_SM2_3, &signing), SAR_INVALIDPARAMERR);
    ASSERT_EQ(skf->SKF_GenECCKeyPair(container, SGD_SM2_1, &signing), SAR_OK);
    EXPECT_EQ(ULONG(signing.BitLen), 256u);
    EXPECT_TRUE(zeros(signing.XCoordinate, 32));
    EXPECT_TRUE(zeros(signing.YCoordinate, 32));
    EXPECT_FALSE(zeros(signing.XCoordinate + 32, 32));
    EXPECT_EQ(type(container), CONTAINER_TYPE_ECC);

    const auto exported = exportPublicKey(container, TRUE);
    EXPECT_EQ(exported.size(), 132u);
    EXPECT_EQ(exported, bytesOf(signing));
    uint8_t small[100];
    ULONG size = sizeof small;
    EXPECT_EQ(skf->SKF_ExportPublicKey(container, TRUE, small, &size), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 132u);
    exportPublicKey(container, FALSE, SAR_KEYNOTFOUNTERR);

    const auto pair = makeSm2Pair();
    auto envelope = makeEccEnvelope(signing, pair);
    ASSERT_EQ(skf->SKF_ImportECCKeyPair(container, reinterpret_cast<ENVELOPEDKEYBLOB*>(envelope.data())), SAR_OK);
    EXPECT_EQ(exportPublicKey(container, FALSE), bytesOf(pair.blob));

    RSAPUBLICKEYBLOB rsa{};
    EXPECT_NE(skf->SKF_GenRSAKeyPair(container, 1024, &rsa), SAR_OK) << "a container holds one kind of pair";
    EXPECT_EQ(type(container), CONTAINER_TYPE_ECC);
}

TEST_F(Containers, anEccEnvelope_needsASignaturePair_andAnIntactEnvelope)
{
    HAPPLICATION app = readyApp();
    HCONTAINER empty = newContainer(app, "empty");
    const auto pair = makeSm2Pair();
    auto envelope = makeEccEnvelope(makeSm2Pair().blob, pair);
    EXPECT_EQ(skf->SKF_ImportECCKeyPair(empty, reinterpret_cast<ENVELOPEDKEYBLOB*>(envelope.data())),
              SAR_KEYNOTFOUNTERR);

    HCONTAINER container = newContainer(app, "sm2");
    ECCPUBLICKEYBLOB signing{};
    ASSERT_EQ(skf->SKF_GenECCKeyPair(container, SGD_SM2_1, &signing), SAR_OK);
    auto tampered = makeEccEnvelope(signing, pair);
    reinterpret_cast<ENVELOPEDKEYBLOB*>(tampered.data())->cbEncryptedPriKey[40] ^= 0x01;
    EXPECT_NE(skf->SKF_ImportECCKeyPair(container, reinterpret_cast<ENVELOPEDKEYBLOB*>(tampered.data())), SAR_OK);
    auto foreign = makeEccEnvelope(makeSm2Pair().blob, pair); // sealed for another signature key
    EXPECT_NE(skf->SKF_ImportECCKeyPair(container, reinterpret_cast<ENVELOPEDKEYBLOB*>(foreign.data())), SAR_OK);
    exportPublicKey(container, FALSE, SAR_KEYNOTFOUNTERR);
}

TEST_F(Containers, anRsaContainer_holdsAGeneratedSignaturePair_andAnImportedEncryptionPair)
{
    HAPPLICATION app = readyApp();
    HCONTAINER container = newContainer(app, "rsa");
    RSAPUBLICKEYBLOB signing{};
    EXPECT_EQ(skf->SKF_GenRSAKeyPair(container, 1000, &signing), SAR_MODULUSLENERR);
    ASSERT_EQ(skf->SKF_GenRSAKeyPair(container, 1024, &signing), SAR_OK);
    EXPECT_EQ(ULONG(signing.AlgID), SGD_RSA);
    EXPECT_EQ(ULONG(signing.BitLen), 1024u);
    EXPECT_TRUE(zeros(signing.Modulus, 128));
    EXPECT_GE(signing.Modulus[128], 0x80);
    EXPECT_EQ(signing.PublicExponent[3], 0x01); // 65537, right-aligned
    EXPECT_EQ(type(container), CONTAINER_TYPE_RSA);
    EXPECT_EQ(exportPublicKey(container, TRUE), bytesOf(signing));

    const auto pair = makeRsaPair(1024);
    const auto envelope = makeRsaEnvelope(signing, pair);
    auto wrapped = envelope.wrappedKey;
    auto encrypted = envelope.encryptedKey;
    ASSERT_EQ(skf->SKF_ImportRSAKeyPair(container, SGD_SM4_ECB, wrapped.data(), static_cast<ULONG>(wrapped.size()),
                                        encrypted.data(), static_cast<ULONG>(encrypted.size())),
              SAR_OK);
    const auto exported = exportPublicKey(container, FALSE);
    EXPECT_EQ(exported.size(), 268u);
    EXPECT_EQ(exported, bytesOf(pair.blob));

    ECCPUBLICKEYBLOB ecc{};
    EXPECT_NE(skf->SKF_GenECCKeyPair(container, SGD_SM2_1, &ecc), SAR_OK);
}

TEST_F(Containers, rsa2048_fillsTheWholeModulusField)
{
    HAPPLICATION app = readyApp();
    HCONTAINER container = newContainer(app, "rsa2048");
    RSAPUBLICKEYBLOB signing{};
    ASSERT_EQ(skf->SKF_GenRSAKeyPair(container, 2048, &signing), SAR_OK);
    EXPECT_EQ(ULONG(signing.BitLen), 2048u);
    EXPECT_GE(signing.Modulus[0], 0x80);
}

TEST_F(Containers, certificates_roundTripByteForByte)
{
    HAPPLICATION app = readyApp();
    HCONTAINER container = newContainer(app, "certs");
    ULONG size = 0;
    EXPECT_EQ(skf->SKF_ExportCertificate(container, TRUE, nullptr, &size), SAR_CERTNOTFOUNTERR);

    auto signing = makeCertificate("Signing Holder");
    std::vector<uint8_t> encryption{0x30, 0x00, 0x00, 0xFF, 0x00, 0x7F, 0x00}; // NULs and all
    ASSERT_EQ(skf->SKF_ImportCertificate(container, TRUE, signing.data(), static_cast<ULONG>(signing.size())), SAR_OK);
    ASSERT_EQ(skf->SKF_ImportCertificate(container, FALSE, encryption.data(), static_cast<ULONG>(encryption.size())),
              SAR_OK);

    ASSERT_EQ(skf->SKF_ExportCertificate(container, TRUE, nullptr, &size), SAR_OK);
    EXPECT_EQ(size, signing.size());
    std::vector<uint8_t> out(size - 1);
    ULONG shortSize = size - 1;
    EXPECT_EQ(skf->SKF_ExportCertificate(container, TRUE, out.data(), &shortSize), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(shortSize, size);
    out.resize(size + 10);
    size = static_cast<ULONG>(out.size());
    ASSERT_EQ(skf->SKF_ExportCertificate(container, TRUE, out.data(), &size), SAR_OK);
    out.resize(size);
    EXPECT_EQ(out, signing);

    size = 64;
    out.assign(64, 0xAA);
    ASSERT_EQ(skf->SKF_ExportCertificate(container, FALSE, out.data(), &size), SAR_OK);
    out.resize(size);
    EXPECT_EQ(out, encryption);
}

TEST_F(Containers, freeSpace_shrinksWithEveryObject_andComesBackWhenTheyGo)
{
    HAPPLICATION app = readyApp();
    const ULONG empty = freeSpace(device);
    DEVINFO info{};
    ASSERT_EQ(skf->SKF_GetDevInfo(device, &info), SAR_OK);
    EXPECT_LT(empty, ULONG(info.TotalSpace)) << "the application takes room";

    ASSERT_EQ(skf->SKF_CreateFile(app, const_cast<char*>("f"), 1000, 0xFF, 0xFF), SAR_OK);
    const ULONG withFile = freeSpace(device);
    EXPECT_LE(withFile, empty - 1000);
    HCONTAINER container = newContainer(app, "c");
    const ULONG withContainer = freeSpace(device);
    EXPECT_LT(withContainer, withFile);
    ECCPUBLICKEYBLOB blob{};
    ASSERT_EQ(skf->SKF_GenECCKeyPair(container, SGD_SM2_1, &blob), SAR_OK);
    const ULONG withKey = freeSpace(device);
    EXPECT_LT(withKey, withContainer);
    std::vector<uint8_t> certificate(2000, 0x42);
    ASSERT_EQ(skf->SKF_ImportCertificate(container, TRUE, certificate.data(), 2000), SAR_OK);
    EXPECT_LE(freeSpace(device), withKey - 2000);

    ASSERT_EQ(skf->SKF_DeleteContainer(app, const_cast<char*>("c")), SAR_OK);
    EXPECT_EQ(freeSpace(device), withFile);
    ASSERT_EQ(skf->SKF_DeleteFile(app, const_cast<char*>("f")), SAR_OK);
    EXPECT_EQ(freeSpace(device), empty);
}

TEST_F(Containers, aFullToken_answersNoRoom_andKeepsWhatItHas)
{
    deviceName = plugNewToken(8 * 1024);
    device = connect(deviceName);
    ASSERT_EQ(deviceAuth(device), SAR_OK);
    HAPPLICATION app = createApp(device);
    ASSERT_EQ(verifyUser(app), SAR_OK);
    const ULONG available = freeSpace(device);
    EXPECT_EQ(skf->SKF_CreateFile(app, const_cast<char*>("huge"), available, 0xFF, 0xFF), SAR_NO_ROOM);

    HCONTAINER container = newContainer(app, "c");
    std::vector<uint8_t> certificate(freeSpace(device) + 1, 0x30);
    EXPECT_EQ(skf->SKF_ImportCertificate(container, TRUE, certificate.data(), static_cast<ULONG>(certificate.size())),
              SAR_NO_ROOM);
    certificate.resize(freeSpace(device));
    ASSERT_EQ(skf->SKF_ImportCertificate(container, TRUE, certificate.data(), static_cast<ULONG>(certificate.size())),
              SAR_OK);
    EXPECT_EQ(freeSpace(device), 0u);
    HCONTAINER another = nullptr;
    EXPECT_EQ(skf->SKF_CreateContainer(app, const_cast<char*>("d"), &another), SAR_NO_ROOM);
    EXPECT_EQ(containers(app), (std::vector<std::string>{"c"}));
}
