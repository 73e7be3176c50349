// Certificates: the one reader of a token's certificate, the subject's common name (for
// certParse and the device manager's calls), and the seconds left on the certificate of a
// freshly inserted token, read on handles of its own.
#include "cert_parse.h"

#include "cdevmgr.h"
#include "cgmskfoperator.h"
#include "namelist.h"
#include "ossl/Ossl.h"

#include <openssl/objects.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr std::size_t DateTextSize = 16;
constexpr std::size_t TimestampTextSize = 16;

// Closes one handle that certValid opened, through the same binding, whatever path it leaves by.
class HandleCloser
{
public:
    using Close = ULONG (CGMSKFOperator::*)(HANDLE);

    HandleCloser(CGMSKFOperator* skf, Close close, HANDLE handle)
        : m_skf(skf)
        , m_close(close)
        , m_handle(handle)
    {
    }
    ~HandleCloser()
    {
        if (m_handle != nullptr) {
            (m_skf->*m_close)(m_handle);
        }
    }
    HandleCloser(const HandleCloser&) = delete;
    HandleCloser& operator=(const HandleCloser&) = delete;

private:
    CGMSKFOperator* m_skf;
    Close m_close;
    HANDLE m_handle;
};

// Fills certificate with the container's encryption certificate or, failing that, its
// signature one.
bool exportCertificate(CGMSKFOperator* skf, HCONTAINER container, std::vector<BYTE>& certificate)
{
    for (BOOL sign : {FALSE, TRUE}) {
        const auto exportCall = [skf, container, sign](BYTE* data, ULONG* length) {
            return skf->SKF_ExportCertificate(container, sign, data, length);
        };
        if (certificate::read(exportCall, certificate)) {
            return true;
        }
    }
    return false;
}

// Seconds from now to local midnight at the start of the certificate's notAfter date.
int secondsUntilExpiry(const std::vector<BYTE>& der, std::int64_t* secondsLeft)
{
    const unsigned char* cursor = der.data();
    ossl::Certificate certificate(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
    if (!certificate) {
        return -1;
    }
    char dateText[DateTextSize] = {};
    int year = 0;
    int month = 0;
    int day = 0;
    getUTCTime(X509_get0_notAfter(certificate.get()), dateText, &year, &month, &day, sizeof dateText);

    char timestampText[TimestampTextSize] = {};
    // The date's parts are non-negative and short; the casts let the compiler see the text fits.
    std::snprintf(timestampText, sizeof timestampText, "%u%02u%02u000000", static_cast<unsigned>(year) % 10000u,
                  static_cast<unsigned>(month) % 100u, static_cast<unsigned>(day) % 100u);
    std::int64_t expiry = 0;
    std::int64_t now = 0;
    stringToTimestamp(timestampText, &expiry);
    getCurrentTimestamp(&now);
    *secondsLeft = expiry - now;
    return 0;
}

// Copies bytes up to the first NUL into out, cut so that it fits with its terminator and
// never in the middle of a UTF-8 sequence.
void copyCutToFit(const unsigned char* data, std::size_t length, char* out, std::size_t outSize)
{
    if (data == nullptr || length == 0) {
        out[0] = '\0';
        return;
    }
    const auto* nul = static_cast<const unsigned char*>(std::memchr(data, '\0', length));
    if (nul != nullptr) {
        length = static_cast<std::size_t>(nul - data);
    }
    const std::size_t cut = namelist::fittingLength(reinterpret_cast<const char*>(data), length, outSize - 1);
    std::memcpy(out, data, cut);
    out[cut] = '\0';
}

// A number written with exactly `digits` decimal digits, or -1.
int digitsValue(const unsigned char* text, int digits)
{
    int value = 0;
    for (int index = 0; index < digits; ++index) {
        if (text[index] < '0' || text[index] > '9') {
            return -1;
        }
        value = value * 10 + (text[index] - '0');
    }
    return value;
}

} // namespace

bool certificate::read(const ExportCall& exportCall, std::vector<BYTE>& der)
{
    der.clear();
    ULONG length = 0;
    if (exportCall(nullptr, &length) != SAR_OK || length == 0 || length > MaxSize) {
        return false;
    }
    der.assign(length, 0);
    ULONG filled = length;
    if (exportCall(der.data(), &filled) != SAR_OK) {
        der.clear();
        return false;
    }
    der.resize(std::min(filled, length));
    return true;
}

bool certificate::readCurrent(cDevMgr& manager, BOOL sign, std::vector<BYTE>& der)
{
    return read([&manager, sign](BYTE* data, ULONG* length) { return manager.ExportCertificate(sign, data, length); },
                der);
}

int cDevMgr::getX509Name(X509_NAME* x509Name, char* out, std::size_t outSize)
{
    if (x509Name == nullptr) {
        return 0;
    }
    const int count = X509_NAME_entry_count(x509Name);
    for (int index = 0; index < count; ++index) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(x509Name, index);
        const ASN1_OBJECT* object = entry != nullptr ? X509_NAME_ENTRY_get_object(entry) : nullptr;
        const ASN1_STRING* data = entry != nullptr ? X509_NAME_ENTRY_get_data(entry) : nullptr;
        if (entry == nullptr || object == nullptr || data == nullptr) {
            return 0;
        }
        // Later common names overwrite earlier ones, so the last one wins.
        if (OBJ_obj2nid(object) == NID_commonName && out != nullptr && outSize > 0) {
            const int length = ASN1_STRING_length(data);
            const unsigned char* bytes = ASN1_STRING_get0_data(data);
            copyCutToFit(bytes, length > 0 ? static_cast<std::size_t>(length) : 0, out, outSize);
        }
    }
    return 1;
}

