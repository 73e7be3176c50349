// SM4 encryption and decryption, digests and MACs on their handles. Every step runs on a
// copy of the state and is kept only when the caller's buffer took the result, so a size
// query or a short buffer never consumes data.
#include "Core.h"

#include "CryptoSessions.h"
#include "codec/CipherBlobs.h"

#include <cstring>

namespace softskf::core {

namespace {

crypto::Sm4Mode modeOf(ULONG algorithm)
{
    switch (algorithm) {
    case SGD_SM4_ECB:
        return crypto::Sm4Mode::Ecb;
    case SGD_SM4_CBC:
        return crypto::Sm4Mode::Cbc;
    case SGD_SM4_CFB:
        return crypto::Sm4Mode::Cfb;
    case SGD_SM4_OFB:
        return crypto::Sm4Mode::Ofb;
    default:
        fail(SAR_KEYUSAGEERR); // a MAC key
    }
}

// Delivers data under the length convention; true when it was delivered.
bool deliver(const std::vector<uint8_t>& data, uint8_t* out, ULONG* length, ULONG& code)
{
    if (!length) {
        fail(SAR_INVALIDPARAMERR);
    }
    const auto size = static_cast<ULONG>(data.size());
    if (!out) {
        *length = size;
        code = SAR_OK;
        return false;
    }
    if (*length < size) {
        *length = size;
        code = SAR_BUFFER_TOO_SMALL;
        return false;
    }
    if (size > 0) {
        std::memcpy(out, data.data(), size);
    }
    *length = size;
    code = SAR_OK;
    return true;
}

void requireInput(const uint8_t* in, size_t size)
{
    if (!in && size > 0) {
        fail(SAR_INVALIDPARAMERR);
    }
}

} // namespace

void Core::cipherInit(HANDLE handle, const BLOCKCIPHERPARAM& param, bool encrypt)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto* key = &live<SessionKey>(handle, HandleKind::SessionKey);
    auto mode = modeOf(key->algorithm);
    if (mode == crypto::Sm4Mode::Cfb) {
        // The feedback width: 128 bits (0 means the same) or one byte.
        if (param.FeedBitLen == 8) {
            mode = crypto::Sm4Mode::Cfb8;
        } else if (param.FeedBitLen != 0 && param.FeedBitLen != 128) {
            fail(SAR_NOTSUPPORTYETERR);
        }
    }
    if (param.PaddingType > 1 || param.IVLen > MAX_IV_LEN
        || (mode != crypto::Sm4Mode::Ecb && param.IVLen != crypto::kSm4Block)) {
        fail(SAR_INVALIDPARAMERR);
    }
    key->cipher.reset();
    key->cipher.emplace(mode, key->key.data(), param.IV, param.IVLen, param.PaddingType == 1, encrypt);
    key->encrypting = encrypt;
}

ULONG Core::cipherStep(HANDLE handle, bool encrypt, Step step, const uint8_t* in, size_t size, uint8_t* out,
                       ULONG* length)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto* key = &live<SessionKey>(handle, HandleKind::SessionKey);
    if (!key->cipher || key->encrypting != encrypt) {
        fail(SAR_NOTINITIALIZEERR);
    }
    requireInput(in, size);
    crypto::Sm4Cipher trial(*key->cipher);
    std::vector<uint8_t> result;
    try {
        if (step != Step::Final) {
            result = trial.update(in, size);
        }
        if (step != Step::Update) {
            const auto tail = trial.final();
            result.insert(result.end(), tail.begin(), tail.end());
        }
    } catch (const crypto::CryptoInputError&) {
        key->cipher.reset(); // the operation is over, as a token's would be
        fail(encrypt || size % crypto::kSm4Block != 0 ? SAR_INDATALENERR : SAR_DECRYPTPADERR);
    }
    ULONG code = SAR_OK;
    if (deliver(result, out, length, code)) {
        if (step == Step::Update) {
            key->cipher.reset();
            key->cipher.emplace(trial);
        } else {
            key->cipher.reset();
        }
    }
    return code;
}

