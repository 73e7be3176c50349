// Applications and PINs: the retry counter is spent on disk before a PIN is compared,
// so killing the process in between never gives a free try.
#include "Core.h"

#include "AccessRights.h"
#include "Sessions.h"
#include "crypto/Crypto.h"
#include "crypto/PinSecret.h"

namespace softskf::core {

namespace {

constexpr size_t kMinPinSize = 6;
constexpr size_t kMaxPinSize = 16;
constexpr size_t kMaxAppNameSize = 32;
constexpr size_t kAppUidSize = 16;
constexpr ULONG kMaxRetries = 255;

void requirePinSize(const crypto::SecureString& pin)
{
    if (pin.size() < kMinPinSize || pin.size() > kMaxPinSize) {
        fail(SAR_PIN_LEN_RANGE);
    }
}

void requirePinType(ULONG pinType)
{
    if (pinType != ADMIN_TYPE && pinType != USER_TYPE) {
        fail(SAR_USER_TYPE_INVALID);
    }
}

std::vector<uint8_t> pinAad(const std::vector<uint8_t>& appUid, ULONG pinType)
{
    std::vector<uint8_t> aad(appUid);
    aad.push_back(static_cast<uint8_t>(pinType));
    return aad;
}

} // namespace

Core::AppRef Core::application(HANDLE handle, std::optional<store::ReadSnapshot>* snapshot)
{
    auto* session = m_handles.find<AppSession>(handle, HandleKind::Application);
    if (!session) {
        fail(SAR_INVALIDHANDLEERR);
    }
    auto ref = device(session->parent);
    if (snapshot) {
        snapshot->emplace(ref.db.database());
    }
    auto record = ref.db.application(session->appId);
    if (!record || record->uid != session->uid) {
        fail(SAR_APPLICATION_NOT_EXISTS); // deleted, perhaps by another process
    }
    return {ref.session, ref.db, *session, *record};
}

const AppSecurity* Core::security(const AppRef& app)
{
    return m_security.find(app.device.serial, app.record.uid, app.device.insertion);
}

void Core::requireUser(const AppRef& app)
{
    const AppSecurity* state = security(app);
    if (!state || !state->userVerified) {
        fail(SAR_USER_NOT_LOGGED_IN);
    }
}

bool Core::allowed(const AppRef& app, ULONG rights)
{
    if (rights == SECURE_ANYONE_ACCOUNT) {
        return true;
    }
    const AppSecurity* state = security(app);
    return state
        && (((rights & SECURE_USER_ACCOUNT) && state->userVerified)
            || ((rights & SECURE_ADM_ACCOUNT) && state->adminVerified));
}

void Core::requireRoom(store::TokenDb& db, uint64_t bytes)
{
    if (bytes > db.freeBytes()) {
        fail(SAR_NO_ROOM);
    }
}

store::PinRecord Core::newPin(const crypto::SecureString& pin, ULONG retries, const crypto::SecureBytes& appKey,
                              const std::vector<uint8_t>& appUid, ULONG pinType)
{
    store::PinRecord record;
    record.salt = crypto::randomBytes(crypto::kPinSaltSize);
    record.iterations = crypto::kPinIterations;
    const auto secret = crypto::derivePinSecret(pin.data(), pin.size(), record.salt, record.iterations);
    record.verifier.assign(secret.verifier.begin(), secret.verifier.end());
    record.maxRetries = retries;
    record.remainingRetries = retries;
    record.isDefault = true;
    record.wrappedAppKey = crypto::seal(secret.wrappingKey, appKey.data(), appKey.size(), pinAad(appUid, pinType));
    return record;
}

ULONG Core::checkPin(const AppRef& app, ULONG pinType, const crypto::SecureString& pin, ULONG& remaining,
                     crypto::SecureBytes* appKey)
{
    store::PinRecord record;
    {
        store::Transaction transaction(app.db.database());
        record = app.db.pin(app.record.id, pinType);
        if (record.remainingRetries == 0) {
            remaining = 0;
            m_security.clear(app.device.serial, app.record.uid);
            return SAR_PIN_LOCKED;
        }
        app.db.setRemainingRetries(app.record.id, pinType, record.remainingRetries - 1);
        transaction.commit();
    }
    const auto secret = crypto::derivePinSecret(pin.data(), pin.size(), record.salt, record.iterations);
    if (!crypto::constantTimeEqual(secret.verifier.data(), secret.verifier.size(), record.verifier.data(),
                                   record.verifier.size())) {
        remaining = record.remainingRetries - 1;
        m_security.clear(app.device.serial, app.record.uid);
        return remaining == 0 ? SAR_PIN_LOCKED : SAR_PIN_INCORRECT;
    }
    {
        store::Transaction transaction(app.db.database());
        app.db.setRemainingRetries(app.record.id, pinType, record.maxRetries);
        transaction.commit();
    }
    remaining = record.maxRetries;
    if (appKey) {
        try {
            *appKey = crypto::open(secret.wrappingKey, record.wrappedAppKey, pinAad(app.record.uid, pinType));
        } catch (const crypto::CryptoInputError&) {
            fail(SAR_FAIL); // the record was tampered with
        }
    }
    return SAR_OK;
}

HANDLE Core::createApplication(HANDLE device, const std::string& name, const crypto::SecureString& adminPin,
                               ULONG adminRetries, const crypto::SecureString& userPin, ULONG userRetries,
                               ULONG createFileRights)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto ref = this->device(device);
    if (!ref.session.authenticated) {
        fail(SAR_USER_NOT_LOGGED_IN);
    }
    if (name.empty()) {
        fail(SAR_APPLICATION_NAME_INVALID);
    }
    if (name.size() > kMaxAppNameSize) {
        fail(SAR_NAMELENERR);
    }
    requirePinSize(adminPin);
    requirePinSize(userPin);
    if (adminRetries == 0 || adminRetries > kMaxRetries || userRetries == 0 || userRetries > kMaxRetries
        || !isValidAccessRight(createFileRights)) {
        fail(SAR_INVALIDPARAMERR);
    }
    const auto appKey = crypto::randomSecret(crypto::kAppKeySize);
    store::AppRecord record{0, name, crypto::randomBytes(kAppUidSize), createFileRights};
    const auto adminRecord = newPin(adminPin, adminRetries, appKey, record.uid, ADMIN_TYPE);
    const auto userRecord = newPin(userPin, userRetries, appKey, record.uid, USER_TYPE);

