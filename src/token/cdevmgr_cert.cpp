// cDevMgr's certificates: the reader of the current container's certificate, its common
// name, and the subject-name walk that certParse shares with it.
#include "cdevmgr.h"

#include "namelist.h"
#include "ossl/Ossl.h"

#include <openssl/objects.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

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

} // namespace

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

bool cDevMgr::readCertificate(BOOL sign, std::vector<BYTE>& certificate)
{
    ULONG length = 0;
    if (ExportCertificate(sign, nullptr, &length) != SAR_OK || length == 0 || length > MaxCertificateSize) {
        return false;
    }
    certificate.assign(static_cast<std::size_t>(length) + 1, 0);
    if (ExportCertificate(sign, certificate.data(), &length) != SAR_OK) {
        return false;
    }
    // A driver that claims to have written more than it was offered is held to the buffer.
    certificate.resize(std::min<std::size_t>(length, certificate.size() - 1));
    return true;
}

int cDevMgr::getCertName(BOOL sign, char* name, std::size_t nameSize)
{
    std::vector<BYTE> certificate;
    if (name == nullptr || nameSize == 0 || !readCertificate(sign, certificate)) {
        return -1;
    }
    const unsigned char* cursor = certificate.data();
    ossl::Certificate parsed(d2i_X509(nullptr, &cursor, static_cast<long>(certificate.size())));
    if (!parsed) {
        return -1;
    }
    getX509Name(X509_get_subject_name(parsed.get()), name, nameSize);
    return 0;
}
