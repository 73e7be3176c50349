// OpenSSL behind the module's hashes, signature checks and certificate reading.
#include "Crypto.h"

#include "ossl/Ossl.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <stdexcept>

namespace skfp11 {

namespace {

const EVP_MD* mdOf(const char* digest)
{
    const EVP_MD* md = digest ? EVP_get_digestbyname(digest) : nullptr;
    if (!md) {
        throw std::runtime_error(std::string("no hash named ") + (digest ? digest : "(none)"));
    }
    return md;
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

} // namespace

Hasher::Hasher(const char* digest)
    : m_context(EVP_MD_CTX_new())
{
    check(m_context && EVP_DigestInit_ex(m_context.get(), mdOf(digest), nullptr) == 1, "cannot start a hash");
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

size_t Hasher::sizeOf(const char* digest)
{
    return size_t(EVP_MD_get_size(mdOf(digest)));
}

Bytes hash(const char* digest, const uint8_t* data, size_t size)
{
    Hasher hasher(digest);
    hasher.update(data, size);
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

bool verifySignature(EVP_PKEY* key, const Bytes& data, const Bytes& signature)
{
    ossl::PkeyCtx verify(EVP_PKEY_CTX_new(key, nullptr));
    if (!verify || EVP_PKEY_verify_init(verify.get()) != 1) {
        return false;
    }
    if (EVP_PKEY_is_a(key, "RSA") && EVP_PKEY_CTX_set_rsa_padding(verify.get(), RSA_PKCS1_PADDING) != 1) {
        return false;
    }
    return EVP_PKEY_verify(verify.get(), signature.data(), signature.size(), data.data(), data.size()) == 1;
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
