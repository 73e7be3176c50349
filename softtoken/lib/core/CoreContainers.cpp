// Containers with their key pairs and certificates. Private keys are stored sealed under
// the application key, which only a verified PIN opens.
#include "Core.h"

#include "Sessions.h"
#include "codec/Blobs.h"
#include "crypto/Crypto.h"

#include <cstring>

namespace softskf::core {

namespace {

constexpr size_t kMaxContainerNameSize = MAX_FILE_CONTAINER_NAME_SIZE;
constexpr uint32_t kMaxContainers = 32;
constexpr size_t kEnvelopeKeySize = 16;
constexpr size_t kSm2ScalarSize = 32;
constexpr size_t kEnvelopePrivateField = 64;

void requireContainerName(const std::string& name)
{
    if (name.empty() || name.size() > kMaxContainerNameSize) {
        fail(SAR_NAMELENERR);
    }
}

template <typename Blob> std::vector<uint8_t> blobBytes(const Blob& blob)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(&blob);
    return std::vector<uint8_t>(bytes, bytes + sizeof blob);
}

bool isSm2Algorithm(uint32_t algorithm)
{
    return algorithm == SGD_SM2_1 || algorithm == SGD_SM2_3;
}

// A container holds pairs of one kind: the first pair decides.
void requireKind(store::TokenDb& db, int64_t containerId, bool rsa)
{
    const uint32_t existing = db.containerAlgorithm(containerId);
    if (existing != 0 && (existing == SGD_RSA) != rsa) {
        fail(SAR_INVALIDPARAMERR);
    }
}

} // namespace

Core::ContainerRef Core::container(HANDLE handle, std::optional<store::ReadSnapshot>* snapshot)
{
    auto* session = m_handles.find<ContainerSession>(handle, HandleKind::Container);
    if (!session) {
        fail(SAR_INVALIDHANDLEERR);
    }
    auto app = application(session->parent, snapshot);
    auto record = app.db.container(session->containerId);
    if (!record || record->appId != app.record.id) {
        fail(SAR_INVALIDHANDLEERR); // the container was deleted
    }
    return {app, *record};
}

crypto::SecureBytes Core::appKeyFor(const ContainerRef& container)
{
    requireUser(container.app);
    return loginKey(container.app);
}

std::vector<uint8_t> Core::keyAad(const ContainerRef& container, bool signing) const
{
    return keyAad(container.app.record.uid, container.record.id, signing);
}

std::vector<uint8_t> Core::keyAad(const std::vector<uint8_t>& appUid, int64_t containerId, bool signing)
{
    std::vector<uint8_t> aad(appUid);
    const auto id = static_cast<uint64_t>(containerId);
    for (int shift = 56; shift >= 0; shift -= 8) {
        aad.push_back(static_cast<uint8_t>(id >> shift));
    }
    aad.push_back(signing ? 1 : 0);
    return aad;
}

void Core::storeKeyPair(const ContainerRef& container, bool signing, uint32_t algorithm, uint32_t bits,
                        const std::vector<uint8_t>& publicBlob, const crypto::SecureBytes& privateDer)
{
    const auto appKey = appKeyFor(container);
    store::KeyPairRecord record{algorithm, bits, publicBlob,
                                crypto::seal(appKey, privateDer.data(), privateDer.size(), keyAad(container, signing))};
    auto& db = container.app.db;
    uint64_t replaced = 0;
    if (const auto old = db.keyPair(container.record.id, signing)) {
        replaced = old->publicBlob.size() + old->wrappedPrivateKey.size();
    }
    const uint64_t needed = record.publicBlob.size() + record.wrappedPrivateKey.size();
    if (needed > replaced) {
        requireRoom(db, needed - replaced);
    }
    db.putKeyPair(container.record.id, signing, record);
}

crypto::SecureBytes Core::signingPrivateKey(const ContainerRef& container, uint32_t& algorithm)
{
    const auto pair = container.app.db.keyPair(container.record.id, true);
    if (!pair) {
        fail(SAR_KEYNOTFOUNTERR);
    }
    algorithm = pair->algorithm;
    try {
        return crypto::open(appKeyFor(container), pair->wrappedPrivateKey, keyAad(container, true));
    } catch (const crypto::CryptoInputError&) {
        fail(SAR_FAIL); // the stored key was tampered with
    }
}

