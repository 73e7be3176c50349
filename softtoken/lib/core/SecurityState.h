// Which PINs this process has verified, per token application. A state belongs to one
// insertion of the token: after a removal it no longer counts. It holds the unwrapped
// application key, wiped when the state is cleared.
#pragma once

#include "crypto/Secure.h"
#include "store/StorePaths.h"

#include <map>
#include <string>
#include <vector>

namespace softskf::core {

struct AppSecurity
{
    store::PresenceIdentity insertion;
    bool userVerified = false;
    bool adminVerified = false;
    crypto::SecureBytes appKey;
};

class SecurityState
{
public:
    // The state of the application in this insertion, or nullptr.
    const AppSecurity* find(const std::string& serial, const std::vector<uint8_t>& appUid,
                            const store::PresenceIdentity& insertion);
    // Records a verified PIN (ADMIN_TYPE or USER_TYPE) with the application key it opened.
    void grant(const std::string& serial, const std::vector<uint8_t>& appUid, const store::PresenceIdentity& insertion,
               uint32_t pinType, crypto::SecureBytes appKey);
    void clear(const std::string& serial, const std::vector<uint8_t>& appUid);

private:
    static std::string key(const std::string& serial, const std::vector<uint8_t>& appUid);
    std::map<std::string, AppSecurity> m_states;
};

} // namespace softskf::core
