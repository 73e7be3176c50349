// The SKF driver binding: what gets looked up, what each wrapper forwards to, and what a
// missing library or a missing function gives.
#include "cgmskfoperator.h"

#include "fake_codes.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace {

BLOCKCIPHERPARAM recordByValue()
{
    BLOCKCIPHERPARAM param{};
    param.IV[0] = 0xA5;
    param.IV[31] = 0x5A;
    param.IVLen = 16;
    param.PaddingType = 1;
    param.FeedBitLen = 8;
    return param;
}

struct WrapperCall
{
    int slot;
    std::function<ULONG(CGMSKFOperator&)> call;
};

// One call of every wrapper, with the slot it should reach.
const std::vector<WrapperCall>& everyWrapper()
{
    static const std::vector<WrapperCall> calls = {
#include "wrapper_calls.inc"
    };
    return calls;
}

ULONG expectedCode(int slot)
{
    return FAKE_CODE_BASE + static_cast<ULONG>(slot);
}

} // namespace

TEST(Binding, aFreshBinding_hasEveryWrapperReportTheMissingFunction)
{
    CGMSKFOperator skf;
    for (const WrapperCall& wrapper : everyWrapper()) {
        EXPECT_EQ(wrapper.call(skf), 0xFFFFFFFFu) << CGMSKFOperator::slotName(wrapper.slot);
    }
}

TEST(Binding, theTable_has73SlotsOf71LookupsAnd71Wrappers)
{
    int lookedUp = 0;
    for (int slot = 0; slot < CGMSKFOperator::SlotCount; ++slot) {
        lookedUp += CGMSKFOperator::slotIsLookedUp(slot) ? 1 : 0;
    }
    EXPECT_EQ(CGMSKFOperator::SlotCount, 73);
    EXPECT_EQ(lookedUp, 71);
    EXPECT_FALSE(CGMSKFOperator::slotIsLookedUp(CGMSKFOperator::Slot_SKF_LockDev));
    EXPECT_FALSE(CGMSKFOperator::slotIsLookedUp(CGMSKFOperator::Slot_SKF_UnlockDev));
    EXPECT_EQ(everyWrapper().size(), 71u);
    for (const WrapperCall& wrapper : everyWrapper()) {
        EXPECT_NE(wrapper.slot, CGMSKFOperator::Slot_SKF_RSASignData);
        EXPECT_NE(wrapper.slot, CGMSKFOperator::Slot_SKF_RSAVerify);
    }
}

TEST(Binding, aDriverExportingEverything_fillsAll71LookedUpSlotsAndIsValid)
{
    CGMSKFOperator skf;
    ASSERT_EQ(skf.LoadSKFAPI(FAKE_FULL_DRIVER), 0);
    EXPECT_EQ(skf.IsValid(), 0);
    for (int slot = 0; slot < CGMSKFOperator::SlotCount; ++slot) {
        EXPECT_EQ(skf.slot(slot) != nullptr, CGMSKFOperator::slotIsLookedUp(slot)) << CGMSKFOperator::slotName(slot);
    }
}

TEST(Binding, everyWrapper_reachesItsOwnDriverFunctionWithItsArguments)
{
    CGMSKFOperator skf;
    ASSERT_EQ(skf.LoadSKFAPI(FAKE_FULL_DRIVER), 0);
    for (const WrapperCall& wrapper : everyWrapper()) {
        const bool neverLookedUp = !CGMSKFOperator::slotIsLookedUp(wrapper.slot);
        const ULONG expected = neverLookedUp ? 0xFFFFFFFFu : expectedCode(wrapper.slot);
        EXPECT_EQ(wrapper.call(skf), expected) << CGMSKFOperator::slotName(wrapper.slot);
    }
}

TEST(Binding, theCipherParameterRecord_crossesByValueWhole)
{
    CGMSKFOperator skf;
    ASSERT_EQ(skf.LoadSKFAPI(FAKE_FULL_DRIVER), 0);
    BLOCKCIPHERPARAM wrong = recordByValue();
    wrong.IV[31] = 0;
    EXPECT_EQ(skf.SKF_EncryptInit(nullptr, wrong), SAR_FAIL);
    EXPECT_EQ(skf.SKF_DecryptInit(nullptr, recordByValue()), expectedCode(CGMSKFOperator::Slot_SKF_DecryptInit));
}

TEST(Binding, aDriverWithoutTransmit_loadsButIsNotValidAndOnlyTransmitIsMissing)
{
    CGMSKFOperator skf;
    ASSERT_EQ(skf.LoadSKFAPI(FAKE_NOTRANSMIT_DRIVER), 0);
    EXPECT_EQ(skf.IsValid(), 1);
    EXPECT_EQ(skf.SKF_Transmit(nullptr, nullptr, 0, nullptr, nullptr), 0xFFFFFFFFu);
    for (const WrapperCall& wrapper : everyWrapper()) {
        if (wrapper.slot == CGMSKFOperator::Slot_SKF_Transmit || !CGMSKFOperator::slotIsLookedUp(wrapper.slot)) {
            continue;
        }
        EXPECT_EQ(wrapper.call(skf), expectedCode(wrapper.slot)) << CGMSKFOperator::slotName(wrapper.slot);
    }
}

TEST(Binding, lockAndUnlock_alwaysReportTheMissingFunction)
{
    CGMSKFOperator skf;
    ASSERT_EQ(skf.LoadSKFAPI(FAKE_FULL_DRIVER), 0);
    EXPECT_EQ(skf.SKF_LockDev(nullptr, 100), 0xFFFFFFFFu);
    EXPECT_EQ(skf.SKF_UnlockDev(nullptr), 0xFFFFFFFFu);
}

TEST(Binding, aMissingLibrary_writesOneLineToStandardErrorAndLeavesEverySlotEmpty)
{
    CGMSKFOperator skf;
    testing::internal::CaptureStderr();
    EXPECT_EQ(skf.LoadSKFAPI("/nonexistent/libnothing.so"), -1);
    const std::string written = testing::internal::GetCapturedStderr();
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(written.find('\n'), written.size() - 1) << written;
    EXPECT_NE(written.find("libnothing.so"), std::string::npos);
    for (int slot = 0; slot < CGMSKFOperator::SlotCount; ++slot) {
        EXPECT_EQ(skf.slot(slot), nullptr);
    }
    for (const WrapperCall& wrapper : everyWrapper()) {
        EXPECT_EQ(wrapper.call(skf), 0xFFFFFFFFu);
    }
}

TEST(Records, haveTheDriversPackedLayouts)
{
    EXPECT_EQ(sizeof(DEVINFO), 294u);
    EXPECT_EQ(offsetof(DEVINFO, Manufacturer), 2u);
    EXPECT_EQ(offsetof(DEVINFO, Label), 130u);
    EXPECT_EQ(offsetof(DEVINFO, SerialNumber), 162u);
    EXPECT_EQ(offsetof(DEVINFO, HWVersion), 194u);
    EXPECT_EQ(offsetof(DEVINFO, TotalSpace), 214u);
    EXPECT_EQ(offsetof(DEVINFO, FreeSpace), 218u);
    EXPECT_EQ(sizeof(BLOCKCIPHERPARAM), 44u);
    EXPECT_EQ(sizeof(ECCPUBLICKEYBLOB), 132u);
    EXPECT_EQ(sizeof(RSAPUBLICKEYBLOB), 268u);
    EXPECT_EQ(sizeof(ContainerInfo), 16u);
}
