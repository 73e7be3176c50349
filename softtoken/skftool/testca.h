// The local test CA: one SM2 and one RSA certificate authority kept in the store's ca/
// folder, created on first use, that issue certificates for the keys on a token.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace skftool {

struct IssueRequest
{
    EVP_PKEY* subjectKey = nullptr; // the token's public key; SM2 or RSA picks the CA
    std::string commonName;
    std::string notBefore; // "YYYYMMDDHHMMSSZ"
    std::string notAfter; // "YYYYMMDDHHMMSSZ"
    bool signatureUse = true;
};

// Issues a certificate, SM2-with-SM3 for SM2 keys and sha256WithRSA for RSA keys, and
// returns its DER bytes. caFolder is created with mode 0700 when missing.
std::vector<uint8_t> issueCertificate(const std::string& caFolder, const IssueRequest& request);

// Which moment of a day given without a time: a validity starts at its first second and
// ends at its last, so "--not-after 2027-12-31" covers the whole of that day.
enum class DayPart { StartOfDay, EndOfDay };

// "YYYY-MM-DD" or "YYYY-MM-DDTHH:MM:SS" (UTC) to "YYYYMMDDHHMMSSZ"; throws UsageError.
std::string parseCertificateDate(const std::string& text, const std::string& what, DayPart dayPart);

// The time now plus days, as "YYYYMMDDHHMMSSZ".
std::string certificateDateFromNow(long days);

// A moment whole calendar years later (29 February becomes 28 February
// in a common year).
std::string certificateDateYearsAfter(time_t moment, int years);

} // namespace skftool
