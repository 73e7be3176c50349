// SM4 in ECB, CBC, CFB and OFB modes, and the SM4 CBC-MAC.
#include "ossl/Ossl.h"
#include "Services.h"

#include <cstring>

namespace softskf::crypto {

namespace {

const EVP_CIPHER* sm4Cipher(Sm4Mode mode)
{
    switch (mode) {
    case Sm4Mode::Ecb:
    case Sm4Mode::Cfb8: // OpenSSL has no SM4-CFB8: built on the block function
        return EVP_sm4_ecb();
    case Sm4Mode::Cbc:
        return EVP_sm4_cbc();
    case Sm4Mode::Cfb:
        return EVP_sm4_cfb128();
    case Sm4Mode::Ofb:
        return EVP_sm4_ofb();
    }
    return nullptr;
}

} // namespace

Sm4Cipher::Sm4Cipher(Sm4Mode mode, const uint8_t* key, const uint8_t* iv, size_t ivSize, bool padding, bool encrypt)
    : m_ctx(EVP_CIPHER_CTX_new())
{
    uint8_t fullIv[kSm4Block] = {};
    if (mode != Sm4Mode::Ecb) {
        if (ivSize != kSm4Block) {
            EVP_CIPHER_CTX_free(m_ctx);
            throw CryptoInputError("SM4 needs a 16-byte IV");
        }
        std::memcpy(fullIv, iv, kSm4Block);
    }
    m_cfb8 = mode == Sm4Mode::Cfb8;
    m_encrypt = encrypt;
    if (m_cfb8) {
        std::memcpy(m_register, fullIv, kSm4Block);
    }
    // CFB-8 always runs the block function forwards.
    const int direction = encrypt || m_cfb8 ? 1 : 0;
    if (!m_ctx || EVP_CipherInit_ex(m_ctx, sm4Cipher(mode), nullptr, key, fullIv, direction) != 1) {
        EVP_CIPHER_CTX_free(m_ctx);
        throw CryptoError("SM4 is not available");
    }
    // Stream modes never pad.
    EVP_CIPHER_CTX_set_padding(m_ctx, padding && (mode == Sm4Mode::Ecb || mode == Sm4Mode::Cbc) ? 1 : 0);
}

Sm4Cipher::Sm4Cipher(const Sm4Cipher& other)
    : m_ctx(EVP_CIPHER_CTX_new())
    , m_cfb8(other.m_cfb8)
    , m_encrypt(other.m_encrypt)
{
    std::memcpy(m_register, other.m_register, kSm4Block);
    if (!m_ctx || EVP_CIPHER_CTX_copy(m_ctx, other.m_ctx) != 1) {
        EVP_CIPHER_CTX_free(m_ctx);
        throw CryptoError("cannot copy a cipher");
    }
}

Sm4Cipher::~Sm4Cipher()
{
    OPENSSL_cleanse(m_register, sizeof m_register);
    EVP_CIPHER_CTX_free(m_ctx);
}

std::vector<uint8_t> Sm4Cipher::cfb8(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> out(size);
    uint8_t stream[kSm4Block];
    for (size_t i = 0; i < size; ++i) {
        int written = 0;
        if (EVP_CipherUpdate(m_ctx, stream, &written, m_register, kSm4Block) != 1 || written != kSm4Block) {
            throw CryptoError("SM4 failed");
        }
        out[i] = data[i] ^ stream[0];
        std::memmove(m_register, m_register + 1, kSm4Block - 1);
        m_register[kSm4Block - 1] = m_encrypt ? out[i] : data[i];
    }
    OPENSSL_cleanse(stream, sizeof stream);
    return out;
}

std::vector<uint8_t> Sm4Cipher::update(const uint8_t* data, size_t size)
{
    if (m_cfb8) {
        return cfb8(data, size);
    }
    std::vector<uint8_t> out(size + kSm4Block);
    size_t done = 0;
    size_t written = 0;
    // EVP takes int lengths: feed large inputs in pieces.
    constexpr size_t kPiece = 1u << 30;
    while (done < size) {
        const size_t piece = std::min(kPiece, size - done);
        int chunk = 0;
        if (EVP_CipherUpdate(m_ctx, out.data() + written, &chunk, data + done, static_cast<int>(piece)) != 1) {
            throw CryptoError("SM4 failed");
        }
        done += piece;
        written += static_cast<size_t>(chunk);
        out.resize(written + (size - done) + kSm4Block);
    }
    out.resize(written);
    return out;
}

std::vector<uint8_t> Sm4Cipher::final()
{
    if (m_cfb8) {
        return {}; // a stream: nothing held back
    }
    std::vector<uint8_t> out(kSm4Block);
    int written = 0;
    if (EVP_CipherFinal_ex(m_ctx, out.data(), &written) != 1) {
        throw CryptoInputError("SM4 data has a bad length or padding");
    }
    out.resize(static_cast<size_t>(written));
    return out;
}

Sm4Mac::Sm4Mac(const uint8_t* key, const uint8_t* iv, size_t ivSize, bool padding)
    : m_key(key, key + kSm4Block)
    , m_padding(padding)
{
    std::memset(m_chain, 0, sizeof m_chain);
    if (ivSize != 0 && ivSize != kSm4Block) {
        throw CryptoInputError("the SM4 MAC needs a 16-byte IV or none");
    }
    if (ivSize == kSm4Block) {
        std::memcpy(m_chain, iv, kSm4Block);
    }
}

void Sm4Mac::update(const uint8_t* data, size_t size)
{
    // Whole blocks are chained at once; the tail waits for more data or the final call.
    std::vector<uint8_t> blocks(m_pending, m_pending + m_pendingSize);
    blocks.insert(blocks.end(), data, data + size);
    size_t whole = blocks.size() / kSm4Block * kSm4Block;
    if (whole == blocks.size() && whole > 0) {
        whole -= kSm4Block; // keep the last block for final, where padding may follow it
    }
    for (size_t at = 0; at < whole; at += kSm4Block) {
        for (size_t i = 0; i < kSm4Block; ++i) {
            m_chain[i] ^= blocks[at + i];
        }
        const auto next = sm4EcbEncrypt(m_key.data(), m_chain, kSm4Block, false);
        std::memcpy(m_chain, next.data(), kSm4Block);
    }
    m_pendingSize = blocks.size() - whole;
    if (m_pendingSize > 0) {
        std::memcpy(m_pending, blocks.data() + whole, m_pendingSize);
    }
}

std::vector<uint8_t> Sm4Mac::final() const
{
    std::vector<uint8_t> tail(m_pending, m_pending + m_pendingSize);
    if (m_padding) {
        const size_t pad = kSm4Block - tail.size() % kSm4Block;
        tail.insert(tail.end(), pad, static_cast<uint8_t>(pad));
    } else if (tail.empty() || tail.size() % kSm4Block != 0) {
        throw CryptoInputError("MAC data is not a whole number of blocks");
    }
    uint8_t chain[kSm4Block];
    std::memcpy(chain, m_chain, kSm4Block);
    for (size_t at = 0; at < tail.size(); at += kSm4Block) {
        for (size_t i = 0; i < kSm4Block; ++i) {
            chain[i] ^= tail[at + i];
        }
        const auto next = sm4EcbEncrypt(m_key.data(), chain, kSm4Block, false);
        std::memcpy(chain, next.data(), kSm4Block);
    }
    return std::vector<uint8_t>(chain, chain + kSm4Block);
}

} // namespace softskf::crypto
