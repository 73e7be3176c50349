// The module over the scripted fake driver: lying sizes, garbage blobs and certificates,
// odd PIN answers and failures at every step give PKCS#11 errors, never a crash (ASan runs
// these too).
#include "P11Client.h"

#include "fakeskf_control.h"
#include "skfp11.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

using namespace p11test;

namespace {

P11Client& client()
{
    static P11Client* module = [] {
        setenv("SKFP11_DRIVER", SKFP11_TEST_FAKE_DRIVER, 1);
        return new P11Client(SKFP11_TEST_MODULE);
    }();
    return *module;
}

RSAPUBLICKEYBLOB rsaBlob()
{
    RSAPUBLICKEYBLOB blob{};
    blob.AlgID = SGD_RSA;
    blob.BitLen = 2048;
    for (size_t i = 0; i < sizeof blob.Modulus; ++i) {
        blob.Modulus[i] = uint8_t(0x80 | i);
    }
    blob.PublicExponent[1] = 1;
    blob.PublicExponent[3] = 1;
    return blob;
}

class Hostile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FakeSkf_Reset();
        DEVINFO info{};
        std::strcpy(reinterpret_cast<char*>(info.Label), "Fake");
        std::strcpy(reinterpret_cast<char*>(info.SerialNumber), "FAKE0001");
        info.AlgAsymCap = SGD_RSA | SGD_SM2_1;
        info.AlgHashCap = SGD_SM3 | SGD_SHA1 | SGD_SHA256;
        FakeSkf_SetDevInfo(&info);
        FakeSkf_SetDeviceList("DEV1\0", 6, -1);
        FakeSkf_SetApplicationList("APP\0", 5, -1);
        FakeSkf_SetContainerList("C1\0", 4, -1);
        FakeSkf_SetContainerType("C1", CONTAINER_TYPE_RSA, SAR_OK);
        const RSAPUBLICKEYBLOB blob = rsaBlob();
        FakeSkf_SetPublicKey("C1", TRUE, reinterpret_cast<const BYTE*>(&blob), sizeof blob);
        FakeSkf_SetPinInfo(USER_TYPE, 10, 10, FALSE);
        FakeSkf_SetPinInfo(ADMIN_TYPE, 10, 10, FALSE);
    }
    void TearDown() override { client()->C_Finalize(nullptr); }

    void initialize() { ASSERT_EQ(client()->C_Initialize(nullptr), CKR_OK); }

    size_t objectCount(CK_SLOT_ID slot)
    {
        const CK_SESSION_HANDLE session = client().open(slot);
        const size_t count = client().find(session, {}).size();
        client()->C_CloseSession(session);
        return count;
    }
};

// What a client does first: everything is read once, with the answers ignored.
void exerciseLikeAClient(P11Client& module)
{
    if (module->C_Initialize(nullptr) != CKR_OK) {
        return;
    }
    for (CK_SLOT_ID slot : module.slots()) {
        CK_TOKEN_INFO info;
        module->C_GetTokenInfo(slot, &info);
        CK_ULONG count = 0;
        module->C_GetMechanismList(slot, nullptr, &count);
        const CK_SESSION_HANDLE session = module.open(slot, true);
        module->C_Login(session, CKU_USER, (CK_UTF8CHAR_PTR) "12345678", 8);
        for (CK_OBJECT_HANDLE object : module.find(session, {})) {
            module.attribute(session, object, CKA_VALUE);
            module.attribute(session, object, CKA_MODULUS);
            Bytes signature;
            module.sign(session, {CKM_SHA256_RSA_PKCS, nullptr, 0}, object, {1, 2, 3}, signature);
        }
        CK_MECHANISM generate{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
        CK_OBJECT_HANDLE publicKey, privateKey;
        module->C_GenerateKeyPair(session, &generate, nullptr, 0, nullptr, 0, &publicKey, &privateKey);
        CK_SLOT_ID event;
        module->C_WaitForSlotEvent(CKF_DONT_BLOCK, &event, nullptr);
        module->C_Logout(session);
        module->C_CloseSession(session);
    }
    module->C_Finalize(nullptr);
}

} // namespace

TEST_F(Hostile, nameListsWithLyingSizesOrNoEnd_giveSlotsOnlyForWhatIsReallyThere)
{
    FakeSkf_SetDeviceList("DEV1\0", 6, 100000000); // far beyond any real list
    initialize();
    EXPECT_TRUE(client().slots().empty());
    client()->C_Finalize(nullptr);

    FakeSkf_SetDeviceList("DEV1", 4, 4); // no terminator at all
    initialize();
    ASSERT_EQ(client().slots().size(), 1u);
    client()->C_Finalize(nullptr);

    FakeSkf_SetDeviceList("DEV1\0", 6, -1);
    FakeSkf_SetApplicationList("APP\0", 5, 2); // shorter than the data: "AP"
    FakeSkf_SetContainerList("C1\0C2\0", 7, 500);
    initialize();
    const auto slots = client().slots();
    ASSERT_EQ(slots.size(), 1u);
    CK_SLOT_INFO info;
    ASSERT_EQ(client()->C_GetSlotInfo(slots[0], &info), CKR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.slotDescription), 9), "DEV1 / AP");
    EXPECT_EQ(objectCount(slots[0]), 1u) << "the public key of C1; C2 has no key";
}

