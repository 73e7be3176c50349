// The module's own cryptography, all through OpenSSL: hashes, checking signatures and reading
// X.509 certificates. Signing always happens on the token; SKF blobs, the SM2 Z value and
// signature forms are the shared codec's (skfcodec/Codec.h).
#pragma once

#include "ossl/Ossl.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace skfp11 {

using Bytes = std::vector<uint8_t>;

// A running hash, by OpenSSL's name of it ("SHA1", "SHA2-256", "SM3"); throws
// std::runtime_error when OpenSSL fails or knows no such hash.
class Hasher
{
public:
    explicit Hasher(const char* digest);

    void update(const uint8_t* data, size_t size);
    Bytes finish();
    static size_t sizeOf(const char* digest);

private:
    ossl::MdCtx m_context;
};

Bytes hash(const char* digest, const uint8_t* data, size_t size);

// What the module needs of an X.509 certificate.
struct CertificateFacts
{
    Bytes subject; // DER Name
    Bytes issuer; // DER Name
    Bytes serial; // DER INTEGER
    std::string commonName;
    bool isRsa = false;
    bool isEc = false;
    Bytes modulus; // RSA, big-endian, no leading zeros
    Bytes exponent; // RSA
    Bytes ecX, ecY; // EC point coordinates, 32 bytes each for SM2
};

// Reads a DER certificate; returns false when it is not one (or has a key of another kind).
bool readCertificate(const Bytes& der, CertificateFacts& facts);

// Verifies a signature over data (a DigestInfo or any bytes for RSA with PKCS#1 v1.5 padding,
// a 32-byte digest for SM2, the signature as DER) with a public key.
bool verifySignature(EVP_PKEY* key, const Bytes& data, const Bytes& signature);

// Strips leading zero bytes of a big-endian number (keeping one byte for zero).
Bytes stripLeadingZeros(const uint8_t* data, size_t size);

} // namespace skfp11
