// The local test CA in the store's ca/ folder.
#include "testca.h"

#include "clientcrypto.h"
#include "errors.h"
#include "pemder.h"
#include "skf/sm2defaults.h"

#include <openssl/asn1.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include <sys/stat.h>

namespace skftool {

namespace {

const char* const kSm2Id = sm2defaults::kId;

struct CertificateAuthority
{
    ossl::Pkey key;
    ossl::Certificate certificate;
};

bool fileExists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

void makePrivateFolder(const std::string& folder)
{
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        throw ToolError("cannot create " + folder + ": " + std::strerror(errno));
    }
}

std::vector<uint8_t> bioBytes(BIO* bio)
{
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return std::vector<uint8_t>(data, data + size);
}

void setTime(ASN1_TIME* field, const std::string& text)
{
    // ASN1_TIME_set_string_X509 picks UTCTime before 2050 and GeneralizedTime from 2050 on.
    if (ASN1_TIME_set_string_X509(field, text.c_str()) != 1) {
        throw UsageError("the date " + text + " cannot go into a certificate");
    }
}

void addExtension(X509* certificate, X509* issuer, int nid, const char* value)
{
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    ossl::X509Extension extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    if (!extension || X509_add_ext(certificate, extension.get(), -1) != 1) {
        throwOpenSslError(std::string("adding the extension ") + OBJ_nid2sn(nid) + " failed");
    }
}

void setRandomSerial(X509* certificate)
{
    uint8_t bytes[16];
    randomBytes(bytes, sizeof(bytes));
    bytes[0] &= 0x7F; // a positive serial of at most 16 bytes
    bytes[0] |= 0x01;
    ossl::Bignum number(BN_bin2bn(bytes, sizeof(bytes), nullptr));
    if (!number || !BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(certificate))) {
        throwOpenSslError("setting the certificate serial failed");
    }
}

void setCommonName(X509_NAME* name, const std::string& commonName)
{
    if (X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0)
        != 1) {
        throwOpenSslError("the common name cannot go into a certificate");
    }
}

void signCertificate(X509* certificate, EVP_PKEY* caKey)
{
    ossl::MdCtx context(EVP_MD_CTX_new());
    EVP_PKEY_CTX* keyContext = nullptr;
    const bool sm2 = EVP_PKEY_is_a(caKey, "SM2") == 1;
    if (!context
        || EVP_DigestSignInit_ex(context.get(), &keyContext, sm2 ? "SM3" : "SHA256", nullptr, nullptr, caKey, nullptr)
            != 1) {
        throwOpenSslError("starting the certificate signature failed");
    }
    // SM2 signatures hash the signer's Z value, made from the default user ID.
    if (sm2 && EVP_PKEY_CTX_set1_id(keyContext, kSm2Id, sm2defaults::kIdSize) != 1) {
        throwOpenSslError("setting the SM2 signer ID failed");
    }
    if (X509_sign_ctx(certificate, context.get()) <= 0) {
        throwOpenSslError("signing the certificate failed");
    }
}

ossl::Certificate newCertificate(EVP_PKEY* subjectKey, const std::string& commonName, const std::string& notBefore,
                                 const std::string& notAfter)
{
    ossl::Certificate certificate(X509_new());
    if (!certificate || X509_set_version(certificate.get(), 2) != 1
        || X509_set_pubkey(certificate.get(), subjectKey) != 1) {
        throwOpenSslError("making a certificate failed");
    }
    setRandomSerial(certificate.get());
    setCommonName(X509_get_subject_name(certificate.get()), commonName);
    setTime(X509_getm_notBefore(certificate.get()), notBefore);
    setTime(X509_getm_notAfter(certificate.get()), notAfter);
    return certificate;
}

