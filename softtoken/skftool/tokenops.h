// Token operations that several commands and the demo share: key pair generation, the
// import of an encryption pair, issuing a certificate into a container.
#pragma once

#include "session.h"

#include <string>

namespace skftool {

// Connects to a device and opens one of its applications.
struct AppSession
{
    AppSession(const Driver& driver, const std::string& deviceName, const std::string& applicationName)
        : device(driver.fn(), deviceName)
        , application(device, applicationName)
    {
    }
    Device device;
    Application application;
};

// Generates the container's signature pair: SM2 when rsaBits is 0, else RSA of that size.
// Returns the new public key blob.
std::vector<uint8_t> generateSignaturePair(const Container& container, unsigned rsaBits);

// Makes an encryption pair of the container's kind with OpenSSL and imports it through the
// envelope that the container's signature public key protects. Returns a description.
std::string importEncryptionPair(const Container& container);

// Issues a certificate from the local test CA for one of the container's pairs and
// imports it. Dates are "YYYYMMDDHHMMSSZ". Returns the certificate's DER bytes.
std::vector<uint8_t> issueIntoContainer(const Container& container, bool signPair, const std::string& commonName,
                                        const std::string& notBefore, const std::string& notAfter);

// Imports DER certificate bytes into the container.
void importCertificate(const Container& container, bool signCertificate, std::vector<uint8_t> der);

// The test CA's folder in the soft token's store.
std::string testCaFolder();

} // namespace skftool
