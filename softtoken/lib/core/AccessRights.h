// The access-right values a file or an application's create-file right may take.
#pragma once

#include "skf/skfapi.h"

namespace softskf::core {

inline bool isValidAccessRight(ULONG rights)
{
    return rights == SECURE_NEVER_ACCOUNT || rights == SECURE_ADM_ACCOUNT || rights == SECURE_USER_ACCOUNT
        || rights == (SECURE_ADM_ACCOUNT | SECURE_USER_ACCOUNT) || rights == SECURE_ANYONE_ACCOUNT;
}

} // namespace softskf::core
