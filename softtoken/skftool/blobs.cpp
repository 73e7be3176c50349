// Public key blobs of the SKF standard and OpenSSL keys, both ways.
#include "blobs.h"

#include "errors.h"

#include "skf/skfapi.h"

#include <openssl/core_names.h>
#include <openssl/param_build.h>

#include <cstring>

namespace skftool {

namespace {

ossl::Pkey keyFromParams(const char* type, const OSSL_PARAM* params)
{
    ossl::PkeyCtx context(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
    EVP_PKEY* key = nullptr;
    if (!context || EVP_PKEY_fromdata_init(context.get()) != 1
        || EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, const_cast<OSSL_PARAM*>(params)) != 1) {
        throwOpenSslError(std::string("the token's ") + type + " public key is not valid");
    }
    return ossl::Pkey(key);
}

ossl::Pkey sm2KeyFromBlob(const ECCPUBLICKEYBLOB& blob)
{
    if (blob.BitLen != 256) {
        throw ToolError("the token's SM2 public key states " + std::to_string(blob.BitLen) + " bits, not 256");
    }
    // An uncompressed point: 0x04, then X and Y as the last 32 bytes of their fields.
    uint8_t point[65];
    point[0] = 0x04;
    std::memcpy(point + 1, blob.XCoordinate + 32, 32);
    std::memcpy(point + 33, blob.YCoordinate + 32, 32);
    ossl::ParamBld build(OSSL_PARAM_BLD_new());
    if (!build || OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0) != 1
        || OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof(point)) != 1) {
        throwOpenSslError("building an SM2 key failed");
    }
    ossl::Params params(OSSL_PARAM_BLD_to_param(build.get()));
    return keyFromParams("SM2", params.get());
}

ossl::Pkey rsaKeyFromBlob(const RSAPUBLICKEYBLOB& blob)
{
    if (blob.BitLen != 1024 && blob.BitLen != 2048) {
        throw ToolError("the token's RSA public key states " + std::to_string(blob.BitLen) + " bits");
    }
    const size_t modulusBytes = blob.BitLen / 8;
    ossl::Bignum modulus(
        BN_bin2bn(blob.Modulus + sizeof(blob.Modulus) - modulusBytes, static_cast<int>(modulusBytes), nullptr));
    ossl::Bignum exponent(BN_bin2bn(blob.PublicExponent, sizeof(blob.PublicExponent), nullptr));
    ossl::ParamBld build(OSSL_PARAM_BLD_new());
    if (!modulus || !exponent || !build
        || OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_N, modulus.get()) != 1
        || OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_E, exponent.get()) != 1) {
        throwOpenSslError("building an RSA key failed");
    }
    ossl::Params params(OSSL_PARAM_BLD_to_param(build.get()));
    return keyFromParams("RSA", params.get());
}

ossl::Bignum bignumParam(EVP_PKEY* key, const char* name)
{
    BIGNUM* number = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &number) != 1) {
        throwOpenSslError(std::string("reading the key's ") + name + " failed");
    }
    return ossl::Bignum(number);
}

std::vector<uint8_t> sm2Blob(EVP_PKEY* key)
{
    uint8_t point[65];
    size_t pointSize = 0;
    if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof(point), &pointSize) != 1
        || pointSize != sizeof(point) || point[0] != 0x04) {
        throwOpenSslError("reading the SM2 public point failed");
    }
    ECCPUBLICKEYBLOB blob{};
    blob.BitLen = 256;
    std::memcpy(blob.XCoordinate + 32, point + 1, 32);
    std::memcpy(blob.YCoordinate + 32, point + 33, 32);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&blob);
    return std::vector<uint8_t>(bytes, bytes + sizeof(blob));
}

std::vector<uint8_t> rsaBlob(EVP_PKEY* key)
{
    RSAPUBLICKEYBLOB blob{};
    blob.AlgID = SGD_RSA;
    blob.BitLen = static_cast<ULONG>(EVP_PKEY_get_bits(key));
    ossl::Bignum modulus = bignumParam(key, OSSL_PKEY_PARAM_RSA_N);
    ossl::Bignum exponent = bignumParam(key, OSSL_PKEY_PARAM_RSA_E);
    writeRightAligned(modulus.get(), blob.Modulus, sizeof(blob.Modulus));
    writeRightAligned(exponent.get(), blob.PublicExponent, sizeof(blob.PublicExponent));
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&blob);
    return std::vector<uint8_t>(bytes, bytes + sizeof(blob));
}

} // namespace

ossl::Pkey publicKeyFromBlob(const std::vector<uint8_t>& blob)
{
    if (blob.size() == sizeof(ECCPUBLICKEYBLOB)) {
        ECCPUBLICKEYBLOB ecc;
        std::memcpy(&ecc, blob.data(), sizeof(ecc));
        return sm2KeyFromBlob(ecc);
    }
    if (blob.size() == sizeof(RSAPUBLICKEYBLOB)) {
        RSAPUBLICKEYBLOB rsa;
        std::memcpy(&rsa, blob.data(), sizeof(rsa));
        return rsaKeyFromBlob(rsa);
    }
    throw ToolError("the token returned a public key blob of " + std::to_string(blob.size())
                    + " bytes, neither an SM2 (132) nor an RSA (268) blob");
}

std::vector<uint8_t> blobFromPublicKey(EVP_PKEY* key)
{
    return isSm2Key(key) ? sm2Blob(key) : rsaBlob(key);
}

bool isSm2Key(EVP_PKEY* key)
{
    return EVP_PKEY_is_a(key, "SM2") == 1;
}

unsigned blobBitLength(const std::vector<uint8_t>& blob)
{
    if (blob.size() == sizeof(ECCPUBLICKEYBLOB)) {
        return reinterpret_cast<const ECCPUBLICKEYBLOB*>(blob.data())->BitLen;
    }
    if (blob.size() == sizeof(RSAPUBLICKEYBLOB)) {
        return reinterpret_cast<const RSAPUBLICKEYBLOB*>(blob.data())->BitLen;
    }
    return 0;
}

void writeRightAligned(const BIGNUM* number, uint8_t* field, size_t width)
{
    if (BN_bn2binpad(number, field, static_cast<int>(width)) < 0) {
        throw ToolError("a number does not fit its " + std::to_string(width) + "-byte field");
    }
}

} // namespace skftool
