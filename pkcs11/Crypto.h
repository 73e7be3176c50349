// The module's own cryptography, all through OpenSSL: hashes, the SM2 Z value, DigestInfo
// prefixes and reading X.509 certificates. Signing always happens on the token.
#pragma once

#include "ossl/Ossl.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace skfp11 {

using Bytes = std::vector<uint8_t>;

enum class HashKind { Sha1, Sha256, Sm3 };

// A running hash; throws std::runtime_error when OpenSSL fails.
class Hasher
{
public:
    explicit Hasher(HashKind kind);

    void update(const uint8_t* data, size_t size);
    Bytes finish();
    static size_t sizeOf(HashKind kind);

private:
    ossl::MdCtx m_context;
};

Bytes hash(HashKind kind, const uint8_t* data, size_t size);

// The DER prefix that turns a digest into a PKCS#1 DigestInfo.
Bytes digestInfoPrefix(HashKind kind);

// SM3(ENTLA || ID || a || b || xG || yG || xA || yA) for an SM2 public key given as two
// 32-byte big-endian coordinates.
Bytes sm2Z(const Bytes& x, const Bytes& y, const Bytes& id);

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

// Verifies a PKCS#1 v1.5 signature over a DigestInfo (or any data) with an RSA public key.
bool rsaVerifyPkcs1(const Bytes& modulus, const Bytes& exponent, const Bytes& data, const Bytes& signature);

// Verifies an SM2 signature r||s over a 32-byte digest.
bool sm2VerifyDigest(const Bytes& x, const Bytes& y, const Bytes& digest, const Bytes& signature);

// Strips leading zero bytes of a big-endian number (keeping one byte for zero).
Bytes stripLeadingZeros(const uint8_t* data, size_t size);

} // namespace skfp11
