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

constexpr ULONG kMaxCertificateSize = 64 * 1024;

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

} // namespace

// --- Objects ---

void Module::closeSigningContainers(Slot& slot)
{
    for (const auto& entry : slot.signingContainers) {
        fn(slot).CloseContainer(entry.second);
    }
    slot.signingContainers.clear();
}

HCONTAINER Module::signingContainer(Slot& slot, const std::string& name)
{
    auto found = slot.signingContainers.find(name);
    if (found != slot.signingContainers.end()) {
        return found->second;
    }
    skfclient::WritableName copy(name);
    HCONTAINER handle = nullptr;
    checkSar(fn(slot).OpenContainer(slot.application, copy.get(), &handle));
    if (!handle) {
        fail(CKR_DEVICE_ERROR);
    }
    slot.signingContainers[name] = handle;
    return handle;
}

void Module::invalidateObjects(Slot& slot)
{
    closeSigningContainers(slot);
    slot.objectsLoaded = false;
    slot.names.clear();
    slot.pairs.clear();
    slot.objects.clear();
}

CK_OBJECT_HANDLE Module::handleFor(CK_SLOT_ID id, const Object& object)
{
    const std::string key = std::to_string(id) + '\n' + object.identity();
    auto found = m_objectHandles.find(key);
    if (found != m_objectHandles.end()) {
        return found->second;
    }
    const CK_OBJECT_HANDLE handle = m_nextObject++;
    m_objectHandles[key] = handle;
    return handle;
}

void Module::loadObjects(Slot& slot)
{
    if (slot.objectsLoaded) {
        return;
    }
    invalidateObjects(slot);
    if (!slot.application) {
        slot.objectsLoaded = true;
        return;
    }
    const DriverFunctions& driver = fn(slot);
    slot.names = readNames(slot);
    std::vector<std::string> containers;
    try {
        containers = skfclient::readNameList(
            [&](char* list, ULONG* size) { return driver.EnumContainer(slot.application, list, size); },
            "SKF_EnumContainer");
    } catch (const skfclient::SarError& error) {
        fail(rvFromSar(error.sar()));
    }
    for (const std::string& name : containers) {
        std::unique_ptr<OpenContainer> container;
        ULONG type = 0;
        try {
            container = std::make_unique<OpenContainer>(driver, slot.application, name);
            checkSar(driver.GetContainerType(container->handle(), &type));
        } catch (const skfclient::SarError& error) {
            if (isRemoval(error.sar())) {
                throw;
            }
            continue; // a container the driver cannot open shows no objects
        } catch (const P11Error& error) {
            if (error.rv() == CKR_DEVICE_REMOVED) {
                throw;
            }
            continue;
        }
        if ((type != CONTAINER_TYPE_RSA && type != CONTAINER_TYPE_ECC) || (m_rsaOnly && type != CONTAINER_TYPE_RSA)) {
            continue;
        }
        for (const BOOL signPair : {TRUE, FALSE}) {
            const HCONTAINER handle = container->handle();
            KeyPairFacts facts;
            facts.container = name;
            facts.signPair = signPair;
            try {
                const Bytes blob = skfclient::readVariable(
                    [&](BYTE* out, ULONG* size) { return driver.ExportPublicKey(handle, signPair, out, size); },
                    "SKF_ExportPublicKey", ULONG(sizeof(RSAPUBLICKEYBLOB)));
                if (!readPublicKeyBlob(blob, type == CONTAINER_TYPE_RSA, facts)) {
                    continue;
                }
                facts.certificate = skfclient::readVariable(
                    [&](BYTE* out, ULONG* size) { return driver.ExportCertificate(handle, signPair, out, size); },
                    "SKF_ExportCertificate", kMaxCertificateSize);
            } catch (const skfclient::SarError& error) {
                if (isRemoval(error.sar())) {
                    fail(CKR_DEVICE_REMOVED);
                }
                if (!facts.modulus.empty() || !facts.ecX.empty()) {
                    facts.certificate.clear(); // the key without its certificate
                } else {
                    continue; // a pair the driver cannot give shows no objects
                }
            }
            std::vector<Object> objects = objectsOfPair(facts);
            const auto named = slot.names.find(pairKey(name, signPair));
            if (named != slot.names.end()) {
                applyNames(named->second, objects);
            }
            for (Object& object : objects) {
                object.handle = handleFor(slot.id, object);
                slot.objects.push_back(std::move(object));
            }
            slot.pairs.push_back(std::move(facts));
        }
    }
    slot.objectsLoaded = true;
}

const Object& Module::visibleObject(const Session& current, CK_OBJECT_HANDLE handle)
{
    Slot& found = presentSlot(current.slot);
    loadObjects(found);
    for (const Object& object : found.objects) {
        if (object.handle == handle) {
            if (object.isPrivate && !userLoggedIn(found)) {
                break;
            }
            return object;
        }
    }
    fail(CKR_OBJECT_HANDLE_INVALID);
}

