// Cryptographic commands: sign, verify, encrypt, decrypt, digest, random, and csr (a
// PKCS#10 request signed by the container's key on the token). The driver's crypto
// functions are looked up when one of these commands first needs them, so the other
// commands keep working with drivers that lack them.
#include "blobs.h"
#include "clientcrypto.h"
#include "commands.h"
#include "errors.h"
#include "pemder.h"
#include "secret.h"
#include "session.h"
#include "tokenops.h"

#include "ossl/DigestInfo.h"
#include "skf/tokendigest.h"
#include "skf/sm2defaults.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/ecdsa.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstddef>
#include <cstring>
#include <ostream>

namespace skftool {

namespace {

#define SKFTOOL_CRYPTO_FUNCTIONS(X)                                                                                    \
    X(DigestInit)                                                                                                      \
    X(Digest)                                                                                                          \
    X(CloseHandle)                                                                                                     \
    X(ECCSignData)                                                                                                     \
    X(ECCVerify)                                                                                                       \
    X(RSASignData)                                                                                                     \
    X(RSAVerify)                                                                                                       \
    X(ECCExportSessionKey)                                                                                             \
    X(RSAExportSessionKey)                                                                                             \
    X(ImportSessionKey)                                                                                                \
    X(EncryptInit)                                                                                                     \
    X(Encrypt)                                                                                                         \
    X(DecryptInit)                                                                                                     \
    X(Decrypt)

SKFLOADER_TABLE(CryptoFunctions, SKFTOOL_CRYPTO_FUNCTIONS)

const char* const kDefaultId = sm2defaults::kId;
constexpr size_t kSessionKeySize = 16;
constexpr size_t kBlock = 16;

std::string hexOf(const std::vector<uint8_t>& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

ULONG digestAlgorithm(const std::string& name)
{
    if (name == "sm3") {
        return SGD_SM3;
    }
    if (name == "sha1") {
        return SGD_SHA1;
    }
    if (name == "sha256") {
        return SGD_SHA256;
    }
    throw UsageError("--alg takes sm3, sha1 or sha256");
}

std::vector<uint8_t> tokenDigest(const CryptoFunctions& fn, DEVHANDLE device, ULONG algorithm, ECCPUBLICKEYBLOB* key,
                                 const std::string& id, const std::vector<uint8_t>& data)
{
    return skfloader::tokenDigest(
        {fn.DigestInit, fn.Digest, fn.CloseHandle}, [](ULONG result, const char* function) { check(result, function); },
        device, algorithm, key, id, data);
}

std::vector<uint8_t> sha256DigestInfo(const std::vector<uint8_t>& hash)
{
    return ossl::digestInfo(ossl::kSha256DigestInfoPrefix, hash);
}

// The token's signature over data with the container's signature key: SM2 with Z over
// SM3 (DER r, s), or RSA PKCS#1 v1.5 over SHA-256.
std::vector<uint8_t> signWithContainer(const CryptoFunctions& fn, const Device& device, const Container& container,
                                       const std::string& id, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> publicBlob = exportPublicKey(container, true);
    if (publicBlob.empty()) {
        throw ToolError("container " + container.name() + " has no signature key pair");
    }
    if (container.type() == CONTAINER_TYPE_ECC) {
        auto* key = reinterpret_cast<ECCPUBLICKEYBLOB*>(publicBlob.data());
        auto e = tokenDigest(fn, device.handle(), SGD_SM3, key, id, data);
        ECCSIGNATUREBLOB signature{};
        check(fn.ECCSignData(container.handle(), e.data(), static_cast<ULONG>(e.size()), &signature), "SKF_ECCSignData",
              "container " + container.name());
        return sm2SignatureDer(signature);
    }
    auto info = sha256DigestInfo(tokenDigest(fn, device.handle(), SGD_SHA256, nullptr, id, data));
    ULONG size = 0;
    check(fn.RSASignData(container.handle(), info.data(), static_cast<ULONG>(info.size()), nullptr, &size),
          "SKF_RSASignData");
    std::vector<uint8_t> signature(size);
    check(fn.RSASignData(container.handle(), info.data(), static_cast<ULONG>(info.size()), signature.data(), &size),
          "SKF_RSASignData", "container " + container.name());
    signature.resize(size);
    return signature;
}

void writeOutput(Context& context, const std::vector<uint8_t>& bytes, const std::string& what)
{
    const std::string output = context.args().value("-o", context.args().value("--output"));
    if (output.empty() || output == "-") {
        context.out() << hexOf(bytes) << "\n";
        return;
    }
    writeFileBytes(output, bytes);
    context.out() << "Wrote " << what << " (" << bytes.size() << " bytes) to " << output << "\n";
}

std::string requiredValue(const ParsedArgs& args, const std::string& option)
{
    if (!args.has(option) || args.value(option).empty()) {
        throw UsageError("this command needs " + option);
    }
    return args.value(option);
}

std::string idOf(const ParsedArgs& args)
{
    return args.has("--id") ? args.value("--id") : std::string(kDefaultId);
}

// Sealed file: "SKFE" | version 1 | container type | wrapped length (4, big-endian) |
// wrapped session key | IV (16) | SM4-CBC ciphertext with PKCS#5 padding.
const uint8_t kSealMagic[] = {'S', 'K', 'F', 'E', 1};

void putLength(std::vector<uint8_t>& out, size_t size)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(size >> shift));
    }
}

