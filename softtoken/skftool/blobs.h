// Public key blobs and SM2 signatures of the SKF standard and OpenSSL's forms, both ways,
// through the shared codec (include/skfcodec), with skftool's errors.
#pragma once

#include "clientcrypto.h"

#include "skf/skfapi.h"

#include <cstdint>
#include <vector>

namespace skftool {

// Reads a blob as the driver returned it; the size tells SM2 from RSA. Throws ToolError
// for a blob of another size or with values that make no key.
ossl::Pkey publicKeyFromBlob(const std::vector<uint8_t>& blob);

// The blob of a key pair's public half, as an SM2 or RSA key of skftool's own making.
std::vector<uint8_t> blobFromPublicKey(EVP_PKEY* key);

bool isSm2Key(EVP_PKEY* key);

// The bit length a blob states: 256 for SM2, 1024 or 2048 for RSA.
unsigned blobBitLength(const std::vector<uint8_t>& blob);

// A big number into a big-endian field of width bytes, right-aligned.
void writeRightAligned(const BIGNUM* number, uint8_t* field, size_t width);

// The SM2 signature blob as DER SEQUENCE { r, s }, the form OpenSSL and X.509 use, and back.
std::vector<uint8_t> sm2SignatureDer(const ECCSIGNATUREBLOB& blob);
ECCSIGNATUREBLOB sm2SignatureBlob(const std::vector<uint8_t>& der);

} // namespace skftool
