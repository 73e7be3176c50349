// OpenSSL-side helpers of the interoperability tests.
#include "OpensslSide.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstddef>
#include <cstring>
#include <stdexcept>

namespace softskf::test {

namespace {

void check(bool ok, const char* what)
{
    if (!ok) {
        throw std::runtime_error(what);
    }
}

Pkey fromParams(const char* type, OSSL_PARAM_BLD* builder, int selection)
{
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(builder);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr);
    EVP_PKEY* key = nullptr;
    const bool ok
        = ctx && params && EVP_PKEY_fromdata_init(ctx) == 1 && EVP_PKEY_fromdata(ctx, &key, selection, params) == 1;
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(builder);
    check(ok, "key from parameters");
    return Pkey(key);
}

std::vector<uint8_t> pointOf(const ECCPUBLICKEYBLOB& blob)
{
    std::vector<uint8_t> point{0x04};
    point.insert(point.end(), blob.XCoordinate + 32, blob.XCoordinate + 64);
    point.insert(point.end(), blob.YCoordinate + 32, blob.YCoordinate + 64);
    return point;
}

BIGNUM* bn(const uint8_t* data, size_t size)
{
    return BN_bin2bn(data, static_cast<int>(size), nullptr);
}

std::vector<uint8_t> derOf(const ECCSIGNATUREBLOB& signature)
{
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, bn(signature.r + 32, 32), bn(signature.s + 32, 32));
    unsigned char* der = nullptr;
    const int size = i2d_ECDSA_SIG(sig, &der);
    std::vector<uint8_t> out(der, der + size);
    OPENSSL_free(der);
    ECDSA_SIG_free(sig);
    return out;
}

void append(std::vector<uint8_t>& out, uint8_t tag, const std::vector<uint8_t>& content)
{
    out.push_back(tag);
    if (content.size() < 0x80) {
        out.push_back(static_cast<uint8_t>(content.size()));
    } else if (content.size() < 0x100) {
        out.push_back(0x81);
        out.push_back(static_cast<uint8_t>(content.size()));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<uint8_t>(content.size() >> 8));
        out.push_back(static_cast<uint8_t>(content.size()));
    }
    out.insert(out.end(), content.begin(), content.end());
}

std::vector<uint8_t> integer(const uint8_t* value, size_t size)
{
    while (size > 1 && *value == 0) {
        ++value;
        --size;
    }
    std::vector<uint8_t> out;
    if (*value & 0x80) {
        out.push_back(0);
    }
    out.insert(out.end(), value, value + size);
    return out;
}

std::vector<uint8_t> element(const std::vector<uint8_t>& der, size_t& pos, uint8_t tag)
{
    check(pos + 2 <= der.size() && der[pos] == tag, "DER tag");
    ++pos;
    size_t length = der[pos++];
    if (length & 0x80) {
        const size_t count = length & 0x7f;
        length = 0;
        for (size_t i = 0; i < count; ++i) {
            length = (length << 8) | der[pos++];
        }
    }
    check(pos + length <= der.size(), "DER length");
    std::vector<uint8_t> content(der.begin() + static_cast<long>(pos), der.begin() + static_cast<long>(pos + length));
    pos += length;
    return content;
}

void rightAlign(uint8_t* field, size_t fieldSize, std::vector<uint8_t> value)
{
    while (value.size() > fieldSize && value.front() == 0) {
        value.erase(value.begin());
    }
    std::memset(field, 0, fieldSize);
    std::memcpy(field + fieldSize - value.size(), value.data(), value.size());
}

} // namespace

Pkey sm2PublicKey(const ECCPUBLICKEYBLOB& blob)
{
    const auto point = pointOf(blob);
    OSSL_PARAM_BLD* builder = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_utf8_string(builder, OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0);
    OSSL_PARAM_BLD_push_octet_string(builder, OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size());
    return fromParams("SM2", builder, EVP_PKEY_PUBLIC_KEY);
}

Pkey sm2PrivateKey(const Sm2TestPair& pair)
{
    const auto point = pointOf(pair.blob);
    BIGNUM* priv = bn(pair.scalar.data(), pair.scalar.size());
    OSSL_PARAM_BLD* builder = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_utf8_string(builder, OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0);
    OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_PRIV_KEY, priv);
    OSSL_PARAM_BLD_push_octet_string(builder, OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size());
    auto key = fromParams("SM2", builder, EVP_PKEY_KEYPAIR);
    BN_clear_free(priv);
    return key;
}

