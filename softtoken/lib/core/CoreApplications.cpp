// Applications and PINs: the retry counter is spent on disk before a PIN is compared,
// so killing the process in between never gives a free try. Each PIN record holds an
// X25519 pair (private half sealed under the PIN) and the application key wrapped to it,
// so changing one PIN can hand a fresh application key to the other PIN as well.
#include "Core.h"

#include "AccessRights.h"
#include "Sessions.h"
#include "crypto/Crypto.h"
#include "crypto/PinKeys.h"
#include "crypto/PinSecret.h"
#include "PinRecords.h"

#include <algorithm>

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

crypto::PinKdfParams kdfParams(const store::PinRecord& record)
{
    crypto::PinKdfParams params;
    params.scrypt = record.kdf == store::PinKdf::Scrypt;
    params.iterations = record.iterations;
    params.n = record.scryptN;
    params.r = record.scryptR;
    params.p = record.scryptP;
    return params;
}

// An older record (PBKDF2, or the key sealed straight under the PIN), or a cost below
// today's: made again at the next successful verification.
bool isOutdated(const store::PinRecord& record)
{
    const auto current = crypto::newPinKdfParams();
    return record.kdf != store::PinKdf::Scrypt || record.wrapPublic.empty() || record.wrapPrivate.empty()
        || record.scryptN < current.n || record.scryptR < current.r || record.scryptP < current.p;
}

// The application key a verified PIN's record holds, and whether the record is of the
// bound form. A record's public half must be its private half's: a planted public key
// would otherwise receive the next application key.
pins::OpenedRecord openAppKey(const store::PinRecord& record, const crypto::PinSecret& secret,
                              const std::vector<uint8_t>& appUid, ULONG pinType)
{
    pins::OpenedRecord opened;
    if (record.wrapPublic.empty()) {
        opened.appKey = crypto::open(secret.wrappingKey, record.wrappedAppKey, pins::appKeyAad(appUid, pinType));
        return opened;
    }
    crypto::SecureBytes wrapPrivate;
    try {
        wrapPrivate = crypto::open(secret.wrappingKey, record.wrapPrivate, pins::wrapPrivateAad(appUid, pinType, true));
        opened.boundForm = true;
    } catch (const crypto::CryptoInputError&) {
        wrapPrivate
            = crypto::open(secret.wrappingKey, record.wrapPrivate, pins::wrapPrivateAad(appUid, pinType, false));
    }
    if (crypto::wrapPublicOf(wrapPrivate) != record.wrapPublic) {
        throw crypto::CryptoInputError("the record's public wrap key is not its own");
    }
    opened.appKey = crypto::unwrapWith(wrapPrivate, record.wrappedAppKey, pins::appKeyAad(appUid, pinType));
    return opened;
}

bool allZero(const std::vector<uint8_t>& bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t byte) { return byte == 0; });
}

ULONG otherPinType(ULONG pinType)
{
    return pinType == ADMIN_TYPE ? USER_TYPE : ADMIN_TYPE;
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
    requireUnlocked(app, USER_TYPE);
}

void Core::requireUnlocked(const AppRef& app, ULONG pinType)
{
    // The counter is shared by every process: one that locked the PIN since it was
    // verified here ends this login too, as a failed verification here would.
    if (app.db.remainingRetries(app.record.id, pinType) == 0) {
        endLogin(app.device.serial, app.record.uid);
        fail(SAR_PIN_LOCKED);
    }
}

crypto::SecureBytes Core::loginKey(const AppRef& app)
{
    const AppSecurity* state = security(app);
    if (!state || state->appKey.empty()) {
        fail(SAR_USER_NOT_LOGGED_IN);
    }
    // Another process changed a PIN, and with it the key, since this login.
    if (!app.record.keyCheck.empty() && crypto::appKeyCheck(state->appKey) != app.record.keyCheck) {
        endLogin(app.device.serial, app.record.uid);
        fail(SAR_USER_NOT_LOGGED_IN);
    }
    return state->appKey;
}

