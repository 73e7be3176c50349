// Sessions and login. A login belongs to the token's application in this process and ends
// in one place (endLogin): at logout, with the token's last session, or with the token.
#include "Module.h"

#include "Errors.h"

namespace skfp11 {

void Slot::requireUser() const
{
    if (!userLoggedIn()) {
        fail(CKR_USER_NOT_LOGGED_IN);
    }
}

void Module::endLogin(Slot& slot, bool tellDriver)
{
    const bool wasLoggedIn = slot.loggedIn != CK_UNAVAILABLE_INFORMATION;
    slot.loggedIn = CK_UNAVAILABLE_INFORMATION;
    slot.soPin = Secret();
    // Operations that used private keys end with the login.
    m_sessions.endPrivateOperations(slot.id);
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
    return m_sessions.open(id, flags);
}

void Module::closeSession(CK_SESSION_HANDLE handle)
{
    const CK_SLOT_ID id = m_sessions.get(handle).slot();
    if (m_sessions.close(handle)) {
        // The last session of a token ends its login.
        endLogin(slot(id), true);
    }
}

void Module::closeAllSessions(CK_SLOT_ID id)
{
    Slot& found = slot(id);
    m_sessions.closeSlot(id);
    endLogin(found, true);
}

void Module::sessionInfo(CK_SESSION_HANDLE handle, CK_SESSION_INFO& info)
{
    followUnwatched(slot(m_sessions.get(handle).slot()).driver);
    const Session& current = m_sessions.get(handle);
    const Slot& found = slot(current.slot());
    const bool readWrite = current.readWrite();
    info.slotID = current.slot();
    info.flags = current.flags();
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
    Session& current = m_sessions.get(handle);
    Slot& found = presentSlot(current.slot());
    if (user != CKU_USER && user != CKU_SO) {
        fail(user == CKU_CONTEXT_SPECIFIC ? CKR_OPERATION_NOT_INITIALIZED : CKR_USER_TYPE_INVALID);
    }
    if (found.loggedIn == user) {
        fail(CKR_USER_ALREADY_LOGGED_IN);
    }
    if (found.loggedIn != CK_UNAVAILABLE_INFORMATION) {
        fail(CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
    }
    if (user == CKU_SO && m_sessions.hasReadOnly(current.slot())) {
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
    Session& current = m_sessions.get(handle);
    Slot& found = presentSlot(current.slot());
    if (found.loggedIn == CK_UNAVAILABLE_INFORMATION) {
        fail(CKR_USER_NOT_LOGGED_IN);
    }
    endLogin(found, true);
}

void Module::setPin(CK_SESSION_HANDLE handle, Secret oldPin, Secret newPin)
{
    Session& current = m_sessions.get(handle);
    Slot& found = presentSlot(current.slot());
    current.requireWritable();
    const ULONG type = found.loggedIn == CKU_SO ? ADMIN_TYPE : USER_TYPE;
    ULONG retries = 0;
    checkSar(fn(found).ChangePIN(found.application, type, oldPin.data(), newPin.data(), &retries));
    if (type == ADMIN_TYPE) {
        found.soPin = std::move(newPin);
    }
}

void Module::initPin(CK_SESSION_HANDLE handle, Secret pin)
{
    Session& current = m_sessions.get(handle);
    Slot& found = presentSlot(current.slot());
    current.requireWritable();
    if (found.loggedIn != CKU_SO) {
        fail(CKR_USER_NOT_LOGGED_IN);
    }
    ULONG retries = 0;
    checkSar(fn(found).UnblockPIN(found.application, found.soPin.data(), pin.data(), &retries));
}

} // namespace skfp11
