// The SM2 key exchange between a sponsor (initiator) and a responder, each with a
// container's encryption key pair as its static key. The agreed key becomes a session
// key handle of the algorithm asked for.
#include "Core.h"

#include "CryptoSessions.h"
#include "codec/CipherBlobs.h"

namespace softskf::core {

namespace {

constexpr size_t kSessionKeySize = 16;

std::vector<uint8_t> identity(const uint8_t* id, size_t size)
{
    if (!id || size == 0 || size > 1024) {
        fail(SAR_INVALIDPARAMERR);
    }
    return std::vector<uint8_t>(id, id + size);
}

void requireAgreementAlgorithm(ULONG algorithm)
{
    if (algorithm != SGD_SM4_ECB && algorithm != SGD_SM4_CBC && algorithm != SGD_SM4_CFB && algorithm != SGD_SM4_OFB
        && algorithm != SGD_SM4_MAC) {
        fail(SAR_INVALIDPARAMERR);
    }
}

} // namespace

HANDLE Core::agreementInit(HANDLE handle, ULONG algorithm, ECCPUBLICKEYBLOB& ephemeral, const uint8_t* id,
                           size_t idSize)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto ref = container(handle);
    requireAgreementAlgorithm(algorithm);
    const auto key = privateKey(ref, false);
    if (!key->isSm2()) {
        fail(SAR_KEYINFOTYPEERR);
    }
    auto session = std::make_shared<AgreementSession>(handle);
    session->algorithm = algorithm;
    session->party.staticScalar = crypto::sm2Scalar(*key);
    session->party.staticPoint = key->sm2PublicPoint();
    session->party.id = identity(id, idSize);
    crypto::sm2NewEphemeral(session->party);
    ephemeral = codec::eccPublicKeyBlob(session->party.ephemeralPoint);
    return m_handles.add(std::move(session));
}

HANDLE Core::agreementRespond(HANDLE handle, ULONG algorithm, const ECCPUBLICKEYBLOB& sponsorKey,
                              const ECCPUBLICKEYBLOB& sponsorEphemeral, ECCPUBLICKEYBLOB& ephemeral, const uint8_t* id,
                              size_t idSize, const uint8_t* sponsorId, size_t sponsorIdSize)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto ref = container(handle);
    requireAgreementAlgorithm(algorithm);
    const auto key = privateKey(ref, false);
    if (!key->isSm2()) {
        fail(SAR_KEYINFOTYPEERR);
    }
    crypto::Sm2ExchangeParty party;
    party.staticScalar = crypto::sm2Scalar(*key);
    party.staticPoint = key->sm2PublicPoint();
    party.id = identity(id, idSize);
    crypto::sm2NewEphemeral(party);
    const auto shared = crypto::sm2ExchangeKey(party, false, codec::eccPointFromBlob(sponsorKey),
                                               codec::eccPointFromBlob(sponsorEphemeral),
                                               identity(sponsorId, sponsorIdSize), kSessionKeySize);
    ephemeral = codec::eccPublicKeyBlob(party.ephemeralPoint);
    return addSessionKey(handle, algorithm, shared);
}

HANDLE Core::agreementFinish(HANDLE handle, const ECCPUBLICKEYBLOB& responderKey,
                             const ECCPUBLICKEYBLOB& responderEphemeral, const uint8_t* responderId, size_t idSize)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto* session = &live<AgreementSession>(handle, HandleKind::Agreement);
    // The agreement uses the container's private key: it completes only while the user
    // is still logged in.
    appKeyFor(container(session->parent));
    const auto shared = crypto::sm2ExchangeKey(session->party, true, codec::eccPointFromBlob(responderKey),
                                               codec::eccPointFromBlob(responderEphemeral),
                                               identity(responderId, idSize), kSessionKeySize);
    // The key belongs to the container, so it outlives the agreement handle.
    return addSessionKey(session->parent, session->algorithm, shared);
}

} // namespace softskf::core
