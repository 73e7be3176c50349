// Client-side keys and envelopes for the conformance suite.
#include "TestKeys.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace softskf::test {

namespace {

void check(bool ok, const char* what)
{
    if (!ok) {
        throw std::runtime_error(what);
    }
}

std::vector<uint8_t> bnBytes(EVP_PKEY* key, const char* name, size_t width = 0)
{
    BIGNUM* value = nullptr;
    check(EVP_PKEY_get_bn_param(key, name, &value) == 1, "key parameter");
    const size_t size = width ? width : static_cast<size_t>(BN_num_bytes(value));
    std::vector<uint8_t> bytes(size);
    BN_bn2binpad(value, bytes.data(), static_cast<int>(size));
    BN_clear_free(value);
    return bytes;
}

void rightAlign(uint8_t* field, size_t fieldSize, const std::vector<uint8_t>& value)
{
    std::memset(field, 0, fieldSize);
    std::memcpy(field + fieldSize - value.size(), value.data(), value.size());
}

std::vector<uint8_t> sm4Ecb(const uint8_t* key, const std::vector<uint8_t>& data, bool padding)
{
    std::vector<uint8_t> out(data.size() + 16);
    int written = 0;
    int final = 0;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, EVP_sm4_ecb(), nullptr, key, nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, padding ? 1 : 0);
    EVP_EncryptUpdate(ctx, out.data(), &written, data.data(), static_cast<int>(data.size()));
    EVP_EncryptFinal_ex(ctx, out.data() + written, &final);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(static_cast<size_t>(written + final));
    return out;
}

EVP_PKEY* publicKeyFrom(const char* type, OSSL_PARAM_BLD* builder)
{
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(builder);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr);
    EVP_PKEY* key = nullptr;
    check(ctx && params && EVP_PKEY_fromdata_init(ctx) == 1
              && EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params) == 1,
          "public key from data");
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(builder);
    return key;
}

std::vector<uint8_t> encrypt(EVP_PKEY* key, const std::vector<uint8_t>& plain, bool rsaPkcs1)
{
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    check(ctx && EVP_PKEY_encrypt_init(ctx) == 1, "encrypt init");
    if (rsaPkcs1) {
        EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
    }
    size_t size = 0;
    check(EVP_PKEY_encrypt(ctx, nullptr, &size, plain.data(), plain.size()) == 1, "encrypt size");
    std::vector<uint8_t> out(size);
    check(EVP_PKEY_encrypt(ctx, out.data(), &size, plain.data(), plain.size()) == 1, "encrypt");
    out.resize(size);
    EVP_PKEY_CTX_free(ctx);
    return out;
}

// Reads one DER element at pos: returns its content and moves pos past it.
std::vector<uint8_t> derElement(const std::vector<uint8_t>& der, size_t& pos, uint8_t tag)
{
    check(pos + 2 <= der.size() && der[pos] == tag, "DER tag");
    ++pos;
    size_t length = der[pos++];
    if (length & 0x80) {
        const size_t bytes = length & 0x7f;
        length = 0;
        for (size_t i = 0; i < bytes; ++i) {
            length = (length << 8) | der[pos++];
        }
    }
    check(pos + length <= der.size(), "DER length");
    std::vector<uint8_t> content(der.begin() + static_cast<long>(pos), der.begin() + static_cast<long>(pos + length));
    pos += length;
    return content;
}

std::vector<uint8_t> stripLeadingZeros(std::vector<uint8_t> value)
{
    value.erase(value.begin(), std::find_if(value.begin(), value.end(), [](uint8_t b) { return b != 0; }));
    return value;
}

} // namespace

Sm2TestPair makeSm2Pair()
{
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2");
    check(key != nullptr, "SM2 keygen");
    Sm2TestPair pair;
    pair.scalar = bnBytes(key, OSSL_PKEY_PARAM_PRIV_KEY, 32);
    std::vector<uint8_t> point(65);
    size_t size = 0;
    EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size(), &size);
    pair.blob.BitLen = 256;
    std::memcpy(pair.blob.XCoordinate + 32, point.data() + 1, 32);
    std::memcpy(pair.blob.YCoordinate + 32, point.data() + 33, 32);
    EVP_PKEY_free(key);
    return pair;
}

RsaTestPair makeRsaPair(unsigned bits)
{
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits));
    check(key != nullptr, "RSA keygen");
    RsaTestPair pair;
    unsigned char* der = nullptr;
    const int size = i2d_PrivateKey(key, &der); // PKCS#1 RSAPrivateKey for RSA keys
    pair.pkcs1Der.assign(der, der + size);
    OPENSSL_free(der);
    pair.privateExponent = bnBytes(key, OSSL_PKEY_PARAM_RSA_D);
    pair.prime1 = bnBytes(key, OSSL_PKEY_PARAM_RSA_FACTOR1);
    pair.blob.AlgID = SGD_RSA;
    pair.blob.BitLen = bits;
    rightAlign(pair.blob.Modulus, sizeof pair.blob.Modulus, bnBytes(key, OSSL_PKEY_PARAM_RSA_N));
    rightAlign(pair.blob.PublicExponent, sizeof pair.blob.PublicExponent, bnBytes(key, OSSL_PKEY_PARAM_RSA_E));
    EVP_PKEY_free(key);
    return pair;
}

