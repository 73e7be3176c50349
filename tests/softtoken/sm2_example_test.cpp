// The SM2 signature example of GM/T 0003.5 on the recommended curve, verified through the
// driver: SM3 with Z for the example's public key and ID, then SKF_ECCVerify; and the
// example's private key signing on the token.
#include "OpensslSide.h"
#include "TokenFixture.h"

#include <cstring>

using namespace softskf;
using namespace softskf::test;

class Sm2Example : public SoftTokenTest
{
};

TEST_F(Sm2Example, thePublishedSignatureVerifies_andAChangedOneDoesNot)
{
    deviceName = plugNewToken();
    device = connect(deviceName);
    ECCPUBLICKEYBLOB key{};
    key.BitLen = 256;
    const auto x = fromHex("09f9df311e5421a150dd7d161e4bc5c672179fad1833fc076bb08ff356f35020");
    const auto y = fromHex("ccea490ce26775a52dc6ea718cc1aa600aed05fbf35e084a6632f6072da9ad13");
    std::memcpy(key.XCoordinate + 32, x.data(), 32);
    std::memcpy(key.YCoordinate + 32, y.data(), 32);
    ECCSIGNATUREBLOB signature{};
    const auto r = fromHex("f5a03b0648d2c4630eeac513e1bb81a15944da3827d5b74143ac7eaceee720b3");
    const auto s = fromHex("b1b6aa29df212fd8763182bc0d421ca1bb9038fd1f7f42d4840b69c485bbc1aa");
    std::memcpy(signature.r + 32, r.data(), 32);
    std::memcpy(signature.s + 32, s.data(), 32);
    std::string message = "message digest";
    std::string id = "1234567812345678";

    HANDLE hash = nullptr;
    ASSERT_EQ(skf->SKF_DigestInit(device, SGD_SM3, &key, reinterpret_cast<BYTE*>(id.data()),
                                  static_cast<ULONG>(id.size()), &hash),
              SAR_OK);
    std::vector<uint8_t> e(32);
    ULONG size = 32;
    ASSERT_EQ(skf->SKF_Digest(hash, reinterpret_cast<BYTE*>(message.data()), static_cast<ULONG>(message.size()),
                              e.data(), &size),
              SAR_OK);
    EXPECT_EQ(skf->SKF_ECCVerify(device, &key, e.data(), 32, &signature), SAR_OK);
    signature.r[63] ^= 1;
    EXPECT_EQ(skf->SKF_ECCVerify(device, &key, e.data(), 32, &signature), SAR_FAIL);
    EXPECT_EQ(skf->SKF_CloseHandle(hash), SAR_OK);

    // The example's private key signs on the token, and its public key verifies.
    ECCPRIVATEKEYBLOB privateKey{};
    privateKey.BitLen = 256;
    const auto d = fromHex("3945208f7b2144b13f36e38ac6d39f95889393692860b51a42fb81ef4df7c5b8");
    std::memcpy(privateKey.PrivateKey + 32, d.data(), 32);
    ECCSIGNATUREBLOB ours{};
    ASSERT_EQ(skf->SKF_ExtECCSign(device, &privateKey, e.data(), 32, &ours), SAR_OK);
    EXPECT_EQ(skf->SKF_ECCVerify(device, &key, e.data(), 32, &ours), SAR_OK);
}
