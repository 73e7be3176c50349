// Reading a token's containers into objects, and the containers kept open for signing.
#include "TokenStore.h"

#include "Errors.h"
#include "skf/client.h"

#include <algorithm>
#include <memory>

namespace skfp11 {

namespace {

using OpenContainer = skfclient::ContainerHandle<DriverFunctions>;

bool isRemoval(ULONG sar)
{
    return sar == SAR_DEVICE_REMOVED || sar == SAR_INVALIDHANDLEERR;
}

} // namespace

void TokenStore::load(const DriverFunctions& driver, const std::optional<FileFunctions>& files,
                      HAPPLICATION application, CK_SLOT_ID slot, bool rsaOnly, ObjectHandles& handles)
{
    if (m_loaded) {
        return;
    }
    invalidate(driver);
    if (!application) {
        m_loaded = true;
        return;
    }
    m_names = files ? readNameFile(*files, application) : NameTable();
    std::vector<std::string> containers;
    try {
        containers = skfclient::readNameList(
            [&](char* list, ULONG* size) { return driver.EnumContainer(application, list, size); },
            "SKF_EnumContainer");
    } catch (const skfclient::SarError& error) {
        fail(rvFromSar(error.sar()));
    }
    for (const std::string& name : containers) {
        std::unique_ptr<OpenContainer> container;
        ULONG type = 0;
        try {
            container = std::make_unique<OpenContainer>(driver, application, name);
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
        if ((type != CONTAINER_TYPE_RSA && type != CONTAINER_TYPE_ECC) || (rsaOnly && type != CONTAINER_TYPE_RSA)) {
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
            const auto named = m_names.find(pairKey(name, signPair));
            if (named != m_names.end()) {
                applyNames(named->second, objects);
            }
            for (Object& object : objects) {
                object.handle = handles.handleFor(slot, object.identity());
                m_objects.push_back(std::move(object));
            }
            m_pairs.push_back(std::move(facts));
        }
    }
    m_loaded = true;
}

void TokenStore::invalidate(const DriverFunctions& driver)
{
    closeSigningContainers(driver);
    m_loaded = false;
    m_names.clear();
    m_pairs.clear();
    m_objects.clear();
}

const Object* TokenStore::find(CK_OBJECT_HANDLE handle) const
{
    for (const Object& object : m_objects) {
        if (object.handle == handle) {
            return &object;
        }
    }
    return nullptr;
}

const KeyPairFacts* TokenStore::pair(const std::string& container, bool signPair) const
{
    for (const KeyPairFacts& pair : m_pairs) {
        if (pair.container == container && pair.signPair == signPair) {
            return &pair;
        }
    }
    return nullptr;
}

CK_OBJECT_HANDLE TokenStore::handleOf(const std::string& container, bool signPair, CK_OBJECT_CLASS objectClass) const
{
    for (const Object& object : m_objects) {
        if (object.container == container && object.signPair == signPair && object.objectClass == objectClass) {
            return object.handle;
        }
    }
    // The token accepted the change but does not show it: it did not really happen.
    fail(CKR_DEVICE_ERROR);
}

HCONTAINER TokenStore::signingContainer(const DriverFunctions& driver, HAPPLICATION application,
                                        const std::string& name)
{
    auto found = m_signingContainers.find(name);
    if (found != m_signingContainers.end()) {
        return found->second;
    }
    skfclient::WritableName copy(name);
    HCONTAINER handle = nullptr;
    checkSar(driver.OpenContainer(application, copy.get(), &handle));
    if (!handle) {
        fail(CKR_DEVICE_ERROR);
    }
    m_signingContainers[name] = handle;
    return handle;
}

void TokenStore::dropSigningContainer(const DriverFunctions& driver, const std::string& name)
{
    auto found = m_signingContainers.find(name);
    if (found != m_signingContainers.end()) {
        driver.CloseContainer(found->second);
        m_signingContainers.erase(found);
    }
}

void TokenStore::closeSigningContainers(const DriverFunctions& driver)
{
    for (const auto& entry : m_signingContainers) {
        driver.CloseContainer(entry.second);
    }
    m_signingContainers.clear();
}

NameTable readNameFile(const FileFunctions& files, HAPPLICATION application)
{
    if (!application) {
        return {};
    }
    skfclient::WritableName name(kNamesFile);
    FILEATTRIBUTE info{};
    if (files.GetFileInfo(application, name.get(), &info) != SAR_OK) {
        return {}; // nobody named anything on this token yet
    }
    const ULONG size = std::min<ULONG>(info.FileSize, 4 * kNamesFileSize);
    std::string text(size, '\0');
    ULONG read = size;
    if (files.ReadFile(application, name.get(), 0, size, reinterpret_cast<BYTE*>(&text[0]), &read) != SAR_OK) {
        return {};
    }
    text.resize(std::min(read, size));
    return parseNames(text);
}

void writeNameFile(const FileFunctions& files, HAPPLICATION application, const NameTable& table)
{
    skfclient::WritableName name(kNamesFile);
    FILEATTRIBUTE info{};
    if (files.GetFileInfo(application, name.get(), &info) != SAR_OK) {
        // Anyone reads the names (a client finds objects before logging in); only the user writes.
        checkSar(files.CreateFile(application, name.get(), ULONG(kNamesFileSize), SECURE_ANYONE_ACCOUNT,
                                  SECURE_USER_ACCOUNT));
        info.FileSize = ULONG(kNamesFileSize);
    }
    std::string text = formatNames(table);
    if (text.size() >= info.FileSize) {
        fail(CKR_DEVICE_MEMORY);
    }
    text.resize(info.FileSize, '\0');
    checkSar(files.WriteFile(application, name.get(), 0, reinterpret_cast<BYTE*>(&text[0]), info.FileSize));
}

} // namespace skfp11
