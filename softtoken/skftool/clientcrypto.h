// skftool's own cryptography with OpenSSL 3: owning pointers for OpenSSL objects, SM4-ECB,
// random bytes, hex, and turning OpenSSL's error queue into a ToolError.
#pragma once

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace skftool {

template <typename T, void (*Free)(T*)> struct OsslDeleter
{
    void operator()(T* object) const { Free(object); }
};

using PkeyPtr = std::unique_ptr<EVP_PKEY, OsslDeleter<EVP_PKEY, EVP_PKEY_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, OsslDeleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, OsslDeleter<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, OsslDeleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, OsslDeleter<BIGNUM, BN_clear_free>>;
using X509Ptr = std::unique_ptr<X509, OsslDeleter<X509, X509_free>>;

// Throws ToolError with what, followed by OpenSSL's first queued error when there is one.
[[noreturn]] void throwOpenSslError(const std::string& what);

// SM4 in ECB mode; without padding the data must be a whole number of 16-byte blocks.
std::vector<uint8_t> sm4EcbEncrypt(const std::vector<uint8_t>& key, const std::vector<uint8_t>& data,
                                   bool pkcs5Padding);

void randomBytes(uint8_t* buffer, size_t size);

// Hex digits (upper or lower case, even count) to bytes; throws UsageError otherwise.
std::vector<uint8_t> fromHex(const std::string& hex);

// A fresh key pair: "SM2" or RSA with the given modulus size.
PkeyPtr generateSm2KeyPair();
PkeyPtr generateRsaKeyPair(unsigned bits);

} // namespace skftool