TEST_F(Hostile, garbageCertificatesAndBadKeyBlobs_leaveThoseObjectsOut)
{
    const BYTE garbage[] = {0x30, 0x82, 0x05, 0x00, 0x01, 0x02, 0x03};
    FakeSkf_SetCertificate("C1", TRUE, garbage, sizeof garbage);
    initialize();
    const CK_SLOT_ID slot = client().slots().at(0);
    const CK_SESSION_HANDLE session = client().open(slot);
    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE, publicClass = CKO_PUBLIC_KEY;
    EXPECT_TRUE(client().find(session, {classIs(certificateClass)}).empty());
    EXPECT_EQ(client().find(session, {classIs(publicClass)}).size(), 1u);
    client()->C_Finalize(nullptr);

    RSAPUBLICKEYBLOB blob = rsaBlob();
    blob.BitLen = 8192; // more than the blob can hold
    FakeSkf_SetPublicKey("C1", TRUE, reinterpret_cast<const BYTE*>(&blob), sizeof blob);
    FakeSkf_SetPublicKey("C1", FALSE, garbage, sizeof garbage);
    initialize();
    EXPECT_EQ(objectCount(client().slots().at(0)), 0u);
}

TEST_F(Hostile, pinAnswersMapToTheirPkcs11Codes_andUnknownCodesToADeviceError)
{
    initialize();
    const CK_SESSION_HANDLE session = client().open(client().slots().at(0));
    const std::pair<ULONG, CK_RV> answers[] = {{SAR_PIN_INCORRECT, CKR_PIN_INCORRECT},
                                               {SAR_PIN_LOCKED, CKR_PIN_LOCKED},
                                               {SAR_PIN_LEN_RANGE, CKR_PIN_LEN_RANGE},
                                               {SAR_DEVICE_REMOVED, CKR_DEVICE_REMOVED},
                                               {0x0A0000FFu, CKR_DEVICE_ERROR}};
    for (const auto& [sar, rv] : answers) {
        FakeSkf_SetPinAnswer(sar, 0);
        EXPECT_EQ(client()->C_Login(session, CKU_USER, (CK_UTF8CHAR_PTR) "12345678", 8), rv) << std::hex << sar;
    }
    // The flags follow what the driver says of the counters.
    FakeSkf_SetPinInfo(USER_TYPE, 10, 0, TRUE);
    CK_TOKEN_INFO info;
    ASSERT_EQ(client()->C_GetTokenInfo(client().slots().at(0), &info), CKR_OK);
    EXPECT_TRUE(info.flags & CKF_USER_PIN_LOCKED);
    EXPECT_TRUE(info.flags & CKF_USER_PIN_TO_BE_CHANGED);
}

TEST_F(Hostile, aFailingEventWait_endsTheCallInsteadOfSpinningOrHanging)
{
    // Failing before the module starts: a watcher already inside a wait would never see it.
    FakeSkf_SetResult("SKF_WaitForDevEvent", SAR_FAIL);
    initialize();
    CK_SLOT_ID slot = 0;
    EXPECT_EQ(client()->C_WaitForSlotEvent(0, &slot, nullptr), CKR_FUNCTION_FAILED);
    // A device that goes while nobody waits is still reported.
    FakeSkf_SetDeviceList("", 0, 0);
    EXPECT_EQ(client()->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr), CKR_OK);
    EXPECT_EQ(client()->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr), CKR_NO_EVENT);
}

TEST_F(Hostile, failuresAtEveryStep_giveErrorsNotCrashes_andLeaveNoHandleOpen)
{
    const BYTE garbage[] = {0x30, 0x03, 0x02, 0x01, 0x00};
    FakeSkf_SetCertificate("C1", TRUE, garbage, sizeof garbage);
    for (ULONG failure : {SAR_FAIL, SAR_DEVICE_REMOVED, SAR_BUFFER_TOO_SMALL, SAR_INVALIDHANDLEERR}) {
        for (unsigned okCalls = 0; okCalls < 40; ++okCalls) {
            FakeSkf_FailEverythingAfter(okCalls, failure);
            exerciseLikeAClient(client());
            FakeSkf_FailEverythingAfter(0, SAR_OK);
            EXPECT_EQ(FakeSkf_OpenHandleCount(), 0u) << std::hex << failure << " after " << std::dec << okCalls;
        }
    }
}
