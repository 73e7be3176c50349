// Signatures with a container's key, session keys (generated and exported, imported
// under the container's encryption key, or set in the clear) and their handles.
#include "Core.h"

#include "CryptoSessions.h"
#include "Sessions.h"
#include "codec/CipherBlobs.h"
#include "crypto/Services.h"

#include <cstring>

namespace softskf::core {

namespace {

constexpr size_t kSessionKeySize = 16;
constexpr size_t kSm2DigestSize = 32;
constexpr size_t kKeyCacheLimit = 64;

bool isSm4Algorithm(ULONG algorithm)
{
    return algorithm == SGD_SM4_ECB || algorithm == SGD_SM4_CBC || algorithm == SGD_SM4_CFB || algorithm == SGD_SM4_OFB
        || algorithm == SGD_SM4_MAC;
}

void requireSessionAlgorithm(ULONG algorithm)
{
    if (isSm4Algorithm(algorithm)) {
        return;
    }
    const ULONG family = algorithm & 0xFFFFFF00u;
    fail(family == 0x100 || family == 0x200 ? SAR_NOTSUPPORTYETERR : SAR_INVALIDPARAMERR);
}

} // namespace

void Core::requireDevice(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    device(handle);
}

std::shared_ptr<const crypto::KeyPair> Core::privateKey(const ContainerRef& ref, bool signing)
{
    const auto pair = ref.app.db.keyPair(ref.record.id, signing);
    if (!pair) {
        fail(SAR_KEYNOTFOUNTERR);
    }
    const auto appKey = appKeyFor(ref); // the user PIN gates every use, cached or not
    auto cacheKey = keyAad(ref, signing);
    cacheKey.insert(cacheKey.end(), pair->wrappedPrivateKey.begin(), pair->wrappedPrivateKey.end());
    if (const auto found = m_keyCache.find(cacheKey); found != m_keyCache.end()) {
        return found->second;
    }
    crypto::SecureBytes der;
    try {
        der = crypto::open(appKey, pair->wrappedPrivateKey, keyAad(ref, signing));
    } catch (const crypto::CryptoInputError&) {
        fail(SAR_FAIL); // the stored key was tampered with
    }
    auto key = std::make_shared<const crypto::KeyPair>(crypto::KeyPair::fromPrivateDer(der.data(), der.size()));
    if (m_keyCache.size() >= kKeyCacheLimit) {
        m_keyCache.clear();
    }
    m_keyCache.emplace(std::move(cacheKey), key);
    return key;
}

size_t Core::parsedKeyCount()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_keyCache.size();
}

HANDLE Core::addSessionKey(HANDLE parent, ULONG algorithm, const crypto::SecureBytes& key)
{
    auto session = std::make_shared<SessionKey>(parent);
    session->algorithm = algorithm;
    session->key = key;
    return m_handles.add(std::move(session));
}

std::vector<uint8_t> Core::rsaSign(HANDLE handle, const uint8_t* data, size_t size)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::optional<store::ReadSnapshot> snapshot; // container, application, key and PIN in one read
    auto ref = container(handle, &snapshot);
    const auto key = privateKey(ref, true);
    snapshot.reset(); // the rows are read; the key work needs no snapshot
    if (!key->isRsa()) {
        fail(SAR_KEYINFOTYPEERR);
    }
    if (size == 0 || size + 11 > crypto::rsaModulusSize(key->raw())) {
        fail(SAR_INDATALENERR);
    }
    return crypto::rsaSignRaw(*key, data, size);
}

ECCSIGNATUREBLOB Core::eccSign(HANDLE handle, const uint8_t* digest, size_t size)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::optional<store::ReadSnapshot> snapshot; // container, application, key and PIN in one read
    auto ref = container(handle, &snapshot);
    if (size != kSm2DigestSize) {
        fail(SAR_INDATALENERR);
    }
    const auto key = privateKey(ref, true);
    snapshot.reset(); // the rows are read; the key work needs no snapshot
    if (!key->isSm2()) {
        fail(SAR_KEYINFOTYPEERR);
    }
    const auto signature = crypto::sm2SignDigest(*key, digest, size);
    ECCSIGNATUREBLOB blob{};
    codec::putRightAligned(blob.r, sizeof blob.r, signature.r.data(), signature.r.size());
    codec::putRightAligned(blob.s, sizeof blob.s, signature.s.data(), signature.s.size());
    return blob;
}

HANDLE Core::rsaExportSessionKey(HANDLE handle, ULONG algorithm, const RSAPUBLICKEYBLOB& blob,
                                 std::vector<uint8_t>& wrapped)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    container(handle);
    requireSessionAlgorithm(algorithm);
    const auto [modulus, exponent] = codec::rsaPublicParts(blob);
    const auto publicKey = crypto::PublicKey::rsa(modulus, exponent);
    const auto key = crypto::randomSecret(kSessionKeySize);
    wrapped = crypto::rsaPkcs1Encrypt(publicKey, key.data(), key.size());
    return addSessionKey(handle, algorithm, key);
}

HANDLE Core::eccExportSessionKey(HANDLE handle, ULONG algorithm, const ECCPUBLICKEYBLOB& blob,
                                 std::vector<uint8_t>& cipherBlob)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    container(handle);
    requireSessionAlgorithm(algorithm);
    const auto publicKey = crypto::PublicKey::sm2(codec::eccPointFromBlob(blob));
    const auto key = crypto::randomSecret(kSessionKeySize);
    cipherBlob = codec::eccCipherBlobFromDer(crypto::sm2Encrypt(publicKey, key.data(), key.size()));
    return addSessionKey(handle, algorithm, key);
}

HANDLE Core::importSessionKey(HANDLE handle, ULONG algorithm, const uint8_t* wrapped, size_t size)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::optional<store::ReadSnapshot> snapshot; // container, application, key and PIN in one read
    auto ref = container(handle, &snapshot);
    requireSessionAlgorithm(algorithm);
    const auto key = privateKey(ref, false);
    snapshot.reset(); // the rows are read; the key work needs no snapshot
    crypto::SecureBytes plain;
    try {
        if (key->isRsa()) {
            plain = key->rsaPkcs1Decrypt(wrapped, size);
        } else {
            plain = key->sm2Decrypt(codec::sm2CiphertextDer(codec::eccCipherBlobView(wrapped, size)));
        }
    } catch (const crypto::CryptoInputError&) {
        fail(SAR_INDATAERR);
    }
    if (plain.size() != kSessionKeySize) {
        fail(SAR_INDATALENERR);
    }
    return addSessionKey(handle, algorithm, plain);
}

HANDLE Core::setSymmetricKey(HANDLE handle, const uint8_t* key, ULONG algorithm)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    device(handle);
    requireSessionAlgorithm(algorithm);
    return addSessionKey(handle, algorithm, crypto::secureCopy(key, kSessionKeySize));
}

} // namespace softskf::core
