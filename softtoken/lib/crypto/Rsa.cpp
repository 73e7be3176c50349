// RSA: PKCS#1 v1.5 signatures over the caller's bytes, PKCS#1 v1.5 encryption of session
// keys, raw operations with external keys, and private keys taken apart and rebuilt from
// their CRT parts (the standard's RSAPRIVATEKEYBLOB).
#include "ossl/Ossl.h"
#include "Services.h"

#include <openssl/core_names.h>
#include <openssl/param_build.h>
#include <openssl/params.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

namespace softskf::crypto {

namespace {

void check(bool ok, const char* what)
{
    if (!ok) {
        throw CryptoError(what);
    }
}

ossl::PkeyCtx contextFor(EVP_PKEY* key)
{
    ossl::PkeyCtx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    check(ctx != nullptr, "cannot allocate a key context");
    return ctx;
}

SecureBytes bignumParam(EVP_PKEY* key, const char* name)
{
    BIGNUM* value = nullptr;
    check(EVP_PKEY_get_bn_param(key, name, &value) == 1, "cannot read an RSA key part");
    ossl::Bignum owner(value);
    SecureBytes out(static_cast<size_t>(BN_num_bytes(value)));
    BN_bn2bin(value, out.data());
    return out;
}

template <typename Bytes> ossl::Bignum toBignum(const Bytes& bytes)
{
    ossl::Bignum value(BN_secure_new());
    check(value && BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), value.get()) != nullptr,
          "cannot read an RSA key part");
    return value;
}

} // namespace

size_t rsaModulusSize(EVP_PKEY* key)
{
    return static_cast<size_t>(EVP_PKEY_get_size(key));
}

std::vector<uint8_t> rsaSignRaw(const KeyPair& key, const uint8_t* data, size_t size)
{
    if (!key.isRsa()) {
        throw CryptoInputError("not an RSA key");
    }
    if (size == 0 || size + 11 > rsaModulusSize(key.raw())) {
        throw CryptoInputError("the data is too long for the RSA key");
    }
    auto ctx = contextFor(key.raw());
    check(EVP_PKEY_sign_init(ctx.get()) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1,
          "cannot start an RSA signature");
    std::vector<uint8_t> out(rsaModulusSize(key.raw()));
    size_t outSize = out.size();
    check(EVP_PKEY_sign(ctx.get(), out.data(), &outSize, data, size) == 1, "RSA signing failed");
    out.resize(outSize);
    return out;
}

bool rsaVerifyRaw(const PublicKey& key, const uint8_t* data, size_t size, const uint8_t* signature,
                  size_t signatureSize)
{
    if (signatureSize != rsaModulusSize(key.raw())) {
        return false;
    }
    auto ctx = contextFor(key.raw());
    check(EVP_PKEY_verify_recover_init(ctx.get()) == 1
              && EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1,
          "cannot start an RSA verification");
    std::vector<uint8_t> recovered(signatureSize);
    size_t recoveredSize = recovered.size();
    if (EVP_PKEY_verify_recover(ctx.get(), recovered.data(), &recoveredSize, signature, signatureSize) != 1) {
        return false;
    }
    return constantTimeEqual(recovered.data(), recoveredSize, data, size);
}

std::vector<uint8_t> rsaPkcs1Encrypt(const PublicKey& key, const uint8_t* data, size_t size)
{
    if (size + 11 > rsaModulusSize(key.raw())) {
        throw CryptoInputError("the data is too long for the RSA key");
    }
    auto ctx = contextFor(key.raw());
    check(EVP_PKEY_encrypt_init(ctx.get()) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1,
          "cannot start RSA encryption");
    std::vector<uint8_t> out(rsaModulusSize(key.raw()));
    size_t outSize = out.size();
    check(EVP_PKEY_encrypt(ctx.get(), out.data(), &outSize, data, size) == 1, "RSA encryption failed");
    out.resize(outSize);
    return out;
}

std::vector<uint8_t> rsaPublicRaw(const PublicKey& key, const uint8_t* data, size_t size)
{
    if (size != rsaModulusSize(key.raw())) {
        throw CryptoInputError("raw RSA input must be as long as the modulus");
    }
    auto ctx = contextFor(key.raw());
    check(EVP_PKEY_encrypt_init(ctx.get()) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) == 1,
          "cannot start raw RSA");
    std::vector<uint8_t> out(size);
    size_t outSize = out.size();
    if (EVP_PKEY_encrypt(ctx.get(), out.data(), &outSize, data, size) != 1) {
        throw CryptoInputError("the input is not below the modulus");
    }
    out.resize(outSize);
    return out;
}