std::vector<uint8_t> makeEccEnvelope(const ECCPUBLICKEYBLOB& signingPublic, const Sm2TestPair& pair)
{
    std::vector<uint8_t> sessionKey(16);
    for (size_t i = 0; i < sessionKey.size(); ++i) {
        sessionKey[i] = static_cast<uint8_t>(0x3c + 7 * i);
    }
    std::vector<uint8_t> point{0x04};
    point.insert(point.end(), signingPublic.XCoordinate + 32, signingPublic.XCoordinate + 64);
    point.insert(point.end(), signingPublic.YCoordinate + 32, signingPublic.YCoordinate + 64);
    OSSL_PARAM_BLD* builder = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_utf8_string(builder, OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0);
    OSSL_PARAM_BLD_push_octet_string(builder, OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size());
    EVP_PKEY* signingKey = publicKeyFrom("SM2", builder);
    const auto der = encrypt(signingKey, sessionKey, false);
    EVP_PKEY_free(signingKey);

    size_t pos = 0;
    const auto sequence = derElement(der, pos, 0x30);
    pos = 0;
    const auto x = stripLeadingZeros(derElement(sequence, pos, 0x02));
    const auto y = stripLeadingZeros(derElement(sequence, pos, 0x02));
    const auto hash = derElement(sequence, pos, 0x04);
    const auto cipher = derElement(sequence, pos, 0x04);
    check(hash.size() == 32 && cipher.size() == 16, "SM2 ciphertext shape");

    std::vector<uint8_t> bytes(sizeof(ENVELOPEDKEYBLOB) + cipher.size() - 1);
    auto* envelope = reinterpret_cast<ENVELOPEDKEYBLOB*>(bytes.data());
    envelope->Version = 1;
    envelope->ulSymmAlgID = SGD_SM4_ECB;
    envelope->ulBits = 256;
    std::vector<uint8_t> field(32, 0);
    field.insert(field.end(), pair.scalar.begin(), pair.scalar.end());
    const auto encrypted = sm4Ecb(sessionKey.data(), field, false);
    std::memcpy(envelope->cbEncryptedPriKey, encrypted.data(), 64);
    envelope->PubKey = pair.blob;
    rightAlign(envelope->ECCCipherBlob.XCoordinate, 64, x);
    rightAlign(envelope->ECCCipherBlob.YCoordinate, 64, y);
    std::memcpy(envelope->ECCCipherBlob.HASH, hash.data(), 32);
    envelope->ECCCipherBlob.CipherLen = static_cast<ULONG>(cipher.size());
    std::memcpy(envelope->ECCCipherBlob.Cipher, cipher.data(), cipher.size());
    return bytes;
}

RsaEnvelope makeRsaEnvelope(const RSAPUBLICKEYBLOB& signingPublic, const RsaTestPair& pair)
{
    std::vector<uint8_t> sessionKey(16, 0x5a);
    sessionKey[3] = 0x11;
    const size_t modulusSize = signingPublic.BitLen / 8;
    BIGNUM* n = BN_bin2bn(signingPublic.Modulus + sizeof signingPublic.Modulus - modulusSize,
                          static_cast<int>(modulusSize), nullptr);
    BIGNUM* e = BN_bin2bn(signingPublic.PublicExponent, sizeof signingPublic.PublicExponent, nullptr);
    OSSL_PARAM_BLD* builder = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_RSA_N, n);
    OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_RSA_E, e);
    EVP_PKEY* signingKey = publicKeyFrom("RSA", builder);
    BN_free(n);
    BN_free(e);
    RsaEnvelope envelope;
    envelope.wrappedKey = encrypt(signingKey, sessionKey, true);
    EVP_PKEY_free(signingKey);
    envelope.encryptedKey = sm4Ecb(sessionKey.data(), pair.pkcs1Der, true);
    return envelope;
}

std::vector<uint8_t> makeCertificate(const std::string& commonName)
{
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 4242);
    ASN1_TIME_set_string(X509_getm_notBefore(cert), "20260101000000Z");
    ASN1_TIME_set_string(X509_getm_notAfter(cert), "20270101000000Z");
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(commonName.c_str()),
                               -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509_set_pubkey(cert, key);
    X509_sign(cert, key, EVP_sha256());
    unsigned char* der = nullptr;
    const int size = i2d_X509(cert, &der);
    std::vector<uint8_t> bytes(der, der + size);
    OPENSSL_free(der);
    X509_free(cert);
    EVP_PKEY_free(key);
    return bytes;
}

bool contains(const std::vector<uint8_t>& haystack, const std::vector<uint8_t>& needle)
{
    return !needle.empty()
        && std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

std::vector<uint8_t> readFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> databaseAndWal(const std::string& path)
{
    auto bytes = readFileBytes(path);
    const auto wal = readFileBytes(path + "-wal");
    bytes.insert(bytes.end(), wal.begin(), wal.end());
    return bytes;
}

} // namespace softskf::test
