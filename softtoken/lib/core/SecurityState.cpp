// Verified PINs of this process.
#include "SecurityState.h"

#include "skf/skfapi.h"

namespace softskf::core {

std::string SecurityState::key(const std::string& serial, const std::vector<uint8_t>& appUid)
{
    return serial + '\0' + std::string(appUid.begin(), appUid.end());
}

const AppSecurity* SecurityState::find(const std::string& serial, const std::vector<uint8_t>& appUid,
                                       const store::PresenceIdentity& insertion)
{
    const auto found = m_states.find(key(serial, appUid));
    if (found == m_states.end()) {
        return nullptr;
    }
    if (found->second.insertion != insertion) {
        m_states.erase(found); // the token was pulled out since
        return nullptr;
    }
    return &found->second;
}

void SecurityState::grant(const std::string& serial, const std::vector<uint8_t>& appUid,
                          const store::PresenceIdentity& insertion, uint32_t pinType, crypto::SecureBytes appKey)
{
    AppSecurity& state = m_states[key(serial, appUid)];
    if (state.insertion != insertion) {
        state = AppSecurity{};
        state.insertion = insertion;
    }
    (pinType == ADMIN_TYPE ? state.adminVerified : state.userVerified) = true;
    state.appKey = std::move(appKey);
}

void SecurityState::clear(const std::string& serial, const std::vector<uint8_t>& appUid)
{
    m_states.erase(key(serial, appUid));
}

} // namespace softskf::core
