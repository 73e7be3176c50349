// Certificates made by the tests themselves: RSA or SM2 keys, chosen common names and a
// notAfter written exactly as the case needs it (UTCTime or GeneralizedTime).
#ifndef OVRIN_TESTS_TESTCERTS_H
#define OVRIN_TESTS_TESTCERTS_H

#include <openssl/asn1.h>

#include <string>
#include <vector>

enum class KeyKind { Rsa, Sm2 };

struct CertificateRequest
{
    KeyKind key = KeyKind::Rsa;
    std::vector<std::string> commonNames{"Test Holder"};
    std::string notAfter = "301231120000Z"; // the time's text, not checked
    int notAfterType = V_ASN1_UTCTIME;
};

// The DER bytes of a self-signed certificate; fails the calling test when OpenSSL refuses.
std::string makeCertificate(const CertificateRequest& request);

// Local midnight at the start of the given date, in seconds since the epoch.
long long localMidnight(int year, int month, int day);

#endif // OVRIN_TESTS_TESTCERTS_H