void Module::findInit(CK_SESSION_HANDLE handle, const CK_ATTRIBUTE* pTemplate, CK_ULONG count)
{
    Session& current = session(handle);
    if (current.finding) {
        fail(CKR_OPERATION_ACTIVE);
    }
    Slot& found = presentSlot(current.slot);
    loadObjects(found);
    current.found.clear();
    current.foundNext = 0;
    for (const Object& object : found.objects) {
        if ((!object.isPrivate || userLoggedIn(found)) && object.matches(pTemplate, count)) {
            current.found.push_back(object.handle);
        }
    }
    current.finding = true;
}

std::vector<CK_OBJECT_HANDLE> Module::findNext(CK_SESSION_HANDLE handle, CK_ULONG max)
{
    Session& current = session(handle);
    if (!current.finding) {
        fail(CKR_OPERATION_NOT_INITIALIZED);
    }
    const size_t take = std::min<size_t>(max, current.found.size() - current.foundNext);
    std::vector<CK_OBJECT_HANDLE> out(current.found.begin() + long(current.foundNext),
                                      current.found.begin() + long(current.foundNext + take));
    current.foundNext += take;
    return out;
}

void Module::findFinal(CK_SESSION_HANDLE handle)
{
    Session& current = session(handle);
    if (!current.finding) {
        fail(CKR_OPERATION_NOT_INITIALIZED);
    }
    current.finding = false;
    current.found.clear();
}

CK_RV Module::getAttributes(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE objectHandle, CK_ATTRIBUTE* pTemplate,
                            CK_ULONG count)
{
    const Object& object = visibleObject(session(handle), objectHandle);
    // Every entry is answered; the result is the last problem met, as the standard asks.
    CK_RV rv = CKR_OK;
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_ATTRIBUTE& attribute = pTemplate[i];
        if (object.sensitive.count(attribute.type)) {
            attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_ATTRIBUTE_SENSITIVE;
            continue;
        }
        const auto found = object.attributes.find(attribute.type);
        if (found == object.attributes.end()) {
            attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_ATTRIBUTE_TYPE_INVALID;
            continue;
        }
        const Bytes& value = found->second;
        if (!attribute.pValue) {
            attribute.ulValueLen = value.size();
        } else if (attribute.ulValueLen < value.size()) {
            attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_BUFFER_TOO_SMALL;
        } else {
            if (!value.empty()) {
                std::memcpy(attribute.pValue, value.data(), value.size());
            }
            attribute.ulValueLen = value.size();
        }
    }
    return rv;
}

NameTable Module::readNames(const Slot& slot)
{
    const auto& files = m_drivers[slot.driver].files;
    if (!files || !slot.application) {
        return {};
    }
    skfclient::WritableName name(kNamesFile);
    FILEATTRIBUTE info{};
    if (files->GetFileInfo(slot.application, name.get(), &info) != SAR_OK) {
        return {}; // nobody named anything on this token yet
    }
    const ULONG size = std::min<ULONG>(info.FileSize, 4 * kNamesFileSize);
    std::string text(size, '\0');
    ULONG read = size;
    if (files->ReadFile(slot.application, name.get(), 0, size, reinterpret_cast<BYTE*>(&text[0]), &read) != SAR_OK) {
        return {};
    }
    text.resize(std::min(read, size));
    return parseNames(text);
}

void Module::writeNames(Slot& slot, const NameTable& table)
{
    const auto& files = m_drivers[slot.driver].files;
    if (!files) {
        fail(CKR_ATTRIBUTE_READ_ONLY); // the driver keeps no files: IDs stay the derived ones
    }
    skfclient::WritableName name(kNamesFile);
    FILEATTRIBUTE info{};
    if (files->GetFileInfo(slot.application, name.get(), &info) != SAR_OK) {
        // Anyone reads the names (a client finds objects before logging in); only the user writes.
        checkSar(files->CreateFile(slot.application, name.get(), ULONG(kNamesFileSize), SECURE_ANYONE_ACCOUNT,
                                   SECURE_USER_ACCOUNT));
        info.FileSize = ULONG(kNamesFileSize);
    }
    std::string text = formatNames(table);
    if (text.size() >= info.FileSize) {
        fail(CKR_DEVICE_MEMORY);
    }
    text.resize(info.FileSize, '\0');
    checkSar(files->WriteFile(slot.application, name.get(), 0, reinterpret_cast<BYTE*>(&text[0]), info.FileSize));
}

template <typename Change>
void Module::renamePair(Slot& slot, const std::string& container, bool signPair, Change change)
{
    requireUser(slot);
    loadObjects(slot);
    // Entries of pairs that are gone are dropped on the way, so the file does not fill up.
    NameTable table;
    for (const KeyPairFacts& pair : slot.pairs) {
        const auto known = slot.names.find(pairKey(pair.container, pair.signPair));
        if (known != slot.names.end()) {
            table.insert(*known);
        }
    }
    change(table[pairKey(container, signPair)]);
    writeNames(slot, table);
    invalidateObjects(slot);
}

