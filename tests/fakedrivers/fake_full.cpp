// A fake SKF driver that exports every function of the interface. Each function answers a
// code of its own (FAKE_CODE_BASE plus its place in the binding's table, or an extra code
// for functions outside the table), so a test can tell that a wrapper reached the right
// function. Built twice: once whole, once without SKF_Transmit.
#include "cgmskfoperator.h"
#include "fake_codes.h"

#include <cstring>

namespace {

const char* const kBindingTable[] = {
#define OVRIN_FAKE_SLOT_NAME(name, lookedUp) #name,
    OVRIN_SKF_SLOTS(OVRIN_FAKE_SLOT_NAME)
#undef OVRIN_FAKE_SLOT_NAME
};

// The record arrives by value: checks that all 44 bytes made it across.
bool isTheTestsRecord(const BLOCKCIPHERPARAM& param)
{
    return param.IVLen == 16 && param.PaddingType == 1 && param.FeedBitLen == 8 && param.IV[0] == 0xA5
        && param.IV[31] == 0x5A;
}

} // namespace

extern "C" {

ULONG fakeSkfStubAnswer(const char* function, unsigned place)
{
    for (ULONG slot = 0; slot < sizeof kBindingTable / sizeof *kBindingTable; ++slot) {
        if (std::strcmp(kBindingTable[slot], function) == 0) {
            return FAKE_CODE_BASE + slot;
        }
    }
    return FAKE_EXTRA_CODE_BASE + place;
}

ULONG SKF_EncryptInit(HANDLE, BLOCKCIPHERPARAM EncryptParam)
{
    return isTheTestsRecord(EncryptParam) ? fakeSkfStubAnswer("SKF_EncryptInit", 0) : SAR_FAIL;
}

ULONG SKF_DecryptInit(HANDLE, BLOCKCIPHERPARAM DecryptParam)
{
    return isTheTestsRecord(DecryptParam) ? fakeSkfStubAnswer("SKF_DecryptInit", 0) : SAR_FAIL;
}

} // extern "C"