Pkey rsaPublicKey(const RSAPUBLICKEYBLOB& blob)
{
    const size_t bytes = blob.BitLen / 8;
    BIGNUM* n = bn(blob.Modulus + sizeof blob.Modulus - bytes, bytes);
    BIGNUM* e = bn(blob.PublicExponent, sizeof blob.PublicExponent);
    OSSL_PARAM_BLD* builder = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_RSA_N, n);
    OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_RSA_E, e);
    auto key = fromParams("RSA", builder, EVP_PKEY_PUBLIC_KEY);
    BN_free(n);
    BN_free(e);
    return key;
}

Pkey rsaPrivateKey(const RsaTestPair& pair)
{
    const unsigned char* cursor = pair.pkcs1Der.data();
    EVP_PKEY* key = d2i_AutoPrivateKey(nullptr, &cursor, static_cast<long>(pair.pkcs1Der.size()));
    check(key != nullptr, "RSA private key");
    return Pkey(key);
}

ECCSIGNATUREBLOB sm2SignMessage(EVP_PKEY* key, const std::vector<uint8_t>& message, const std::string& id)
{
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    check(md && pctx && EVP_PKEY_CTX_set1_id(pctx, id.data(), id.size()) == 1, "SM2 context");
    EVP_MD_CTX_set_pkey_ctx(md, pctx);
    check(EVP_DigestSignInit(md, nullptr, EVP_sm3(), nullptr, key) == 1, "SM2 sign init");
    std::vector<uint8_t> der(80);
    size_t size = der.size();
    check(EVP_DigestSign(md, der.data(), &size, message.data(), message.size()) == 1, "SM2 sign");
    EVP_MD_CTX_free(md);
    EVP_PKEY_CTX_free(pctx);
    const unsigned char* cursor = der.data();
    ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(size));
    ECCSIGNATUREBLOB blob{};
    BN_bn2binpad(ECDSA_SIG_get0_r(sig), blob.r + 32, 32);
    BN_bn2binpad(ECDSA_SIG_get0_s(sig), blob.s + 32, 32);
    ECDSA_SIG_free(sig);
    return blob;
}

bool sm2VerifyMessage(EVP_PKEY* key, const std::vector<uint8_t>& message, const std::string& id,
                      const ECCSIGNATUREBLOB& signature)
{
    const auto der = derOf(signature);
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    check(md && pctx && EVP_PKEY_CTX_set1_id(pctx, id.data(), id.size()) == 1, "SM2 context");
    EVP_MD_CTX_set_pkey_ctx(md, pctx);
    check(EVP_DigestVerifyInit(md, nullptr, EVP_sm3(), nullptr, key) == 1, "SM2 verify init");
    const bool ok = EVP_DigestVerify(md, der.data(), der.size(), message.data(), message.size()) == 1;
    EVP_MD_CTX_free(md);
    EVP_PKEY_CTX_free(pctx);
    return ok;
}

std::vector<uint8_t> sm2EncryptToBlob(EVP_PKEY* key, const std::vector<uint8_t>& plain)
{
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    size_t size = 0;
    check(ctx && EVP_PKEY_encrypt_init(ctx) == 1
              && EVP_PKEY_encrypt(ctx, nullptr, &size, plain.data(), plain.size()) == 1,
          "SM2 encrypt init");
    std::vector<uint8_t> der(size);
    check(EVP_PKEY_encrypt(ctx, der.data(), &size, plain.data(), plain.size()) == 1, "SM2 encrypt");
    der.resize(size);
    EVP_PKEY_CTX_free(ctx);
    size_t pos = 0;
    const auto body = element(der, pos, 0x30);
    pos = 0;
    const auto x = element(body, pos, 0x02);
    const auto y = element(body, pos, 0x02);
    const auto hash = element(body, pos, 0x04);
    const auto cipher = element(body, pos, 0x04);
    std::vector<uint8_t> bytes(offsetof(ECCCIPHERBLOB, Cipher) + cipher.size());
    auto* blob = reinterpret_cast<ECCCIPHERBLOB*>(bytes.data());
    rightAlign(blob->XCoordinate, 64, x);
    rightAlign(blob->YCoordinate, 64, y);
    std::memcpy(blob->HASH, hash.data(), 32);
    blob->CipherLen = static_cast<ULONG>(cipher.size());
    std::memcpy(blob->Cipher, cipher.data(), cipher.size());
    return bytes;
}

