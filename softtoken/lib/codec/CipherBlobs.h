// The cryptographic service's blob conversions: ECCCIPHERBLOB to and from OpenSSL's DER
// SM2Ciphertext, the signature blob, and the RSA key blobs taken apart.
#pragma once

#include "Blobs.h"

#include <utility>

namespace softskf::codec {

// The bytes of an ECCCIPHERBLOB carrying the whole C2 (sizeof - 1 + CipherLen bytes)
// from DER SEQUENCE { INTEGER x, INTEGER y, OCTET STRING C3 (32), OCTET STRING C2 }.
std::vector<uint8_t> eccCipherBlobFromDer(const std::vector<uint8_t>& der);

// A caller's buffer read as an ECCCIPHERBLOB: CipherLen must be at least 1 and fit.
const ECCCIPHERBLOB& eccCipherBlobView(const uint8_t* data, size_t size);
size_t eccCipherBlobSize(ULONG cipherLen);

// Modulus and public exponent of an RSA public key blob (BitLen 1024 or 2048).
std::pair<std::vector<uint8_t>, std::vector<uint8_t>> rsaPublicParts(const RSAPUBLICKEYBLOB& blob);

} // namespace softskf::codec