std::vector<uint8_t> cbc(const CryptoFunctions& fn, HANDLE key, bool encrypt, const uint8_t* iv,
                         const std::vector<uint8_t>& in)
{
    BLOCKCIPHERPARAM param{};
    std::memcpy(param.IV, iv, kBlock);
    param.IVLen = kBlock;
    param.PaddingType = 1;
    check(encrypt ? fn.EncryptInit(key, param) : fn.DecryptInit(key, param),
          encrypt ? "SKF_EncryptInit" : "SKF_DecryptInit");
    auto call = encrypt ? fn.Encrypt : fn.Decrypt;
    ULONG size = 0;
    check(call(key, const_cast<BYTE*>(in.data()), static_cast<ULONG>(in.size()), nullptr, &size),
          encrypt ? "SKF_Encrypt" : "SKF_Decrypt");
    std::vector<uint8_t> out(size);
    check(call(key, const_cast<BYTE*>(in.data()), static_cast<ULONG>(in.size()), out.data(), &size),
          encrypt ? "SKF_Encrypt" : "SKF_Decrypt");
    out.resize(size);
    return out;
}

} // namespace

void runDigest(Context& context)
{
    const ParsedArgs& args = context.args();
    const ULONG algorithm = digestAlgorithm(args.value("--alg", "sm3"));
    const auto data = readFileBytes(requiredValue(args, "--in"));
    Device device(context.driver().fn(), args.positional(0));
    const auto fn = context.driver().bind<CryptoFunctions>();
    context.out() << hexOf(tokenDigest(fn, device.handle(), algorithm, nullptr, {}, data)) << "\n";
}

void runRandom(Context& context)
{
    const ParsedArgs& args = context.args();
    const auto count = parseNumber(args.value("--bytes", "16"), "--bytes");
    if (count == 0 || count > 4096) {
        throw UsageError("--bytes takes 1 to 4096");
    }
    Device device(context.driver().fn(), args.positional(0));
    std::vector<uint8_t> bytes(count);
    check(device.fn().GenRandom(device.handle(), bytes.data(), static_cast<ULONG>(count)), "SKF_GenRandom");
    writeOutput(context, bytes, "random bytes");
}

void runSign(Context& context)
{
    const ParsedArgs& args = context.args();
    const auto data = readFileBytes(requiredValue(args, "--in"));
    Secret pin = userPinFor(args);
    AppSession session(context.driver(), args.positional(0), args.positional(1));
    verifyPin(session.application, USER_TYPE, pin);
    Container container(session.application, args.positional(2));
    const auto fn = context.driver().bind<CryptoFunctions>();
    writeOutput(context, signWithContainer(fn, session.device, container, idOf(args), data), "the signature");
}

void runVerify(Context& context)
{
    const ParsedArgs& args = context.args();
    const auto data = readFileBytes(requiredValue(args, "--in"));
    const auto signature = readFileBytes(requiredValue(args, "--sig"));
    AppSession session(context.driver(), args.positional(0), args.positional(1));
    Container container(session.application, args.positional(2));
    const auto fn = context.driver().bind<CryptoFunctions>();
    std::vector<uint8_t> publicBlob = exportPublicKey(container, true);
    if (publicBlob.empty()) {
        throw ToolError("container " + container.name() + " has no signature key pair");
    }
    DEVHANDLE device = session.device.handle();
    if (container.type() == CONTAINER_TYPE_ECC) {
        auto* key = reinterpret_cast<ECCPUBLICKEYBLOB*>(publicBlob.data());
        auto e = tokenDigest(fn, device, SGD_SM3, key, idOf(args), data);
        ECCSIGNATUREBLOB blob = sm2SignatureBlob(signature);
        check(fn.ECCVerify(device, key, e.data(), static_cast<ULONG>(e.size()), &blob), "SKF_ECCVerify",
              "the signature does not verify");
    } else {
        auto* key = reinterpret_cast<RSAPUBLICKEYBLOB*>(publicBlob.data());
        auto info = sha256DigestInfo(tokenDigest(fn, device, SGD_SHA256, nullptr, {}, data));
        check(fn.RSAVerify(device, key, info.data(), static_cast<ULONG>(info.size()),
                           const_cast<BYTE*>(signature.data()), static_cast<ULONG>(signature.size())),
              "SKF_RSAVerify", "the signature does not verify");
    }
    context.out() << "Signature verified with the signature key of " << container.name() << "\n";
}

