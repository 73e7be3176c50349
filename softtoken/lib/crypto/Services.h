// The cryptographic services of the token: SM2 and RSA operations on stored or external
// keys, SM4 ciphers and CBC-MAC, SM3 / SHA digests with the SM2 Z value, and the SM2 key
// exchange. Keys come in and results go out as bytes; OpenSSL objects stay inside.
// Wrong input throws CryptoInputError, a broken library CryptoError.
#pragma once

#include "Crypto.h"
#include "skf/sm2defaults.h"

#include <cstdint>
#include <memory>
#include <vector>

typedef struct evp_md_ctx_st EVP_MD_CTX;
typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;

namespace softskf::crypto {

constexpr size_t kSm2Coordinate = 32;
constexpr size_t kSm4Block = 16;
// Default SM2 distinguishing identifier.
inline constexpr const char* kSm2DefaultId = sm2defaults::kId;

// ---- Digests (Digest.cpp) ----
enum class DigestAlgorithm { Sm3, Sha1, Sha256 };

class Digest
{
public:
    explicit Digest(DigestAlgorithm algorithm);
    Digest(const Digest& other);
    Digest& operator=(const Digest&) = delete;
    ~Digest();
    void update(const uint8_t* data, size_t size);
    std::vector<uint8_t> final();
    size_t size() const;

private:
    EVP_MD_CTX* m_ctx;
};

std::vector<uint8_t> sm3(const uint8_t* data, size_t size);
// Z = SM3(ENTL || ID || a || b || xG || yG || xA || yA) for the point 04 || X || Y.
std::vector<uint8_t> sm2Z(const std::vector<uint8_t>& point, const uint8_t* id, size_t idSize);

// ---- SM4 (Symmetric.cpp) ----
// Cfb feeds back 128 bits, Cfb8 one byte.
enum class Sm4Mode { Ecb, Cbc, Cfb, Cfb8, Ofb };

// One encryption or decryption in progress; copyable so a caller can try a step on a
// copy and keep it only when the result fits the caller's buffer.
class Sm4Cipher
{
public:
    Sm4Cipher(Sm4Mode mode, const uint8_t* key, const uint8_t* iv, size_t ivSize, bool padding, bool encrypt);
    Sm4Cipher(const Sm4Cipher& other);
    Sm4Cipher& operator=(const Sm4Cipher&) = delete;
    ~Sm4Cipher();
    std::vector<uint8_t> update(const uint8_t* data, size_t size);
    // Throws CryptoInputError on a partial block without padding or a bad padding.
    std::vector<uint8_t> final();

private:
    std::vector<uint8_t> cfb8(const uint8_t* data, size_t size);

