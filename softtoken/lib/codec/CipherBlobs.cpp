// ECCCIPHERBLOB <-> DER SM2Ciphertext and RSA public blobs, with a minimal DER reader
// for the one structure SM2 encryption produces.
#include "CipherBlobs.h"

#include <cstddef>
#include <cstring>

namespace softskf::codec {

namespace {

constexpr size_t kCoordinate = 32;
constexpr size_t kHashSize = 32;

class DerReader
{
public:
    DerReader(const uint8_t* data, size_t size)
        : m_data(data)
        , m_size(size)
    {
    }
    // The content of the next element, which must carry this tag.
    std::pair<const uint8_t*, size_t> next(uint8_t tag)
    {
        if (m_at + 2 > m_size || m_data[m_at] != tag) {
            throw CodecError("unexpected DER element");
        }
        size_t length = m_data[m_at + 1];
        m_at += 2;
        if (length & 0x80) {
            const size_t count = length & 0x7f;
            if (count == 0 || count > 3 || m_at + count > m_size) {
                throw CodecError("bad DER length");
            }
            length = 0;
            for (size_t i = 0; i < count; ++i) {
                length = (length << 8) | m_data[m_at++];
            }
        }
        if (length > m_size - m_at) {
            throw CodecError("DER element runs past the end");
        }
        const uint8_t* content = m_data + m_at;
        m_at += length;
        return {content, length};
    }
    bool atEnd() const { return m_at == m_size; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

} // namespace

size_t eccCipherBlobSize(ULONG cipherLen)
{
    return offsetof(ECCCIPHERBLOB, Cipher) + std::max<size_t>(cipherLen, 1);
}

std::vector<uint8_t> eccCipherBlobFromDer(const std::vector<uint8_t>& der)
{
    DerReader outer(der.data(), der.size());
    const auto [body, bodySize] = outer.next(0x30);
    if (!outer.atEnd()) {
        throw CodecError("data after the SM2 ciphertext");
    }
    DerReader reader(body, bodySize);
    const auto [x, xSize] = reader.next(0x02);
    const auto [y, ySize] = reader.next(0x02);
    const auto [hash, hashSize] = reader.next(0x04);
    const auto [cipher, cipherSize] = reader.next(0x04);
    if (!reader.atEnd() || hashSize != kHashSize || cipherSize == 0) {
        throw CodecError("not an SM2 ciphertext");
    }
    std::vector<uint8_t> bytes(eccCipherBlobSize(static_cast<ULONG>(cipherSize)));
    auto* blob = reinterpret_cast<ECCCIPHERBLOB*>(bytes.data());
    // Coordinates are right-aligned in their 64-byte fields: the first 32 bytes stay zero.
    putRightAligned(blob->XCoordinate + kCoordinate, kCoordinate, x, xSize);
    putRightAligned(blob->YCoordinate + kCoordinate, kCoordinate, y, ySize);
    std::memcpy(blob->HASH, hash, kHashSize);
    blob->CipherLen = static_cast<ULONG>(cipherSize);
    std::memcpy(blob->Cipher, cipher, cipherSize);
    return bytes;
}

const ECCCIPHERBLOB& eccCipherBlobView(const uint8_t* data, size_t size)
{
    if (!data || size < eccCipherBlobSize(1)) {
        throw CodecError("the SM2 cipher blob is too short");
    }
    const auto& blob = *reinterpret_cast<const ECCCIPHERBLOB*>(data);
    if (blob.CipherLen == 0 || eccCipherBlobSize(blob.CipherLen) > size) {
        throw CodecError("the SM2 cipher blob's length does not match its size");
    }
    return blob;
}

std::pair<std::vector<uint8_t>, std::vector<uint8_t>> rsaPublicParts(const RSAPUBLICKEYBLOB& blob)
{
    if (blob.BitLen != 1024 && blob.BitLen != 2048) {
        throw CodecError("only 1024- and 2048-bit RSA keys are supported");
    }
    const size_t bytes = blob.BitLen / 8;
    const size_t pad = sizeof blob.Modulus - bytes;
    for (size_t i = 0; i < pad; ++i) {
        if (blob.Modulus[i] != 0) {
            throw CodecError("the RSA modulus is longer than its bit length");
        }
    }
    std::vector<uint8_t> modulus(blob.Modulus + pad, blob.Modulus + sizeof blob.Modulus);
    std::vector<uint8_t> exponent(blob.PublicExponent, blob.PublicExponent + sizeof blob.PublicExponent);
    return {modulus, exponent};
}

} // namespace softskf::codec