void runEncrypt(Context& context)
{
    const ParsedArgs& args = context.args();
    const auto data = readFileBytes(requiredValue(args, "--in"));
    const std::string output = requiredValue(args, "-o");
    AppSession session(context.driver(), args.positional(0), args.positional(1));
    Container container(session.application, args.positional(2));
    const auto fn = context.driver().bind<CryptoFunctions>();
    std::vector<uint8_t> publicBlob = exportPublicKey(container, false);
    if (publicBlob.empty()) {
        throw ToolError("container " + container.name() + " has no encryption key pair");
    }
    std::vector<uint8_t> wrapped;
    HANDLE key = nullptr;
    const bool sm2 = container.type() == CONTAINER_TYPE_ECC;
    if (sm2) {
        wrapped.resize(offsetof(ECCCIPHERBLOB, Cipher) + kSessionKeySize);
        check(fn.ECCExportSessionKey(container.handle(), SGD_SM4_CBC,
                                     reinterpret_cast<ECCPUBLICKEYBLOB*>(publicBlob.data()),
                                     reinterpret_cast<ECCCIPHERBLOB*>(wrapped.data()), &key),
              "SKF_ECCExportSessionKey");
    } else {
        auto* rsa = reinterpret_cast<RSAPUBLICKEYBLOB*>(publicBlob.data());
        ULONG size = rsa->BitLen / 8;
        wrapped.resize(size);
        check(fn.RSAExportSessionKey(container.handle(), SGD_SM4_CBC, rsa, wrapped.data(), &size, &key),
              "SKF_RSAExportSessionKey");
        wrapped.resize(size);
    }
    uint8_t iv[kBlock];
    randomBytes(iv, sizeof iv);
    std::vector<uint8_t> ciphertext;
    try {
        ciphertext = cbc(fn, key, true, iv, data);
    } catch (...) {
        fn.CloseHandle(key);
        throw;
    }
    fn.CloseHandle(key);
    std::vector<uint8_t> sealed(kSealMagic, kSealMagic + sizeof kSealMagic);
    sealed.push_back(sm2 ? CONTAINER_TYPE_ECC : CONTAINER_TYPE_RSA);
    putLength(sealed, wrapped.size());
    sealed.insert(sealed.end(), wrapped.begin(), wrapped.end());
    sealed.insert(sealed.end(), iv, iv + kBlock);
    sealed.insert(sealed.end(), ciphertext.begin(), ciphertext.end());
    writeFileBytes(output, sealed);
    context.out() << "Encrypted " << data.size() << " bytes to the encryption key of " << container.name() << " into "
                  << output << "\n";
}

void runDecrypt(Context& context)
{
    const ParsedArgs& args = context.args();
    const auto sealed = readFileBytes(requiredValue(args, "--in"));
    const std::string output = requiredValue(args, "-o");
    const size_t header = sizeof kSealMagic + 1 + 4;
    if (sealed.size() < header || std::memcmp(sealed.data(), kSealMagic, sizeof kSealMagic) != 0) {
        throw ToolError("the input was not made by 'skftool encrypt'");
    }
    size_t wrappedSize = 0;
    for (size_t i = 0; i < 4; ++i) {
        wrappedSize = (wrappedSize << 8) | sealed[sizeof kSealMagic + 1 + i];
    }
    if (wrappedSize > sealed.size() - header || sealed.size() - header - wrappedSize < kBlock) {
        throw ToolError("the encrypted file is truncated");
    }
    const uint8_t* wrapped = sealed.data() + header;
    const uint8_t* iv = wrapped + wrappedSize;
    const std::vector<uint8_t> ciphertext(iv + kBlock, sealed.data() + sealed.size());
    Secret pin = userPinFor(args);
    AppSession session(context.driver(), args.positional(0), args.positional(1));
    verifyPin(session.application, USER_TYPE, pin);
    Container container(session.application, args.positional(2));
    const auto fn = context.driver().bind<CryptoFunctions>();
    HANDLE key = nullptr;
    check(fn.ImportSessionKey(container.handle(), SGD_SM4_CBC, const_cast<BYTE*>(wrapped),
                              static_cast<ULONG>(wrappedSize), &key),
          "SKF_ImportSessionKey", "container " + container.name());
    std::vector<uint8_t> plain;
    try {
        plain = cbc(fn, key, false, iv, ciphertext);
    } catch (...) {
        fn.CloseHandle(key);
        throw;
    }
    fn.CloseHandle(key);
    writeFileBytes(output, plain, 0600);
    context.out() << "Decrypted " << plain.size() << " bytes into " << output << "\n";
}

