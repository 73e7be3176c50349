// OpenSSL behind the module's hashes, Z values and certificate reading.
#include "Crypto.h"

#include "ossl/DigestInfo.h"
#include "ossl/Ossl.h"
#include "skf/sm2defaults.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <iterator>
#include <stdexcept>

namespace skfp11 {

namespace {

const EVP_MD* mdOf(HashKind kind)
{
    switch (kind) {
    case HashKind::Sha1:
        return EVP_sha1();
    case HashKind::Sha256:
        return EVP_sha256();
    case HashKind::Sm3:
        return EVP_sm3();
    }
    return nullptr;
}

void check(bool ok, const char* what)
{
    if (!ok) {
        throw std::runtime_error(what);
    }
}

Bytes bnBytes(const BIGNUM* bn)
{
    Bytes out(size_t(BN_num_bytes(bn)));
    BN_bn2bin(bn, out.data());
    if (out.empty()) {
        out.push_back(0);
    }
    return out;
}

template <typename T> Bytes derOf(int (*encode)(const T*, unsigned char**), const T* object)
{
    const int size = encode(object, nullptr);
    check(size > 0, "cannot encode");
    Bytes out(size_t(size), 0);
    unsigned char* cursor = out.data();
    encode(object, &cursor);
    return out;
}

std::string commonNameOf(X509_NAME* name)
{
    const int index = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
    if (index < 0) {
        return std::string();
    }
    ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
    unsigned char* utf8 = nullptr;
    const int size = ASN1_STRING_to_UTF8(&utf8, value);
    if (size < 0) {
        return std::string();
    }
    std::string out(reinterpret_cast<char*>(utf8), size_t(size));
    OPENSSL_free(utf8);
    return out;
}

Bytes leftPad(const Bytes& in, size_t size)
{
    if (in.size() >= size) {
        return Bytes(in.end() - long(size), in.end());
    }
    Bytes out(size - in.size(), 0);
    out.insert(out.end(), in.begin(), in.end());
    return out;
}

bool readPublicKey(EVP_PKEY* key, CertificateFacts& facts)
{
    if (EVP_PKEY_is_a(key, "RSA")) {
        BIGNUM* n = nullptr;
        BIGNUM* e = nullptr;
        if (!EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n)
            || !EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &e)) {
            BN_free(n);
            BN_free(e);
            return false;
        }
        ossl::Bignum nOwner(n), eOwner(e);
        facts.isRsa = true;
        facts.modulus = bnBytes(n);
        facts.exponent = bnBytes(e);
        return true;
    }
    if (EVP_PKEY_is_a(key, "SM2") || EVP_PKEY_is_a(key, "EC")) {
        unsigned char point[133];
        size_t size = 0;
        if (!EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &size) || size != 65
            || point[0] != 0x04) {
            return false;
        }
        facts.isEc = true;
        facts.ecX.assign(point + 1, point + 33);
        facts.ecY.assign(point + 33, point + 65);
        return true;
    }
    return false;
}

ossl::Pkey sm2PublicKey(const Bytes& x, const Bytes& y)
{
    Bytes point{0x04};
    const Bytes px = leftPad(x, 32), py = leftPad(y, 32);
    point.insert(point.end(), px.begin(), px.end());
    point.insert(point.end(), py.begin(), py.end());
    ossl::ParamBld builder(OSSL_PARAM_BLD_new());
    check(builder && OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0)
              && OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()),
          "cannot describe an SM2 key");
    ossl::Params params(OSSL_PARAM_BLD_to_param(builder.get()));
    ossl::PkeyCtx context(EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr));
    EVP_PKEY* key = nullptr;
    if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1
        || EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
        return nullptr;
    }
    return ossl::Pkey(key);
}

} // namespace

Hasher::Hasher(HashKind kind)
    : m_context(EVP_MD_CTX_new())
{
    check(m_context && EVP_DigestInit_ex(m_context.get(), mdOf(kind), nullptr) == 1, "cannot start a hash");
}

void Hasher::update(const uint8_t* data, size_t size)
{
    check(EVP_DigestUpdate(m_context.get(), data, size) == 1, "cannot hash");
}

Bytes Hasher::finish()
{
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    check(EVP_DigestFinal_ex(m_context.get(), out.data(), &size) == 1, "cannot finish a hash");
    out.resize(size);
    return out;
}

size_t Hasher::sizeOf(HashKind kind)
{
    return size_t(EVP_MD_get_size(mdOf(kind)));
}

Bytes hash(HashKind kind, const uint8_t* data, size_t size)
{
    Hasher hasher(kind);
    hasher.update(data, size);
    return hasher.finish();
}