bool Core::allowed(const AppRef& app, ULONG rights)
{
    if (rights == SECURE_ANYONE_ACCOUNT) {
        return true;
    }
    const AppSecurity* state = security(app);
    if (!state) {
        return false;
    }
    const bool asUser = (rights & SECURE_USER_ACCOUNT) && state->userVerified;
    const bool asAdmin = (rights & SECURE_ADM_ACCOUNT) && state->adminVerified;
    if (asUser) {
        requireUnlocked(app, USER_TYPE);
    }
    if (asAdmin) {
        requireUnlocked(app, ADMIN_TYPE);
    }
    return asUser || asAdmin;
}

void Core::requireRoom(store::TokenDb& db, uint64_t bytes)
{
    if (bytes > db.freeBytes()) {
        fail(SAR_NO_ROOM);
    }
}

store::PinRecord Core::newPin(const crypto::SecureString& pin, ULONG retries, const crypto::SecureBytes& appKey,
                              const std::vector<uint8_t>& appUid, ULONG pinType, crypto::PinSecret* secretOut)
{
    store::PinRecord record;
    record.salt = crypto::randomBytes(crypto::kPinSaltSize);
    const auto params = crypto::newPinKdfParams();
    record.kdf = store::PinKdf::Scrypt;
    record.scryptN = params.n;
    record.scryptR = params.r;
    record.scryptP = params.p;
    const auto secret = crypto::derivePinSecret(pin.data(), pin.size(), record.salt, params);
    record.verifier.assign(secret.verifier.begin(), secret.verifier.end());
    record.maxRetries = retries;
    record.remainingRetries = retries;
    record.isDefault = true;
    const auto wrapKeys = crypto::generateWrapKeyPair();
    record.wrapPublic = wrapKeys.publicKey;
    record.wrapPrivate = crypto::seal(secret.wrappingKey, wrapKeys.privateKey.data(), wrapKeys.privateKey.size(),
                                      pins::wrapPrivateAad(appUid, pinType, true));
    record.wrappedAppKey = crypto::wrapTo(record.wrapPublic, appKey, pins::appKeyAad(appUid, pinType));
    if (secretOut) {
        *secretOut = secret;
    }
    return record;
}

void Core::endLogin(const std::string& serial, const std::vector<uint8_t>& appUid)
{
    m_security.clear(serial, appUid);
    m_keyCache.clear(); // parsed private keys go with the login that opened them
}

std::optional<store::PinRecord> Core::spendTry(const AppRef& app, ULONG pinType)
{
    store::Transaction transaction(app.db.database());
    auto record = app.db.pin(app.record.id, pinType);
    // Both records are read before the try: a damaged one (SAR_FILEERR) costs none.
    app.db.pin(app.record.id, otherPinType(pinType));
    if (!crypto::isWrittenPinKdf(kdfParams(record))) {
        fail(SAR_FAIL); // a planted record: no try spent, no hash run
    }
    if (record.remainingRetries == 0) {
        return std::nullopt;
    }
    app.db.setRemainingRetries(app.record.id, pinType, record.remainingRetries - 1);
    transaction.commit();
    return record;
}

ULONG Core::checkPin(const AppRef& app, ULONG pinType, const crypto::SecureString& pin, ULONG& remaining,
                     VerifiedPin& verified, bool converge)
{
    auto record = spendTry(app, pinType);
    if (!record) {
        remaining = 0;
        endLogin(app.device.serial, app.record.uid);
        return SAR_PIN_LOCKED;
    }
    return comparePin(app, pinType, pin, std::move(*record), true, remaining, verified, converge);
}

ULONG Core::recheckPin(const AppRef& app, const crypto::SecureString& pin, ULONG& remaining, VerifiedPin& verified,
                       bool converge)
{
    auto record = app.db.pin(app.record.id, verified.pinType);
    return comparePin(app, verified.pinType, pin, std::move(record), false, remaining, verified, converge);
}