void runCsr(Context& context)
{
    const ParsedArgs& args = context.args();
    const std::string commonName = requiredValue(args, "--cn");
    Secret pin = userPinFor(args);
    AppSession session(context.driver(), args.positional(0), args.positional(1));
    verifyPin(session.application, USER_TYPE, pin);
    Container container(session.application, args.positional(2));
    const auto fn = context.driver().bind<CryptoFunctions>();
    const bool sm2 = container.type() == CONTAINER_TYPE_ECC;
    const std::vector<uint8_t> publicBlob = exportPublicKey(container, true);
    if (publicBlob.empty()) {
        throw ToolError("container " + container.name() + " has no signature key pair");
    }
    ossl::Pkey publicKey = publicKeyFromBlob(publicBlob);

    ossl::X509Req request(X509_REQ_new());
    if (!request) {
        throwOpenSslError("cannot build the certificate request");
    }
    X509_NAME* name = X509_REQ_get_subject_name(request.get());
    if (X509_REQ_set_version(request.get(), 0) != 1
        || X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                      reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0)
            != 1
        || X509_REQ_set_pubkey(request.get(), publicKey.get()) != 1) {
        throwOpenSslError("cannot build the certificate request");
    }
    X509_ALGOR* algorithm = X509_ALGOR_new();
    if (algorithm == nullptr) {
        throwOpenSslError("cannot set the request's signature algorithm");
    }
    X509_ALGOR_set0(algorithm, OBJ_nid2obj(sm2 ? NID_SM2_with_SM3 : NID_sha256WithRSAEncryption),
                    sm2 ? V_ASN1_UNDEF : V_ASN1_NULL, nullptr);
    const bool algorithmSet = X509_REQ_set1_signature_algo(request.get(), algorithm) == 1;
    X509_ALGOR_free(algorithm);
    if (!algorithmSet) {
        throwOpenSslError("cannot set the request's signature algorithm");
    }
    unsigned char* tbs = nullptr;
    const int tbsSize = i2d_re_X509_REQ_tbs(request.get(), &tbs);
    if (tbsSize <= 0) {
        throwOpenSslError("cannot encode the request");
    }
    const std::vector<uint8_t> toBeSigned(tbs, tbs + tbsSize);
    OPENSSL_free(tbs);
    // The token signs the request's body with the container's key: the CA checks it so.
    const auto signature = signWithContainer(fn, session.device, container, kDefaultId, toBeSigned);
    ASN1_BIT_STRING* bits = ASN1_BIT_STRING_new();
    if (!bits
        || ASN1_BIT_STRING_set(bits, const_cast<uint8_t*>(signature.data()), static_cast<int>(signature.size())) != 1) {
        ASN1_BIT_STRING_free(bits);
        throwOpenSslError("cannot store the signature");
    }
    bits->flags &= ~(ASN1_STRING_FLAG_BITS_LEFT | 0x07);
    bits->flags |= ASN1_STRING_FLAG_BITS_LEFT;
    X509_REQ_set0_signature(request.get(), bits);

    ossl::Bio bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_X509_REQ(bio.get(), request.get()) != 1) {
        throwOpenSslError("cannot encode the request");
    }
    char* text = nullptr;
    const long textSize = BIO_get_mem_data(bio.get(), &text);
    const std::string pem(text, static_cast<size_t>(textSize));
    const std::string output = args.value("-o", args.value("--output"));
    if (output.empty() || output == "-") {
        context.out() << pem;
        return;
    }
    writeFileBytes(output, std::vector<uint8_t>(pem.begin(), pem.end()));
    context.out() << "Wrote a certificate request for CN=" << commonName << " signed by " << container.name() << " to "
                  << output << "\n";
}

} // namespace skftool
