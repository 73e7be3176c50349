// The one module that owns OpenSSL objects: random bytes, SM4, PBKDF2 and HMAC, AES-GCM
// sealing, and key pairs (SM2 and RSA). Everything else sees bytes only.
// Failures throw CryptoError; a bad authentication tag or a bad padding throws
// CryptoInputError so callers can tell wrong data from a broken library.
#pragma once

#include "Secure.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

typedef struct evp_pkey_st EVP_PKEY;

namespace softskf::crypto {

class CryptoError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class CryptoInputError : public CryptoError
{
public:
    using CryptoError::CryptoError;
};

void randomBytes(uint8_t* out, size_t size);
SecureBytes randomSecret(size_t size);
std::vector<uint8_t> randomBytes(size_t size);

// SM4 in ECB mode with a 16-byte key; with padding, PKCS#5 is added or checked.
std::vector<uint8_t> sm4EcbEncrypt(const uint8_t* key, const uint8_t* data, size_t size, bool padding);
SecureBytes sm4EcbDecrypt(const uint8_t* key, const uint8_t* data, size_t size, bool padding);

SecureBytes pbkdf2Sha256(const char* password, size_t passwordSize, const std::vector<uint8_t>& salt,
                         uint32_t iterations, size_t length);
SecureBytes hmacSha256(const SecureBytes& key, const std::string& label);
bool constantTimeEqual(const uint8_t* a, size_t aSize, const uint8_t* b, size_t bSize);

// AES-256-GCM: nonce (12) || ciphertext || tag (16), the additional data bound in.
std::vector<uint8_t> seal(const SecureBytes& key, const uint8_t* plain, size_t size, const std::vector<uint8_t>& aad);
SecureBytes open(const SecureBytes& key, const std::vector<uint8_t>& sealed, const std::vector<uint8_t>& aad);

struct PkeyDeleter
{
    void operator()(EVP_PKEY* key) const;
};

// A private key (and so its public half), SM2 or RSA.
class KeyPair
{
public:
    static KeyPair generateSm2();
    static KeyPair generateRsa(unsigned bits);
    // From a PKCS#8 or PKCS#1 / SEC1 DER private key.
    static KeyPair fromPrivateDer(const uint8_t* der, size_t size);
    // An SM2 key from its 32-byte private scalar.
    static KeyPair sm2FromScalar(const uint8_t* scalar, size_t size);

    bool isSm2() const;
    bool isRsa() const;
    unsigned bits() const;

    SecureBytes privateDer() const; // PKCS#8
    // SM2: the uncompressed point 04 || X || Y, 65 bytes.
    std::vector<uint8_t> sm2PublicPoint() const;
    // RSA: modulus and public exponent, big-endian without leading zeros.
    std::vector<uint8_t> rsaModulus() const;
    std::vector<uint8_t> rsaPublicExponent() const;

    // GM/T SM2 decryption of a DER SM2Ciphertext (C1, C3, C2), SM3 as the hash.
    SecureBytes sm2Decrypt(const std::vector<uint8_t>& der) const;

    EVP_PKEY* raw() const { return m_key.get(); }

private:
    explicit KeyPair(EVP_PKEY* key);
    std::unique_ptr<EVP_PKEY, PkeyDeleter> m_key;
};

} // namespace softskf::crypto
