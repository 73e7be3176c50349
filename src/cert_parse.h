// Certificate parsing: the common name of a certificate's subject and the seconds left
// until the certificate on a freshly inserted token expires.
#ifndef OVRIN_CERT_PARSE_H
#define OVRIN_CERT_PARSE_H

#include <openssl/asn1.h>
#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>

class certParse
{
public:
    certParse() { }
    ~certParse() { }

    // Looks at the first application of the named device, on handles of its own, and
    // evaluates the first certificate that exports (encryption before signature). Returns 0
    // with the seconds from now to local midnight at the start of its notAfter date, or -1
    // when no certificate was found or the one found cannot be parsed.
    int certValid(const char* devName, std::int64_t* secondsLeft);
};

// The subject's common name (the last one when there are several) copied into out, cut to
// fit outSize bytes; a name without one leaves out untouched. 1 when every entry was read,
// 0 when an entry could not be.
int getX509Name(X509_NAME* name, char* out, std::size_t outSize = 128);

// Year, month and day of a certificate time, and the date as "YYYY-MM-DD". A UTCTime year
// of 49 or less is 20yy, else 19yy; a GeneralizedTime carries its full year. A time too
// short or with a month outside 1..12 writes nothing. Always returns 0.
int getUTCTime(const ASN1_TIME* time, char* dateText, int* year, int* month, int* day, std::size_t dateTextSize = 16);

// "YYYYMMDDHHMMSS" in local time to seconds since the epoch. Always returns 0.
int stringToTimestamp(const char* text, std::int64_t* timestamp);
// Now, as seconds since the epoch. Always returns 0.
int getCurrentTimestamp(std::int64_t* timestamp);

#endif // OVRIN_CERT_PARSE_H