SecureBytes rsaPrivateRaw(const KeyPair& key, const uint8_t* data, size_t size)
{
    if (!key.isRsa() || size != rsaModulusSize(key.raw())) {
        throw CryptoInputError("raw RSA input must be as long as the modulus");
    }
    auto ctx = contextFor(key.raw());
    check(EVP_PKEY_decrypt_init(ctx.get()) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) == 1,
          "cannot start raw RSA");
    SecureBytes out(size);
    size_t outSize = out.size();
    if (EVP_PKEY_decrypt(ctx.get(), out.data(), &outSize, data, size) != 1) {
        throw CryptoInputError("the input is not below the modulus");
    }
    out.resize(outSize);
    return out;
}

SecureBytes rsaPkcs1DecryptKey(const KeyPair& key, const uint8_t* data, size_t size, size_t keySize)
{
    const SecureBytes block = rsaPrivateRaw(key, data, size);
    const size_t k = block.size();
    // 00 02, at least 8 nonzero padding bytes, 00, the key: the separator's place is
    // fixed by the key's size, so no search depends on the secret bytes.
    if (keySize == 0 || k < keySize + 11) {
        throw CryptoInputError("the RSA ciphertext does not decrypt");
    }
    const size_t separator = k - keySize - 1;
    unsigned bad = block[0] | (block[1] ^ 0x02u) | block[separator];
    for (size_t i = 2; i < separator; ++i) {
        bad |= ((static_cast<unsigned>(block[i]) - 1u) >> 8) & 1u; // 1 for a zero byte
    }
    SecureBytes out(block.end() - static_cast<std::ptrdiff_t>(keySize), block.end());
    if (bad != 0) {
        throw CryptoInputError("the RSA ciphertext does not decrypt");
    }
    return out;
}

RsaPrivateParts rsaPrivateParts(const KeyPair& key)
{
    if (!key.isRsa()) {
        throw CryptoInputError("not an RSA key");
    }
    RsaPrivateParts parts;
    parts.modulus = key.rsaModulus();
    parts.publicExponent = key.rsaPublicExponent();
    parts.privateExponent = bignumParam(key.raw(), OSSL_PKEY_PARAM_RSA_D);
    parts.prime1 = bignumParam(key.raw(), OSSL_PKEY_PARAM_RSA_FACTOR1);
    parts.prime2 = bignumParam(key.raw(), OSSL_PKEY_PARAM_RSA_FACTOR2);
    parts.exponent1 = bignumParam(key.raw(), OSSL_PKEY_PARAM_RSA_EXPONENT1);
    parts.exponent2 = bignumParam(key.raw(), OSSL_PKEY_PARAM_RSA_EXPONENT2);
    parts.coefficient = bignumParam(key.raw(), OSSL_PKEY_PARAM_RSA_COEFFICIENT1);
    return parts;
}

KeyPair rsaFromParts(const RsaPrivateParts& parts)
{
    ossl::ParamBld builder(OSSL_PARAM_BLD_new());
    check(builder != nullptr, "cannot build RSA key parameters");
    const std::pair<const char*, ossl::Bignum> values[] = {
        {OSSL_PKEY_PARAM_RSA_N, toBignum(parts.modulus)},
        {OSSL_PKEY_PARAM_RSA_E, toBignum(parts.publicExponent)},
        {OSSL_PKEY_PARAM_RSA_D, toBignum(parts.privateExponent)},
        {OSSL_PKEY_PARAM_RSA_FACTOR1, toBignum(parts.prime1)},
        {OSSL_PKEY_PARAM_RSA_FACTOR2, toBignum(parts.prime2)},
        {OSSL_PKEY_PARAM_RSA_EXPONENT1, toBignum(parts.exponent1)},
        {OSSL_PKEY_PARAM_RSA_EXPONENT2, toBignum(parts.exponent2)},
        {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, toBignum(parts.coefficient)},
    };
    for (const auto& [name, value] : values) {
        check(OSSL_PARAM_BLD_push_BN(builder.get(), name, value.get()) == 1, "cannot build RSA key parameters");
    }
    ossl::Params params(OSSL_PARAM_BLD_to_param(builder.get()));
    ossl::PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* raw = nullptr;
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1
        || EVP_PKEY_fromdata(ctx.get(), &raw, EVP_PKEY_KEYPAIR, params.get()) != 1) {
        throw CryptoInputError("not an RSA private key");
    }
    ossl::Pkey key(raw);
    // Through DER, so the pair is a KeyPair like every stored key.
    unsigned char* der = nullptr;
    const int size = i2d_PrivateKey(key.get(), &der);
    check(size > 0, "cannot encode an RSA key");
    SecureBytes bytes(der, der + size);
    OPENSSL_clear_free(der, static_cast<size_t>(size));
    return KeyPair::fromPrivateDer(bytes.data(), bytes.size());
}

} // namespace softskf::crypto
