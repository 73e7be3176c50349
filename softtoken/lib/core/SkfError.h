// The core reports failures as SkfError carrying the SAR code the caller receives.
#pragma once

#include "skf/skfapi.h"

namespace softskf::core {

class SkfError
{
public:
    explicit SkfError(ULONG code)
        : m_code(code)
    {
    }
    ULONG code() const { return m_code; }

private:
    ULONG m_code;
};

[[noreturn]] inline void fail(ULONG code)
{
    throw SkfError(code);
}

} // namespace softskf::core
