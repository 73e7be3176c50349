// Digests: SM3, SHA-1 and SHA-256, and the SM2 Z value that binds a signer's identity.
#include "ossl/Ossl.h"
#include "Services.h"
#include "skfcodec/Codec.h"

namespace softskf::crypto {

namespace {

const EVP_MD* digestMd(DigestAlgorithm algorithm)
{
    switch (algorithm) {
    case DigestAlgorithm::Sm3:
        return EVP_sm3();
    case DigestAlgorithm::Sha1:
        return EVP_sha1();
    case DigestAlgorithm::Sha256:
        return EVP_sha256();
    }
    return nullptr;
}

} // namespace

Digest::Digest(DigestAlgorithm algorithm)
    : m_ctx(EVP_MD_CTX_new())
{
    if (!m_ctx || EVP_DigestInit_ex(m_ctx, digestMd(algorithm), nullptr) != 1) {
        EVP_MD_CTX_free(m_ctx);
        throw CryptoError("cannot start a digest");
    }
}

Digest::Digest(const Digest& other)
    : m_ctx(EVP_MD_CTX_new())
{
    if (!m_ctx || EVP_MD_CTX_copy_ex(m_ctx, other.m_ctx) != 1) {
        EVP_MD_CTX_free(m_ctx);
        throw CryptoError("cannot copy a digest");
    }
}

Digest::~Digest()
{
    EVP_MD_CTX_free(m_ctx);
}

void Digest::update(const uint8_t* data, size_t size)
{
    if (size > 0 && EVP_DigestUpdate(m_ctx, data, size) != 1) {
        throw CryptoError("digest update failed");
    }
}

std::vector<uint8_t> Digest::final()
{
    std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(m_ctx, out.data(), &size) != 1) {
        throw CryptoError("digest failed");
    }
    out.resize(size);
    return out;
}

size_t Digest::size() const
{
    return static_cast<size_t>(EVP_MD_CTX_get_size(m_ctx));
}

std::vector<uint8_t> sm3(const uint8_t* data, size_t size)
{
    Digest digest(DigestAlgorithm::Sm3);
    digest.update(data, size);
    return digest.final();
}

std::vector<uint8_t> sm2Z(const std::vector<uint8_t>& point, const uint8_t* id, size_t idSize)
{
    try {
        return skfcodec::sm2Z(point, id, idSize);
    } catch (const skfcodec::CodecError& error) {
        throw CryptoInputError(error.what());
    }
}

} // namespace softskf::crypto
