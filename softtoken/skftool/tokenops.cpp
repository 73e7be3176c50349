// Token operations that several commands and the demo share.
#include "tokenops.h"

#include "blobs.h"
#include "envelope.h"
#include "errors.h"
#include "testca.h"

#include "admin/tokenadmin.h"

namespace skftool {

std::vector<uint8_t> generateSignaturePair(const Container& container, unsigned rsaBits)
{
    if (rsaBits == 0) {
        ECCPUBLICKEYBLOB blob{};
        check(container.fn().GenECCKeyPair(container.handle(), SGD_SM2_1, &blob), "SKF_GenECCKeyPair",
              "container " + container.name());
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&blob);
        return std::vector<uint8_t>(bytes, bytes + sizeof(blob));
    }
    if (rsaBits != 1024 && rsaBits != 2048) {
        throw UsageError("RSA key pairs are 1024 or 2048 bits");
    }
    RSAPUBLICKEYBLOB blob{};
    check(container.fn().GenRSAKeyPair(container.handle(), rsaBits, &blob), "SKF_GenRSAKeyPair",
          "container " + container.name());
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&blob);
    return std::vector<uint8_t>(bytes, bytes + sizeof(blob));
}

std::string importEncryptionPair(const Container& container)
{
    const std::vector<uint8_t> signBlob = exportPublicKey(container, true);
    if (signBlob.empty()) {
        throw ToolError("container " + container.name()
                        + " has no signature key pair; its public key protects the envelope, so generate one first");
    }
    ossl::Pkey signKey = publicKeyFromBlob(signBlob);
    if (isSm2Key(signKey.get())) {
        ossl::Pkey pair = generateSm2KeyPair();
        std::vector<uint8_t> envelope = buildEccEnvelope(signKey.get(), pair.get());
        check(container.fn().ImportECCKeyPair(container.handle(), reinterpret_cast<ENVELOPEDKEYBLOB*>(envelope.data())),
              "SKF_ImportECCKeyPair", "container " + container.name());
        return "SM2 256-bit encryption key pair";
    }
    const unsigned bits = blobBitLength(signBlob);
    ossl::Pkey pair = generateRsaKeyPair(bits);
    RsaEnvelope envelope = buildRsaEnvelope(signKey.get(), pair.get());
    check(container.fn().ImportRSAKeyPair(container.handle(), SGD_SM4_ECB, envelope.wrappedKey.data(),
                                          static_cast<ULONG>(envelope.wrappedKey.size()), envelope.encryptedData.data(),
                                          static_cast<ULONG>(envelope.encryptedData.size())),
          "SKF_ImportRSAKeyPair", "container " + container.name());
    return "RSA " + std::to_string(bits) + "-bit encryption key pair";
}

std::vector<uint8_t> issueIntoContainer(const Container& container, bool signPair, const std::string& commonName,
                                        const std::string& notBefore, const std::string& notAfter)
{
    const std::vector<uint8_t> blob = exportPublicKey(container, signPair);
    if (blob.empty()) {
        throw ToolError("container " + container.name() + " has no " + (signPair ? "signature" : "encryption")
                        + " key pair to certify");
    }
    ossl::Pkey subjectKey = publicKeyFromBlob(blob);
    IssueRequest request;
    request.subjectKey = subjectKey.get();
    request.commonName = commonName;
    request.notBefore = notBefore;
    request.notAfter = notAfter;
    request.signatureUse = signPair;
    std::vector<uint8_t> der = issueCertificate(testCaFolder(), request);
    importCertificate(container, signPair, der);
    return der;
}

void importCertificate(const Container& container, bool signCertificate, std::vector<uint8_t> der)
{
    check(container.fn().ImportCertificate(container.handle(), signCertificate ? TRUE : FALSE, der.data(),
                                           static_cast<ULONG>(der.size())),
          "SKF_ImportCertificate", "container " + container.name());
}

std::string testCaFolder()
{
    try {
        return softskf::admin::storeDir() + "/ca";
    } catch (const std::exception& error) {
        throw ToolError(std::string("the soft token's store cannot be opened: ") + error.what());
    }
}

} // namespace skftool