Bytes digestInfoPrefix(HashKind kind)
{
    switch (kind) {
    case HashKind::Sha1:
        return Bytes(std::begin(ossl::kSha1DigestInfoPrefix), std::end(ossl::kSha1DigestInfoPrefix));
    case HashKind::Sha256:
        return Bytes(std::begin(ossl::kSha256DigestInfoPrefix), std::end(ossl::kSha256DigestInfoPrefix));
    case HashKind::Sm3:
        return Bytes(std::begin(ossl::kSm3DigestInfoPrefix), std::end(ossl::kSm3DigestInfoPrefix));
    }
    return Bytes();
}

Bytes sm2Z(const Bytes& x, const Bytes& y, const Bytes& id)
{
    check(id.size() < 8192, "SM2 ID too long");
    const size_t bits = id.size() * 8;
    Hasher hasher(HashKind::Sm3);
    const uint8_t entl[2] = {uint8_t(bits >> 8), uint8_t(bits)};
    hasher.update(entl, 2);
    hasher.update(id.data(), id.size());
    for (const uint8_t* constant : {sm2defaults::kA, sm2defaults::kB, sm2defaults::kGx, sm2defaults::kGy}) {
        hasher.update(constant, 32);
    }
    const Bytes px = leftPad(x, 32), py = leftPad(y, 32);
    hasher.update(px.data(), px.size());
    hasher.update(py.data(), py.size());
    return hasher.finish();
}

bool readCertificate(const Bytes& der, CertificateFacts& facts)
{
    const unsigned char* cursor = der.data();
    ossl::Certificate certificate(d2i_X509(nullptr, &cursor, long(der.size())));
    if (!certificate || cursor != der.data() + der.size()) {
        return false;
    }
    facts.subject = derOf<X509_NAME>(i2d_X509_NAME, X509_get_subject_name(certificate.get()));
    facts.issuer = derOf<X509_NAME>(i2d_X509_NAME, X509_get_issuer_name(certificate.get()));
    facts.serial = derOf<ASN1_INTEGER>(i2d_ASN1_INTEGER, X509_get0_serialNumber(certificate.get()));
    facts.commonName = commonNameOf(X509_get_subject_name(certificate.get()));
    EVP_PKEY* key = X509_get0_pubkey(certificate.get());
    return key && readPublicKey(key, facts);
}

bool rsaVerifyPkcs1(const Bytes& modulus, const Bytes& exponent, const Bytes& data, const Bytes& signature)
{
    ossl::Bignum n(BN_bin2bn(modulus.data(), int(modulus.size()), nullptr));
    ossl::Bignum e(BN_bin2bn(exponent.data(), int(exponent.size()), nullptr));
    ossl::ParamBld builder(OSSL_PARAM_BLD_new());
    check(n && e && builder && OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_N, n.get())
              && OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_E, e.get()),
          "cannot describe an RSA key");
    ossl::Params params(OSSL_PARAM_BLD_to_param(builder.get()));
    ossl::PkeyCtx context(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* raw = nullptr;
    if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1
        || EVP_PKEY_fromdata(context.get(), &raw, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
        return false;
    }
    ossl::Pkey key(raw);
    ossl::PkeyCtx verify(EVP_PKEY_CTX_new(key.get(), nullptr));
    return verify && EVP_PKEY_verify_init(verify.get()) == 1
        && EVP_PKEY_CTX_set_rsa_padding(verify.get(), RSA_PKCS1_PADDING) == 1
        && EVP_PKEY_verify(verify.get(), signature.data(), signature.size(), data.data(), data.size()) == 1;
}

bool sm2VerifyDigest(const Bytes& x, const Bytes& y, const Bytes& digest, const Bytes& signature)
{
    if (signature.size() != 64) {
        return false;
    }
    ossl::Pkey key = sm2PublicKey(x, y);
    if (!key) {
        return false;
    }
    ossl::EcdsaSig sig(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(signature.data(), 32, nullptr);
    BIGNUM* s = BN_bin2bn(signature.data() + 32, 32, nullptr);
    if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        return false;
    }
    const Bytes der = derOf<ECDSA_SIG>(i2d_ECDSA_SIG, sig.get());
    ossl::PkeyCtx verify(EVP_PKEY_CTX_new(key.get(), nullptr));
    return verify && EVP_PKEY_verify_init(verify.get()) == 1
        && EVP_PKEY_verify(verify.get(), der.data(), der.size(), digest.data(), digest.size()) == 1;
}

Bytes stripLeadingZeros(const uint8_t* data, size_t size)
{
    size_t first = 0;
    while (first + 1 < size && data[first] == 0) {
        ++first;
    }
    return Bytes(data + first, data + size);
}

} // namespace skfp11