int cDevMgr::getCertName(BOOL sign, char* name, std::size_t nameSize)
{
    std::vector<BYTE> der;
    if (name == nullptr || nameSize == 0 || !certificate::readCurrent(*this, sign, der)) {
        return -1;
    }
    const unsigned char* cursor = der.data();
    ossl::Certificate parsed(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
    if (!parsed) {
        return -1;
    }
    getX509Name(X509_get_subject_name(parsed.get()), name, nameSize);
    return 0;
}

int certParse::certValid(const char* devName, std::int64_t* secondsLeft)
{
    CGMSKFOperator* skf = cDevMgr::getInst()->binding();
    if (skf == nullptr || devName == nullptr || secondsLeft == nullptr) {
        return -1;
    }
    DEVHANDLE device = nullptr;
    if (skf->SKF_ConnectDev(const_cast<LPSTR>(devName), &device) != SAR_OK) {
        return -1;
    }
    HandleCloser closeDevice(skf, &CGMSKFOperator::SKF_DisConnectDev, device);

    std::vector<std::string> applications;
    auto enumApp = [skf, device](LPSTR buffer, ULONG* size) { return skf->SKF_EnumApplication(device, buffer, size); };
    if (namelist::read(enumApp, applications) != SAR_OK || applications.empty()) {
        return -1;
    }
    // Only the first application is examined.
    HAPPLICATION application = nullptr;
    if (skf->SKF_OpenApplication(device, const_cast<LPSTR>(applications.front().c_str()), &application) != SAR_OK) {
        return -1;
    }
    HandleCloser closeApplication(skf, &CGMSKFOperator::SKF_CloseApplication, application);

    std::vector<std::string> containers;
    auto enumContainer
        = [skf, application](LPSTR buffer, ULONG* size) { return skf->SKF_EnumContainer(application, buffer, size); };
    if (namelist::read(enumContainer, containers) != SAR_OK) {
        return -1;
    }
    std::vector<BYTE> certificate;
    for (const std::string& name : containers) {
        HCONTAINER container = nullptr;
        if (skf->SKF_OpenContainer(application, const_cast<LPSTR>(name.c_str()), &container) != SAR_OK) {
            continue;
        }
        HandleCloser closeContainer(skf, &CGMSKFOperator::SKF_CloseContainer, container);
        if (exportCertificate(skf, container, certificate)) {
            // The first certificate that exports decides, even when it cannot be parsed.
            return secondsUntilExpiry(certificate, secondsLeft);
        }
    }
    return -1;
}

int getX509Name(X509_NAME* name, char* out, std::size_t outSize)
{
    return cDevMgr::getX509Name(name, out, outSize);
}

int getUTCTime(const ASN1_TIME* time, char* dateText, int* year, int* month, int* day, std::size_t dateTextSize)
{
    if (time == nullptr) {
        return 0;
    }
    const unsigned char* text = ASN1_STRING_get0_data(time);
    if (text == nullptr || ASN1_STRING_length(time) < 10) {
        return 0;
    }
    // GeneralizedTime (from 2050 on) carries four year digits; anything else is read as UTCTime.
    const bool generalized = ASN1_STRING_type(time) == V_ASN1_GENERALIZEDTIME;
    const int yearDigits = generalized ? 4 : 2;
    int readYear = digitsValue(text, yearDigits);
    const int readMonth = digitsValue(text + yearDigits, 2);
    const int readDay = digitsValue(text + yearDigits + 2, 2);
    if (readYear < 0 || readMonth < 1 || readMonth > 12 || readDay < 0) {
        return 0;
    }
    if (!generalized) {
        readYear += readYear <= 49 ? 2000 : 1900;
    }
    if (dateText != nullptr && dateTextSize > 0) {
        std::snprintf(dateText, dateTextSize, "%04d-%02d-%02d", readYear, readMonth, readDay);
    }
    if (year != nullptr && month != nullptr && day != nullptr) {
        *year = readYear;
        *month = readMonth;
        *day = readDay;
    }
    return 0;
}

int stringToTimestamp(const char* text, std::int64_t* timestamp)
{
    if (text == nullptr || timestamp == nullptr) {
        return 0;
    }
    struct tm parts = {};
    strptime(text, "%Y%m%d%H%M%S", &parts);
    // The C library decides whether summer time is in force on that date, so midnight is
    // local midnight all year round rather than an hour late in summer.
    parts.tm_isdst = -1;
    *timestamp = static_cast<std::int64_t>(mktime(&parts));
    return 0;
}

int getCurrentTimestamp(std::int64_t* timestamp)
{
    if (timestamp == nullptr) {
        return 0;
    }
    const time_t now = time(nullptr);
    struct tm parts = {};
    localtime_r(&now, &parts);
    *timestamp = static_cast<std::int64_t>(mktime(&parts));
    return 0;
}