ULONG Core::comparePin(const AppRef& app, ULONG pinType, const crypto::SecureString& pin, store::PinRecord record,
                       bool spent, ULONG& remaining, VerifiedPin& verified, bool converge)
{
    // One try for the caller's attempt. A record whose secret another process replaced
    // meanwhile (a change or an upgrade of this PIN) is compared again without one: the
    // PIN matched the record in force when the try was spent.
    constexpr int kRounds = 4;
    for (int round = 0;; ++round) {
        if (!spent && record.remainingRetries == 0) {
            remaining = 0;
            endLogin(app.device.serial, app.record.uid);
            return SAR_PIN_LOCKED;
        }
        if (!crypto::isWrittenPinKdf(kdfParams(record))) {
            endLogin(app.device.serial, app.record.uid);
            fail(SAR_FAIL);
        }
        auto secret = crypto::derivePinSecret(pin.data(), pin.size(), record.salt, kdfParams(record));
        if (!crypto::constantTimeEqual(secret.verifier.data(), secret.verifier.size(), record.verifier.data(),
                                       record.verifier.size())) {
            remaining = spent ? record.remainingRetries - 1 : record.remainingRetries;
            endLogin(app.device.serial, app.record.uid);
            return remaining == 0 ? SAR_PIN_LOCKED : SAR_PIN_INCORRECT;
        }
        verified = VerifiedPin{pinType, record, std::move(secret), {}, false};
        const auto outcome = settlePin(app, pin, verified, converge, record);
        if (outcome == PinOutcome::Replaced && round + 1 < kRounds) {
            spent = false;
            continue;
        }
        remaining = verified.record.maxRetries;
        if (outcome != PinOutcome::Verified && outcome != PinOutcome::VerifiedLegacy) {
            endLogin(app.device.serial, app.record.uid);
            fail(SAR_FAIL); // the record was tampered with, or mixed with another copy's rows
        }
        verified.legacy = outcome == PinOutcome::VerifiedLegacy;
        return SAR_OK;
    }
}

Core::PinOutcome Core::settlePin(const AppRef& app, const crypto::SecureString& pin, VerifiedPin& verified,
                                 bool converge, store::PinRecord& replacement)
{
    const ULONG pinType = verified.pinType;
    const ULONG otherType = otherPinType(pinType);
    auto& db = app.db;
    store::Transaction transaction(db.database());
    auto record = db.pin(app.record.id, pinType);
    if (!pins::sameSecret(record, verified.record)) {
        replacement = std::move(record);
        return PinOutcome::Replaced; // its own counter and PIN now: nothing of this one is written
    }
    // The same secret: a change of the other PIN may have wrapped a new key to it since.
    verified.record = record;
    db.setRemainingRetries(app.record.id, pinType, record.maxRetries);
    const auto current = db.application(app.record.id);
    if (!current || current->uid != app.record.uid) {
        fail(SAR_APPLICATION_NOT_EXISTS);
    }
    std::optional<pins::OpenedRecord> opened;
    try {
        opened = openAppKey(record, verified.secret, app.record.uid, pinType);
    } catch (const crypto::CryptoInputError&) {
    }
    auto other = db.pin(app.record.id, otherType);
    const bool ownBound = !record.recordMac.empty();
    bool intact = opened && (current->keyCheck.empty() || crypto::appKeyCheck(opened->appKey) == current->keyCheck);
    if (intact && ownBound) {
        intact = pins::binding(opened->appKey, app.record.uid, pinType, record, !other.recordMac.empty())
            == pins::Binding::Bound;
    } else if (intact) {
        intact = !opened->boundForm; // a record of this version never loses its MAC
    }
    if (!intact) {
        transaction.commit(); // the right PIN still gives its tries back
        return PinOutcome::Damaged;
    }
    const crypto::SecureBytes& key = opened->appKey;
    verified.appKey = key;
    const auto otherBinding = pins::binding(key, app.record.uid, otherType, other, ownBound);
    // The first record of an older application verified: its plain protected files are
    // sealed now. Once either record is bound, plain data there is someone else's.
    const bool legacy = !ownBound && otherBinding == pins::Binding::Unbound;
    if (converge && (!ownBound || isOutdated(record))) {
        // Same key, today's KDF and wrap keys, bound, in the transaction that resets the counter.
        crypto::PinSecret secret;
        auto upgraded = newPin(pin, record.maxRetries, key, app.record.uid, pinType, &secret);
        upgraded.isDefault = record.isDefault;
        // What the other record's MAC says, as the check of this one will read it.
        upgraded.recordMac = pins::recordMac(key, app.record.uid, pinType, upgraded, !other.recordMac.empty());
        db.putPin(app.record.id, pinType, upgraded);
        if (otherBinding == pins::Binding::Bound && !ownBound) {
            other.recordMac = pins::recordMac(key, app.record.uid, otherType, other, true);
            db.putPin(app.record.id, otherType, other);
        }
        if (current->keyCheck.empty()) {
            db.setKeyCheck(app.record.id, crypto::appKeyCheck(key));
        }
        if (legacy) {
            sealProtectedFiles(app, key, key, true);
        }
        transaction.commit();
        db.checkpoint();
        verified.record = std::move(upgraded);
        verified.secret = std::move(secret);
        return PinOutcome::Verified;
    }
    transaction.commit();
    return legacy ? PinOutcome::VerifiedLegacy : PinOutcome::Verified;
}

