// The SM4 vector of one million rounds, through SKF_EncryptUpdate on the token. It takes
// about 1 s plainly and 2 s under the sanitizers, so it stays in the default run.
#include "OpensslSide.h"
#include "TokenFixture.h"

using namespace softskf;
using namespace softskf::test;

class Sm4MillionRounds : public SoftTokenTest
{
};

TEST_F(Sm4MillionRounds, sm4OneMillionRoundsMatchesTheStandardsVector)
{
    deviceName = plugNewToken();
    device = connect(deviceName);
    auto block = fromHex("0123456789abcdeffedcba9876543210");
    HANDLE key = nullptr;
    ASSERT_EQ(skf->SKF_SetSymmKey(device, block.data(), SGD_SM4_ECB, &key), SAR_OK);
    BLOCKCIPHERPARAM param{};
    ASSERT_EQ(skf->SKF_EncryptInit(key, param), SAR_OK);
    for (int round = 0; round < 1000000; ++round) {
        ULONG size = 16;
        // Update keeps the operation open, so one Init serves every round.
        ASSERT_EQ(skf->SKF_EncryptUpdate(key, block.data(), 16, block.data(), &size), SAR_OK);
        ASSERT_EQ(size, 16u);
    }
    EXPECT_EQ(toHex(block), "595298c7c6fd271f0402f804c33d3f66");
    EXPECT_EQ(skf->SKF_CloseHandle(key), SAR_OK);
}