HANDLE Core::digestInit(HANDLE handle, ULONG algorithm, const ECCPUBLICKEYBLOB* publicKey, const uint8_t* id,
                        size_t idSize)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    device(handle);
    crypto::DigestAlgorithm kind;
    switch (algorithm) {
    case SGD_SM3:
        kind = crypto::DigestAlgorithm::Sm3;
        break;
    case SGD_SHA1:
        kind = crypto::DigestAlgorithm::Sha1;
        break;
    case SGD_SHA256:
        kind = crypto::DigestAlgorithm::Sha256;
        break;
    default:
        fail(SAR_NOTSUPPORTYETERR);
    }
    auto session = std::make_shared<HashSession>(handle, kind);
    if (publicKey) {
        if (kind != crypto::DigestAlgorithm::Sm3) {
            fail(SAR_INVALIDPARAMERR); // the Z value is SM3's
        }
        if (!id || idSize == 0) {
            id = reinterpret_cast<const uint8_t*>(crypto::kSm2DefaultId);
            idSize = std::strlen(crypto::kSm2DefaultId);
        }
        const auto z = crypto::sm2Z(codec::eccPointFromBlob(*publicKey), id, idSize);
        session->digest->update(z.data(), z.size());
    }
    return m_handles.add(std::move(session));
}

ULONG Core::digestStep(HANDLE handle, Step step, const uint8_t* in, size_t size, uint8_t* out, ULONG* length)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto* hash = &live<HashSession>(handle, HandleKind::Hash);
    if (!hash->digest) {
        fail(SAR_NOTINITIALIZEERR); // finished: a new DigestInit starts over
    }
    requireInput(in, size);
    if (step == Step::Update) {
        hash->digest->update(in, size);
        return SAR_OK;
    }
    if (!length) {
        fail(SAR_INVALIDPARAMERR);
    }
    const size_t digestSize = hash->digest->size();
    if (!out || *length < digestSize) {
        const ULONG code = out ? SAR_BUFFER_TOO_SMALL : SAR_OK;
        *length = static_cast<ULONG>(digestSize);
        return code;
    }
    hash->digest->update(in, size);
    const auto result = hash->digest->final();
    hash->digest.reset();
    std::memcpy(out, result.data(), result.size());
    *length = static_cast<ULONG>(result.size());
    return SAR_OK;
}

HANDLE Core::macInit(HANDLE handle, const BLOCKCIPHERPARAM& param)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto* key = &live<SessionKey>(handle, HandleKind::SessionKey);
    if (param.PaddingType > 1 || (param.IVLen != 0 && param.IVLen != crypto::kSm4Block)) {
        fail(SAR_INVALIDPARAMERR);
    }
    auto session = std::make_shared<MacSession>(
        handle, crypto::Sm4Mac(key->key.data(), param.IV, param.IVLen, param.PaddingType == 1));
    return m_handles.add(std::move(session));
}

ULONG Core::macStep(HANDLE handle, Step step, const uint8_t* in, size_t size, uint8_t* out, ULONG* length)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto* mac = &live<MacSession>(handle, HandleKind::Mac);
    if (!mac->mac) {
        fail(SAR_NOTINITIALIZEERR);
    }
    requireInput(in, size);
    if (step == Step::Update) {
        mac->mac->update(in, size);
        return SAR_OK;
    }
    if (!length) {
        fail(SAR_INVALIDPARAMERR);
    }
    if (!out || *length < crypto::kSm4Block) {
        const ULONG code = out ? SAR_BUFFER_TOO_SMALL : SAR_OK;
        *length = crypto::kSm4Block;
        return code;
    }
    crypto::Sm4Mac trial(*mac->mac);
    trial.update(in, size);
    std::vector<uint8_t> result;
    try {
        result = trial.final();
    } catch (const crypto::CryptoInputError&) {
        mac->mac.reset();
        fail(SAR_INDATALENERR);
    }
    mac->mac.reset();
    std::memcpy(out, result.data(), result.size());
    *length = static_cast<ULONG>(result.size());
    return SAR_OK;
}

} // namespace softskf::core