void Core::sealProtectedFiles(const AppRef& app, const crypto::SecureBytes& oldKey, const crypto::SecureBytes& key,
                              bool sealPlain)
{
    auto& db = app.db;
    for (const auto& name : db.fileNames(app.record.id)) {
        std::optional<store::FileRecord> file;
        std::vector<uint8_t> stored;
        try {
            file = db.file(app.record.id, name);
            if (!file || file->readRights == SECURE_ANYONE_ACCOUNT || (file->sealed && oldKey == key)) {
                continue;
            }
            stored = db.fileData(app.record.id, *file);
        } catch (const store::DamagedRecord&) {
            continue; // refused wherever it is used; it blocks no PIN change
        }
        const auto aad = fileAad(app.record.uid, name);
        crypto::SecureBytes plain;
        if (file->sealed) {
            try {
                plain = crypto::open(oldKey, stored, aad);
            } catch (const crypto::CryptoInputError&) {
                continue; // damaged: stays refused, and blocks no PIN change
            }
        } else if (sealPlain || (stored.size() == file->size && allZero(stored))) {
            plain = crypto::secureCopy(stored.data(), stored.size()); // older rows, or never written
        } else {
            continue; // plain data where only sealed data belongs: planted, and never sealed
        }
        db.setFileData(app.record.id, name, crypto::seal(key, plain.data(), plain.size(), aad), true);
    }
}

crypto::SecureBytes Core::keyInForce(const AppRef& app, const VerifiedPin& by, const store::PinRecord& current,
                                     const std::vector<uint8_t>& keyCheck)
{
    try {
        auto opened = openAppKey(current, by.secret, app.record.uid, by.pinType);
        if (keyCheck.empty() || crypto::appKeyCheck(opened.appKey) == keyCheck) {
            return std::move(opened.appKey);
        }
    } catch (const crypto::CryptoInputError&) {
    }
    fail(SAR_FAIL); // the verified record no longer opens the application's key: damaged
}

void Core::resealKeys(const AppRef& app, const crypto::SecureBytes& oldKey, const crypto::SecureBytes& key)
{
    for (const auto& row : app.db.sealedKeys(app.record.id)) {
        const auto aad = keyAad(app.record.uid, row.containerId, row.signing);
        crypto::SecureBytes plain;
        try {
            plain = crypto::open(oldKey, row.wrappedPrivateKey, aad);
        } catch (const crypto::CryptoInputError&) {
            continue; // damaged: refused wherever it is used, and blocks no PIN change
        }
        app.db.setSealedKey(row.containerId, row.signing, crypto::seal(key, plain.data(), plain.size(), aad));
    }
}