CertificateAuthority createAuthority(bool sm2)
{
    CertificateAuthority authority;
    authority.key = sm2 ? generateSm2KeyPair() : generateRsaKeyPair(2048);
    const std::string name = sm2 ? "skftool test CA (SM2)" : "skftool test CA (RSA)";
    authority.certificate
        = newCertificate(authority.key.get(), name, certificateDateFromNow(-1), certificateDateFromNow(30 * 365));
    X509* certificate = authority.certificate.get();
    X509_set_issuer_name(certificate, X509_get_subject_name(certificate));
    addExtension(certificate, certificate, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(certificate, certificate, NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(certificate, certificate, NID_subject_key_identifier, "hash");
    signCertificate(certificate, authority.key.get());
    return authority;
}

void saveAuthority(const CertificateAuthority& authority, const std::string& keyPath, const std::string& certPath)
{
    ossl::Bio keyBio(BIO_new(BIO_s_mem()));
    ossl::Bio certBio(BIO_new(BIO_s_mem()));
    if (!keyBio || !certBio
        || PEM_write_bio_PrivateKey(keyBio.get(), authority.key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1
        || PEM_write_bio_X509(certBio.get(), authority.certificate.get()) != 1) {
        throwOpenSslError("encoding the test CA failed");
    }
    std::vector<uint8_t> keyBytes = bioBytes(keyBio.get());
    writeFileBytes(keyPath, keyBytes, 0600);
    OPENSSL_cleanse(keyBytes.data(), keyBytes.size());
    writeFileBytes(certPath, bioBytes(certBio.get()), 0644);
}

CertificateAuthority loadAuthority(const std::string& keyPath, const std::string& certPath)
{
    std::vector<uint8_t> keyBytes = readFileBytes(keyPath);
    const std::vector<uint8_t> certBytes = readFileBytes(certPath);
    ossl::Bio keyBio(BIO_new_mem_buf(keyBytes.data(), static_cast<int>(keyBytes.size())));
    ossl::Bio certBio(BIO_new_mem_buf(certBytes.data(), static_cast<int>(certBytes.size())));
    CertificateAuthority authority;
    authority.key.reset(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    authority.certificate.reset(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
    OPENSSL_cleanse(keyBytes.data(), keyBytes.size());
    if (!authority.key || !authority.certificate) {
        throwOpenSslError("the test CA in " + keyPath + " cannot be read");
    }
    return authority;
}

CertificateAuthority openAuthority(const std::string& caFolder, bool sm2)
{
    makePrivateFolder(caFolder);
    const std::string stem = caFolder + (sm2 ? "/sm2-ca" : "/rsa-ca");
    const std::string keyPath = stem + "-key.pem";
    const std::string certPath = stem + "-cert.pem";
    if (fileExists(keyPath) && fileExists(certPath)) {
        return loadAuthority(keyPath, certPath);
    }
    CertificateAuthority authority = createAuthority(sm2);
    saveAuthority(authority, keyPath, certPath);
    return authority;
}

// "YYYYMMDDHHMMSSZ", the form ASN1_TIME_set_string_X509 reads.
std::string asn1TimeText(const tm& parts)
{
    char out[64];
    std::snprintf(out, sizeof(out), "%04d%02d%02d%02d%02d%02dZ", parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                  parts.tm_hour, parts.tm_min, parts.tm_sec);
    return out;
}

} // namespace

std::vector<uint8_t> issueCertificate(const std::string& caFolder, const IssueRequest& request)
{
    if (request.commonName.empty()) {
        throw UsageError("the certificate needs a common name");
    }
    const bool sm2 = EVP_PKEY_is_a(request.subjectKey, "SM2") == 1;
    CertificateAuthority authority = openAuthority(caFolder, sm2);
    ossl::Certificate certificate
        = newCertificate(request.subjectKey, request.commonName, request.notBefore, request.notAfter);
    if (ASN1_TIME_compare(X509_get0_notBefore(certificate.get()), X509_get0_notAfter(certificate.get())) > 0) {
        throw UsageError("the certificate would expire before it becomes valid");
    }
    X509_set_issuer_name(certificate.get(), X509_get_subject_name(authority.certificate.get()));
    addExtension(certificate.get(), authority.certificate.get(), NID_basic_constraints, "critical,CA:FALSE");
    addExtension(certificate.get(), authority.certificate.get(), NID_key_usage,
                 request.signatureUse ? "critical,digitalSignature,nonRepudiation"
                                      : "critical,keyEncipherment,dataEncipherment,keyAgreement");
    addExtension(certificate.get(), authority.certificate.get(), NID_subject_key_identifier, "hash");
    addExtension(certificate.get(), authority.certificate.get(), NID_authority_key_identifier, "keyid");
    signCertificate(certificate.get(), authority.key.get());

    const int size = i2d_X509(certificate.get(), nullptr);
    std::vector<uint8_t> der(static_cast<size_t>(size > 0 ? size : 0));
    unsigned char* cursor = der.data();
    if (size <= 0 || i2d_X509(certificate.get(), &cursor) != size) {
        throwOpenSslError("encoding the certificate failed");
    }
    return der;
}

std::string parseCertificateDate(const std::string& text, const std::string& what, DayPart dayPart)
{
    tm parts{};
    const char* end = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &parts);
    if (!end || *end != '\0') {
        parts = tm{};
        end = strptime(text.c_str(), "%Y-%m-%d", &parts);
        if (dayPart == DayPart::EndOfDay) {
            parts.tm_hour = 23;
            parts.tm_min = 59;
            parts.tm_sec = 59;
        }
    }
    if (!end || *end != '\0' || parts.tm_year + 1900 < 1950 || parts.tm_year + 1900 > 9999) {
        throw UsageError(what + " must look like 2028-12-31 or 2028-12-31T23:59:59, not \"" + text + "\"");
    }
    const std::string out = asn1TimeText(parts);
    // strptime accepts 2028-02-31; ASN1_TIME's own check refuses it.
    ossl::Asn1Time check(ASN1_TIME_new());
    if (!check || ASN1_TIME_set_string_X509(check.get(), out.c_str()) != 1) {
        throw UsageError(what + " is not a real date: " + text);
    }
    return out;
}

std::string certificateDateFromNow(long days)
{
    ossl::Asn1Time time(X509_time_adj_ex(nullptr, static_cast<int>(days), 0, nullptr));
    tm parts{};
    if (!time || ASN1_TIME_to_tm(time.get(), &parts) != 1) {
        throwOpenSslError("reading the clock failed");
    }
    return asn1TimeText(parts);
}

std::string certificateDateYearsAfter(time_t moment, int years)
{
    tm parts{};
    if (!gmtime_r(&moment, &parts)) {
        throw ToolError("reading the clock failed");
    }
    parts.tm_year += years;
    const int year = parts.tm_year + 1900;
    const bool leapYear = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (parts.tm_mon == 1 && parts.tm_mday == 29 && !leapYear) {
        parts.tm_mday = 28;
    }
    return asn1TimeText(parts);
}

} // namespace skftool