HANDLE Core::createContainer(HANDLE handle, const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto app = application(handle);
    requireContainerName(name);
    requireUser(app);
    store::Transaction transaction(app.db.database());
    if (app.db.container(app.record.id, name)) {
        fail(SAR_FILE_ALREADY_EXIST);
    }
    if (app.db.containerCount(app.record.id) >= kMaxContainers) {
        fail(SAR_REACH_MAX_CONTAINER_COUNT);
    }
    requireRoom(app.db, store::kContainerCost);
    const int64_t id = app.db.insertContainer(app.record.id, name);
    transaction.commit();
    auto session = std::make_shared<ContainerSession>(handle);
    session->containerId = id;
    return m_handles.add(std::move(session));
}

void Core::deleteContainer(HANDLE handle, const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto app = application(handle);
    requireContainerName(name);
    requireUser(app);
    store::Transaction transaction(app.db.database());
    const auto record = app.db.container(app.record.id, name);
    if (!record) {
        fail(SAR_FILE_NOT_EXIST);
    }
    app.db.deleteContainer(record->id);
    transaction.commit();
}

HANDLE Core::openContainer(HANDLE handle, const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto app = application(handle);
    requireContainerName(name);
    const auto record = app.db.container(app.record.id, name);
    if (!record) {
        fail(SAR_FILE_NOT_EXIST);
    }
    auto session = std::make_shared<ContainerSession>(handle);
    session->containerId = record->id;
    return m_handles.add(std::move(session));
}

void Core::closeContainer(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_handles.find<ContainerSession>(handle, HandleKind::Container) || !m_handles.remove(handle)) {
        fail(SAR_INVALIDHANDLEERR);
    }
}

std::vector<std::string> Core::enumContainers(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto app = application(handle);
    return app.db.containerNames(app.record.id);
}

ULONG Core::containerType(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto ref = container(handle);
    const uint32_t algorithm = ref.app.db.containerAlgorithm(ref.record.id);
    if (algorithm == 0) {
        return CONTAINER_TYPE_EMPTY;
    }
    return algorithm == SGD_RSA ? CONTAINER_TYPE_RSA : CONTAINER_TYPE_ECC;
}

ECCPUBLICKEYBLOB Core::generateEccKeyPair(HANDLE handle, ULONG algorithm)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto ref = container(handle);
    requireUser(ref.app);
    if (algorithm != SGD_SM2_1) {
        fail(SAR_INVALIDPARAMERR);
    }
    requireKind(ref.app.db, ref.record.id, false);
    const auto key = crypto::KeyPair::generateSm2();
    const auto blob = codec::eccPublicKeyBlob(key.sm2PublicPoint());
    store::Transaction transaction(ref.app.db.database());
    requireKind(ref.app.db, ref.record.id, false);
    storeKeyPair(ref, true, SGD_SM2_1, 256, blobBytes(blob), key.privateDer());
    transaction.commit();
    return blob;
}

RSAPUBLICKEYBLOB Core::generateRsaKeyPair(HANDLE handle, ULONG bits)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto ref = container(handle);
    requireUser(ref.app);
    if (bits != 1024 && bits != 2048) {
        fail(SAR_MODULUSLENERR);
    }
    requireKind(ref.app.db, ref.record.id, true);
    const auto key = crypto::KeyPair::generateRsa(bits);
    const auto blob = codec::rsaPublicKeyBlob(bits, key.rsaModulus(), key.rsaPublicExponent());
    store::Transaction transaction(ref.app.db.database());
    requireKind(ref.app.db, ref.record.id, true);
    storeKeyPair(ref, true, SGD_RSA, bits, blobBytes(blob), key.privateDer());
    transaction.commit();
    return blob;
}