std::optional<crypto::SecureBytes> Core::replacePin(const AppRef& app, ULONG pinType, const crypto::SecureString& pin,
                                                    ULONG retries, const VerifiedPin& by, bool sealPlainFiles)
{
    const ULONG otherType = otherPinType(pinType);
    auto& db = app.db;
    store::Transaction transaction(db.database());
    const auto current = db.application(app.record.id);
    if (!current || current->uid != app.record.uid) {
        fail(SAR_APPLICATION_NOT_EXISTS);
    }
    const auto byRecord = db.pin(app.record.id, by.pinType);
    if (!pins::sameSecret(byRecord, by.record)) {
        return std::nullopt; // that PIN changed meanwhile: the caller compares it again
    }
    // Another process may have changed the other PIN, and with it the key, meanwhile.
    const crypto::SecureBytes oldKey = keyInForce(app, by, byRecord, current->keyCheck);
    auto other = db.pin(app.record.id, otherType);
    const bool replacedBound = !db.pin(app.record.id, pinType).recordMac.empty();
    // The other PIN's record gets the new key through its public half, once its MAC shows
    // that half is the one its PIN made. An older record has none yet: the key then stays
    // until that PIN is verified once. A damaged one gets nothing and stops the change.
    const auto otherBinding = pins::binding(oldKey, app.record.uid, otherType, other, replacedBound);
    if (otherBinding == pins::Binding::Damaged) {
        fail(SAR_FAIL);
    }
    const bool rotate = otherBinding == pins::Binding::Bound;
    const crypto::SecureBytes key = rotate ? crypto::randomSecret(crypto::kAppKeySize) : oldKey;
    auto record = newPin(pin, retries, key, app.record.uid, pinType);
    record.isDefault = false;
    record.recordMac = pins::recordMac(key, app.record.uid, pinType, record, rotate);
    db.putPin(app.record.id, pinType, record);
    if (rotate) {
        other.wrappedAppKey = crypto::wrapTo(other.wrapPublic, key, pins::appKeyAad(app.record.uid, otherType));
        other.recordMac = pins::recordMac(key, app.record.uid, otherType, other, true);
        db.putPin(app.record.id, otherType, other);
        resealKeys(app, oldKey, key);
    }
    sealProtectedFiles(app, oldKey, key, sealPlainFiles);
    db.setKeyCheck(app.record.id, crypto::appKeyCheck(key));
    transaction.commit();
    db.checkpoint();
    m_keyCache.clear();
    return key;
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
    store::AppRecord record{0, name, crypto::randomBytes(kAppUidSize), createFileRights, crypto::appKeyCheck(appKey)};
    auto adminRecord = newPin(adminPin, adminRetries, appKey, record.uid, ADMIN_TYPE);
    auto userRecord = newPin(userPin, userRetries, appKey, record.uid, USER_TYPE);
    adminRecord.recordMac = pins::recordMac(appKey, record.uid, ADMIN_TYPE, adminRecord, true);
    userRecord.recordMac = pins::recordMac(appKey, record.uid, USER_TYPE, userRecord, true);

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
    ref.db.checkpoint();
    endLogin(ref.session.serial, record->uid);
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
    VerifiedPin verified;
    const ULONG result = checkPin(app, pinType, pin, remaining, verified);
    if (result == SAR_OK) {
        m_security.grant(app.device.serial, app.record.uid, app.device.insertion, pinType, std::move(verified.appKey));
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
    VerifiedPin verified;
    ULONG result = checkPin(app, pinType, oldPin, remaining, verified, false); // replaced below
    for (int round = 0; result == SAR_OK; ++round) {
        if (auto key = replacePin(app, pinType, newPin, remaining, verified, verified.legacy)) {
            m_security.grant(app.device.serial, app.record.uid, app.device.insertion, pinType, std::move(*key));
            return SAR_OK;
        }
        if (round == 3) {
            fail(SAR_FAIL);
        }
        result = recheckPin(app, oldPin, remaining, verified, false);
    }
    return result;
}

ULONG Core::unblockPin(HANDLE handle, const crypto::SecureString& adminPin, const crypto::SecureString& newUserPin,
                       ULONG& remaining)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto app = application(handle);
    requirePinSize(adminPin);
    requirePinSize(newUserPin);
    VerifiedPin verified;
    ULONG result = checkPin(app, ADMIN_TYPE, adminPin, remaining, verified);
    for (int round = 0; result == SAR_OK; ++round) {
        const ULONG userRetries = app.db.pin(app.record.id, USER_TYPE).maxRetries;
        if (auto key = replacePin(app, USER_TYPE, newUserPin, userRetries, verified, false)) {
            m_security.grant(app.device.serial, app.record.uid, app.device.insertion, ADMIN_TYPE, std::move(*key));
            return SAR_OK;
        }
        if (round == 3) {
            fail(SAR_FAIL);
        }
        result = recheckPin(app, adminPin, remaining, verified, true);
    }
    return result;
}

void Core::clearSecureState(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto app = application(handle);
    endLogin(app.device.serial, app.record.uid);
}

} // namespace softskf::core
