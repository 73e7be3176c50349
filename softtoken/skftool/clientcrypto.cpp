// skftool's own cryptography with OpenSSL 3.
#include "clientcrypto.h"

#include "errors.h"

#include <openssl/err.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

namespace skftool {

void throwOpenSslError(const std::string& what)
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) {
        throw ToolError(what);
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof(text));
    throw ToolError(what + ": " + text);
}

std::vector<uint8_t> sm4EcbEncrypt(ByteView key, ByteView data, bool pkcs5Padding)
{
    if (key.size() != 16) {
        throw ToolError("an SM4 key is 16 bytes");
    }
    if (!pkcs5Padding && data.size() % 16 != 0) {
        throw ToolError("SM4-ECB without padding needs whole 16-byte blocks");
    }
    ossl::CipherCtx context(EVP_CIPHER_CTX_new());
    if (!context || EVP_EncryptInit_ex2(context.get(), EVP_sm4_ecb(), key.data(), nullptr, nullptr) != 1) {
        throwOpenSslError("SM4 is not available in this OpenSSL");
    }
    EVP_CIPHER_CTX_set_padding(context.get(), pkcs5Padding ? 1 : 0);
    std::vector<uint8_t> out(data.size() + 16);
    int written = 0;
    int finalWritten = 0;
    if (EVP_EncryptUpdate(context.get(), out.data(), &written, data.data(), static_cast<int>(data.size())) != 1
        || EVP_EncryptFinal_ex(context.get(), out.data() + written, &finalWritten) != 1) {
        throwOpenSslError("SM4 encryption failed");
    }
    out.resize(static_cast<size_t>(written + finalWritten));
    return out;
}

void randomBytes(uint8_t* buffer, size_t size)
{
    if (RAND_bytes(buffer, static_cast<int>(size)) != 1) {
        throwOpenSslError("the random generator failed");
    }
}

namespace {

int hexDigit(char digit)
{
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    if (digit >= 'A' && digit <= 'F') {
        return digit - 'A' + 10;
    }
    return -1;
}

} // namespace

std::vector<uint8_t> fromHex(const std::string& hex)
{
    if (hex.size() % 2 != 0) {
        throw UsageError("hex text needs an even number of digits");
    }
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = hexDigit(hex[i]);
        const int low = hexDigit(hex[i + 1]);
        if (high < 0 || low < 0) {
            throw UsageError("\"" + hex + "\" is not hex");
        }
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return bytes;
}

ossl::Pkey generateSm2KeyPair()
{
    ossl::Pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2"));
    if (!key) {
        throwOpenSslError("SM2 key generation failed");
    }
    return key;
}

ossl::Pkey generateRsaKeyPair(unsigned bits)
{
    ossl::Pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits)));
    if (!key) {
        throwOpenSslError("RSA key generation failed");
    }
    return key;
}

} // namespace skftool
