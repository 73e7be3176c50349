// Certificates made by the tests themselves, signed with keys generated once per run.
#include "testcerts.h"

#include "ossl/Ossl.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <ctime>

namespace {

EVP_PKEY* keyOf(KeyKind kind)
{
    static const ossl::Pkey rsa(EVP_RSA_gen(1024));
    static const ossl::Pkey sm2(EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2"));
    return kind == KeyKind::Rsa ? rsa.get() : sm2.get();
}

} // namespace

std::string makeCertificate(const CertificateRequest& request)
{
    EVP_PKEY* key = keyOf(request.key);
    const ossl::Certificate certificate(X509_new());
    EXPECT_TRUE(key != nullptr && certificate);
    if (key == nullptr || !certificate) {
        return {};
    }
    X509_set_version(certificate.get(), X509_VERSION_3);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 7);
    X509_NAME* subject = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Tests"), -1, -1, 0);
    for (const std::string& name : request.commonNames) {
        // A plain string type, not MBSTRING_UTF8, so OpenSSL does not refuse names over 64 bytes.
        X509_NAME_add_entry_by_txt(subject, "CN", V_ASN1_UTF8STRING,
                                   reinterpret_cast<const unsigned char*>(name.data()), static_cast<int>(name.size()),
                                   -1, 0);
    }
    X509_set_issuer_name(certificate.get(), subject);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 0);
    const ossl::Asn1Time notAfter(ASN1_STRING_type_new(request.notAfterType));
    ASN1_STRING_set(notAfter.get(), request.notAfter.data(), static_cast<int>(request.notAfter.size()));
    X509_set1_notAfter(certificate.get(), notAfter.get());
    X509_set_pubkey(certificate.get(), key);
    const EVP_MD* digest = request.key == KeyKind::Rsa ? EVP_sha256() : EVP_sm3();
    EXPECT_GT(X509_sign(certificate.get(), key, digest), 0);

    unsigned char* der = nullptr;
    const int length = i2d_X509(certificate.get(), &der);
    EXPECT_GT(length, 0);
    std::string bytes(length > 0 ? reinterpret_cast<const char*>(der) : "", length > 0 ? length : 0);
    OPENSSL_free(der);
    return bytes;
}

long long localMidnight(int year, int month, int day)
{
    struct tm parts = {};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_isdst = -1;
    return static_cast<long long>(mktime(&parts));
}
