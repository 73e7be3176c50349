// Errors inside the module: a PKCS#11 return value carried as an exception up to the entry
// layer, and the translation of the driver's SAR codes.
#pragma once

#include "skf/skfapi.h"

#include <p11-kit/pkcs11.h>

#include <stdexcept>

namespace skfp11 {

class P11Error : public std::runtime_error
{
public:
    explicit P11Error(CK_RV rv)
        : std::runtime_error("PKCS#11 error")
        , m_rv(rv)
    {
    }
    CK_RV rv() const { return m_rv; }

private:
    CK_RV m_rv;
};

[[noreturn]] inline void fail(CK_RV rv)
{
    throw P11Error(rv);
}

// The PKCS#11 value that says the same as a driver's result code.
CK_RV rvFromSar(ULONG sar);

// Throws the translation of a driver result other than SAR_OK.
inline void checkSar(ULONG sar)
{
    if (sar != SAR_OK) {
        fail(rvFromSar(sar));
    }
}

} // namespace skfp11
