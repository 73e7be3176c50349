// Files, DER and PEM: reading a certificate in either form, writing one, and a short
// description of a certificate (subject, validity, signature algorithm).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace skftool {

std::vector<uint8_t> readFileBytes(const std::string& path);
// Writes through a temporary file and a rename, so a failed write leaves no half file.
void writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, unsigned mode = 0644);

// A certificate file's DER bytes: DER as it is, PEM decoded from its CERTIFICATE block.
// Throws ToolError when the bytes are not one X.509 certificate.
std::vector<uint8_t> certificateDer(const std::vector<uint8_t>& fileBytes);

std::string derToPem(const std::vector<uint8_t>& der);

struct CertificateSummary
{
    std::string subject; // "CN=Alice,O=Velkora"
    std::string issuer;
    std::string notBefore; // "2026-12-08 00:00:00 UTC"
    std::string notAfter;
    std::string signatureAlgorithm; // "SM2-with-SM3", "sha256WithRSAEncryption"
};

// Throws ToolError when the bytes are not a certificate.
CertificateSummary describeCertificate(const std::vector<uint8_t>& der);

} // namespace skftool
