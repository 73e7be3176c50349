// Sessions and login. A login belongs to the token's application in this process and ends
// in one place (endLogin): at logout, with the token's last session, or with the token.
#include "Module.h"

#include "Errors.h"

namespace skfp11 {

Session& Module::session(CK_SESSION_HANDLE handle)
{
    auto found = m_sessions.find(handle);
    if (found == m_sessions.end()) {
        fail(CKR_SESSION_HANDLE_INVALID);
    }
    return found->second;
}

bool Module::hasReadOnlySession(CK_SLOT_ID id) const
{
    for (const auto& entry : m_sessions) {
        if (entry.second.slot == id && !(entry.second.flags & CKF_RW_SESSION)) {
            return true;
        }
    }
    return false;
}

void Module::requireWritable(const Session& session) const
{
    if (!(session.flags & CKF_RW_SESSION)) {
        fail(CKR_SESSION_READ_ONLY);
    }
}

void Module::requireUser(const Slot& slot) const
{
    if (!userLoggedIn(slot)) {
        fail(CKR_USER_NOT_LOGGED_IN);
    }
}

void Module::dropSessions(CK_SLOT_ID id)
{
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        it = it->second.slot == id ? m_sessions.erase(it) : std::next(it);
    }
}

void Module::endLogin(Slot& slot, bool tellDriver)
{
    const bool wasLoggedIn = slot.loggedIn != CK_UNAVAILABLE_INFORMATION;
    slot.loggedIn = CK_UNAVAILABLE_INFORMATION;
    slot.soPin = Secret();
    // Operations that used private keys end with the login.
    for (auto& entry : m_sessions) {
        if (entry.second.slot == slot.id) {
            entry.second.signature.reset();
            entry.second.finding = false;
        }
    }
    if (tellDriver && wasLoggedIn && slot.present && slot.application) {
        checkSar(fn(slot).ClearSecureState(slot.application));
    }
}

CK_SESSION_HANDLE Module::openSession(CK_SLOT_ID id, CK_FLAGS flags)
{
    Slot& found = presentSlot(id);
    if (!(flags & CKF_RW_SESSION) && found.loggedIn == CKU_SO) {
        fail(CKR_SESSION_READ_WRITE_SO_EXISTS);
    }
    Session session;
    session.handle = m_nextSession++;
    session.slot = id;
    session.flags = flags;
    m_sessions[session.handle] = std::move(session);
    return m_nextSession - 1;
}

void Module::closeSession(CK_SESSION_HANDLE handle)
{
    const CK_SLOT_ID id = session(handle).slot;
    m_sessions.erase(handle);
    for (const auto& entry : m_sessions) {
        if (entry.second.slot == id) {
            return;
        }
    }
    // The last session of a token ends its login.
    endLogin(slot(id), true);
}

void Module::closeAllSessions(CK_SLOT_ID id)
{
    Slot& found = slot(id);
    dropSessions(id);
    endLogin(found, true);
}

void Module::sessionInfo(CK_SESSION_HANDLE handle, CK_SESSION_INFO& info)
{
    followUnwatched(slot(session(handle).slot).driver);
    const Session& current = session(handle);
    const Slot& found = slot(current.slot);
    const bool readWrite = current.flags & CKF_RW_SESSION;
    info.slotID = current.slot;
    info.flags = current.flags;
    info.ulDeviceError = 0;
    if (found.loggedIn == CKU_SO) {
        info.state = CKS_RW_SO_FUNCTIONS;
    } else if (found.loggedIn == CKU_USER) {
        info.state = readWrite ? CKS_RW_USER_FUNCTIONS : CKS_RO_USER_FUNCTIONS;
    } else {
        info.state = readWrite ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION;
    }
}

void Module::login(CK_SESSION_HANDLE handle, CK_USER_TYPE user, Secret pin)
{
    Session& current = session(handle);
    Slot& found = presentSlot(current.slot);
    if (user != CKU_USER && user != CKU_SO) {
        fail(user == CKU_CONTEXT_SPECIFIC ? CKR_OPERATION_NOT_INITIALIZED : CKR_USER_TYPE_INVALID);
    }
    if (found.loggedIn == user) {
        fail(CKR_USER_ALREADY_LOGGED_IN);
    }
    if (found.loggedIn != CK_UNAVAILABLE_INFORMATION) {
        fail(CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
    }
    if (user == CKU_SO && hasReadOnlySession(current.slot)) {
        fail(CKR_SESSION_READ_ONLY_EXISTS);
    }
    ULONG retries = 0;
    checkSar(fn(found).VerifyPIN(found.application, user == CKU_SO ? ADMIN_TYPE : USER_TYPE, pin.data(), &retries));
    found.loggedIn = user;
    if (user == CKU_SO) {
        found.soPin = std::move(pin);
    }
}

void Module::logout(CK_SESSION_HANDLE handle)
{
    Session& current = session(handle);
    Slot& found = presentSlot(current.slot);
    if (found.loggedIn == CK_UNAVAILABLE_INFORMATION) {
        fail(CKR_USER_NOT_LOGGED_IN);
    }
    endLogin(found, true);
}

void Module::setPin(CK_SESSION_HANDLE handle, Secret oldPin, Secret newPin)
{
    Session& current = session(handle);
    Slot& found = presentSlot(current.slot);
    requireWritable(current);
    const ULONG type = found.loggedIn == CKU_SO ? ADMIN_TYPE : USER_TYPE;
    ULONG retries = 0;
    checkSar(fn(found).ChangePIN(found.application, type, oldPin.data(), newPin.data(), &retries));
    if (type == ADMIN_TYPE) {
        found.soPin = std::move(newPin);
    }
}

void Module::initPin(CK_SESSION_HANDLE handle, Secret pin)
{
    Session& current = session(handle);
    Slot& found = presentSlot(current.slot);
    requireWritable(current);
    if (found.loggedIn != CKU_SO) {
        fail(CKR_USER_NOT_LOGGED_IN);
    }
    ULONG retries = 0;
    checkSar(fn(found).UnblockPIN(found.application, found.soPin.data(), pin.data(), &retries));
}

} // namespace skfp11
