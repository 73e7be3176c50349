// OpenSSL behind one module: every EVP object is owned here and freed by RAII.
#include "Crypto.h"

#include "ossl/Ossl.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/param_build.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

namespace softskf::crypto {

namespace {

constexpr size_t kGcmNonce = 12;
constexpr size_t kGcmTag = 16;
constexpr size_t kSm4Key = 16;

using ossl::Bignum;
using ossl::CipherCtx;
using ossl::PkeyCtx;

void check(bool ok, const char* what)
{
    if (!ok) {
        throw CryptoError(what);
    }
}

CipherCtx newCipherCtx()
{
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    check(ctx != nullptr, "cannot allocate a cipher context");
    return ctx;
}

template <typename Buffer>
Buffer sm4Ecb(const uint8_t* key, const uint8_t* data, size_t size, bool padding, bool encrypt)
{
    auto ctx = newCipherCtx();
    check(EVP_CipherInit_ex(ctx.get(), EVP_sm4_ecb(), nullptr, key, nullptr, encrypt ? 1 : 0) == 1,
          "SM4 is not available");
    EVP_CIPHER_CTX_set_padding(ctx.get(), padding ? 1 : 0);
    Buffer out(size + kSm4Key);
    int written = 0;
    int final = 0;
    check(EVP_CipherUpdate(ctx.get(), out.data(), &written, data, static_cast<int>(size)) == 1, "SM4 failed");
    if (EVP_CipherFinal_ex(ctx.get(), out.data() + written, &final) != 1) {
        throw CryptoInputError("SM4 data has a bad length or padding");
    }
    out.resize(static_cast<size_t>(written + final));
    return out;
}

Bignum bignumParam(EVP_PKEY* key, const char* name)
{
    BIGNUM* value = nullptr;
    check(EVP_PKEY_get_bn_param(key, name, &value) == 1, "cannot read a key parameter");
    return Bignum(value);
}

std::vector<uint8_t> bignumBytes(const BIGNUM* value)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(BN_num_bytes(value)));
    BN_bn2bin(value, bytes.data());
    return bytes;
}

// The SM2 public point for a private scalar.
std::vector<uint8_t> sm2PointFor(const BIGNUM* scalar)
{
    ossl::EcGroup group(EC_GROUP_new_by_curve_name(NID_sm2));
    check(group != nullptr, "SM2 is not available");
    ossl::EcPoint point(EC_POINT_new(group.get()));
    check(point && EC_POINT_mul(group.get(), point.get(), scalar, nullptr, nullptr, nullptr) == 1,
          "cannot compute an SM2 public key");
    std::vector<uint8_t> bytes(65);
    check(
        EC_POINT_point2oct(group.get(), point.get(), POINT_CONVERSION_UNCOMPRESSED, bytes.data(), bytes.size(), nullptr)
            == bytes.size(),
        "cannot encode an SM2 public key");
    return bytes;
}

} // namespace

void randomBytes(uint8_t* out, size_t size)
{
    if (size > 0 && RAND_bytes(out, static_cast<int>(size)) != 1) {
        throw CryptoError("the random generator failed");
    }
}

SecureBytes randomSecret(size_t size)
{
    SecureBytes bytes(size);
    randomBytes(bytes.data(), size);
    return bytes;
}

std::vector<uint8_t> randomBytes(size_t size)
{
    std::vector<uint8_t> bytes(size);
    randomBytes(bytes.data(), size);
    return bytes;
}

std::vector<uint8_t> sm4EcbEncrypt(const uint8_t* key, const uint8_t* data, size_t size, bool padding)
{
    return sm4Ecb<std::vector<uint8_t>>(key, data, size, padding, true);
}

SecureBytes sm4EcbDecrypt(const uint8_t* key, const uint8_t* data, size_t size, bool padding)
{
    return sm4Ecb<SecureBytes>(key, data, size, padding, false);
}

SecureBytes pbkdf2Sha256(const char* password, size_t passwordSize, const std::vector<uint8_t>& salt,
                         uint32_t iterations, size_t length)
{
    SecureBytes out(length);
    check(PKCS5_PBKDF2_HMAC(password, static_cast<int>(passwordSize), salt.data(), static_cast<int>(salt.size()),
                            static_cast<int>(iterations), EVP_sha256(), static_cast<int>(length), out.data())
              == 1,
          "PBKDF2 failed");
    return out;
}

SecureBytes hmacSha256(const SecureBytes& key, const std::string& label)
{
    SecureBytes out(EVP_MAX_MD_SIZE);
    size_t size = 0;
    check(EVP_Q_mac(nullptr, "HMAC", nullptr, "SHA256", nullptr, key.data(), key.size(),
                    reinterpret_cast<const unsigned char*>(label.data()), label.size(), out.data(), out.size(), &size)
              != nullptr,
          "HMAC failed");
    out.resize(size);
    return out;
}

bool constantTimeEqual(const uint8_t* a, size_t aSize, const uint8_t* b, size_t bSize)
{
    return aSize == bSize && CRYPTO_memcmp(a, b, aSize) == 0;
}

std::vector<uint8_t> seal(const SecureBytes& key, const uint8_t* plain, size_t size, const std::vector<uint8_t>& aad)
{
    check(key.size() == 32, "the sealing key must be 32 bytes");
    std::vector<uint8_t> out(kGcmNonce + size + kGcmTag);
    randomBytes(out.data(), kGcmNonce);
    auto ctx = newCipherCtx();
    int written = 0;
    int final = 0;
    check(EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key.data(), out.data()) == 1
              && EVP_EncryptUpdate(ctx.get(), nullptr, &written, aad.data(), static_cast<int>(aad.size())) == 1
              && EVP_EncryptUpdate(ctx.get(), out.data() + kGcmNonce, &written, plain, static_cast<int>(size)) == 1
              && EVP_EncryptFinal_ex(ctx.get(), out.data() + kGcmNonce + written, &final) == 1
              && EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kGcmTag, out.data() + kGcmNonce + size) == 1,
          "AES-GCM sealing failed");
    return out;
}

