// Digests: SM3, SHA-1 and SHA-256, and the SM2 Z value that binds a signer's identity.
#include "ossl/Ossl.h"
#include "Services.h"
#include "skf/sm2defaults.h"

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

// a, b, xG, yG of the SM2 curve, 128 bytes.
const std::vector<uint8_t>& sm2CurveBytes()
{
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> out;
        for (const uint8_t* value : {sm2defaults::kA, sm2defaults::kB, sm2defaults::kGx, sm2defaults::kGy}) {
            out.insert(out.end(), value, value + 32);
        }
        return out;
    }();
    return bytes;
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
    if (point.size() != 1 + 2 * kSm2Coordinate || point[0] != 0x04) {
        throw CryptoInputError("not an uncompressed SM2 point");
    }
    if (idSize >= 8192) {
        throw CryptoInputError("the SM2 identifier is too long"); // ENTL is 16 bits of bit length
    }
    const auto bits = static_cast<uint16_t>(idSize * 8);
    const uint8_t entl[2] = {static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits)};
    Digest digest(DigestAlgorithm::Sm3);
    digest.update(entl, sizeof entl);
    digest.update(id, idSize);
    digest.update(sm2CurveBytes().data(), sm2CurveBytes().size());
    digest.update(point.data() + 1, point.size() - 1);
    return digest.final();
}

} // namespace softskf::crypto