    EVP_CIPHER_CTX* m_ctx;
    // CFB-8 runs on an SM4-ECB encryptor: the shift register and the direction.
    bool m_cfb8 = false;
    bool m_encrypt = true;
    uint8_t m_register[kSm4Block] = {};
};

// SM4 CBC-MAC: the last block of the CBC encryption; pieces may be any size.
class Sm4Mac
{
public:
    Sm4Mac(const uint8_t* key, const uint8_t* iv, size_t ivSize, bool padding);
    void update(const uint8_t* data, size_t size);
    // Throws CryptoInputError when the data is not whole blocks and there is no padding.
    std::vector<uint8_t> final() const;

private:
    SecureBytes m_key;
    uint8_t m_chain[kSm4Block];
    uint8_t m_pending[kSm4Block];
    size_t m_pendingSize = 0;
    bool m_padding;
};

// ---- Public keys (Sm2.cpp, Rsa.cpp) ----
class PublicKey
{
public:
    static PublicKey sm2(const std::vector<uint8_t>& point);
    static PublicKey rsa(const std::vector<uint8_t>& modulus, const std::vector<uint8_t>& exponent);
    PublicKey(PublicKey&&) noexcept;
    ~PublicKey();
    EVP_PKEY* raw() const { return m_key.get(); }

private:
    explicit PublicKey(EVP_PKEY* key);
    std::unique_ptr<EVP_PKEY, PkeyDeleter> m_key;
};

// The same key object for the same bytes, built once (KeyCache.cpp); thread-safe.
std::shared_ptr<const PublicKey> cachedSm2PublicKey(const std::vector<uint8_t>& point);
std::shared_ptr<const PublicKey> cachedRsaPublicKey(const std::vector<uint8_t>& modulus,
                                                    const std::vector<uint8_t>& exponent);

// ---- SM2 (Sm2.cpp) ----
// r and s, 32 bytes each, over a 32-byte digest e (the Z value already hashed in).
struct Sm2Signature
{
    std::vector<uint8_t> r;
    std::vector<uint8_t> s;
};
Sm2Signature sm2SignDigest(const KeyPair& key, const uint8_t* digest, size_t size);
bool sm2VerifyDigest(const PublicKey& key, const uint8_t* digest, size_t size, const Sm2Signature& signature);
// DER SM2Ciphertext (C1 as x, y INTEGERs; C3; C2).
std::vector<uint8_t> sm2Encrypt(const PublicKey& key, const uint8_t* plain, size_t size);
// The 32-byte private scalar of an SM2 key.
SecureBytes sm2Scalar(const KeyPair& key);

// One side of the GM/T SM2 key exchange. The initiator (sponsor) and the responder both
// hold their static key and a fresh ephemeral one; the shared key is
// KDF(x || y || Z_initiator || Z_responder).
struct Sm2ExchangeParty
{
    SecureBytes staticScalar; // d
    std::vector<uint8_t> staticPoint; // P, 04 || X || Y
    SecureBytes ephemeralScalar; // r
    std::vector<uint8_t> ephemeralPoint;
    std::vector<uint8_t> id;
};
// A fresh ephemeral pair for a party.
void sm2NewEphemeral(Sm2ExchangeParty& party);
SecureBytes sm2ExchangeKey(const Sm2ExchangeParty& self, bool initiator, const std::vector<uint8_t>& peerStatic,
                           const std::vector<uint8_t>& peerEphemeral, const std::vector<uint8_t>& peerId,
                           size_t keySize);
// KDF of GM/T SM2 with SM3.
SecureBytes sm2Kdf(const uint8_t* z, size_t size, size_t keySize);

// ---- RSA (Rsa.cpp) ----
// PKCS#1 v1.5 type 1 over the data as given (no DigestInfo added).
std::vector<uint8_t> rsaSignRaw(const KeyPair& key, const uint8_t* data, size_t size);
bool rsaVerifyRaw(const PublicKey& key, const uint8_t* data, size_t size, const uint8_t* signature,
                  size_t signatureSize);
std::vector<uint8_t> rsaPkcs1Encrypt(const PublicKey& key, const uint8_t* data, size_t size);
// Raw modular exponentiation, input as long as the modulus and below it.
std::vector<uint8_t> rsaPublicRaw(const PublicKey& key, const uint8_t* data, size_t size);
SecureBytes rsaPrivateRaw(const KeyPair& key, const uint8_t* data, size_t size);
// Decrypts a PKCS#1 v1.5 (type 2) wrapped key of exactly keySize bytes. The padding is
// checked in constant time over every byte, and every failure throws the same
// CryptoInputError, so neither the result nor the time tells how the padding was wrong.
SecureBytes rsaPkcs1DecryptKey(const KeyPair& key, const uint8_t* data, size_t size, size_t keySize);
size_t rsaModulusSize(EVP_PKEY* key);

struct RsaPrivateParts
{
    std::vector<uint8_t> modulus, publicExponent;
    SecureBytes privateExponent, prime1, prime2, exponent1, exponent2, coefficient;
};
RsaPrivateParts rsaPrivateParts(const KeyPair& key);
KeyPair rsaFromParts(const RsaPrivateParts& parts);

} // namespace softskf::crypto
