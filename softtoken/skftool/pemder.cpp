// Files, DER and PEM, and short certificate descriptions.
#include "pemder.h"

#include "clientcrypto.h"
#include "errors.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/objects.h>
#include <openssl/pem.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace skftool {

namespace {

void freeOpenSslMemory(void* pointer)
{
    OPENSSL_free(pointer);
}

ossl::Certificate parseWholeDer(const std::vector<uint8_t>& der)
{
    const unsigned char* cursor = der.data();
    ossl::Certificate certificate(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
    if (!certificate || cursor != der.data() + der.size()) {
        throw ToolError("the data is not one DER X.509 certificate");
    }
    return certificate;
}

std::string nameText(const X509_NAME* name)
{
    ossl::Bio bio(BIO_new(BIO_s_mem()));
    X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* text = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &text);
    return std::string(text, static_cast<size_t>(size));
}

std::string timeText(const ASN1_TIME* time)
{
    tm parts{};
    if (ASN1_TIME_to_tm(time, &parts) != 1) {
        return "(unreadable time)";
    }
    char text[40];
    std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

} // namespace

std::vector<uint8_t> readFileBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw ToolError("cannot read " + path + ": " + std::strerror(errno));
    }
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

namespace {

// Every byte, or the errno of the write that stopped.
int writeAll(int fd, const std::vector<uint8_t>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return written < 0 ? errno : EIO;
        }
        done += static_cast<size_t>(written);
    }
    return 0;
}

// A device, FIFO or terminal is written into as it is: replacing it by a regular file
// would take /dev/null from the machine, or the bytes from a FIFO's reader. A socket
// cannot be opened and is refused.
void writeIntoSpecial(const std::string& path, const std::vector<uint8_t>& bytes)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        throw ToolError("cannot write " + path + ": " + std::strerror(errno));
    }
    const int error = writeAll(fd, bytes);
    if (close(fd) != 0 && error == 0 && errno != EINTR) {
        throw ToolError("cannot write " + path + ": " + std::strerror(errno));
    }
    if (error != 0) {
        throw ToolError("cannot write " + path + ": " + std::strerror(error));
    }
}

} // namespace

void writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, unsigned mode)
{
    struct stat existing
    {
    };
    if (stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        if (S_ISDIR(existing.st_mode)) {
            throw ToolError("cannot write " + path + ": it is a folder");
        }
        writeIntoSpecial(path, bytes);
        return;
    }
    // A regular file is replaced whole through a fresh name from mkstemp beside it (a
    // guessable one could be a link planted by another user of a shared folder).
    const auto slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temporary = dir + "/." + base + ".XXXXXX";
    const int fd = mkostemp(&temporary[0], O_CLOEXEC);
    if (fd < 0) {
        throw ToolError("cannot write " + path + ": " + std::strerror(errno));
    }
    // The mode a plain create would give: the one asked for, less the umask.
    const mode_t mask = umask(0);
    umask(mask);
    int error = fchmod(fd, static_cast<mode_t>(mode) & ~mask) != 0 ? errno : writeAll(fd, bytes);
    if (close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        unlink(temporary.c_str());
        throw ToolError("cannot write " + path + ": " + std::strerror(error));
    }
}

std::vector<uint8_t> certificateDer(const std::vector<uint8_t>& fileBytes)
{
    static const char kPemStart[] = "-----BEGIN";
    const std::string head(fileBytes.begin(),
                           fileBytes.begin() + static_cast<long>(std::min<size_t>(fileBytes.size(), 64)));
    if (head.find(kPemStart) == std::string::npos) {
        parseWholeDer(fileBytes);
        return fileBytes;
    }
    ossl::Bio bio(BIO_new_mem_buf(fileBytes.data(), static_cast<int>(fileBytes.size())));
    char* name = nullptr;
    char* header = nullptr;
    unsigned char* data = nullptr;
    long size = 0;
    if (!bio || PEM_read_bio(bio.get(), &name, &header, &data, &size) != 1) {
        throwOpenSslError("the PEM file cannot be read");
    }
    std::unique_ptr<char, void (*)(void*)> nameOwner(name, freeOpenSslMemory);
    std::unique_ptr<char, void (*)(void*)> headerOwner(header, freeOpenSslMemory);
    std::unique_ptr<unsigned char, void (*)(void*)> dataOwner(data, freeOpenSslMemory);
    if (std::strcmp(name, "CERTIFICATE") != 0) {
        throw ToolError(std::string("the PEM file holds a ") + name + ", not a CERTIFICATE");
    }
    std::vector<uint8_t> der(data, data + size);
    parseWholeDer(der);
    return der;
}

std::string derToPem(const std::vector<uint8_t>& der)
{
    ossl::Bio bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio(bio.get(), "CERTIFICATE", "", der.data(), static_cast<long>(der.size())) <= 0) {
        throwOpenSslError("PEM encoding failed");
    }
    char* text = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &text);
    return std::string(text, static_cast<size_t>(size));
}

CertificateSummary describeCertificate(const std::vector<uint8_t>& der)
{
    ossl::Certificate certificate = parseWholeDer(der);
    CertificateSummary summary;
    summary.subject = nameText(X509_get_subject_name(certificate.get()));
    summary.issuer = nameText(X509_get_issuer_name(certificate.get()));
    summary.notBefore = timeText(X509_get0_notBefore(certificate.get()));
    summary.notAfter = timeText(X509_get0_notAfter(certificate.get()));
    const int nid = X509_get_signature_nid(certificate.get());
    summary.signatureAlgorithm = nid == NID_undef ? "unknown" : OBJ_nid2ln(nid);
    return summary;
}

} // namespace skftool
