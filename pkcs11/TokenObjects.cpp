// The objects of a token: read from its containers, found, shown, written and deleted.
// SKF deletes whole containers only, so a deletion never takes more than the caller named
// beyond the same pair's public key and certificate.
#include "Module.h"

#include "Errors.h"
#include "skf/client.h"
#include "skfp11.h"

#include <algorithm>
#include <cstring>

namespace skfp11 {

namespace {

std::string hexOf(const Bytes& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t byte : bytes) {
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
    return out;
}

const CK_ATTRIBUTE* findAttribute(const CK_ATTRIBUTE* pTemplate, CK_ULONG count, CK_ATTRIBUTE_TYPE type)
{
    for (CK_ULONG i = 0; i < count; ++i) {
        if (pTemplate[i].type == type) {
            return &pTemplate[i];
        }
    }
    return nullptr;
}

Bytes attributeBytes(const CK_ATTRIBUTE& attribute)
{
    const auto* data = static_cast<const uint8_t*>(attribute.pValue);
    return Bytes(data, data + attribute.ulValueLen);
}

bool attributeUlong(const CK_ATTRIBUTE* attribute, CK_ULONG& value)
{
    if (!attribute || attribute->ulValueLen != sizeof(CK_ULONG)) {
        return false;
    }
    std::memcpy(&value, attribute->pValue, sizeof value);
    return true;
}

// SKF has no session objects: a template asking for one is refused rather than made permanent.
bool asksForSessionObject(const CK_ATTRIBUTE* pTemplate, CK_ULONG count)
{
    const CK_ATTRIBUTE* token = findAttribute(pTemplate, count, CKA_TOKEN);
    return token && (token->ulValueLen != 1 || *static_cast<const CK_BBOOL*>(token->pValue) != CK_TRUE);
}

using OpenContainer = skfclient::ContainerHandle<DriverFunctions>;

bool isRemoval(ULONG sar)
{
    return sar == SAR_DEVICE_REMOVED || sar == SAR_INVALIDHANDLEERR;
}

// True when deleting the object's container would take an object the caller did not name
// beyond the same pair's public key and certificate: the other pair's keys or certificate,
// asked of the token itself so that nothing the module failed to read is overlooked.
bool containerHoldsMore(const DriverFunctions& driver, HAPPLICATION application, const Object& object)
{
    OpenContainer container(driver, application, object.container);
    const BOOL otherPair = object.signPair ? FALSE : TRUE;
    ULONG size = 0;
    const ULONG key = driver.ExportPublicKey(container.handle(), otherPair, nullptr, &size);
    if (isRemoval(key)) {
        fail(CKR_DEVICE_REMOVED);
    }
    if (key == SAR_OK && size > 0) {
        return true;
    }
    size = 0;
    const ULONG certificate = driver.ExportCertificate(container.handle(), otherPair, nullptr, &size);
    return certificate == SAR_OK && size > 0;
}

} // namespace

// --- Objects ---

TokenStore& Module::loadObjects(Slot& slot)
{
    slot.store.load(fn(slot), m_drivers[slot.driver].files, slot.application, slot.id, m_rsaOnly, m_objectHandles);
    return slot.store;
}

const Object& Module::object(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE objectHandle)
{
    Slot& found = presentSlot(m_sessions.get(handle).slot());
    // A handle never given, or given for another token's object, names nothing here.
    const auto* owner = m_objectHandles.owner(objectHandle);
    const Object* object = owner && owner->first == found.id ? loadObjects(found).find(objectHandle) : nullptr;
    if (!object || (object->isPrivate && !found.userLoggedIn())) {
        fail(CKR_OBJECT_HANDLE_INVALID);
    }
    return *object;
}

void Module::findInit(CK_SESSION_HANDLE handle, const CK_ATTRIBUTE* pTemplate, CK_ULONG count)
{
    Session& current = m_sessions.get(handle);
    if (current.finding()) {
        fail(CKR_OPERATION_ACTIVE);
    }
    Slot& found = presentSlot(current.slot());
    std::vector<CK_OBJECT_HANDLE> handles;
    for (const Object& object : loadObjects(found).objects()) {
        if ((!object.isPrivate || found.userLoggedIn()) && object.matches(pTemplate, count)) {
            handles.push_back(object.handle);
        }
    }
    current.startFind(std::move(handles));
}

template <typename Change>
void Module::renamePair(Slot& slot, const std::string& container, bool signPair, Change change)
{
    slot.requireUser();
    const TokenStore& store = loadObjects(slot);
    const auto& files = m_drivers[slot.driver].files;
    if (!files) {
        fail(CKR_ATTRIBUTE_READ_ONLY); // the driver keeps no files: IDs stay the derived ones
    }
    // Entries of pairs that are gone are dropped on the way, so the file does not fill up.
    NameTable table;
    for (const KeyPairFacts& pair : store.pairs()) {
        const auto known = store.names().find(pairKey(pair.container, pair.signPair));
        if (known != store.names().end()) {
            table.insert(*known);
        }
    }
    change(table[pairKey(container, signPair)]);
    writeNameFile(*files, slot.application, table);
    slot.store.invalidate(fn(slot));
}

void Module::setAttributes(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE objectHandle, const CK_ATTRIBUTE* pTemplate,
                           CK_ULONG count)
{
    Session& current = m_sessions.get(handle);
    const Object object = this->object(handle, objectHandle);
    for (CK_ULONG i = 0; i < count; ++i) {
        if (pTemplate[i].type != CKA_ID && pTemplate[i].type != CKA_LABEL) {
            // Everything else comes from the token's containers, which have no place for changes.
            fail(CKR_ATTRIBUTE_READ_ONLY);
        }
    }
    current.requireWritable();
    Slot& found = presentSlot(current.slot());
    const bool certificate = object.objectClass == CKO_CERTIFICATE;
    renamePair(found, object.container, object.signPair, [&](PairNames& names) {
        for (CK_ULONG i = 0; i < count; ++i) {
            const Bytes value = attributeBytes(pTemplate[i]);
            if (pTemplate[i].type == CKA_ID) {
                (certificate ? names.certificateId : names.keyId) = value;
            } else {
                (certificate ? names.certificateLabel : names.keyLabel) = std::string(value.begin(), value.end());
            }
        }
    });
}

CK_OBJECT_HANDLE Module::createObject(CK_SESSION_HANDLE handle, const CK_ATTRIBUTE* pTemplate, CK_ULONG count)
{
    Session& current = m_sessions.get(handle);
    Slot& found = presentSlot(current.slot());
    CK_ULONG objectClass = 0;
    if (!attributeUlong(findAttribute(pTemplate, count, CKA_CLASS), objectClass)) {
        fail(CKR_TEMPLATE_INCOMPLETE);
    }
    if (objectClass != CKO_CERTIFICATE) {
        // Keys reach a token only wrapped for it, which a plain template cannot express.
        fail(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    CK_ULONG certificateType = CKC_X_509;
    if (findAttribute(pTemplate, count, CKA_CERTIFICATE_TYPE)
        && (!attributeUlong(findAttribute(pTemplate, count, CKA_CERTIFICATE_TYPE), certificateType)
            || certificateType != CKC_X_509)) {
        fail(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    if (asksForSessionObject(pTemplate, count)) {
        fail(CKR_TEMPLATE_INCONSISTENT);
    }
    const CK_ATTRIBUTE* value = findAttribute(pTemplate, count, CKA_VALUE);
    if (!value || value->ulValueLen == 0) {
        fail(CKR_TEMPLATE_INCOMPLETE);
    }
    current.requireWritable();
    Bytes der = attributeBytes(*value);
    CertificateFacts certificate;
    if (der.size() > kMaxCertificateSize || !readCertificate(der, certificate)) {
        fail(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    for (const KeyPairFacts& pair : loadObjects(found).pairs()) {
        const bool same = pair.isRsa
            ? certificate.isRsa && certificate.modulus == pair.modulus && certificate.exponent == pair.exponent
            : certificate.isEc && certificate.ecX == pair.ecX && certificate.ecY == pair.ecY;
        if (!same) {
            continue;
        }
        const std::string name = pair.container;
        const bool signPair = pair.signPair;
        const CK_ATTRIBUTE* id = findAttribute(pTemplate, count, CKA_ID);
        const CK_ATTRIBUTE* label = findAttribute(pTemplate, count, CKA_LABEL);
        if (id || label) {
            found.requireUser(); // names are written only after login: checked before the token changes
        }
        {
            OpenContainer container(fn(found), found.application, name);
            checkSar(fn(found).ImportCertificate(container.handle(), signPair, der.data(), ULONG(der.size())));
        }
        found.store.invalidate(fn(found));
        if ((id || label) && m_drivers[found.driver].files) {
            renamePair(found, name, signPair, [&](PairNames& names) {
                if (id) {
                    names.certificateId = attributeBytes(*id);
                }
                if (label) {
                    const Bytes text = attributeBytes(*label);
                    names.certificateLabel = std::string(text.begin(), text.end());
                }
            });
        }
        return loadObjects(found).handleOf(name, signPair, CKO_CERTIFICATE);
    }
    // A certificate for no key on the token has nowhere to go.
    fail(CKR_TEMPLATE_INCONSISTENT);
}

void Module::destroyObject(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE objectHandle)
{
    Session& current = m_sessions.get(handle);
    const Object& object = this->object(handle, objectHandle);
    current.requireWritable();
    Slot& found = presentSlot(current.slot());
    // SKF removes a key, a public key or a certificate only with its whole container: only
    // the private key may be named for that, and only where the pair is all the container holds.
    if (object.objectClass != CKO_PRIVATE_KEY) {
        fail(CKR_ACTION_PROHIBITED);
    }
    found.requireUser();
    if (containerHoldsMore(fn(found), found.application, object)) {
        fail(CKR_ACTION_PROHIBITED);
    }
    skfclient::WritableName name(object.container);
    checkSar(fn(found).DeleteContainer(found.application, name.get()));
    found.store.invalidate(fn(found));
}

void Module::generateKeyPair(CK_SESSION_HANDLE handle, const CK_MECHANISM& mechanism, const CK_ATTRIBUTE* pPublic,
                             CK_ULONG publicCount, const CK_ATTRIBUTE* pPrivate, CK_ULONG privateCount,
                             CK_OBJECT_HANDLE& publicKey, CK_OBJECT_HANDLE& privateKey)
{
    Session& current = m_sessions.get(handle);
    Slot& found = presentSlot(current.slot());
    const bool isRsa = mechanism.mechanism == CKM_RSA_PKCS_KEY_PAIR_GEN;
    CK_MECHANISM_INFO info{};
    mechanismInfo(current.slot(), mechanism.mechanism, info);
    if (!(info.flags & CKF_GENERATE_KEY_PAIR)) {
        fail(CKR_MECHANISM_INVALID);
    }
    CK_ULONG bits = 2048;
    if (isRsa) {
        const CK_ATTRIBUTE* size = findAttribute(pPublic, publicCount, CKA_MODULUS_BITS);
        if (size && (!attributeUlong(size, bits) || (bits != 1024 && bits != 2048))) {
            fail(CKR_ATTRIBUTE_VALUE_INVALID);
        }
        const CK_ATTRIBUTE* exponent = findAttribute(pPublic, publicCount, CKA_PUBLIC_EXPONENT);
        if (exponent
            && stripLeadingZeros(static_cast<const uint8_t*>(exponent->pValue), exponent->ulValueLen)
                != Bytes{0x01, 0x00, 0x01}) {
            fail(CKR_ATTRIBUTE_VALUE_INVALID); // the token chooses 65537
        }
    } else {
        const CK_ATTRIBUTE* params = findAttribute(pPublic, publicCount, CKA_EC_PARAMS);
        if (mechanism.mechanism == CKM_EC_KEY_PAIR_GEN && !params) {
            fail(CKR_TEMPLATE_INCOMPLETE);
        }
        if (params && attributeBytes(*params) != sm2EcParams()) {
            fail(CKR_CURVE_NOT_SUPPORTED);
        }
    }
    if (asksForSessionObject(pPublic, publicCount) || asksForSessionObject(pPrivate, privateCount)) {
        fail(CKR_TEMPLATE_INCONSISTENT);
    }
    current.requireWritable();
    found.requireUser();

    std::optional<Bytes> givenId;
    std::optional<std::string> givenLabel;
    for (const CK_ATTRIBUTE* attribute :
         {findAttribute(pPrivate, privateCount, CKA_LABEL), findAttribute(pPublic, publicCount, CKA_LABEL)}) {
        if (attribute && attribute->ulValueLen && !givenLabel) {
            givenLabel = std::string(static_cast<const char*>(attribute->pValue), attribute->ulValueLen);
        }
    }
    for (const CK_ATTRIBUTE* attribute :
         {findAttribute(pPrivate, privateCount, CKA_ID), findAttribute(pPublic, publicCount, CKA_ID)}) {
        if (attribute && attribute->ulValueLen && !givenId) {
            givenId = attributeBytes(*attribute);
        }
    }
    std::string name = givenLabel ? *givenLabel : givenId ? hexOf(*givenId) : std::string();
    if (name.empty()) {
        Bytes random(8);
        generateRandom(handle, random.data(), CK_ULONG(random.size()));
        name = "key-" + hexOf(random);
    }
    if (name.size() >= MAX_FILE_CONTAINER_NAME_SIZE || name.find('\0') != std::string::npos) {
        fail(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    const DriverFunctions& driver = fn(found);
    HCONTAINER container = nullptr;
    checkSar(driver.CreateContainer(found.application, &name[0], &container));
    ULONG result = SAR_OK;
    if (isRsa) {
        RSAPUBLICKEYBLOB blob{};
        result = driver.GenRSAKeyPair(container, ULONG(bits), &blob);
    } else {
        ECCPUBLICKEYBLOB blob{};
        result = driver.GenECCKeyPair(container, SGD_SM2_1, &blob);
    }
    driver.CloseContainer(container);
    if (result != SAR_OK) {
        // No empty container stays behind from a failed generation.
        driver.DeleteContainer(found.application, &name[0]);
        fail(rvFromSar(result));
    }
    found.store.invalidate(fn(found));
    if ((givenId || givenLabel) && m_drivers[found.driver].files) {
        try {
            renamePair(found, name, true, [&](PairNames& names) {
                names.keyId = givenId;
                names.keyLabel = givenLabel;
            });
        } catch (const std::exception&) {
            // A pair the client cannot find by the ID it gave is no use to it: none stays behind.
            driver.DeleteContainer(found.application, &name[0]);
            found.store.invalidate(fn(found));
            throw;
        }
    }
    publicKey = loadObjects(found).handleOf(name, true, CKO_PUBLIC_KEY);
    privateKey = loadObjects(found).handleOf(name, true, CKO_PRIVATE_KEY);
}

} // namespace skfp11
