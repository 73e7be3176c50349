// Certificates: every certificate the manager takes from a token is read here, under one
// size limit, and parsed here: the common name of its subject for the container view, and
// the seconds left until the certificate on a freshly inserted token expires. The device
// manager's certificate calls (cDevMgr::getCertName, cDevMgr::getX509Name) are defined here
// too, so the device manager itself never looks inside a certificate.
#ifndef OVRIN_CERT_PARSE_H
#define OVRIN_CERT_PARSE_H

#include <skf/client.h>
#include <skf/skfapi.h>

#include <openssl/asn1.h>
#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class cDevMgr;

namespace certificate {

// The largest certificate read from a token: no real one comes near it, and a larger size
// is a driver not to be believed. It is the cap of every other variable-size read.
constexpr ULONG MaxSize = skfclient::kMaxReadSize;

// An SKF_ExportCertificate call with its container and purpose already chosen.
using ExportCall = std::function<ULONG(BYTE* data, ULONG* length)>;

// The certificate exactly as the token delivers it: a size query, then the read into a
// buffer of that size. False when either fails, or the size is 0 or above MaxSize; a
// driver that claims to have written more than it was offered is held to the buffer.
bool read(const ExportCall& exportCall, std::vector<BYTE>& der);
// The device manager's current container's certificate of one purpose.
bool readCurrent(cDevMgr& manager, BOOL sign, std::vector<BYTE>& der);

} // namespace certificate

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