std::vector<uint8_t> sm2DecryptBlob(EVP_PKEY* key, const uint8_t* bytes)
{
    const auto* blob = reinterpret_cast<const ECCCIPHERBLOB*>(bytes);
    std::vector<uint8_t> content;
    append(content, 0x02, integer(blob->XCoordinate, 64));
    append(content, 0x02, integer(blob->YCoordinate, 64));
    append(content, 0x04, std::vector<uint8_t>(blob->HASH, blob->HASH + 32));
    append(content, 0x04, std::vector<uint8_t>(blob->Cipher, blob->Cipher + blob->CipherLen));
    std::vector<uint8_t> der;
    append(der, 0x30, content);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    size_t size = 0;
    check(ctx && EVP_PKEY_decrypt_init(ctx) == 1 && EVP_PKEY_decrypt(ctx, nullptr, &size, der.data(), der.size()) == 1,
          "SM2 decrypt init");
    std::vector<uint8_t> plain(size);
    const bool ok = EVP_PKEY_decrypt(ctx, plain.data(), &size, der.data(), der.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    check(ok, "SM2 decrypt");
    plain.resize(size);
    return plain;
}

std::vector<uint8_t> rsaPkcs1Encrypt(EVP_PKEY* key, const std::vector<uint8_t>& plain)
{
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    size_t size = static_cast<size_t>(EVP_PKEY_get_size(key));
    std::vector<uint8_t> out(size);
    check(ctx && EVP_PKEY_encrypt_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1
              && EVP_PKEY_encrypt(ctx, out.data(), &size, plain.data(), plain.size()) == 1,
          "RSA encrypt");
    EVP_PKEY_CTX_free(ctx);
    out.resize(size);
    return out;
}

std::vector<uint8_t> rsaPkcs1Decrypt(EVP_PKEY* key, const std::vector<uint8_t>& data)
{
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    size_t size = static_cast<size_t>(EVP_PKEY_get_size(key));
    std::vector<uint8_t> out(size);
    check(ctx && EVP_PKEY_decrypt_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1
              && EVP_PKEY_decrypt(ctx, out.data(), &size, data.data(), data.size()) == 1,
          "RSA decrypt");
    EVP_PKEY_CTX_free(ctx);
    out.resize(size);
    return out;
}

std::vector<uint8_t> sha256DigestInfo(const std::vector<uint8_t>& message)
{
    auto info = fromHex("3031300d060960864801650304020105000420");
    const auto hash = evpDigest("SHA256", message);
    info.insert(info.end(), hash.begin(), hash.end());
    return info;
}

std::vector<uint8_t> rsaSignSha256(EVP_PKEY* key, const std::vector<uint8_t>& message)
{
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    std::vector<uint8_t> out(static_cast<size_t>(EVP_PKEY_get_size(key)));
    size_t size = out.size();
    check(md && EVP_DigestSignInit(md, nullptr, EVP_sha256(), nullptr, key) == 1
              && EVP_DigestSign(md, out.data(), &size, message.data(), message.size()) == 1,
          "RSA sign");
    EVP_MD_CTX_free(md);
    out.resize(size);
    return out;
}

bool rsaVerifySha256(EVP_PKEY* key, const std::vector<uint8_t>& message, const std::vector<uint8_t>& signature)
{
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    check(md && EVP_DigestVerifyInit(md, nullptr, EVP_sha256(), nullptr, key) == 1, "RSA verify init");
    const bool ok = EVP_DigestVerify(md, signature.data(), signature.size(), message.data(), message.size()) == 1;
    EVP_MD_CTX_free(md);
    return ok;
}

std::vector<uint8_t> evpSm4(const char* cipher, const std::vector<uint8_t>& key, const std::vector<uint8_t>& iv,
                            const std::vector<uint8_t>& data, bool padding, bool encrypt)
{
    EVP_CIPHER* algorithm = EVP_CIPHER_fetch(nullptr, cipher, nullptr);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    std::vector<uint8_t> out(data.size() + 32);
    int written = 0;
    int final = 0;
    check(
        algorithm && ctx
            && EVP_CipherInit_ex(ctx, algorithm, nullptr, key.data(), iv.empty() ? nullptr : iv.data(), encrypt ? 1 : 0)
                == 1,
        "SM4 init");
    EVP_CIPHER_CTX_set_padding(ctx, padding ? 1 : 0);
    check(EVP_CipherUpdate(ctx, out.data(), &written, data.data(), static_cast<int>(data.size())) == 1
              && EVP_CipherFinal_ex(ctx, out.data() + written, &final) == 1,
          "SM4");
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(algorithm);
    out.resize(static_cast<size_t>(written + final));
    return out;
}

std::vector<uint8_t> evpDigest(const char* name, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
    size_t size = 0;
    check(EVP_Q_digest(nullptr, name, nullptr, data.data(), data.size(), out.data(), &size) == 1, "digest");
    out.resize(size);
    return out;
}

std::vector<uint8_t> fromHex(const std::string& hex)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

std::string toHex(const uint8_t* data, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 15]);
    }
    return out;
}

} // namespace softskf::test