void Core::importEccKeyPair(HANDLE handle, const ENVELOPEDKEYBLOB& envelope)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto ref = container(handle);
    requireUser(ref.app);
    if (envelope.ulSymmAlgID != SGD_SM4_ECB) {
        fail(SAR_NOTSUPPORTYETERR);
    }
    if (envelope.Version != 1 || envelope.ulBits != 256) {
        fail(SAR_INVALIDPARAMERR);
    }
    if (envelope.ECCCipherBlob.CipherLen != kEnvelopeKeySize) {
        fail(SAR_INDATALENERR);
    }
    uint32_t algorithm = 0;
    const auto signingDer = signingPrivateKey(ref, algorithm);
    if (!isSm2Algorithm(algorithm)) {
        fail(SAR_INVALIDPARAMERR);
    }
    try {
        const auto signingKey = crypto::KeyPair::fromPrivateDer(signingDer.data(), signingDer.size());
        const auto sessionKey = signingKey.sm2Decrypt(codec::sm2CiphertextDer(envelope.ECCCipherBlob));
        if (sessionKey.size() != kEnvelopeKeySize) {
            fail(SAR_INDATAERR);
        }
        const auto field
            = crypto::sm4EcbDecrypt(sessionKey.data(), envelope.cbEncryptedPriKey, kEnvelopePrivateField, false);
        for (size_t i = 0; i < kEnvelopePrivateField - kSm2ScalarSize; ++i) {
            if (field[i] != 0) {
                fail(SAR_INDATAERR);
            }
        }
        const auto key = crypto::KeyPair::sm2FromScalar(field.data() + kSm2ScalarSize, kSm2ScalarSize);
        const auto point = key.sm2PublicPoint();
        if (point != codec::eccPointFromBlob(envelope.PubKey)) {
            fail(SAR_INDATAERR); // the public key does not belong to the private key
        }
        store::Transaction transaction(ref.app.db.database());
        requireKind(ref.app.db, ref.record.id, false);
        storeKeyPair(ref, false, SGD_SM2_3, 256, blobBytes(codec::eccPublicKeyBlob(point)), key.privateDer());
        transaction.commit();
    } catch (const crypto::CryptoInputError&) {
        fail(SAR_INDATAERR);
    } catch (const codec::CodecError&) {
        fail(SAR_INDATAERR);
    }
}

void Core::importRsaKeyPair(HANDLE handle, ULONG symmetricAlgorithm, const uint8_t* wrappedKey, size_t wrappedSize,
                            const uint8_t* encryptedKey, size_t encryptedSize)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto ref = container(handle);
    requireUser(ref.app);
    if (symmetricAlgorithm != SGD_SM4_ECB) {
        fail(SAR_NOTSUPPORTYETERR);
    }
    uint32_t algorithm = 0;
    const auto signingDer = signingPrivateKey(ref, algorithm);
    if (algorithm != SGD_RSA) {
        fail(SAR_INVALIDPARAMERR);
    }
    try {
        const auto signingKey = crypto::KeyPair::fromPrivateDer(signingDer.data(), signingDer.size());
        const auto sessionKey = signingKey.rsaPkcs1Decrypt(wrappedKey, wrappedSize);
        if (sessionKey.size() != kEnvelopeKeySize) {
            fail(SAR_INDATAERR);
        }
        const auto der = crypto::sm4EcbDecrypt(sessionKey.data(), encryptedKey, encryptedSize, true);
        const auto key = crypto::KeyPair::fromPrivateDer(der.data(), der.size());
        if (!key.isRsa() || (key.bits() != 1024 && key.bits() != 2048)) {
            fail(SAR_INDATAERR);
        }
        const auto blob = codec::rsaPublicKeyBlob(key.bits(), key.rsaModulus(), key.rsaPublicExponent());
        store::Transaction transaction(ref.app.db.database());
        requireKind(ref.app.db, ref.record.id, true);
        storeKeyPair(ref, false, SGD_RSA, key.bits(), blobBytes(blob), key.privateDer());
        transaction.commit();
    } catch (const crypto::CryptoInputError&) {
        fail(SAR_INDATAERR);
    }
}

std::vector<uint8_t> Core::exportPublicKey(HANDLE handle, bool signing)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto ref = container(handle);
    const auto pair = ref.app.db.keyPair(ref.record.id, signing);
    if (!pair) {
        fail(SAR_KEYNOTFOUNTERR);
    }
    return pair->publicBlob;
}

void Core::importCertificate(HANDLE handle, bool signing, const uint8_t* der, size_t size)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto ref = container(handle);
    requireUser(ref.app);
    if (size == 0) {
        fail(SAR_INVALIDPARAMERR);
    }
    store::Transaction transaction(ref.app.db.database());
    uint64_t replaced = 0;
    if (const auto old = ref.app.db.certificate(ref.record.id, signing)) {
        replaced = old->size();
    }
    if (size > replaced) {
        requireRoom(ref.app.db, size - replaced);
    }
    ref.app.db.putCertificate(ref.record.id, signing, std::vector<uint8_t>(der, der + size));
    transaction.commit();
}

std::vector<uint8_t> Core::exportCertificate(HANDLE handle, bool signing)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto ref = container(handle);
    auto der = ref.app.db.certificate(ref.record.id, signing);
    if (!der) {
        fail(SAR_CERTNOTFOUNTERR);
    }
    return *der;
}

} // namespace softskf::core