    store::Transaction transaction(ref.db.database());
    if (ref.db.application(name)) {
        fail(SAR_APPLICATION_EXISTS);
    }
    requireRoom(ref.db, store::kApplicationCost);
    record.id = ref.db.insertApplication(record);
    ref.db.putPin(record.id, ADMIN_TYPE, adminRecord);
    ref.db.putPin(record.id, USER_TYPE, userRecord);
    transaction.commit();

    auto session = std::make_shared<AppSession>(device);
    session->appId = record.id;
    session->uid = record.uid;
    return m_handles.add(std::move(session));
}

std::vector<std::string> Core::enumApplications(HANDLE device)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return this->device(device).db.applicationNames();
}

void Core::deleteApplication(HANDLE device, const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto ref = this->device(device);
    if (!ref.session.authenticated) {
        fail(SAR_USER_NOT_LOGGED_IN);
    }
    store::Transaction transaction(ref.db.database());
    const auto record = ref.db.application(name);
    if (!record) {
        fail(SAR_APPLICATION_NOT_EXISTS);
    }
    ref.db.deleteApplication(record->id);
    transaction.commit();
    m_security.clear(ref.session.serial, record->uid);
}

HANDLE Core::openApplication(HANDLE device, const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto ref = this->device(device);
    const auto record = ref.db.application(name);
    if (!record) {
        fail(SAR_APPLICATION_NOT_EXISTS);
    }
    auto session = std::make_shared<AppSession>(device);
    session->appId = record->id;
    session->uid = record->uid;
    return m_handles.add(std::move(session));
}

void Core::closeApplication(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_handles.find<AppSession>(handle, HandleKind::Application)) {
        fail(SAR_INVALIDHANDLEERR);
    }
    closeBelow(handle);
}

PinInfo Core::pinInfo(HANDLE handle, ULONG pinType)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto app = application(handle);
    requirePinType(pinType);
    const auto record = app.db.pin(app.record.id, pinType);
    return {record.maxRetries, record.remainingRetries, record.isDefault};
}

ULONG Core::verifyPin(HANDLE handle, ULONG pinType, const crypto::SecureString& pin, ULONG& remaining)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto app = application(handle);
    requirePinType(pinType);
    requirePinSize(pin);
    crypto::SecureBytes appKey;
    const ULONG result = checkPin(app, pinType, pin, remaining, &appKey);
    if (result == SAR_OK) {
        m_security.grant(app.device.serial, app.record.uid, app.device.insertion, pinType, std::move(appKey));
    }
    return result;
}

ULONG Core::changePin(HANDLE handle, ULONG pinType, const crypto::SecureString& oldPin,
                      const crypto::SecureString& newPin, ULONG& remaining)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto app = application(handle);
    requirePinType(pinType);
    requirePinSize(oldPin);
    requirePinSize(newPin);
    crypto::SecureBytes appKey;
    const ULONG result = checkPin(app, pinType, oldPin, remaining, &appKey);
    if (result != SAR_OK) {
        return result;
    }
    auto record = this->newPin(newPin, remaining, appKey, app.record.uid, pinType);
    record.isDefault = false;
    store::Transaction transaction(app.db.database());
    app.db.putPin(app.record.id, pinType, record);
    transaction.commit();
    m_security.grant(app.device.serial, app.record.uid, app.device.insertion, pinType, std::move(appKey));
    return SAR_OK;
}

ULONG Core::unblockPin(HANDLE handle, const crypto::SecureString& adminPin, const crypto::SecureString& newUserPin,
                       ULONG& remaining)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto app = application(handle);
    requirePinSize(adminPin);
    requirePinSize(newUserPin);
    crypto::SecureBytes appKey;
    const ULONG result = checkPin(app, ADMIN_TYPE, adminPin, remaining, &appKey);
    if (result != SAR_OK) {
        return result;
    }
    const ULONG userRetries = app.db.pin(app.record.id, USER_TYPE).maxRetries;
    auto record = newPin(newUserPin, userRetries, appKey, app.record.uid, USER_TYPE);
    record.isDefault = false;
    store::Transaction transaction(app.db.database());
    app.db.putPin(app.record.id, USER_TYPE, record);
    transaction.commit();
    m_security.grant(app.device.serial, app.record.uid, app.device.insertion, ADMIN_TYPE, std::move(appKey));
    return SAR_OK;
}

void Core::clearSecureState(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto app = application(handle);
    m_security.clear(app.device.serial, app.record.uid);
}

} // namespace softskf::core
