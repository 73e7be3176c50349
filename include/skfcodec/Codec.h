// The one codec every SKF client shares (the soft token, skftool, the PKCS#11 module, the
// OpenSSL provider and the manager): the standard's public-key blobs to OpenSSL keys and
// back, the SM2 Z value, and SM2 signatures between the driver's r || s blob and DER.
// Big integers sit big-endian and right-aligned in the blobs' fields: an SM2 coordinate in
// the last 32 bytes of its 64, an RSA modulus in the last BitLen/8 bytes of its 256.
#pragma once

#include "ossl/Ossl.h"
#include "skf/skfapi.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace skfcodec {

using Bytes = std::vector<uint8_t>;

// A blob, point, signature or key that makes no valid value; the message says why.
class CodecError : public std::invalid_argument
{
public:
    using std::invalid_argument::invalid_argument;
};

inline constexpr size_t kSm2CoordinateSize = 32;
inline constexpr size_t kSm2PointSize = 1 + 2 * kSm2CoordinateSize; // 04 || X || Y

// Writes value right-aligned into a field of fieldSize bytes, zeros before it. Leading zero
// bytes of value are dropped first; a value still too long throws.
void putRightAligned(uint8_t* field, size_t fieldSize, const uint8_t* value, size_t size);

// SM2: the uncompressed point 04 || X(32) || Y(32) to its blob and back. A blob that states
// another size than 256 bits or has bytes set before a 32-byte coordinate throws.
ECCPUBLICKEYBLOB eccPublicKeyBlob(const Bytes& point);
Bytes eccPointFromBlob(const ECCPUBLICKEYBLOB& blob);

// RSA: modulus and exponent (big-endian, any leading zeros) to a blob of bits, and back
// (without leading zeros). A blob whose BitLen is not 1024..2048 in steps of 8 throws.
RSAPUBLICKEYBLOB rsaPublicKeyBlob(uint32_t bits, const Bytes& modulus, const Bytes& exponent);
Bytes rsaModulusFromBlob(const RSAPUBLICKEYBLOB& blob);
Bytes rsaExponentFromBlob(const RSAPUBLICKEYBLOB& blob);

// Public keys as OpenSSL keys (type "SM2" or "RSA"); throw CodecError for values OpenSSL
// rejects (a point off the curve, an even modulus...).
ossl::Pkey sm2PublicKey(const Bytes& point);
ossl::Pkey rsaPublicKey(const Bytes& modulus, const Bytes& exponent);
ossl::Pkey publicKeyFromBlob(const ECCPUBLICKEYBLOB& blob);
ossl::Pkey publicKeyFromBlob(const RSAPUBLICKEYBLOB& blob);

// A blob as a driver returned it from SKF_ExportPublicKey: its size tells SM2 (132 bytes)
// from RSA (268 bytes); any other size throws.
ossl::Pkey publicKeyFromBlob(const uint8_t* blob, size_t size);
inline ossl::Pkey publicKeyFromBlob(const Bytes& blob)
{
    return publicKeyFromBlob(blob.data(), blob.size());
}

// The blob bytes of an SM2 or RSA public key (the public half of any key pair).
Bytes blobFromPublicKey(EVP_PKEY* key);

bool isSm2Key(EVP_PKEY* key);

// The bit length a blob of either kind states, 0 for a size that is neither.
unsigned blobBitLength(const uint8_t* blob, size_t size);

// The uncompressed point of an SM2 (or other EC) public key.
Bytes sm2PointOf(EVP_PKEY* key);

// SM3(ENTL || ID || a || b || xG || yG || xA || yA) for an uncompressed SM2 point; the ID is
// at most 8191 bytes (ENTL is its bit length in 16 bits).
Bytes sm2Z(const Bytes& point, const uint8_t* id, size_t idSize);
inline Bytes sm2Z(const Bytes& point, const std::string& id)
{
    return sm2Z(point, reinterpret_cast<const uint8_t*>(id.data()), id.size());
}

// SM2 signatures: the driver's blob (r and s right-aligned in 64-byte fields) or plain
// r || s (32 bytes each) to the DER SEQUENCE { r INTEGER, s INTEGER } and back. DER that is
// not exactly one such sequence with values of at most 256 bits throws.
Bytes sm2SignatureDer(const ECCSIGNATUREBLOB& blob);
ECCSIGNATUREBLOB sm2SignatureBlob(const uint8_t* der, size_t size);
Bytes sm2SignatureDerFromRs(const Bytes& rs);
Bytes sm2SignatureRs(const uint8_t* der, size_t size);

} // namespace skfcodec