SecureBytes open(const SecureBytes& key, const std::vector<uint8_t>& sealed, const std::vector<uint8_t>& aad)
{
    check(key.size() == 32, "the sealing key must be 32 bytes");
    if (sealed.size() < kGcmNonce + kGcmTag) {
        throw CryptoInputError("the sealed data is too short");
    }
    const size_t size = sealed.size() - kGcmNonce - kGcmTag;
    SecureBytes plain(size + 1); // never zero-sized, so data() is valid
    auto ctx = newCipherCtx();
    int written = 0;
    int final = 0;
    std::vector<uint8_t> tag(sealed.end() - kGcmTag, sealed.end());
    check(EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key.data(), sealed.data()) == 1
              && EVP_DecryptUpdate(ctx.get(), nullptr, &written, aad.data(), static_cast<int>(aad.size())) == 1
              && EVP_DecryptUpdate(ctx.get(), plain.data(), &written, sealed.data() + kGcmNonce, static_cast<int>(size))
                  == 1
              && EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kGcmTag, tag.data()) == 1,
          "AES-GCM opening failed");
    if (EVP_DecryptFinal_ex(ctx.get(), plain.data() + written, &final) != 1) {
        throw CryptoInputError("the sealed data does not authenticate");
    }
    plain.resize(size);
    return plain;
}

void PkeyDeleter::operator()(EVP_PKEY* key) const
{
    EVP_PKEY_free(key);
}

KeyPair::KeyPair(EVP_PKEY* key)
    : m_key(key)
{
    check(key != nullptr, "no key");
}

KeyPair KeyPair::generateSm2()
{
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2");
    check(key != nullptr, "SM2 key generation failed");
    return KeyPair(key);
}

KeyPair KeyPair::generateRsa(unsigned bits)
{
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits));
    check(key != nullptr, "RSA key generation failed");
    return KeyPair(key);
}

KeyPair KeyPair::fromPrivateDer(const uint8_t* der, size_t size)
{
    const unsigned char* cursor = der;
    EVP_PKEY* key = d2i_AutoPrivateKey(nullptr, &cursor, static_cast<long>(size));
    if (!key) {
        throw CryptoInputError("not a private key");
    }
    return KeyPair(key);
}

KeyPair KeyPair::sm2FromScalar(const uint8_t* scalar, size_t size)
{
    Bignum priv(BN_bin2bn(scalar, static_cast<int>(size), nullptr));
    check(priv != nullptr, "cannot read an SM2 private key");
    if (BN_is_zero(priv.get())) {
        throw CryptoInputError("the SM2 private key is zero");
    }
    const auto point = sm2PointFor(priv.get());
    ossl::ParamBld builder(OSSL_PARAM_BLD_new());
    check(builder && OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0) == 1
              && OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_PRIV_KEY, priv.get()) == 1
              && OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size())
                  == 1,
          "cannot build SM2 key parameters");
    ossl::Params params(OSSL_PARAM_BLD_to_param(builder.get()));
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr));
    EVP_PKEY* key = nullptr;
    check(params && ctx && EVP_PKEY_fromdata_init(ctx.get()) == 1
              && EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_KEYPAIR, params.get()) == 1,
          "cannot build an SM2 key");
    return KeyPair(key);
}

bool KeyPair::isSm2() const
{
    return EVP_PKEY_is_a(m_key.get(), "SM2") == 1;
}

bool KeyPair::isRsa() const
{
    return EVP_PKEY_is_a(m_key.get(), "RSA") == 1;
}

unsigned KeyPair::bits() const
{
    return static_cast<unsigned>(EVP_PKEY_get_bits(m_key.get()));
}

SecureBytes KeyPair::privateDer() const
{
    unsigned char* der = nullptr;
    const int size = i2d_PrivateKey(m_key.get(), &der);
    check(size > 0, "cannot encode a private key");
    SecureBytes out(der, der + size);
    OPENSSL_clear_free(der, static_cast<size_t>(size));
    return out;
}

std::vector<uint8_t> KeyPair::sm2PublicPoint() const
{
    std::vector<uint8_t> point(65);
    size_t size = 0;
    check(EVP_PKEY_get_octet_string_param(m_key.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size(), &size) == 1
              && size == point.size() && point[0] == 0x04,
          "cannot read the SM2 public key");
    return point;
}

std::vector<uint8_t> KeyPair::rsaModulus() const
{
    return bignumBytes(bignumParam(m_key.get(), OSSL_PKEY_PARAM_RSA_N).get());
}

std::vector<uint8_t> KeyPair::rsaPublicExponent() const
{
    return bignumBytes(bignumParam(m_key.get(), OSSL_PKEY_PARAM_RSA_E).get());
}

SecureBytes KeyPair::sm2Decrypt(const std::vector<uint8_t>& der) const
{
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, m_key.get(), nullptr));
    check(ctx && EVP_PKEY_decrypt_init(ctx.get()) == 1, "cannot start SM2 decryption");
    size_t size = 0;
    if (EVP_PKEY_decrypt(ctx.get(), nullptr, &size, der.data(), der.size()) != 1) {
        throw CryptoInputError("the SM2 ciphertext is malformed");
    }
    SecureBytes plain(size + 1);
    if (EVP_PKEY_decrypt(ctx.get(), plain.data(), &size, der.data(), der.size()) != 1) {
        throw CryptoInputError("the SM2 ciphertext does not decrypt");
    }
    plain.resize(size);
    return plain;
}

} // namespace softskf::crypto