void Module::setAttributes(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE objectHandle, const CK_ATTRIBUTE* pTemplate,
                           CK_ULONG count)
{
    Session& current = session(handle);
    const Object object = visibleObject(current, objectHandle);
    for (CK_ULONG i = 0; i < count; ++i) {
        if (pTemplate[i].type != CKA_ID && pTemplate[i].type != CKA_LABEL) {
            // Everything else comes from the token's containers, which have no place for changes.
            fail(CKR_ATTRIBUTE_READ_ONLY);
        }
    }
    requireWritable(current);
    Slot& found = presentSlot(current.slot);
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

CK_ULONG Module::objectSize(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE objectHandle)
{
    const Object& object = visibleObject(session(handle), objectHandle);
    if (object.objectClass == CKO_PRIVATE_KEY) {
        fail(CKR_INFORMATION_SENSITIVE); // its size would tell about a key that never leaves the token
    }
    CK_ULONG size = 0;
    for (const auto& entry : object.attributes) {
        size += entry.second.size();
    }
    return size;
}

CK_OBJECT_HANDLE Module::objectHandleOf(Slot& slot, const std::string& container, bool signPair, CK_OBJECT_CLASS cls)
{
    loadObjects(slot);
    for (const Object& object : slot.objects) {
        if (object.container == container && object.signPair == signPair && object.objectClass == cls) {
            return object.handle;
        }
    }
    // The token accepted the change but does not show it: it did not really happen.
    fail(CKR_DEVICE_ERROR);
}

CK_OBJECT_HANDLE Module::createObject(CK_SESSION_HANDLE handle, const CK_ATTRIBUTE* pTemplate, CK_ULONG count)
{
    Session& current = session(handle);
    Slot& found = presentSlot(current.slot);
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
    requireWritable(current);
    Bytes der = attributeBytes(*value);
    CertificateFacts certificate;
    if (der.size() > kMaxCertificateSize || !readCertificate(der, certificate)) {
        fail(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    loadObjects(found);
    for (const KeyPairFacts& pair : found.pairs) {
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
            requireUser(found); // names are written only after login: checked before the token changes
        }
        {
            OpenContainer container(fn(found), found.application, name);
            checkSar(fn(found).ImportCertificate(container.handle(), signPair, der.data(), ULONG(der.size())));
        }
        invalidateObjects(found);
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
        return objectHandleOf(found, name, signPair, CKO_CERTIFICATE);
    }
    // A certificate for no key on the token has nowhere to go.
    fail(CKR_TEMPLATE_INCONSISTENT);
}

// True when deleting the object's container would take an object the caller did not name
// beyond the same pair's public key and certificate: the other pair's keys or certificate,
// asked of the token itself so that nothing the module failed to read is overlooked.
bool Module::containerHoldsMore(const Slot& slot, const Object& object)
{
    const DriverFunctions& driver = fn(slot);
    OpenContainer container(driver, slot.application, object.container);
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

void Module::destroyObject(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE objectHandle)
{
    Session& current = session(handle);
    const Object& object = visibleObject(current, objectHandle);
    requireWritable(current);
    Slot& found = presentSlot(current.slot);
    // SKF removes a key, a public key or a certificate only with its whole container: only
    // the private key may be named for that, and only where the pair is all the container holds.
    if (object.objectClass != CKO_PRIVATE_KEY) {
        fail(CKR_ACTION_PROHIBITED);
    }
    requireUser(found);
    if (containerHoldsMore(found, object)) {
        fail(CKR_ACTION_PROHIBITED);
    }
    skfclient::WritableName name(object.container);
    checkSar(fn(found).DeleteContainer(found.application, name.get()));
    invalidateObjects(found);
}

void Module::generateKeyPair(CK_SESSION_HANDLE handle, const CK_MECHANISM& mechanism, const CK_ATTRIBUTE* pPublic,
                             CK_ULONG publicCount, const CK_ATTRIBUTE* pPrivate, CK_ULONG privateCount,
                             CK_OBJECT_HANDLE& publicKey, CK_OBJECT_HANDLE& privateKey)
{
    Session& current = session(handle);
    Slot& found = presentSlot(current.slot);
    const bool isRsa = mechanism.mechanism == CKM_RSA_PKCS_KEY_PAIR_GEN;
    CK_MECHANISM_INFO info{};
    mechanismInfo(current.slot, mechanism.mechanism, info);
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
    requireWritable(current);
    requireUser(found);

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
    invalidateObjects(found);
    if ((givenId || givenLabel) && m_drivers[found.driver].files) {
        try {
            renamePair(found, name, true, [&](PairNames& names) {
                names.keyId = givenId;
                names.keyLabel = givenLabel;
            });
        } catch (const std::exception&) {
            // A pair the client cannot find by the ID it gave is no use to it: none stays behind.
            driver.DeleteContainer(found.application, &name[0]);
            invalidateObjects(found);
            throw;
        }
    }
    publicKey = objectHandleOf(found, name, true, CKO_PUBLIC_KEY);
    privateKey = objectHandleOf(found, name, true, CKO_PRIVATE_KEY);
}

} // namespace skfp11
