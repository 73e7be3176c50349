// Blob layouts and the SM2 ciphertext's DER form.
#include "Blobs.h"

#include <cstring>

namespace softskf::codec {

namespace {

constexpr size_t kSm2CoordinateSize = 32;
constexpr size_t kSm2PointSize = 1 + 2 * kSm2CoordinateSize;

void appendLength(std::vector<uint8_t>& out, size_t length)
{
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
        return;
    }
    std::vector<uint8_t> bytes;
    for (size_t rest = length; rest > 0; rest >>= 8) {
        bytes.insert(bytes.begin(), static_cast<uint8_t>(rest & 0xff));
    }
    out.push_back(static_cast<uint8_t>(0x80 | bytes.size()));
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void appendElement(std::vector<uint8_t>& out, uint8_t tag, const std::vector<uint8_t>& content)
{
    out.push_back(tag);
    appendLength(out, content.size());
    out.insert(out.end(), content.begin(), content.end());
}

// A positive DER INTEGER from big-endian bytes: minimal, with a 0x00 before a high bit.
std::vector<uint8_t> derInteger(const uint8_t* value, size_t size)
{
    size_t start = 0;
    while (start < size && value[start] == 0) {
        ++start;
    }
    std::vector<uint8_t> content(value + start, value + size);
    if (content.empty() || (content[0] & 0x80)) {
        content.insert(content.begin(), 0x00);
    }
    return content;
}

void requireZeros(const uint8_t* data, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != 0) {
            throw CodecError("a coordinate does not fit 256 bits");
        }
    }
}

} // namespace

void putRightAligned(uint8_t* field, size_t fieldSize, const uint8_t* value, size_t size)
{
    while (size > 0 && *value == 0) {
        ++value;
        --size;
    }
    if (size > fieldSize) {
        throw CodecError("a value does not fit its field");
    }
    std::memset(field, 0, fieldSize - size);
    if (size > 0) {
        std::memcpy(field + fieldSize - size, value, size);
    }
}

ECCPUBLICKEYBLOB eccPublicKeyBlob(const std::vector<uint8_t>& point)
{
    if (point.size() != kSm2PointSize || point[0] != 0x04) {
        throw CodecError("not an uncompressed SM2 point");
    }
    ECCPUBLICKEYBLOB blob{};
    blob.BitLen = 256;
    putRightAligned(blob.XCoordinate, sizeof blob.XCoordinate, point.data() + 1, kSm2CoordinateSize);
    putRightAligned(blob.YCoordinate, sizeof blob.YCoordinate, point.data() + 1 + kSm2CoordinateSize,
                    kSm2CoordinateSize);
    return blob;
}

std::vector<uint8_t> eccPointFromBlob(const ECCPUBLICKEYBLOB& blob)
{
    if (blob.BitLen != 256) {
        throw CodecError("only 256-bit SM2 keys are supported");
    }
    const size_t pad = sizeof blob.XCoordinate - kSm2CoordinateSize;
    requireZeros(blob.XCoordinate, pad);
    requireZeros(blob.YCoordinate, pad);
    std::vector<uint8_t> point{0x04};
    point.insert(point.end(), blob.XCoordinate + pad, blob.XCoordinate + sizeof blob.XCoordinate);
    point.insert(point.end(), blob.YCoordinate + pad, blob.YCoordinate + sizeof blob.YCoordinate);
    return point;
}

RSAPUBLICKEYBLOB rsaPublicKeyBlob(uint32_t bits, const std::vector<uint8_t>& modulus,
                                  const std::vector<uint8_t>& exponent)
{
    RSAPUBLICKEYBLOB blob{};
    blob.AlgID = SGD_RSA;
    blob.BitLen = bits;
    putRightAligned(blob.Modulus, sizeof blob.Modulus, modulus.data(), modulus.size());
    putRightAligned(blob.PublicExponent, sizeof blob.PublicExponent, exponent.data(), exponent.size());
    return blob;
}

std::vector<uint8_t> sm2CiphertextDer(const ECCCIPHERBLOB& blob)
{
    std::vector<uint8_t> content;
    appendElement(content, 0x02, derInteger(blob.XCoordinate, sizeof blob.XCoordinate));
    appendElement(content, 0x02, derInteger(blob.YCoordinate, sizeof blob.YCoordinate));
    appendElement(content, 0x04, std::vector<uint8_t>(blob.HASH, blob.HASH + sizeof blob.HASH));
    appendElement(content, 0x04, std::vector<uint8_t>(blob.Cipher, blob.Cipher + blob.CipherLen));
    std::vector<uint8_t> der;
    appendElement(der, 0x30, content);
    return der;
}

std::string multiString(const std::vector<std::string>& names)
{
    std::string list;
    for (const auto& name : names) {
        list += name;
        list.push_back('\0');
    }
    if (!names.empty()) {
        list.push_back('\0');
    }
    return list;
}

} // namespace softskf::codec
